#pragma once

#include <atomic>

#include "platform/TestHold.h"
#include "station/OperatorConsole.h"
#include "station/RunRecord.h"

namespace vornix {

// The front end's console as the stages see it: every call goes through to
// it, and the run log also goes into the record of the run going on.
class JournalingConsole : public OperatorConsole {
public:
    // port: the gang port whose runs these are, 0 on a one-port station.
    JournalingConsole(OperatorConsole& console, int port) : console_(console), hold_(port) {}

    // Set between runs, before any thread of the next one exists.
    void setRecord(RunRecord* record) { record_ = record; }

    void appendLog(const std::string& line) override {
        if (RunRecord* record = record_.load()) record->logLine(line);
        console_.appendLog(line);
        hold_.after(line);
    }
    void clearLog() override {
        if (RunRecord* record = record_.load()) record->clearLog();
        console_.clearLog();
    }
    void enableStart(bool enabled) override { console_.enableStart(enabled); }
    bool stageChosen(Stage stage) override { return console_.stageChosen(stage); }
    void clearScratch() override { console_.clearScratch(); }
    void appendScratch(const std::string& item) override { console_.appendScratch(item); }
    int scratchCount() override { return console_.scratchCount(); }
    std::string scratchItem(int index) override { return console_.scratchItem(index); }

private:
    OperatorConsole& console_;
    std::atomic<RunRecord*> record_{nullptr};
    platform::LineHold hold_;
};

}  // namespace vornix
