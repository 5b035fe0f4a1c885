// A whole MAC stage against the simulated router, for growing numbers of
// variable names and for a long read-back, measured against the floor that
// the stage's own pauses impose. Prints a table; a stage that fails is shown
// with its last log line instead of figures, and the program exits 1.
#include <sys/resource.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "StageRig.h"
#include "RouterSim.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"

namespace {

constexpr int telnetWait = 300;

// What the pauses alone cost: two logins (five 100 ms sleeps and eight
// attempts of TelnetWait each against a router that shows a shell), one
// TelnetWait per written line, then 50 + 3000 + 2000 ms around the read-back.
long floorMs(int names) { return 2 * (5 * 100 + 8 * telnetWait) + names * telnetWait + 50 + 3000 + 2000; }

}  // namespace

int main() {
    std::printf("%-14s %12s %10s %9s %14s\n", "read-back", "measured ms", "floor ms", "overhead", "peak RSS KiB");
    int failures = 0;
    const struct {
        const char* label;
        int names;
        std::size_t fillerBytes;  // other variables already in the file read back
    } rows[] = {{"1 name", 1, 0}, {"10 names", 10, 0}, {"100 names", 100, 0}, {"200 names", 200, 0},
                {"1 name, 64 KB", 1, 64 * 1024}};
    for (const auto& row : rows) {
        const std::string path = "/tmp/vornix-bench-setup.ini";
        // At most 50 names an entry: an entry's value is read into 1024 bytes.
        std::string entries;
        const int count = (row.names + 49) / 50;
        for (int e = 0; e < count; ++e) {
            entries += std::to_string(e) + "=";
            for (int i = e * 50; i < std::min(row.names, (e + 1) * 50); ++i)
                entries += (i > e * 50 ? "," : "") + ("name" + std::to_string(i));
            entries += "\r\n";
        }
        std::ofstream(path, std::ios::trunc | std::ios::binary)
            << "[SETUP]\r\nCPE_LAN_IP=127.0.0.120\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n"
               "[WRITE_MAC]\r\npath=/proc/ticfg/mac\r\nnumber="
            << count << "\r\nstart_mac=00:11:22:00:00:00\r\n" << entries
            << "[WRITE_ENV]\r\npath=/proc/ticfg/mac\r\nnumber=0\r\n";

        routersim::Options options;
        options.address = "127.0.0.120";
        std::string filler;
        for (int i = 0; filler.size() < row.fillerBytes; ++i) filler += "filler" + std::to_string(i) + " 00:11:22:99:99:99\n";
        if (!filler.empty()) options.files["/proc/ticfg/mac"] = filler;
        routersim::RouterSim router(options);
        if (!router.start()) {
            std::fputs("cannot start the simulated router on 127.0.0.120:23 (root needed)\n", stderr);
            return 1;
        }
        bench::StageRig rig(vornix::Stage::MacWriting, path, telnetWait);
        vornix::MacBlock block;
        vornix::ProfileBlockSource blocks(rig.profile, path);

        const auto started = std::chrono::steady_clock::now();
        const int result = vornix::MacWriter(rig.context, block, blocks).run();
        const long measured = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
        const std::size_t readBack = router.file("/proc/ticfg/mac").size();
        router.stop();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        if (result != 1) {
            ++failures;
            std::printf("%-14s FAILED: %s\n", row.label, rig.console.last().c_str());
            continue;
        }
        std::printf("%-14s %12ld %10ld %8.3fx %14ld   (%zu bytes read back)\n", row.label, measured, floorMs(row.names),
                    static_cast<double>(measured) / static_cast<double>(floorMs(row.names)), usage.ru_maxrss, readBack);
    }
    return failures ? 1 : 0;
}
