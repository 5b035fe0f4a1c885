// The MAC stage (1, 10 and 100 names) and the boot stage in both pacings,
// against the simulated router at latencies of 5, 50 and 200 ms: the time
// of each stage, prompt pacing's share of fixed pacing's time, and the floor
// the router itself sets (the lines it was sent, times its latency); then,
// against Debian's BusyBox as the router, prompt pacing beside an expect
// script doing the MAC stage's dialogue, each step as soon as the router
// asks (bench/expect-floor, python3-pexpect) for 1, 10, 100 and 200 names,
// alternating, three rounds each, and the boot stage in both pacings. A
// stage that fails is shown with its last log line and makes the program
// exit 1.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>
#include <fstream>
#include <string>

#include "StageRig.h"
#include "RouterSim.h"
#include "support/RouterEcho.h"
#include "procedures/BootUpdater.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"
#include "support/BusyBoxRouter.h"
#include "support/FtpServer.h"

namespace {

constexpr int telnetWait = 300;
const std::string directory = "/tmp/vornix-bench-pacing";

struct Row {
    bool ok = false;
    long ms = 0;
    long lines = 0;  // what the router was sent
    std::string last;
};

// Loopback answers every echo: Debian's BusyBox as the router is back as
// soon as its "reboot" has ended the session.
struct AlwaysAnswers : vornix::EchoPort {
    bool load() override { return true; }
    vornix::EchoReply echo(const std::string&, int, int, const std::string& payload) override {
        return {true, 1, 0, payload};
    }
    void flushArp() override {}
};

// names: the MAC stage with that many names; 0: the boot stage. With
// busybox, against that router (on 127.0.0.230) instead of the simulated one.
Row runStage(int names, int latency, bool prompt, vornix::test::BusyBoxRouter* busybox = nullptr) {
    const std::string routerAddress = busybox ? busybox->address() : "127.0.0.120";
    std::string list;
    for (int i = 0; i < names; ++i) list += (i ? "," : "") + ("name" + std::to_string(i));
    const std::string path = directory + "/setup.ini";
    std::ofstream(path, std::ios::trunc | std::ios::binary)
        << "[Environment]\r\nTempDirectory=/var/tmp\r\nPacing=" << (prompt ? "prompt" : "fixed")
        << "\r\n[SETUP]\r\nCPE_LAN_IP=" << routerAddress << "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n"
           "PC_IP=127.0.0.122\r\nPC_FTP_ID=station\r\nPC_FTP_PWD=secret\r\nBOOTCODE=u-boot.bin\r\n"
           "BOOT_PARTITION=/dev/mtdblock0\r\nTIME2BOOTCOPY(ms)=500\r\nTIME2WAITBOOT(ms)=3000\r\n"
           "ENV_PATH=/proc/ticfg/env\r\nBOOTVERSION=1.2.3\r\nBOOTCODENAME=BUILD_VERSION\r\n"
           "[WRITE_MAC]\r\npath=/proc/ticfg/mac\r\nnumber=1\r\nstart_mac=00:11:22:00:00:00\r\n0="
        << list << "\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac\r\nnumber=0\r\n";
    routersim::Options options;
    options.address = "127.0.0.120";
    options.latencyMs = latency;
    options.rebootMs = 1;
    routersim::RouterSim router(options);
    Row row;
    if (!busybox && !router.start()) {
        row.last = "cannot start the simulated router on 127.0.0.120:23 (root needed)";
        return row;
    }
    const vornix::Stage stage = names ? vornix::Stage::MacWriting : vornix::Stage::BootUpdate;
    bench::StageRig rig(stage, path, telnetWait);
    vornix::MacBlock block;
    vornix::ProfileBlockSource blocks(rig.profile, path);
    vornix::test::RouterEcho simulatedEcho(router);
    AlwaysAnswers loopbackEcho;
    vornix::EchoPort& echo = busybox ? static_cast<vornix::EchoPort&>(loopbackEcho) : simulatedEcho;

    const auto started = std::chrono::steady_clock::now();
    const int result =
        names ? vornix::MacWriter(rig.context, block, blocks).run() : vornix::BootUpdater(rig.context, echo).run();
    row.ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    router.stop();
    for (const std::string& bytes : router.received())
        for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++row.lines;
    row.ok = result == 1;
    row.last = rig.console.last();
    return row;
}

// The expect script beside this program's sources.
std::string expectFloorScript() {
    std::string path = VORNIX_BUSYBOX_ROUTER;
    return path.substr(0, path.rfind("tests/support/")) + "bench/expect-floor";
}

// One run of the expect script against the router: its milliseconds, or
// why it failed.
Row runExpectFloor(const vornix::test::BusyBoxRouter& router, int names) {
    Row row;
    const std::string command = "python3 '" + expectFloorScript() + "' " + router.address() + " admin admin " +
                                std::to_string(names) + " /proc/ticfg/mac 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        row.last = "cannot start " + expectFloorScript();
        return row;
    }
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    const int status = pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    const bool number = !output.empty() && output.find_first_not_of("0123456789") == std::string::npos;
    row.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && number;
    if (row.ok) row.ms = std::atol(output.c_str());
    else if (output.empty()) row.last = "expect-floor exited " + std::to_string(status);
    else row.last = output.substr(output.rfind('\n') + 1);  // a traceback's last line says why
    return row;
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// Whole processes, as an operator would time them: the expect script
// (interpreter start included) and vornix-cli --mac with one name in
// prompt pacing, from its start to its exit.
Row wholeExpect(const vornix::test::BusyBoxRouter& router) {
    const auto start = std::chrono::steady_clock::now();
    Row row = runExpectFloor(router, 1);
    row.ms = msSince(start);
    return row;
}

Row wholeCli(const vornix::test::BusyBoxRouter& router) {
    const std::string station = directory + "/whole";
    std::system(("mkdir -p " + station).c_str());
    std::ofstream(station + "/setup.ini", std::ios::trunc | std::ios::binary)
        << "[Environment]\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=" << router.address()
        << "\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n[WRITE_MAC]\r\npath=/proc/ticfg/mac\r\nnumber=1\r\n"
           "start_mac=00:11:22:00:00:00\r\n0=name0\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac\r\nnumber=0\r\n";
    Row row;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(("cd " + station + " && " VORNIX_CLI_PATH " --mac >last.log 2>&1").c_str());
    row.ms = msSince(start);
    row.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!row.ok) row.last = "vornix-cli --mac exited " + std::to_string(status) + " (see " + station + "/last.log)";
    return row;
}

