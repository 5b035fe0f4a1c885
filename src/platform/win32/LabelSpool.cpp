#include <windows.h>
#include <winspool.h>

#include "platform/AtomicReplace.h"
#include "platform/LabelSpools.h"

namespace vornix::platform {

namespace {

// The printer's driver is passed by: RAW hands the ZPL to the printer as it is.
std::string toSpooler(const std::string& printerName, const std::string& name, const std::string& zpl) {
    HANDLE printer = nullptr;
    std::string printerCopy = printerName;
    if (!OpenPrinterA(printerCopy.data(), &printer, nullptr))
        return "cannot open the printer " + printerName + " (error " + std::to_string(GetLastError()) + ")";
    std::string document = name, datatype = "RAW";
    DOC_INFO_1A info{document.data(), nullptr, datatype.data()};
    std::string why;
    if (StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&info)) == 0) {
        why = "the printer " + printerName + " refused the label (error " + std::to_string(GetLastError()) + ")";
    } else {
        DWORD written = 0;
        if (!StartPagePrinter(printer) ||
            !WritePrinter(printer, const_cast<char*>(zpl.data()), static_cast<DWORD>(zpl.size()), &written) ||
            written != zpl.size())
            why = "the printer " + printerName + " did not take the whole label (error " + std::to_string(GetLastError()) + ")";
        EndPagePrinter(printer);
        EndDocPrinter(printer);
    }
    ClosePrinter(printer);
    return why;
}

class Win32LabelSpool : public LabelSpool {
public:
    Win32LabelSpool(std::string directory, char separator) : directory_(std::move(directory)), separator_(separator) {}
    std::string hand(const LabelPrinter& printer, const std::string& name, const std::string& zpl) override {
        switch (printer.kind) {
            case LabelPrinterKind::Windows: return toSpooler(printer.name, name, zpl);
            case LabelPrinterKind::Directory: {
                const bool absolute = printer.name[0] == '\\' || printer.name[0] == '/' ||
                                      (printer.name.size() > 1 && printer.name[1] == ':');
                const std::string folder = absolute ? printer.name : directory_ + separator_ + printer.name;
                const std::string path = folder + separator_ + labelFileName(name);
                if (!replaceFileAtomically(path, zpl)) return "cannot write " + path;
                return std::string();
            }
            case LabelPrinterKind::Lp: return "lp: queues are a Linux station's (use win:NAME)";
            case LabelPrinterKind::Tcp: break;
        }
        return "tcp: printers are not spooled";
    }

private:
    std::string directory_;
    char separator_;
};

}  // namespace

std::unique_ptr<LabelSpool> makeLabelSpool(const std::string& directory, char separator) {
    return std::make_unique<Win32LabelSpool>(directory, separator);
}

}  // namespace vornix::platform
