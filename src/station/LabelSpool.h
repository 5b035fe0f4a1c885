#pragma once

#include <string>

#include "config/LabelRules.h"

namespace vornix {

// Hands a label's bytes to what the system prints with: lp: (a CUPS queue,
// raw), win: (the Windows spooler, RAW) and dir: (a file). tcp: printers are
// spoken to directly over the link's sockets.
class LabelSpool {
public:
    virtual ~LabelSpool() = default;
    // name: the label's own name (the run's id, fit for a file name), for
    // dir:. Empty when handed over, else why not, as a clause for
    // "Label not printed: ...".
    virtual std::string hand(const LabelPrinter& printer, const std::string& name, const std::string& zpl) = 0;
};

}  // namespace vornix