long mean(const std::vector<long>& values) {
    long sum = 0;
    for (long v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<long>(values.size());
}

// Prompt pacing beside the expect script on Debian's BusyBox, and the boot
// stage in both pacings. The number of failed rows.
int busyBoxRows() {
    // On loopback: no latency of its own, so no floor but the script's.
    vornix::test::BusyBoxRouter busybox("127.0.0.230");
    if (!busybox.ready()) {
        std::printf("BusyBox router FAILED: %s%s\n", busybox.skipReason().c_str(), busybox.failure().c_str());
        return 1;
    }
    int failures = 0;
    constexpr int rounds = 3;
    std::printf("\nDebian's BusyBox as the router (telnetd, login, ash), loopback; the MAC stage beside an expect\n"
                "script doing its dialogue, each step as soon as the router asks (bench/expect-floor); mean of\n"
                "%d rounds, alternating; ratio: prompt over expect\n",
                rounds);
    std::printf("%-15s %12s %12s %8s   %s\n", "stage", "expect ms", "prompt ms", "ratio", "rounds (expect/prompt)");
    for (int names : {1, 10, 100, 200}) {
        const std::string label = "MAC " + std::to_string(names) + (names > 1 ? " names" : " name");
        std::vector<long> expect, prompt;
        std::string failed, each;
        for (int round = 0; round < rounds && failed.empty(); ++round) {
            const Row script = runExpectFloor(busybox, names);
            if (!script.ok) {
                failed = "expect: " + script.last;
                break;
            }
            const Row paced = runStage(names, 0, true, &busybox);
            if (!paced.ok) {
                failed = "prompt: " + paced.last;
                break;
            }
            expect.push_back(script.ms);
            prompt.push_back(paced.ms);
            each += (round ? " " : "") + std::to_string(script.ms) + "/" + std::to_string(paced.ms);
        }
        if (!failed.empty()) {
            ++failures;
            std::printf("%-15s FAILED: %s\n", label.c_str(), failed.c_str());
            continue;
        }
        std::printf("%-15s %12ld %12ld %8.2f   %s\n", label.c_str(), mean(expect), mean(prompt),
                    static_cast<double>(mean(prompt)) / static_cast<double>(std::max(mean(expect), 1L)), each.c_str());
    }
    {
        std::vector<long> expect, cli;
        std::string failed, each;
        for (int round = 0; round < rounds && failed.empty(); ++round) {
            const Row script = wholeExpect(busybox);
            const Row run = wholeCli(busybox);
            if (!script.ok || !run.ok) {
                failed = !script.ok ? "expect: " + script.last : run.last;
                break;
            }
            expect.push_back(script.ms);
            cli.push_back(run.ms);
            each += (round ? " " : "") + std::to_string(script.ms) + "/" + std::to_string(run.ms);
        }
        if (!failed.empty()) {
            ++failures;
            std::printf("%-15s FAILED: %s\n", "whole, 1 name", failed.c_str());
        } else {
            std::printf("%-15s %12ld %12ld %8.2f   %s  (processes: python3 expect-floor, vornix-cli --mac)\n",
                        "whole, 1 name", mean(expect), mean(cli),
                        static_cast<double>(mean(cli)) / static_cast<double>(std::max(mean(expect), 1L)), each.c_str());
        }
    }
    std::printf("%-15s %12s %12s %8s\n", "", "fixed ms", "prompt ms", "prompt");
    const Row fixed = runStage(0, 0, false, &busybox);
    const Row prompt = runStage(0, 0, true, &busybox);
    if (!fixed.ok || !prompt.ok) {
        ++failures;
        std::printf("%-15s FAILED: %s\n", "boot update", (!fixed.ok ? "fixed: " + fixed.last : "prompt: " + prompt.last).c_str());
    } else {
        std::printf("%-15s %12ld %12ld %7.1f%%\n", "boot update", fixed.ms, prompt.ms,
                    100.0 * static_cast<double>(prompt.ms) / static_cast<double>(fixed.ms));
    }
    return failures;
}

}  // namespace

