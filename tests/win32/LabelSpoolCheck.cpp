// Test helper: a label through the Windows build's label spool.
// Usage: label_spool_check PRINTER FILE — hands FILE's bytes to PRINTER
// (win:NAME, dir:PATH) as a run's label; prints the spool's line ("handed"
// when it took the label) and exits 0 when it took it, 1 when not.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "config/LabelRules.h"
#include "platform/LabelSpools.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) return 2;
    const std::string zpl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    vornix::LabelPrinter printer;
    std::string why;
    if (!vornix::parseLabelPrinter(argv[1], printer, why)) {
        std::printf("%s\n", why.c_str());
        return 2;
    }
    why = vornix::platform::makeLabelSpool(".", '\\')->hand(printer, "label-check", zpl);
    std::printf("%s\n", why.empty() ? "handed" : why.c_str());
    return why.empty() ? 0 : 1;
}
