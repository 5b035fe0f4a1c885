// A gang station end to end: vornix-cli --gang in a station namespace of its
// own (support/gang-bed), one Debian BusyBox router behind each port, every
// router on the same address 192.168.1.1, the boot image from the station's
// FTP server on each port's own address.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/GangBed.h"
#include "support/PostgresServer.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

using nlohmann::json;
using Bed = test::GangBed;
using Station = test::GangStation;
using test::bootImage;

// What a one-router run logs for a MAC and boot stage that succeed, the
// block starting at first (ethaddr and lan_mac on it, wan_mac the next).
std::string oneRouterLog(const std::string& first, const std::string& second, const std::string& ftp) {
    const std::vector<std::string> log = {
        "Found 192.168.1.1", "process login procedure .....", "", "-----writing ENV-----",
        "Writing ethaddr = \"" + first + "\"", "Writing lan_mac = \"" + first + "\"",
        "Writing wan_mac = \"" + second + "\"", "Writing ProductID VX100", "---------------------",
        "Verifying ..... ", "", "Verify OK : ethaddr = \"" + first + "\"", "Verify OK : lan_mac = \"" + first + "\"",
        "Verify OK : wan_mac = \"" + second + "\"", "Verify OK : ProductID = \"VX100\"", "---------------------", "",
        "", "-----Boot Update-----", "process login procedure .....", "Login router.", "cd /var/tmp\\r\\n",
        "wget ftp://station:station@" + ftp + "/u-boot.bin\\r\\n", "cp /var/tmp/u-boot.bin /dev/mtdblock0\\r\\n",
        "rebooting .....", "Waiting for 300 ms", "", "Verifying Boot Code Version .....",
        "Boot Loader changed to 1.2.3", "---------------------", ""};
    std::string text;
    for (const std::string& line : log) text += line + "\n";
    return text;
}

// The addresses in a router's store ("NAME VALUE" lines whose value is one).
std::set<std::string> addressesIn(const std::string& store) {
    std::set<std::string> found;
    std::istringstream in(store);
    for (std::string name, value; in >> name && std::getline(in, value);) {
        value.erase(0, value.find_first_not_of(' '));
        if (value.size() == 17 && std::count(value.begin(), value.end(), ':') == 5) found.insert(value);
    }
    return found;
}

// The gang's standard output: each port's lines without their prefix, the
// summary lines, and lines that are neither.
struct GangOutput {
    std::map<int, std::string> port;
    std::vector<std::string> summary, stray;
};

GangOutput split(const std::string& out) {
    GangOutput parsed;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t close = line.find("] ");
        const bool prefixed = line[0] == '[' && close > 1 && close <= 3 &&
                              line.find_first_not_of("0123456789", 1) == close;
        if (prefixed && parsed.summary.empty())
            parsed.port[std::stoi(line.substr(1, close - 1))] += line.substr(close + 2) + "\n";
        else if (line.rfind("Port ", 0) == 0)
            parsed.summary.push_back(line);
        else
            parsed.stray.push_back(line);
    }
    return parsed;
}

std::vector<json> journal(const std::string& station) {
    std::vector<json> records;
    std::ifstream in(station + "/vornix-journal.jsonl");
    for (std::string text; std::getline(in, text);) {
        json record = json::parse(text, nullptr, false);
        if (record.is_object()) records.push_back(std::move(record));
    }
    return records;
}

// Milliseconds since the epoch of a record's time, 2026-12-09T08:00:00.000Z.
long long msOf(const json& time) {
    std::tm parts{};
    int ms = 0;
    if (!time.is_string() ||
        std::sscanf(time.get<std::string>().c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &ms) != 7)
        return 0;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return static_cast<long long>(::timegm(&parts)) * 1000 + ms;
}
long long durationMs(const json& record) { return msOf(record["ended"]) - msOf(record["started"]); }

int portOf(const json& record) { return record.value("port", 0); }

