#pragma once

#include <string>

#include "config/LabelRules.h"
#include "station/LabelSpool.h"

namespace vornix {

// One label to its printer. A tcp: printer is asked its status (~HS)
// first and the label is sent only when it can print it; nothing is ever
// sent again by itself.
class LabelPrinterLink {
public:
    explicit LabelPrinterLink(LabelSpool& spool, int statusTimeoutMs = 2000)
        : spool_(spool), statusTimeoutMs_(statusTimeoutMs) {}
    // Empty when the label went out, else why not, as a clause for
    // "Label not printed: ...". name: the label's own (its run's id).
    std::string print(const LabelPrinter& printer, const std::string& name, const std::string& zpl);

private:
    std::string overTcp(const LabelPrinter& printer, const std::string& zpl);
    LabelSpool& spool_;
    int statusTimeoutMs_;
};

// A ~HS answer: empty when the printer can print; "paper out", "ribbon out",
// "head open" or "printer paused" when it cannot; "the printer's status
// could not be read" when the answer is not three STX ... ETX strings with
// those flags.
std::string hostStatusProblem(const std::string& answer);

}  // namespace vornix
