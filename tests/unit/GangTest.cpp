#include <gtest/gtest.h>


#include "app/Gang.h"
#include "app/GangRouters.h"
#include "config/GangConfig.h"
#include "config/StationConfig.h"
#include "platform/Adapters.h"
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

// What one port concludes from what the others of its run said, waiting
// (in the pause's steps) until each has said its router or ended.
TEST(GangRouters, APortStopsOnlyForARouterAnotherPortReached) {
    struct CountingPause : Pause {
        int waited = 0;
        void sleepMs(int ms) override { waited += ms; }
    };
    const struct {
        const char* name;
        std::vector<std::string> said;  // by the gang and the others, before port 1 says its own
        std::string hardware;           // what port 1's interface reached
        std::string line;
    } cases[] = {
        {"its own router", {"runs 1 2 3", "reached 2 02:00:00:00:00:02", "ended 3"}, "02:00:00:00:00:01", ""},
        {"one router, two ports",
         {"runs 1 2 4", "ended 2", "reached 4 02:00:00:00:00:01"},
         "02:00:00:00:00:01",
         "Ports 1 and 4 reach the same router (02:00:00:00:00:01): nothing is written"},
        {"no router on its own interface", {"runs 1 2"}, "",
         "Port 1's packets left by another port: the neighbour table of eth1 holds no address for 192.168.1.1; "
         "nothing is written"},
        {"a port that never says", {"runs 1 2 3", "reached 3 -"}, "02:00:00:00:00:01",
         "Port 1 can't learn within 1 s which router port 2 reached: nothing is written"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        GangRouters routers(dir.file(""), '/', "t");
        std::string text;
        for (const std::string& line : c.said) text += line + "\n";
        dir.write("vornix-gang-t.routers", text);
        CountingPause pause;
        EXPECT_EQ(routers.reached(1, "eth1", "192.168.1.1", c.hardware, pause, 1000), c.line) << c.name;
    }
}

}  // namespace
}  // namespace vornix