// The addresses a record says its run wrote.
std::set<std::string> written(const json& record) {
    std::set<std::string> macs;
    if (record.contains("mac") && record["mac"].contains("addresses"))
        for (const json& name : record["mac"]["addresses"]) macs.insert(name.value("written", ""));
    macs.erase("");
    return macs;
}

// The transcript a record names; empty when it names none.
std::string transcriptOf(const std::string& station, const json& record) {
    const std::string name = record.value("transcript", "");
    return name.empty() ? std::string() : test::readAll(station + "/" + name);
}

std::string show(const test::CliResult& run) {
    return "\nstatus " + std::to_string(run.status) + "\nstdout:\n" + run.out + "stderr:\n" + run.err;
}

class GangEndToEnd : public ::testing::Test {
protected:
    // A station directory under the test's own with this setup.ini.
    std::string station(const std::string& name, const Station& s) {
        const std::string path = dir.file(name);
        std::filesystem::create_directories(path);
        dir.write(name + "/setup.ini", s.setupIni());
        return path;
    }
    test::TempDir dir;
};

#define BED_OR_SKIP(bed)                                            \
    do {                                                            \
        if (!(bed).skipReason().empty()) GTEST_SKIP() << (bed).skipReason(); \
        ASSERT_TRUE((bed).ready()) << (bed).failure();              \
    } while (0)

// Four ports, MAC and boot, in both pacings: each router gets a block of its
// own and the new boot loader, each port logs exactly a one-router run, each
// transcript is its own router's dialogue, and start_mac moves four blocks.
TEST_F(GangEndToEnd, FourPortsWriteTheirOwnBlocksAndBootLoadersInBothPacings) {
    Bed bed("gmac");
    BED_OR_SKIP(bed);
    const std::string image = bootImage(64 * 1024);
    std::ofstream(bed.ftpDirectory() + "/u-boot.bin", std::ios::binary) << image;
    for (const char* pacing : {"fixed", "prompt"}) {
        SCOPED_TRACE(std::string(pacing) + " pacing");
        for (int k = 1; k <= 4; ++k) {
            bed.setTicfg(k, "env", "bootloaderVersion 1.0.0\nBUILD_VERSION 1.0.0\n");
            std::ofstream(bed.flashPath(k), std::ios::trunc);  // keeps the partition's link
        }
        Station s;
        s.pacing = pacing;
        const std::string path = station(pacing, s);
        const test::CliResult run = bed.runCli(path, {"--gang", "--mac", "--boot"});
        EXPECT_EQ(run.status, 0) << show(run);

        const GangOutput out = split(run.out);
        EXPECT_EQ(out.stray, std::vector<std::string>()) << show(run);
        EXPECT_EQ(out.summary, (std::vector<std::string>{"Port 1 (veth1): passed", "Port 2 (veth2): passed",
                                                          "Port 3 (veth3): passed", "Port 4 (veth4): passed"}))
            << show(run);
        std::map<int, json> records;
        for (const json& record : journal(path)) {
            EXPECT_EQ(records.count(portOf(record)), 0u) << "two records of port " << portOf(record);
            records[portOf(record)] = record;
        }
        ASSERT_EQ(records.size(), 4u) << test::readAll(path + "/vornix-journal.jsonl");

        std::set<std::set<std::string>> blocks;
        std::map<int, std::set<std::string>> macs;
        for (int k = 1; k <= 4; ++k) {
            SCOPED_TRACE("port " + std::to_string(k));
            const json& record = records[k];
            EXPECT_EQ(record.value("interface", ""), Bed::interface(k));
            EXPECT_EQ(record.value("result", ""), "succeeded");
            // The router holds what its record says was written: a block of two.
            const std::string env = bed.ticfg(k, "env");
            macs[k] = addressesIn(env);
            EXPECT_EQ(macs[k], written(record)) << env;
            ASSERT_EQ(macs[k].size(), 2u) << env;
            blocks.insert(macs[k]);
            const std::string transcript = transcriptOf(path, record);
            EXPECT_EQ(out.port.count(k) ? out.port.at(k) : "",
                      oneRouterLog(*macs[k].begin(), *macs[k].rbegin(), Bed::pcAddress(k)))
                << "the end of its transcript:\n"
                << transcript.substr(transcript.size() > 6000 ? transcript.size() - 6000 : 0);
            EXPECT_NE(env.find("\nBUILD_VERSION 1.2.3\n"), std::string::npos) << env;
            EXPECT_TRUE(bed.flash(k) == image) << "router " << k << "'s flash differs from the image";
        }
        // Four blocks of two from start_mac, one each, and start_mac after them.
        EXPECT_EQ(blocks, (std::set<std::set<std::string>>{{"00:11:22:00:00:0A", "00:11:22:00:00:0B"},
                                                           {"00:11:22:00:00:0C", "00:11:22:00:00:0D"},
                                                           {"00:11:22:00:00:0E", "00:11:22:00:00:0F"},
                                                           {"00:11:22:00:00:10", "00:11:22:00:00:11"}}));
        EXPECT_NE(test::readAll(path + "/setup.ini").find("start_mac=00:11:22:00:00:12\r\n"), std::string::npos);

        // A port's transcript is its router's dialogue alone (start_mac after
        // its block, which it notes, is the next port's block).
        for (int k = 1; k <= 4; ++k) {
            const std::string file = transcriptOf(path, records[k]);
            ASSERT_FALSE(file.empty()) << "port " << k << ": no transcript " << records[k].value("transcript", "");
            EXPECT_NE(file.substr(0, file.find('\n')).find("\"port\":" + std::to_string(k) + ","), std::string::npos)
                << file.substr(0, file.find('\n'));
            std::string transcript;
            std::istringstream in(file);
            for (std::string line; std::getline(in, line);)
                if (line.find("] note: start_mac after ") == std::string::npos) transcript += line + "\n";
            for (int other = 1; other <= 4; ++other)
                for (const std::string& mac : macs[other])
                    EXPECT_EQ(transcript.find(mac) != std::string::npos, other == k)
                        << "port " << k << "'s transcript and " << mac << " of port " << other;
        }
    }
}

