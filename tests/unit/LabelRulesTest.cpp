#include <gtest/gtest.h>

#include "config/IniProfile.h"
#include "config/LabelRules.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

bool noWrite(const std::string&, const std::string&) { return false; }

// Catches a printer value read wrongly (a default port lost, a port or
// kind not checked) and a refusal that does not name the value.
TEST(LabelRules, ReadsEachPrinterAndRefusesABadOneWithOneLine) {
    test::TempDir dir;
    IniProfile profile{dir.file("setup.ini"), &noWrite};
    const struct {
        const char* printer;
        LabelPrinterKind kind;
        const char* name;
        int port;
        const char* problem;
    } cases[] = {
        {"tcp:10.0.0.7", LabelPrinterKind::Tcp, "10.0.0.7", 9100, ""},
        {"tcp:zebra-3:6101", LabelPrinterKind::Tcp, "zebra-3", 6101, ""},
        {"lp:zebra_raw", LabelPrinterKind::Lp, "zebra_raw", 9100, ""},
        {"win:ZDesigner GK420d", LabelPrinterKind::Windows, "ZDesigner GK420d", 9100, ""},
        {"dir:labels", LabelPrinterKind::Directory, "labels", 9100, ""},
        {"tcp:10.0.0.7:99999", LabelPrinterKind::Tcp, "", 0,
         "Can't read LABEL->Printer: tcp:10.0.0.7:99999 (the port 99999 is not 1 to 65535)"},
        {"tcp:", LabelPrinterKind::Tcp, "", 0, "Can't read LABEL->Printer: tcp: (it names no host)"},
        {"lp:-oraw", LabelPrinterKind::Tcp, "", 0, "Can't read LABEL->Printer: lp:-oraw (the queue -oraw is not a queue's name)"},
        {"usb:1", LabelPrinterKind::Tcp, "", 0,
         "Can't read LABEL->Printer: usb:1 (tcp:HOST[:PORT], lp:QUEUE, win:NAME or dir:PATH)"},
        {"", LabelPrinterKind::Tcp, "", 0, "Can't read LABEL->Printer: it is empty"},
    };
    for (const auto& c : cases) {
        dir.write("setup.ini", std::string("[LABEL]\r\nTemplate=label.zpl\r\nPrinter=") + c.printer + "\r\n");
        LabelRules rules;
        std::string problem;
        EXPECT_EQ(readLabelRules(profile, rules, problem), !*c.problem) << c.printer;
        EXPECT_EQ(problem, c.problem);
        if (*c.problem) continue;
        EXPECT_TRUE(rules.on);
        EXPECT_EQ(rules.printer.kind, c.kind) << c.printer;
        EXPECT_EQ(rules.printer.kind == LabelPrinterKind::Tcp ? rules.printer.host : rules.printer.name, c.name);
        EXPECT_EQ(rules.printer.port, c.port) << c.printer;
    }
    dir.write("setup.ini", "[SETUP]\r\nCPE_LAN_IP=10.0.0.1\r\n");
    LabelRules rules;
    std::string problem;
    EXPECT_TRUE(readLabelRules(profile, rules, problem));
    EXPECT_FALSE(rules.on) << "no [LABEL]: no labels, nothing refused";
}

// Catches a field name let through that fills nothing, and a place told wrongly.
TEST(LabelTemplate, RefusesAnUnknownFieldWithItsLineAndColumn) {
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"^XA\n^FO10,10^FD{SERIAL} {MAC3} {ENV:ProductID} {MACPLAIN}^FS\n^XZ", ""},
        {"^XA\n^FO10,10^FDSN {SERIALNO}^FS\n^XZ", "line 2, column 15: {SERIALNO} is not a field"},
        {"^XA^FD{MAC10}^FS^XZ", "line 1, column 7: {MAC10} is not a field"},
        {"^XA^FD{ENV:}^FS^XZ", "line 1, column 7: {ENV:} is not a field"},
        {"^XA^FD{SERIAL^FS^XZ", "line 1, column 7: a { is not closed"},
        {"^XA\n^FO{PORT},10^FDx^FS", "line 2, column 4: a field stands outside field data (^FD ... ^FS)"},
        {"^XA^FH\\^FD{SERIAL}^FS", "line 1, column 8: ^FH before field data that holds a field (the station writes its own)"},
        {"^XA^FX {not a field} ^FS^FH\\^FD_7E^FS^XZ", ""},
        {"^XA\n^CC+\n+FD{SERIAL}+FS", "line 2, column 1: ^CC changes a command character, which a label may not"},
        {"~ct+^XA^FD{SERIAL}^FS", "line 1, column 1: ~CT changes a command character, which a label may not"},
    };
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_EQ(checkLabelTemplate(c.text, problem), !*c.problem) << c.text;
        EXPECT_EQ(problem, c.problem) << c.text;
    }
}

// Catches a value that could end its field data or start a command (^, ~),
// an escape character of the value's or the template's own taken for one,
// and a field filled from the wrong value.
TEST(LabelTemplate, FillsEachFieldEscapedBehindAnFhOfItsOwn) {
    LabelValues values;
    values.macs = {"00:11:22:00:00:10", "00:11:22:00:00:11"};
    values.environment = {{"ProductID", "VX100"}};
    values.port = "3";
    values.station = "line-1";
    values.run = "2026-12-10T10:00:00.000Z line-1 0badcafe";
    values.date = "2026-12-10";
    const struct {
        const char* serial;
        const char* text;
        const char* filled;
    } cases[] = {
        {"VX-1", "^XA^FO5,5^FDSN {SERIAL}^FS^FO5,9^FDfixed_text^FS^XZ",
         "^XA^FO5,5^FH_^FDSN VX-1^FS^FO5,9^FDfixed_text^FS^XZ"},
        {"A^XZ~JR", "^FD{SERIAL}^FS", "^FH_^FDA_5EXZ_7EJR^FS"},
        {"a_b\xe9\n", "^FD{SERIAL}^FS", "^FH_^FDa_5Fb_E9_0A^FS"},
        {"", "^FD{MAC}|{MAC1}|{MAC2}|{MACPLAIN}^FS",
         "^FH_^FD00:11:22:00:00:10|00:11:22:00:00:11||001122000010^FS"},
        {"", "^FDport_{PORT} {STATION} {DATE} {ENV:ProductID}{ENV:none}^FS",
         "^FH_^FDport_5F3 line-1 2026-12-10 VX100^FS"},
        {"", "^BQN,2,5^FDMA,{RUN}^FS", "^BQN,2,5^FH_^FDMA,2026-12-10T10:00:00.000Z line-1 0badcafe^FS"},
    };
    for (const auto& c : cases) {
        values.serial = c.serial;
        EXPECT_EQ(fillLabel(c.text, values), c.filled) << c.text;
    }
}

}  // namespace
}  // namespace vornix
