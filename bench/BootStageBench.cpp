// A whole boot stage against the simulated router and a real FTP server,
// measured against the floor its own pauses impose. Prints; a stage that
// fails is shown with its last log line instead of figures, and exits 1.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "RouterSim.h"
#include "support/RouterEcho.h"
#include "StageRig.h"
#include "procedures/BootUpdater.h"
#include "support/FtpServer.h"

namespace {

constexpr int telnetWait = 300;
constexpr int copyMs = 500;

// The router is back at once: two logins (five 100 ms sleeps and eight
// attempts each), 50 ms after cd, 1000 after wget, the copy time, TelnetWait
// after reboot, then 100 + 2000 + 2000 around the read-back.
long floorMs() { return 2 * (5 * 100 + 8 * telnetWait) + 50 + 1000 + copyMs + telnetWait + 100 + 2000 + 2000; }

}  // namespace

int main() {
    const std::string dir = "/tmp/vornix-bench-boot";
    std::system(("mkdir -p " + dir).c_str());
    std::ofstream(dir + "/u-boot.bin", std::ios::binary) << "image\nBOOTVERSION=1.2.3\n" << std::string(256 * 1024, 'x');
    const std::string path = dir + "/setup.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << "[Environment]\r\nTempDirectory=/var/tmp\r\n[SETUP]\r\nCPE_LAN_IP=127.0.0.121\r\nTelnet Username=admin\r\n"
           "Telnet Password=admin\r\nPC_IP=127.0.0.122\r\nPC_FTP_ID=station\r\nPC_FTP_PWD=secret\r\n"
           "BOOTCODE=u-boot.bin\r\nBOOT_PARTITION=/dev/mtdblock0\r\nTIME2BOOTCOPY(ms)=500\r\n"
           "TIME2WAITBOOT(ms)=3000\r\nENV_PATH=/proc/ticfg/env\r\nBOOTVERSION=1.2.3\r\nBOOTCODENAME=BUILD_VERSION\r\n";
    vornix::test::FtpServer ftp("127.0.0.122", 21, "station", "secret", dir);
    routersim::Options options;
    options.address = "127.0.0.121";
    options.rebootMs = 1;
    routersim::RouterSim router(options);
    if (!ftp.ready() || !router.start()) {
        std::fputs("cannot start the FTP server or the simulated router (root and python3-pyftpdlib needed)\n", stderr);
        return 1;
    }
    bench::StageRig rig(vornix::Stage::BootUpdate, path, telnetWait);
    vornix::test::RouterEcho echo(router);

    const auto started = std::chrono::steady_clock::now();
    const int result = vornix::BootUpdater(rig.context, echo).run();
    const long measured = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    router.stop();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-12s %12s %10s %9s %14s\n", "stage", "measured ms", "floor ms", "overhead", "peak RSS KiB");
    if (result != 1) {
        std::printf("%-12s FAILED: %s\n", "boot update", rig.console.last().c_str());
        return 1;
    }
    std::printf("%-12s %12ld %10ld %8.3fx %14ld\n", "boot update", measured, floorMs(),
                static_cast<double>(measured) / static_cast<double>(floorMs()), usage.ru_maxrss);
    return 0;
}