// A wrong password, no router, a slow copy and a cable pulled on four of
// five ports: each port ends as its own router makes it, and the slow copy
// holds back no one.
TEST_F(GangEndToEnd, FaultsOfOnePortStayOnThatPort) {
    Bed::Options options;
    options.ports = 5;
    const std::string image = bootImage(300 * 1024);
    options.password[2] = "not-admin";
    options.noRouter = {3};
    options.copyRate[4] = static_cast<long>(image.size() / 3);  // the copy takes about 3 s
    Bed bed("gfault", options);
    BED_OR_SKIP(bed);
    std::ofstream(bed.ftpDirectory() + "/u-boot.bin", std::ios::binary) << image;
    ASSERT_EQ(bed.inStation("ip link set veth5 down"), 0);
    Station s;
    s.ports = 5;
    const std::string path = station("station", s);
    const test::CliResult run = bed.runCli(path, {"--gang", "--mac", "--boot"});
    EXPECT_EQ(run.status, 1) << "a router that answered failed" << show(run);
    const GangOutput out = split(run.out);
    EXPECT_EQ(out.stray, std::vector<std::string>()) << show(run);
    EXPECT_EQ(out.summary,
              (std::vector<std::string>{"Port 1 (veth1): passed", "Port 2 (veth2): failed", "Port 3 (veth3): no router",
                                        "Port 4 (veth4): passed", "Port 5 (veth5): not run"}))
        << show(run);
    EXPECT_EQ(out.port.count(5) ? out.port.at(5) : "",
              "Can't use port 5 (veth5): the interface veth5 is down (no link)\n");

    std::map<int, json> records;
    for (const json& record : journal(path)) records[portOf(record)] = record;
    ASSERT_EQ(records.count(1) + records.count(4), 2u) << test::readAll(path + "/vornix-journal.jsonl");
    EXPECT_EQ(records[2].value("result", ""), "failed");
    EXPECT_EQ(addressesIn(bed.ticfg(2, "env")), std::set<std::string>()) << "nothing written past a refused login";
    for (int k : {1, 4}) {
        EXPECT_EQ(records[k].value("result", ""), "succeeded") << "port " << k;
        EXPECT_TRUE(bed.flash(k) == image) << "router " << k << "'s flash differs from the image";
    }
    // Port 4's copy alone takes about 3 s: port 1 is done well before it.
    const long long usual = durationMs(records[1]), slow = durationMs(records[4]);
    EXPECT_GT(slow, usual + 1500) << "port 1 " << usual << " ms, port 4 " << slow << " ms";
    EXPECT_LT(msOf(records[1]["ended"]), msOf(records[4]["ended"]) - 1500);
}

