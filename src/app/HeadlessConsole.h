#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "station/OperatorConsole.h"

namespace vornix {

// The operator console without a screen: the run log goes to a stream (the
// program's standard output), one line per log line, in the order the calls
// are served; the stages are those chosen on the command line.
class HeadlessConsole : public OperatorConsole {
public:
    HeadlessConsole(std::FILE* out, bool macWriting, bool bootUpdate, bool firmwareUpdate);

    // A gang port's log goes to its gang: once nobody reads it (the gang
    // ended), the run ends at once, unfinished, with this exit status; the
    // next start records it as interrupted.
    void endWhenUnread(int status) { unreadStatus_ = status; }

    void appendLog(const std::string& line) override;
    void clearLog() override {}
    void enableStart(bool) override {}  // no button
    bool stageChosen(Stage stage) override;
    void clearScratch() override;
    void appendScratch(const std::string& item) override;
    int scratchCount() override;
    std::string scratchItem(int index) override;

    // A log line as one output line: a carriage return or line feed inside
    // it (a logged command keeps its "\r\n") is written as the two
    // characters "\r" or "\n"; everything else exactly as it is.
    static std::string outputLine(const std::string& line);
    // The log line back from an output line without its line end (a gang
    // port's, read by the gang window): "\r" and "\n" become the characters
    // again. A line that held those two characters itself comes back changed.
    static std::string logLineOf(const std::string& output);

private:
    std::mutex mutex_;
    std::FILE* out_;
    int unreadStatus_ = -1;
    bool chosen_[3];
    std::vector<std::string> scratch_;
};

}  // namespace vornix
