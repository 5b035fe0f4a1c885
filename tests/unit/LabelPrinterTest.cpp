#include <gtest/gtest.h>

#include "procedures/LabelPrinter.h"
#include "support/TestPrinter.h"

namespace vornix {
namespace {

// Catches a flag read from the wrong field or string, and an answer that
// is no status taken for a ready printer.
TEST(LabelPrinter, ReadsTheHostStatusFlagsFromTheirFields) {
    auto status = [](const char* paper, const char* pause, const char* head, const char* ribbon) {
        return std::string("\x02" "030,") + paper + "," + pause + ",1218,000,0,0,0,000,0,0,0\x03\r\n\x02" "001,0," +
               head + "," + ribbon + ",1,2,6,0,00000000,1,000\x03\r\n\x02" "1234,0\x03\r\n";
    };
    const struct {
        std::string answer;
        const char* problem;
    } cases[] = {
        {status("0", "0", "0", "0"), ""},
        {status("1", "0", "0", "0"), "paper out"},
        {status("0", "1", "0", "0"), "printer paused"},
        {status("0", "0", "1", "0"), "head open"},
        {status("0", "0", "0", "1"), "ribbon out"},
        {status("x", "0", "0", "0"), "the printer's status could not be read"},
        {"\x02" "030,0,0\x03\x02" "001,0\x03\x02" "1\x03", "the printer's status could not be read"},
        {"\x02" "030,0,0,1218\x03", "the printer's status could not be read"},
        {"", "the printer's status could not be read"},
    };
    for (const auto& c : cases) EXPECT_EQ(hostStatusProblem(c.answer), c.problem) << c.answer;
}

class NoSpool : public LabelSpool {
public:
    std::string hand(const LabelPrinter&, const std::string&, const std::string&) override { return "not spooled"; }
};

// Catches a label sent to a printer that cannot print it, or one asked
// nothing first, and a wait on a silent printer that never ends.
TEST(LabelPrinter, SendsTheLabelOnlyAfterTheStatusSaysItCanPrint) {
    const struct {
        test::TestPrinter::Mode mode;
        const char* why;
        std::size_t labels;
    } cases[] = {
        {test::TestPrinter::Mode::Ready, "", 1},
        {test::TestPrinter::Mode::PaperOut, "paper out", 0},
        {test::TestPrinter::Mode::Silent, "the printer did not answer", 0},
    };
    NoSpool spool;
    for (const auto& c : cases) {
        test::TestPrinter printer("127.0.0.193", c.mode);
        LabelPrinter where;
        std::string why;
        ASSERT_TRUE(parseLabelPrinter(printer.printer(), where, why)) << why;
        EXPECT_EQ(LabelPrinterLink(spool, 300).print(where, "run", "^XA^FDx^FS^XZ"), c.why);
        printer.settle();
        EXPECT_EQ(printer.statusAsked(), 1);
        ASSERT_EQ(printer.labels().size(), c.labels);
        if (c.labels) {
            EXPECT_EQ(printer.labels()[0], "^XA^FDx^FS^XZ");
        }
    }
}

}  // namespace
}  // namespace vornix
