// Labels for the routers that pass: vornix-cli against the simulated router
// and a printer of the tests' own, what reaches the printer read back by a
// renderer and a barcode reader of their own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "RouterSim.h"
#include "platform/LabelSpools.h"
#include "support/Chromium.h"
#include "support/CliRun.h"
#include "support/ServedView.h"
#include "support/TempDir.h"
#include "support/TestPrinter.h"

namespace vornix {
namespace {

using nlohmann::json;

// A station with scanned serials and two addresses a router (start_mac
// 00:11:22:00:00:10), its router simulated at address, the sample label
// printed to printer.
struct LabelStation {
    LabelStation(const std::string& address, const std::string& printer) : router(routerAt(address)) {
        std::filesystem::create_directory(station);
        started = router.start(&notStarted);
        dir.write("station/label.zpl", test::readAll(VORNIX_SOURCE_DIR "/samples/label.zpl"));
        setup(address, "s3cret!", printer);
    }
    static routersim::Options routerAt(const std::string& address) {
        routersim::Options options;
        options.address = address;
        options.user = "station";
        options.password = "s3cret!";
        options.latencyMs = 5;
        return options;
    }
    void setup(const std::string& address, const std::string& password, const std::string& printer) const {
        dir.write("station/setup.ini",
                  "[Environment]\r\nTELNETWAITTIME(ms)=100\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=" + address +
                      "\r\nTelnet Username=station\r\nTelnet Password=" + password +
                      "\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\nnumber=2\r\nstart_mac=00:11:22:00:00:10\r\n"
                      "0=ethaddr,lan_mac\r\n1=wan_mac\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\nnumber=0\r\n"
                      "[SERIAL]\r\nSource=scan\r\nName=SerialNumber\r\n[LABEL]\r\nTemplate=label.zpl\r\nPrinter=" +
                      printer + "\r\n");
    }
    test::CliResult run(const std::string& arguments) const { return test::runCli(station, arguments); }
    json lastRecord() const {
        std::ifstream in(station + "/vornix-journal.jsonl");
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return json::parse(last);
    }
    test::TempDir dir;
    const std::string station = dir.file("station");
    routersim::RouterSim router;
    bool started = false;
    std::string notStarted;  // why the simulated router did not start
};

// Catches a label not sent, sent twice, sent for a failed run, or one that
// --label and --reprint cannot make again exactly; and a print missing from
// the records.
TEST(Label, APassingRunPrintsOneLabelAReprintTheSameAndAFailedRunNone) {
    test::TestPrinter printer("127.0.0.190", test::TestPrinter::Mode::Ready);
    LabelStation s("127.0.0.190", printer.printer());
    ASSERT_TRUE(s.started) << s.notStarted;

    const test::CliResult passed = s.run("--serial VX0001 --mac");
    EXPECT_EQ(passed.status, 0) << passed.out;
    EXPECT_NE(passed.out.find("\nLabel printed: " + printer.printer() + "\n"), std::string::npos) << passed.out;
    printer.settle();
    ASSERT_EQ(printer.labels().size(), 1u);
    const json record = s.lastRecord();
    ASSERT_EQ(record["labels"].size(), 1u) << record.dump();
    EXPECT_EQ(record["labels"][0]["printer"], printer.printer());
    EXPECT_EQ(record["labels"][0]["result"], "printed");
    EXPECT_EQ(s.run("--label VX0001").out, printer.labels()[0]);
    EXPECT_EQ(s.run("--label 00:11:22:00:00:11").out, printer.labels()[0]);

    const test::CliResult again = s.run("--reprint vx0001 --reason 'label torn'");
    EXPECT_EQ(again.status, 1) << "serials are compared exactly";
    const test::CliResult reprinted = s.run("--reprint VX0001 --reason 'label torn'");
    EXPECT_EQ(reprinted.status, 0) << reprinted.err;
    EXPECT_EQ(reprinted.out, "Label printed: " + printer.printer() + "\n");
    printer.settle();
    ASSERT_EQ(printer.labels().size(), 2u);
    EXPECT_EQ(printer.labels()[1], printer.labels()[0]);
    const json reprint = json::parse(test::readAll(s.station + "/vornix-labels.jsonl"));
    EXPECT_EQ(reprint["run"], record["run"]);
    EXPECT_EQ(reprint["serial"], "VX0001");
    EXPECT_EQ(reprint["result"], "printed");
    EXPECT_EQ(reprint["reason"], "label torn");
    // The unit's page lists both prints, the reprint with its reason.
    const std::string page = s.run("--unit VX0001").out;
    const std::string printed = "  printed  " + printer.printer() + "  run " + record["run"].get<std::string>();
    EXPECT_NE(page.find("\nlabels    " + record["labels"][0]["time"].get<std::string>() + printed + "\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(printed + "  reprint: label torn\n"), std::string::npos) << page;
    // And the line view's unit page.
    test::ServedView view(s.station, "127.0.0.190", 18243);
    ASSERT_TRUE(view.ready()) << view.failure();
    const json shown = view.json("/api/unit?key=VX0001");
    ASSERT_EQ(shown["labels"].size(), 2u) << shown.dump();
    EXPECT_EQ(shown["labels"][0]["result"], "printed");
    EXPECT_EQ(shown["labels"][1]["reason"], "label torn");
    if (test::haveChromium()) {
        const std::string dom = test::dumpDom(view.url("/unit?key=VX0001"), 4000);
        EXPECT_NE(dom.find("data-label=\"print\""), std::string::npos) << dom.substr(0, 3000);
        EXPECT_NE(dom.find("reprint: label torn</div>"), std::string::npos) << dom.substr(0, 3000);
    }

    s.setup("127.0.0.190", "wrong", printer.printer());
    const test::CliResult failed = s.run("--serial VX0002 --mac");
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_EQ(failed.out.find("Label"), std::string::npos) << failed.out;
    printer.settle();
    EXPECT_EQ(printer.labels().size(), 2u);
    EXPECT_EQ(printer.statusAsked(), 2);
    EXPECT_FALSE(s.lastRecord().contains("labels"));
    const test::CliResult none = s.run("--label VX0002");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("vornix-cli: no run that passed is for VX0002 in "), std::string::npos) << none.err;
}

// Catches a label sent to a printer out of paper, a line other than the
// operator's, and a printer's trouble taken for the router's.
TEST(Label, APrinterOutOfPaperLeavesTheRunPassedWithoutALabel) {
    test::TestPrinter printer("127.0.0.191", test::TestPrinter::Mode::PaperOut);
    LabelStation s("127.0.0.191", printer.printer());
    ASSERT_TRUE(s.started) << s.notStarted;
    const test::CliResult run = s.run("--serial VX0003 --mac");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nLabel not printed: paper out\n"), std::string::npos) << run.out;
    printer.settle();
    EXPECT_EQ(printer.statusAsked(), 1);
    EXPECT_TRUE(printer.labels().empty());
    const json record = s.lastRecord();
    EXPECT_EQ(record["result"], "succeeded");
    EXPECT_EQ(record["labels"][0]["result"], "not printed: paper out");
}

// Catches a dir: label missing or named apart from its run, and a label
// whose barcodes do not carry what the run wrote (escaping, the sample's
// fields), as a renderer and a barcode reader of their own read it.
TEST(Label, ADirLabelScansAsTheSerialAndTheFirstMacTheRunWrote) {
    LabelStation s("127.0.0.192", "dir:labels");
    ASSERT_TRUE(s.started) << s.notStarted;
    std::filesystem::create_directory(s.station + "/labels");
    const test::CliResult run = s.run("--serial VX0004 --mac");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nLabel printed: dir:labels\n"), std::string::npos) << run.out;
    const std::string runId = s.lastRecord()["run"];
    std::string file;
    for (char c : runId) file += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
    const std::string label = s.station + "/labels/" + file + ".zpl";
    ASSERT_TRUE(std::filesystem::exists(label)) << label;
    EXPECT_EQ(s.run("--label '" + runId + "'").out, test::readAll(label));

    std::vector<std::string> codes;
    const std::string oracle = std::string("bash '" VORNIX_LABEL_ORACLE "' '" VORNIX_LABEL_ORACLE_DIR "' '") + label +
                               "' '" + s.dir.file("label.png") + "'";
    std::FILE* pipe = ::popen(oracle.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) codes.emplace_back(line, std::strcspn(line, "\n"));
    ASSERT_EQ(::pclose(pipe), 0) << "the oracle failed (see its lines above)";
    std::sort(codes.begin(), codes.end());
    const std::vector<std::string> expected = {"CODE-128:00:11:22:00:00:10", "CODE-128:VX0004",
                                               "QR-Code:VX0004 00:11:22:00:00:10"};
    EXPECT_EQ(codes, expected);
}

// Catches lp given other arguments than a raw job to the queue, a label
// that does not reach it whole, and lp's refusal lost. An lp of the test's
// own stands first on PATH.
TEST(Label, AnLpQueueGetsTheLabelRawAndLpsRefusalInOneLine) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("bin"));
    dir.write("bin/lp", "#!/bin/sh\n[ \"$2\" = refusing ] && { echo 'lp: The printer or class does not exist.' >&2; "
                        "exit 1; }\necho \"$1 $2 $3 $4 $5\" > '" + dir.file("args") + "'\ncat \"$6\" > '" +
                            dir.file("label") + "'\n");
    std::filesystem::permissions(dir.file("bin/lp"), std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (dir.file("bin") + ":" + path).c_str(), 1);
    const auto spool = platform::makeLabelSpool(dir.file("."), '/');
    LabelPrinter queue, refusing;
    std::string why;
    ASSERT_TRUE(parseLabelPrinter("lp:zebra", queue, why) && parseLabelPrinter("lp:refusing", refusing, why));
    EXPECT_EQ(spool->hand(queue, "run", "^XA^FD\xe9^FS^XZ"), "");
    EXPECT_EQ(spool->hand(refusing, "run", "^XA^XZ"), "lp -d refusing failed: lp: The printer or class does not exist.");
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(test::readAll(dir.file("args")), "-d zebra -o raw --\n");
    EXPECT_EQ(test::readAll(dir.file("label")), "^XA^FD\xe9^FS^XZ");
}

// Catches a label that a real CUPS raw queue (Debian's cupsd) does not pass
// on byte for byte: a job that is not raw, or one lp does not hand over whole.
TEST(Label, ACupsRawQueuePassesTheLabelOnByteForByte) {
    test::TempDir dir;
    // The queue's backend runs as the user lp, whatever the umask.
    std::filesystem::permissions(dir.file("."), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                    std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    const std::string cups = "bash '" VORNIX_SOURCE_DIR "/tests/support/cups-queue' ";
    std::FILE* started = ::popen((cups + "start '" + dir.file("cups") + "' zebra").c_str(), "r");
    ASSERT_NE(started, nullptr);
    char server[512] = "";
    if (!std::fgets(server, sizeof server, started)) server[0] = '\0';
    const int status = ::pclose(started);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no CUPS of the test's own here";
    // Stopped however the test ends.
    const std::unique_ptr<void, std::function<void(void*)>> stop(
        &dir, [&](void*) { (void)std::system((cups + "stop '" + dir.file("cups") + "'").c_str()); });
    ASSERT_EQ(status, 0) << "the CUPS of the test's own did not start (its lines above)";
    server[std::strcspn(server, "\n")] = '\0';
    ::setenv("CUPS_SERVER", server, 1);
    const std::string label = "^XA^FO20,20^FDVX0001 \xc3\xa9^FS\r\n^FO20,60^BQN,2,6^FDMA,VX0001^FS^XZ\r\n";
    LabelPrinter queue;
    std::string why;
    ASSERT_TRUE(parseLabelPrinter("lp:zebra", queue, why)) << why;
    EXPECT_EQ(platform::makeLabelSpool(dir.file("."), '/')->hand(queue, "run", label), "");
    ::unsetenv("CUPS_SERVER");
    // A bound for a hang, not a speed: the scheduler writes the job when it gets to it.
    const std::string printed = dir.file("cups/out/zebra.prn");
    for (int i = 0; i < 30000 && test::readAll(printed).size() < label.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(test::readAll(printed), label);
}

// Catches a station that starts its runs with a [LABEL] it cannot use, or
// refuses it with a line that does not name the value.
TEST(Label, AValueThatCannotBeUsedRefusesEveryRunWithOneLine) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.file("station"));
    dir.write("station/bad.zpl", "^XA\n^FO10,10^FDSN {SERIALNO}^FS\n^XZ\n");
    const std::string station = dir.file("station");
    const struct {
        const char* label;
        std::string line;
    } cases[] = {
        {"Template=label.zpl\r\nPrinter=usb:1",
         "Can't read LABEL->Printer: usb:1 (tcp:HOST[:PORT], lp:QUEUE, win:NAME or dir:PATH)"},
        {"Printer=dir:labels", "Can't read LABEL->Template: it is empty"},
        {"Template=none.zpl\r\nPrinter=dir:labels", "Can't read LABEL->Template: cannot read " + station + "/none.zpl"},
        {"Template=bad.zpl\r\nPrinter=dir:labels",
         "Can't read LABEL->Template: " + station + "/bad.zpl, line 2, column 15: {SERIALNO} is not a field"},
    };
    for (const auto& c : cases) {
        dir.write("station/setup.ini", std::string("[SETUP]\r\nCPE_LAN_IP=127.0.0.194\r\n[LABEL]\r\n") + c.label + "\r\n");
        const test::CliResult run = test::runCli(station, "--mac");
        EXPECT_EQ(run.status, 1) << c.label;
        EXPECT_EQ(run.out, c.line + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(station + "/vornix-journal.jsonl")) << "no run started";
}

}  // namespace
}  // namespace vornix
