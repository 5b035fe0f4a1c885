// A gang station of 1, 2, 4 and 8 ports against Debian's BusyBox routers
// (tests/support/gang-bed), MAC and boot stages, in fixed and prompt pacing:
// the gang's wall time beside one port's, routers per hour, and what each
// port costs: the CPU time of the whole gang (the parent and its children,
// from wait4) over its ports, and the peak resident memory of its largest
// process. Median of three runs. A run that fails is shown with its output's
// last lines and makes the program exit 1.
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/GangBed.h"

namespace {

using Bed = vornix::test::GangBed;
constexpr int rounds = 3;

struct Run {
    bool ok = false;
    double seconds = 0, cpuSeconds = 0;
    long peakKb = 0;
    std::string why;
};

// The text's lines joined into one, for a table's row.
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += c == '\n' ? std::string(" | ") : std::string(1, c);
    return line;
}

Run runGang(const Bed& bed, const std::string& directory, int ports, const std::string& pacing) {
    std::filesystem::remove_all(directory);
    std::filesystem::create_directories(directory);
    vornix::test::GangStation station;
    station.ports = ports;
    station.pacing = pacing;
    station.telnetWaitMs = 300;
    station.bootCopyMs = 500;
    station.waitBootMs = 3000;
    std::ofstream(directory + "/setup.ini", std::ios::binary) << station.setupIni();
    for (int k = 1; k <= ports; ++k) {
        bed.setTicfg(k, "env", "bootloaderVersion 1.0.0\nBUILD_VERSION 1.0.0\n");
        std::ofstream(bed.flashPath(k), std::ios::trunc);
    }
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const vornix::test::StartedCli gang = bed.startCli(directory, {"--gang", "--mac", "--boot"});
    int raw = 0;
    rusage usage{};
    while (::wait4(gang.pid, &raw, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // wait4 counts the gang's children it waited for with it.
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKb = usage.ru_maxrss;
    const std::string out = vornix::test::readAll(gang.out);
    std::string notPassed;  // the ports' result lines that are not "passed"
    for (int k = 1; k <= ports; ++k) {
        const std::string head = "Port " + std::to_string(k) + " (" + Bed::interface(k) + "): ";
        const std::size_t at = out.find("\n" + head);
        const std::string result =
            at == std::string::npos ? head + "(no line)" : out.substr(at + 1, out.find('\n', at + 1) - at - 1);
        if (result != head + "passed") notPassed += result + "; ";
    }
    run.ok = WIFEXITED(raw) && WEXITSTATUS(raw) == 0 && notPassed.empty();
    if (!run.ok)
        run.why = "exit " + std::to_string(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) + "; " + notPassed +
                  "stderr: " + oneLine(vornix::test::readAll(gang.err));
    std::filesystem::remove(gang.out);
    std::filesystem::remove(gang.err);
    return run;
}

}  // namespace

int main() {
    const std::string directory = "/tmp/vornix-bench-gang";
    const int sizes[] = {1, 2, 4, 8};
    bool failed = false;
    std::printf("Gang station, MAC and boot stages, BusyBox routers (median of %d runs)\n", rounds);
    std::printf("%-7s %5s  %9s  %11s  %13s  %14s  %13s\n", "pacing", "ports", "wall (s)", "x one port", "routers/hour",
                "CPU/port (ms)", "peak RSS (KB)");
    for (const std::string pacing : {"fixed", "prompt"}) {
        double one = 0;
        for (int ports : sizes) {
            Bed::Options options;
            options.ports = ports;
            Bed bed("gbench", options);
            if (!bed.skipReason().empty()) {
                std::printf("skipped: %s\n", bed.skipReason().c_str());
                return 77;
            }
            if (!bed.ready()) {
                std::printf("%-7s %5d  FAILED: %s\n", pacing.c_str(), ports, bed.failure().c_str());
                failed = true;
                continue;
            }
            std::ofstream(bed.ftpDirectory() + "/u-boot.bin", std::ios::binary) << vornix::test::bootImage(64 * 1024);
            std::vector<Run> runs;
            for (int r = 0; r < rounds; ++r) runs.push_back(runGang(bed, directory, ports, pacing));
            const auto bad = std::find_if(runs.begin(), runs.end(), [](const Run& run) { return !run.ok; });
            if (bad != runs.end()) {
                std::printf("%-7s %5d  FAILED: %s\n", pacing.c_str(), ports, bad->why.c_str());
                failed = true;
                continue;
            }
            std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
            const Run& median = runs[rounds / 2];
            long peak = 0;
            for (const Run& run : runs) peak = std::max(peak, run.peakKb);
            if (ports == 1) one = median.seconds;
            char ratio[32] = "-";
            if (one > 0) std::snprintf(ratio, sizeof ratio, "%.2f", median.seconds / one);
            std::printf("%-7s %5d  %9.2f  %11s  %13.0f  %14.0f  %13ld\n", pacing.c_str(), ports, median.seconds, ratio,
                        ports * 3600.0 / median.seconds, median.cpuSeconds * 1000 / ports, peak);
            std::fflush(stdout);
        }
    }
    std::filesystem::remove_all(directory);
    if (failed) std::printf("a gang run failed (see the FAILED rows)\n");
    return failed ? 1 : 0;
}