// Gang runs of four ports, one port's run held at a line of its log chosen
// at random and killed there: no address ever reaches two routers, and
// every port's run has one record, the killed one's interrupted.
TEST_F(GangEndToEnd, SoakKilledPortsNeverPutAnAddressOnTwoRouters) {
    Bed bed("gkill");
    BED_OR_SKIP(bed);
    const std::string path = station("station", Station());
    const char* const moments[] = {"Found",           "process login",       "-----writing ENV-----",
                                   "Writing ethaddr", "Writing wan_mac",     "Writing ProductID",
                                   "Verifying",       "Verify OK : ethaddr", "Verify OK : ProductID"};
    std::map<std::string, std::string> holder;  // address: the run and port whose router held it
    std::vector<std::string> problems;
    std::mt19937 random(7);
    std::size_t seen = 0;
    int killed = 0;
    constexpr int rounds = 50;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 1; k <= 4; ++k) bed.setTicfg(k, "env", "bootloaderVersion 1.0.0\nBUILD_VERSION 1.0.0\n");
        const int victim = 1 + static_cast<int>(random() % 4);
        const std::string moment = moments[random() % (sizeof moments / sizeof *moments)];
        const std::string gate = dir.file("gate-" + std::to_string(round)), held = gate + ".held";
        const test::StartedCli gang =
            bed.startCli(path, {"--gang", "--mac"},
                         {"VORNIX_TEST_HOLD_AT=" + moment, "VORNIX_TEST_HOLD_PORT=" + std::to_string(victim),
                          "VORNIX_TEST_HOLD_GATE=" + gate});
        const std::string tag = "round " + std::to_string(round) + " (port " + std::to_string(victim) +
                                " killed at \"" + moment + "\")";
        pid_t child = 0;
        for (int i = 0; i < 3000 && !std::filesystem::exists(held); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (std::filesystem::exists(held)) child = Bed::portChild(gang.pid, path, victim);
        if (child && ::kill(child, SIGKILL) == 0) ++killed;
        else problems.push_back(tag + ": never held there");
        const test::CliResult result = gang.finish();
        if (result.status != 1) problems.push_back(tag + ": exit " + show(result));

        for (int k = 1; k <= 4; ++k)
            for (const std::string& mac : addressesIn(bed.ticfg(k, "env"))) {
                const std::string who = tag + " port " + std::to_string(k);
                const auto [at, fresh] = holder.emplace(mac, who);
                if (!fresh) problems.push_back(mac + " on " + at->second + " and " + who);
            }
        // This round's records: one per port, the victim's interrupted.
        const std::vector<json> records = journal(path);
        std::map<int, std::string> perPort, dialogue;
        for (std::size_t i = seen; i < records.size(); ++i) {
            perPort[portOf(records[i])] += records[i].value("result", "") + " ";
            dialogue[portOf(records[i])] += transcriptOf(path, records[i]);
        }
        seen = records.size();
        for (int k = 1; k <= 4; ++k)
            if (perPort[k] != (k == victim ? "interrupted " : "succeeded "))
                problems.push_back(tag + ": port " + std::to_string(k) + "'s records: " + perPort[k] + show(result) +
                                   "its transcript:\n" + dialogue[k]);
    }
    // Every run id once in the whole journal.
    std::map<std::string, int> ids;
    for (const json& record : journal(path)) ++ids[record.value("run", "")];
    for (const auto& [id, count] : ids)
        if (count != 1) problems.push_back(id + " has " + std::to_string(count) + " records");
    EXPECT_EQ(killed, rounds);
    EXPECT_EQ(problems, std::vector<std::string>());
}

