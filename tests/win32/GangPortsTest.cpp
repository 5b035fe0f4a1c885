// A gang station's Windows adapters against the system (or Wine): the port
// check, tying a socket to an adapter, and child processes, whose child is
// this program started with --child. A bound port's echo and flush run in
// gang_under_wine.sh.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <atomic>
#include <thread>

#include "app/Gang.h"
#include "link/Net.h"
#include "platform/ChildProcess.h"
#include "platform/Ports.h"

namespace vornix {
namespace {

// The loopback adapter is interface 1 on Windows ("Loopback Pseudo-Interface
// 1") and under Wine (the host's "lo"), up and holding 127.0.0.1; names by
// alias are the end-to-end test's.
const std::string loopback = "1";

TEST(GangPorts, PortProblemSaysWhatIsWrong) {
    const struct {
        std::string name, address, problem;
    } cases[] = {
        {loopback, "127.0.0.1", ""},
        {"vxw-none", "127.0.0.1", "there is no network adapter vxw-none"},
        {"4294967295", "127.0.0.1", "there is no network adapter 4294967295"},
        {loopback, "192.0.2.55", "the adapter 1 does not hold its PC address 192.0.2.55"},
        {loopback, "192.168.1.300", "its PC address \"192.168.1.300\" is not a dotted IPv4 address"},
        {"", "127.0.0.1", "no network adapter is named for it"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::portProblem(RouterPort{1, c.name, c.address}), c.problem);
}

TEST(GangPorts, BindToPortTiesOrSaysWhy) {
    net::startSockets(2, 2);
    const struct {
        std::string name, address, whyStart;  // whyStart empty: bound
    } cases[] = {
        {loopback, "127.0.0.1", ""},
        {"vxw-none", "127.0.0.1", "there is no network adapter vxw-none"},
        {loopback, "192.0.2.55", "cannot bind to the address 192.0.2.55 (error 10049"},
    };
    for (const auto& c : cases) {
        const net::SocketHandle socket = net::openTcp();
        std::uint32_t local = 0;
        std::string why;
        ASSERT_TRUE(net::resolveIPv4(c.address, local));
        EXPECT_EQ(net::bindToPort(socket, c.name, local, why), c.whyStart.empty()) << c.name;
        EXPECT_EQ(why.substr(0, c.whyStart.size()), c.whyStart) << why;
        net::closeSocket(socket);
    }
}

// The child's side: what the test asks for, then an exit status.
int childMain(int argc, char** argv) {
    const std::string what = argv[2];
    _setmode(_fileno(stdout), _O_BINARY);  // bytes as written: text mode would make "\r\n" "\r\r\n"
    if (what == "lines")
        std::printf("first\nsecond\r\n%s\nlast", std::string(platform::ChildProcess::maxLine + 10, 'x').c_str());
    for (int i = 3; what == "arguments" && i < argc; ++i) std::printf("[%s]\n", argv[i]);
    if (what == "sleep") std::printf("sleeping\n");
    std::fflush(stdout);
    if (what == "sleep") Sleep(60000);
    return what == "lines" ? std::atoi(argv[3]) : 0;
}

std::vector<std::string> linesOf(platform::ChildProcess& child) {
    std::vector<std::string> lines;
    for (std::string line; child.readLine(line);)
        lines.push_back(line.size() > 80 ? std::to_string(line.size()) + " characters" : line);
    return lines;
}

std::unique_ptr<platform::ChildProcess> startChild(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--child");
    std::string why;
    auto child = platform::ChildProcess::start(arguments, why);
    EXPECT_TRUE(child) << why;
    return child;
}

TEST(ChildProcess, LinesAndStatusComeBack) {
    const std::vector<std::string> lines{"first", "second", std::to_string(platform::ChildProcess::maxLine) + " characters",
                                         "xxxxxxxxxx", "last"};
    // Our statuses are 0-3; any other code is an end from outside.
    const std::pair<int, bool> cases[] = {{0, true}, {1, true}, {3, true}, {7, false}, {259, false}};
    for (const auto& [code, exited] : cases) {
        auto child = startChild({"lines", std::to_string(code)});
        ASSERT_TRUE(child);
        EXPECT_EQ(linesOf(*child), lines);
        const auto end = child->wait();
        EXPECT_EQ(end.exited, exited) << code;
        EXPECT_EQ(end.status, code);
    }
}

TEST(ChildProcess, ArgumentsArriveAsGiven) {
    const std::vector<std::string> given{"plain", "two words", "", "a\"quote", "ends\\", "dir with\\", "b\\\\\"q", "t\tab"};
    std::vector<std::string> arguments{"arguments"}, expected;
    for (const std::string& argument : given) arguments.push_back(argument), expected.push_back("[" + argument + "]");
    auto child = startChild(arguments);
    ASSERT_TRUE(child);
    EXPECT_EQ(linesOf(*child), expected);
}

TEST(ChildProcess, InheritsOnlyItsOwnHandlesAndIsKilled) {
    // Another port's pipe, inheritable as its write end is while its child starts.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE otherRead = nullptr, otherWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&otherRead, &otherWrite, &inheritable, 0));
    auto child = startChild({"sleep"});
    ASSERT_TRUE(child);
    std::string line;
    ASSERT_TRUE(child->readLine(line));
    CloseHandle(otherWrite);
    // No writer left: broken at once. A child holding a copy would keep it open.
    EXPECT_FALSE(PeekNamedPipe(otherRead, nullptr, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    CloseHandle(otherRead);
    child->kill();
    EXPECT_FALSE(child->wait().exited);
    EXPECT_FALSE(child->readLine(line));
}

// A supervisor that dies (Task Manager, a crash) takes its port processes
// with it: none goes on with its router. The supervisor is this program
// started with --supervise; it starts a sleeping child and names it.
TEST(ChildProcess, ChildrenEndWithTheirStarter) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" --supervise";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION supervisor{};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &supervisor));
    CloseHandle(write);
    std::string said;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(read, &c, 1, &got, nullptr) && got == 1 && c != '\n') said += c;
    CloseHandle(read);
    ASSERT_EQ(said.rfind("child ", 0), 0u) << said;
    HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::atol(said.c_str() + 6)));
    ASSERT_TRUE(child);
    EXPECT_EQ(WaitForSingleObject(child, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the child runs";
    TerminateProcess(supervisor.hProcess, 9);
    WaitForSingleObject(supervisor.hProcess, INFINITE);
    EXPECT_EQ(WaitForSingleObject(child, 30000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the child outlived its starter";
    CloseHandle(child);
    CloseHandle(supervisor.hThread);
    CloseHandle(supervisor.hProcess);
}

// The operator leaves while the ports run: every port's process ends at
// once, and a port started after that is ended as it starts. The ports'
// processes are this program (main), which never ends its run by itself.
TEST(Gang, StopEndsEveryPortsRunAndStartsNoneAfter) {
    const std::vector<Gang::Port> ports{{RouterPort{1, loopback, "127.0.0.1"}, ""},
                                        {RouterPort{2, loopback, "127.0.0.1"}, ""}};
    Gang::Stop stop;
    std::atomic<int> lines{0};
    Gang::Events events;
    events.line = [&](int, const std::string&) { ++lines; };
    std::vector<Gang::Result> results;
    std::thread gang([&] { results = Gang::run(ports, {"--mac"}, events, nullptr, &stop); });
    for (int i = 0; i < 1000 && lines < 2; ++i) Sleep(20);
    EXPECT_EQ(lines, 2);
    stop.now();
    gang.join();
    EXPECT_EQ(results, std::vector<Gang::Result>(2, Gang::Result::Interrupted));
    // Once stopped, no port's process is started at all.
    EXPECT_EQ(Gang::run(ports, {"--mac"}, events, nullptr, &stop), std::vector<Gang::Result>(2, Gang::Result::NotRun));
}

}  // namespace
}  // namespace vornix

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--child") return vornix::childMain(argc, argv);
    if (argc == 2 && std::string(argv[1]) == "--supervise") {
        std::string why;
        auto child = vornix::platform::ChildProcess::start({"--child", "sleep"}, why);
        std::string line;
        if (!child || !child->readLine(line)) {
            std::printf("no child: %s\n", why.c_str());
            return 1;
        }
        std::printf("child %lld\n", child->id());
        std::fflush(stdout);
        Sleep(60000);
        return 0;
    }
    if (argc >= 3 && std::string(argv[1]) == vornix::Gang::portArgument) {
        std::printf("port %s running\n", argv[2]);
        std::fflush(stdout);
        Sleep(60000);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