// Arguments: the latencies to measure (default 5, 50 and 200 ms); "busybox"
// alone: only the rows against Debian's BusyBox.
int main(int argc, char** argv) {
    std::vector<int> latencies;
    bool busyboxOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "busybox") busyboxOnly = true;
        else latencies.push_back(std::atoi(argv[i]));
    }
    if (latencies.empty()) latencies = {5, 50, 200};
    std::system(("mkdir -p " + directory).c_str());
    std::ofstream(directory + "/u-boot.bin", std::ios::binary) << "image\nBOOTVERSION=1.2.3\n" << std::string(64 * 1024, 'x');
    vornix::test::FtpServer ftp("127.0.0.122", 21, "station", "secret", directory);
    if (!ftp.ready()) {
        std::fputs("cannot start the FTP server on 127.0.0.122:21 (root and python3-pyftpdlib needed)\n", stderr);
        return 1;
    }
    std::printf("TelnetWait %d ms. floor: the lines the router was sent times its latency.\n", telnetWait);
    int failures = 0;
    if (!busyboxOnly) {
        std::printf("%-15s %8s %12s %12s %8s %10s\n", "stage", "latency", "fixed ms", "prompt ms", "prompt", "floor ms");
        for (int latency : latencies) {
            for (int names : {1, 10, 100, 0}) {
                const Row fixed = runStage(names, latency, false);
                const Row prompt = runStage(names, latency, true);
                const std::string label =
                    names ? "MAC " + std::to_string(names) + (names > 1 ? " names" : " name") : "boot update";
                if (!fixed.ok || !prompt.ok) {
                    ++failures;
                    std::printf("%-15s %6d ms FAILED: %s\n", label.c_str(), latency,
                                (!fixed.ok ? "fixed: " + fixed.last : "prompt: " + prompt.last).c_str());
                    continue;
                }
                std::printf("%-15s %5d ms %12ld %12ld %7.1f%% %10ld\n", label.c_str(), latency, fixed.ms, prompt.ms,
                            100.0 * static_cast<double>(prompt.ms) / static_cast<double>(fixed.ms),
                            prompt.lines * latency);
            }
        }
    }
    failures += busyBoxRows();
    // A failed row's station keeps its last.log for reading; a clean run
    // leaves nothing behind.
    if (failures == 0) std::filesystem::remove_all(directory);
    return failures ? 1 : 0;
}