// The gang's supervisor killed while a port's run is held mid-write: no
// port's process goes on without it, and while one ran, a second process on
// its port was refused.
TEST_F(GangEndToEnd, AKilledGangLeavesNoPortProcessAndAPortRunsOnce) {
    Bed bed("gorphan", Bed::Options(2));
    BED_OR_SKIP(bed);
    Station setup;
    setup.ports = 2;
    const std::string path = station("station", setup);
    const std::string gate = dir.file("gate"), held = gate + ".held";
    const test::StartedCli gang = bed.startCli(
        path, {"--gang", "--mac"},
        {"VORNIX_TEST_HOLD_AT=Writing lan_mac", "VORNIX_TEST_HOLD_PORT=1", "VORNIX_TEST_HOLD_GATE=" + gate});
    for (int i = 0; i < 3000 && !std::filesystem::exists(held); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(std::filesystem::exists(held)) << show(gang.finish());

    const test::CliResult second = bed.runCli(path, {"--gang-port", "1", "--mac"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "Can't use port 1 (veth1): another process is running it (vornix-port1.lock is held)\n");

    ::kill(gang.pid, SIGKILL);
    gang.finish();
    bool gone = false;
    for (int i = 0; i < 3000 && !gone; ++i) {
        gone = !Bed::portChild(gang.pid, path, 1) && !Bed::portChild(gang.pid, path, 2);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "a port's process outlived its gang";
    // The next start records the held run as interrupted.
    EXPECT_EQ(bed.runCli(path, {"--history"}).status, 0);
    std::map<int, std::string> results;
    for (const json& record : journal(path)) results[portOf(record)] += record.value("result", "");
    EXPECT_EQ(results[1], "interrupted");
}

// Two ports cabled to one router (a switch between): both see its hardware
// address in their own interface's table and both stop before writing,
// naming each other; nothing reaches the router and start_mac stays.
TEST_F(GangEndToEnd, TwoPortsOnOneRouterBothStopBeforeWriting) {
    Bed::Options options(2);
    options.bridge[2] = 1;
    Bed bed("gbridge", options);
    BED_OR_SKIP(bed);
    Station setup;
    setup.ports = 2;
    const std::string path = station("station", setup);
    const test::CliResult run = bed.runCli(path, {"--gang", "--mac"});
    EXPECT_EQ(run.status, 1) << show(run);
    const std::vector<json> records = journal(path);
    ASSERT_EQ(records.size(), 2u) << show(run);
    const std::string hardware = records[0].value("routerHardware", "");
    EXPECT_EQ(hardware.size(), 17u);
    const std::string line = "Ports 1 and 2 reach the same router (" + hardware + "): nothing is written";
    const GangOutput out = split(run.out);
    for (int k = 1; k <= 2; ++k)
        EXPECT_EQ(out.port.at(k), "Found 192.168.1.1\nprocess login procedure .....\n\n" + line + "\n") << k;
    EXPECT_EQ(records[1].value("routerHardware", ""), hardware);
    EXPECT_EQ(addressesIn(bed.ticfg(1, "env")), std::set<std::string>());
    EXPECT_NE(test::readAll(path + "/setup.ini").find("start_mac=" + setup.startMac + "\r\n"), std::string::npos);
}

// Units on a gang: boards swapped between the ports' labels are refused
// before a write, a unit run again keeps its block, and a port given no
// serial does not run and says so.
TEST_F(GangEndToEnd, UnitsKeepTheirBlocksAndSwappedBoardsAreRefused) {
    Bed bed("gunits", Bed::Options(2));
    BED_OR_SKIP(bed);
    Station setup;
    setup.ports = 2;
    const std::string path = station("station", setup);
    std::ofstream(path + "/setup.ini", std::ios::app | std::ios::binary)
        << "\r\n[SERIAL]\r\nSource=scan\r\nName=SerialNumber\r\n";
    const test::CliResult first = bed.runCli(path, {"--gang", "--serial", "1=VX0001", "--serial", "2=VX0002", "--mac"});
    ASSERT_EQ(first.status, 0) << show(first);
    const std::set<std::string> one = addressesIn(bed.ticfg(1, "env"));
    ASSERT_EQ(one.size(), 2u);

    const test::CliResult swapped = bed.runCli(path, {"--gang", "--serial", "1=VX0002", "--serial", "2=VX0001", "--mac"});
    EXPECT_EQ(swapped.status, 1);
    const GangOutput refused = split(swapped.out);
    EXPECT_NE(refused.port.at(1).find("\nSerial VX0002 refused: this router holds " + *one.begin() + " of unit VX0001\n"),
              std::string::npos)
        << show(swapped);
    EXPECT_EQ(addressesIn(bed.ticfg(1, "env")), one) << "nothing written";

    const test::CliResult again = bed.runCli(path, {"--gang", "--serial", "1=VX0001", "--mac"});
    EXPECT_EQ(again.status, 0) << show(again);
    EXPECT_EQ(addressesIn(bed.ticfg(1, "env")), one);
    EXPECT_EQ(split(again.out).port.at(2), "Can't use port 2 (veth2): no serial given (--serial 2=SN): it does not run\n");
    EXPECT_NE(test::readAll(path + "/setup.ini").find("start_mac=00:11:22:00:00:0E\r\n"), std::string::npos)
        << "two units, two blocks";
}

// Catches a label for a failed port, a label missing for a passed one, one
// port's label with another's port or addresses, and labels run together.
TEST_F(GangEndToEnd, EachPassedPortPrintsOneLabelOfItsOwn) {
    Bed::Options options;
    options.password[3] = "not-admin";
    Bed bed("glabel", options);
    BED_OR_SKIP(bed);
    const std::string path = station("station", Station());
    std::filesystem::create_directory(path + "/labels");
    dir.write("station/label.zpl", "^XA\n^FO20,20^A0N,120,120^FDPort {PORT}^FS\n^FO20,160^FD{MAC0} {MAC1}^FS\n^XZ\n");
    std::ofstream(path + "/setup.ini", std::ios::app | std::ios::binary)
        << "\r\n[LABEL]\r\nTemplate=label.zpl\r\nPrinter=dir:labels\r\n";
    const test::CliResult run = bed.runCli(path, {"--gang", "--mac"});
    EXPECT_EQ(run.status, 1) << show(run);

    std::map<int, std::string> labels;
    for (const auto& entry : std::filesystem::directory_iterator(path + "/labels")) {
        const std::string label = test::readAll(entry.path().string());
        const std::size_t at = label.find("^FDPort ");
        ASSERT_NE(at, std::string::npos) << label;
        EXPECT_EQ(label.find("^XA", 1), std::string::npos) << "one whole label a file:\n" << label;
        labels[std::atoi(label.c_str() + at + 8)] = label;
    }
    EXPECT_EQ(labels.size(), 3u) << "three passed, one label each";
    EXPECT_EQ(labels.count(3), 0u);
    for (const json& record : journal(path)) {
        const int k = portOf(record);
        SCOPED_TRACE("port " + std::to_string(k));
        if (k == 3) {
            EXPECT_EQ(record.value("result", ""), "failed");
            continue;
        }
        ASSERT_EQ(record.value("result", ""), "succeeded");
        const json& addresses = record["mac"]["addresses"];
        const std::string pair = addresses.front().value("written", "") + " " + addresses.back().value("written", "");
        EXPECT_NE(labels[k].find("^FD" + pair + "^FS"), std::string::npos) << labels[k];
        EXPECT_NE(split(run.out).port[k].find("\nLabel printed: dir:labels\n"), std::string::npos) << show(run);
    }
}

// Standard output that nobody reads (its pipe full from the start): every
// port's run still ends, its log is not lost, and it all comes out once read.
TEST_F(GangEndToEnd, AStalledStandardOutputStallsNoPort) {
    Bed bed("gstall", Bed::Options(2));
    BED_OR_SKIP(bed);
    Station setup;
    setup.ports = 2;
    // Each port logs more than its pipe to the gang holds (64 KiB).
    const int entries = 80;
    setup.envEntries = "number=" + std::to_string(entries) + "\r\n";
    for (int e = 0; e < entries; ++e)
        setup.envEntries += std::to_string(e) + "=v" + std::to_string(e) + "," + std::string(400, 'a' + e % 26) + "\r\n";
    const std::string path = station("station", setup);
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::fcntl(pipe[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    long filled = 0;
    for (ssize_t wrote; (wrote = ::write(pipe[1], filler.data(), filler.size())) > 0;) filled += wrote;
    ::fcntl(pipe[1], F_SETFL, 0);
    const test::StartedCli gang = bed.startCli(path, {"--gang", "--mac"}, {}, pipe[1]);
    ::close(pipe[1]);
    // Both records, while nothing is read.
    std::vector<json> records;
    for (int i = 0; i < 12000 && records.size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        records = journal(path);
    }
    EXPECT_EQ(records.size(), 2u) << "the ports' runs waited for standard output";
    std::string out;
    char chunk[65536];
    for (ssize_t got; (got = ::read(pipe[0], chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<std::size_t>(got));
    ::close(pipe[0]);
    const test::CliResult result = gang.finish();


    EXPECT_EQ(result.status, 0) << result.err;
    const GangOutput parsed = split(out.substr(static_cast<std::size_t>(filled)));
    EXPECT_EQ(parsed.summary, (std::vector<std::string>{"Port 1 (veth1): passed", "Port 2 (veth2): passed"}));
    for (const json& record : records) {
        EXPECT_EQ(record.value("result", ""), "succeeded") << record["log"].back() << "\n" << transcriptOf(path, record);
        std::string log;
        for (const json& line : record["log"]) log += line.get<std::string>() + "\n";
        EXPECT_EQ(parsed.port.at(portOf(record)), log) << "port " << portOf(record) << "'s lines, whole";
    }
}

// Line mode: each port reserves its block from the line's pool as a holder
// of its own; four blocks, one per router, none twice.
TEST_F(GangEndToEnd, FourPortsDrawTheirBlocksFromTheLinePool) {
    Bed bed("gline");
    BED_OR_SKIP(bed);
    test::PostgresServer server(24371, false, bed.stationNamespace());
    ASSERT_TRUE(server.ready()) << "this test needs PostgreSQL (scripts/install-deps): " << server.failure();
    Station s;
    s.line = "Database=" + server.connectionString() + "\r\nPool=line\r\nStation=gang\r\n";
    const std::string path = station("station", s);
    EXPECT_EQ(bed.runCli(path, {"--line-init"}).status, 0);
    const test::CliResult added = bed.runCli(path, {"--pool-add", "line", "00:11:22:00:00:00", "00:11:22:00:00:FF"});
    ASSERT_EQ(added.status, 0) << show(added);
    const test::CliResult run = bed.runCli(path, {"--gang", "--mac"});
    EXPECT_EQ(run.status, 0) << show(run);
    std::set<std::string> all;
    for (int k = 1; k <= 4; ++k) {
        const std::set<std::string> macs = addressesIn(bed.ticfg(k, "env"));
        EXPECT_EQ(macs.size(), 2u) << "router " << k;
        all.insert(macs.begin(), macs.end());
    }
    EXPECT_EQ(all.size(), 8u) << "an address on two routers";
    EXPECT_EQ(server.sql("SELECT COUNT(*), COUNT(DISTINCT mac) FROM vornix_assignment"), "8|8\n");
    EXPECT_EQ(server.sql("SELECT COUNT(DISTINCT holder) FROM vornix_reservation WHERE state = 'assigned'"), "4\n")
        << "each port holds its block as itself";
    EXPECT_EQ(server.sql("SELECT COUNT(*) FROM vornix_run"), "4\n");
    EXPECT_EQ(journal(path).size(), 4u);
}

}  // namespace
}  // namespace vornix
