#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "app/Gang.h"
#include "config/GangConfig.h"
#include "config/StationConfig.h"
#include "platform/Adapters.h"
#include "platform/FileLock.h"
#include "procedures/GangBlockSource.h"
#include "support/TempDir.h"

namespace vornix {
namespace {

TEST(GangConfig, PortsAndTheirProblemsAsSetupIniGivesThem) {
    const struct {
        const char* name;
        const char* section;
        bool present;
        const char* problem;                 // start of the whole gang's problem, or ""
        std::vector<std::string> portIssues;  // start of each port's problem ("" none)
    } cases[] = {
        {"no section", "", false, "", {}},
        {"no ports", "[GANG]\r\nPorts=0\r\n", true, "setup.ini's [GANG] Ports=0 is not", {}},
        {"nine", "[GANG]\r\nPorts=9\r\n", true, "setup.ini's [GANG] Ports=9 is not", {}},
        {"not a number", "[GANG]\r\nPorts=2x\r\n", true, "setup.ini's [GANG] Ports=2x is not", {}},
        {"three",
         "[GANG]\r\nPorts=3\r\nPort1=Ethernet 3\r\nPort1_PC_IP=192.168.1.101\r\nPort2_PC_IP=192.168.1.102\r\n"
         "Port3=eth3\r\nPort3_PC_IP=NULL\r\n",
         true,
         "",
         {"", "setup.ini's [GANG] section names no interface for it (Port2=)",
          "setup.ini's [GANG] section gives it no PC address (Port3_PC_IP=)"}},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::unique_ptr<Profile> profile = platform::makeProfile(dir.write("setup.ini", c.section));
        const GangConfig gang = readGangConfig(*profile);
        EXPECT_EQ(gang.present, c.present) << c.name;
        EXPECT_EQ(gang.problem.rfind(c.problem, 0), 0u) << c.name << ": " << gang.problem;
        ASSERT_EQ(gang.ports.size(), c.portIssues.size()) << c.name;
        for (std::size_t i = 0; i < gang.ports.size(); ++i) {
            EXPECT_EQ(gang.ports[i].number, static_cast<int>(i + 1));
            EXPECT_EQ(gang.ports[i].problem, c.portIssues[i]) << c.name << " port " << i + 1;
        }
    }
    test::TempDir dir;
    const std::unique_ptr<Profile> profile =
        platform::makeProfile(dir.write("setup.ini", "[GANG]\r\nPorts=1\r\nPort1=Ethernet 3\r\nPort1_PC_IP=10.0.0.5\r\n"));
    const GangPortConfig port = readGangPort(*profile, 1);
    EXPECT_EQ(port.interfaceName, "Ethernet 3");
    EXPECT_EQ(port.pcIp, "10.0.0.5");
}

TEST(Gang, ExitStatusCountsOnlyPortsWhoseRouterAnswered) {
    using R = Gang::Result;
    const struct {
        std::vector<R> results;
        int status;
    } cases[] = {
        {{R::Passed, R::Passed}, 0},
        {{R::Passed, R::NoRouter, R::NotRun}, 0},
        {{R::Passed, R::Failed}, 1},
        {{R::Passed, R::Interrupted}, 1},
        {{R::NoRouter, R::NoRouter}, 1},
        {{R::NotRun}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(Gang::exitStatus(c.results), c.status) << c.results.size();
}

// setup.ini with start_mac, and the file lock the ports share.
struct GangStation {
    test::TempDir dir;
    std::string path = dir.write("setup.ini", "[WRITE_MAC]\r\nstart_mac=00:11:22:00:00:FE\r\n");
    std::string lock = dir.file("gang.lock");
    std::shared_ptr<void> hold(std::string& why) const { return platform::lockFile(lock, 2000, why); }
    std::string startMac() const { return StationConfig(*platform::makeProfile(path)).read(keys::startMac).text; }
};

// Each port takes its block and moves start_mac past it at once: a port
// that fails later leaves a gap, never a block for another router.
TEST(GangBlockSource, APortsBlockIsTakenAtOnceAndNeverHandedOutAgain) {
    GangStation station;
    const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
    GangBlockSource failing(*profile, station.path, [&](std::string& why) { return station.hold(why); });
    const MacBlockSource::Reserved first = failing.reserve(3);
    ASSERT_TRUE(first.ok) << first.failureLine;
    EXPECT_TRUE(first.taken);
    EXPECT_EQ(first.startMac, "00:11:22:00:00:FE");
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:01");
    EXPECT_TRUE(failing.spentAtEnd()) << "a run that never verified spends its block";

    GangBlockSource next(*profile, station.path, [&](std::string& why) { return station.hold(why); });
    const MacBlockSource::Reserved second = next.reserve(3);
    EXPECT_EQ(second.startMac, "00:11:22:00:01:01");
    EXPECT_EQ(next.commit(second.startMac, 3, "00:11:22:00:01:04"), "");
    EXPECT_EQ(next.stageVerified(), "");
    EXPECT_FALSE(next.spentAtEnd());
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:04");

    // The lock held elsewhere: nothing is taken.
    GangBlockSource refused(*profile, station.path, [](std::string& why) {
        why = "another process has held it for 10 s";
        return std::shared_ptr<void>();
    });
    const MacBlockSource::Reserved none = refused.reserve(3);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.failureLine, "Can't lock start_mac in " + station.path + ": another process has held it for 10 s");
    EXPECT_FALSE(refused.spentAtEnd());
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:04");
}

// Eight ports reserving at the same moment, each through its own file
// handle as its own process has it: eight different blocks.
TEST(GangBlockSource, PortsReservingAtOnceNeverShareABlock) {
    GangStation station;
    constexpr int ports = 8;
    std::vector<std::string> blocks(ports);
    std::vector<std::thread> threads;
    for (int i = 0; i < ports; ++i)
        threads.emplace_back([&, i] {
            const std::unique_ptr<Profile> profile = platform::makeProfile(station.path);
            GangBlockSource source(*profile, station.path, [&](std::string& why) { return station.hold(why); });
            blocks[static_cast<std::size_t>(i)] = source.reserve(2).startMac;
        });
    for (std::thread& thread : threads) thread.join();
    const std::set<std::string> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(ports));
    EXPECT_EQ(distinct.count(""), 0u);
    EXPECT_EQ(station.startMac(), "00:11:22:00:01:0E");
}

}  // namespace
}  // namespace vornix
