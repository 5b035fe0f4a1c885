// A whole MAC stage against the simulated router, for growing numbers of
// variable names, measured against the floor that the stage's own pauses
// impose. Prints a table; asserts nothing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "RouterSim.h"
#include "cli/HeadlessConsole.h"
#include "platform/posix/PosixProfile.h"
#include "procedures/MacWriter.h"

namespace {

constexpr int telnetWait = 300;

// What the pauses alone cost: two logins (five 100 ms sleeps and eight
// attempts of TelnetWait each against a router that shows a shell), one
// TelnetWait per written line, then 50 + 3000 + 2000 ms around the read-back.
long floorMs(int names) { return 2 * (5 * 100 + 8 * telnetWait) + names * telnetWait + 50 + 3000 + 2000; }

}  // namespace

int main() {
    std::printf("%-6s %12s %10s %9s %14s\n", "names", "measured ms", "floor ms", "overhead", "peak RSS KiB");
    for (int names : {1, 10, 100}) {
        const std::string path = "/tmp/vornix-bench-setup.ini";
        std::string list;
        for (int i = 0; i < names; ++i) list += (i ? "," : "") + ("name" + std::to_string(i));
        std::ofstream(path, std::ios::trunc | std::ios::binary)
            << "[SETUP]\r\nCPE_LAN_IP=127.0.0.120\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n"
               "[WRITE_MAC]\r\npath=/proc/ticfg/mac\r\nnumber=1\r\nstart_mac=00:11:22:00:00:00\r\n0="
            << list << "\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac\r\nnumber=0\r\n";

        routersim::Options options;
        options.address = "127.0.0.120";
        routersim::RouterSim router(options);
        if (!router.start()) {
            std::fputs("cannot start the simulated router on 127.0.0.120:23 (root needed)\n", stderr);
            return 1;
        }
        std::FILE* sink = std::fopen("/dev/null", "w");
        vornix::HeadlessConsole console(sink, true, false, false);
        vornix::platform::PosixProfile profile(path);
        vornix::RunFlags flags;
        vornix::RealPause pause;
        vornix::StationContext context{console, profile, path, telnetWait, flags, pause};
        vornix::MacBlock block;

        const auto started = std::chrono::steady_clock::now();
        const int result = vornix::MacWriter(context, block).run();
        const long measured = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
        router.stop();
        std::fclose(sink);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%-6d %12ld %10ld %8.3fx %14ld%s\n", names, measured, floorMs(names),
                    static_cast<double>(measured) / static_cast<double>(floorMs(names)), usage.ru_maxrss,
                    result == 1 ? "" : "  (stage failed)");
    }
    return 0;
}
