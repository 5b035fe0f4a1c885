#pragma once

#include <string>

namespace vornix {

enum class Stage { MacWriting, BootUpdate, FirmwareUpdate };

// The operator-console port: everything the station logic asks of the
// operator's screen. Every call may come from any thread and returns only
// when it has been carried out.
class OperatorConsole {
public:
    virtual ~OperatorConsole() = default;

    // One line at the end of the run log, selected and scrolled into view.
    virtual void appendLog(const std::string& line) = 0;
    virtual void clearLog() = 0;
    virtual void enableStart(bool enabled) = 0;
    virtual bool stageChosen(Stage stage) = 0;

    // The scratch list: the fields of one comma-separated setting.
    virtual void clearScratch() = 0;
    virtual void appendScratch(const std::string& item) = 0;
    virtual int scratchCount() = 0;
    // Item index in full, whatever its length; empty when there is none.
    virtual std::string scratchItem(int index) = 0;
};

}  // namespace vornix
