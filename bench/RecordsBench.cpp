// What the run records cost. "with" and "without": a 100-name MAC stage
// against the simulated router with its record, transcript and journal line
// kept as the station keeps them, or without (run each in a process of its
// own: peak memory is the process's). "history": a journal of 100,000 runs
// read back for --history. Prints one table row per mode; a failed stage is
// shown with its last log line and makes the program exit 1.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "StageRig.h"
#include "RouterSim.h"
#include "link/WireTap.h"
#include "platform/FileRecords.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"
#include "records/Journal.h"
#include "records/Transcript.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string directory = "/tmp/vornix-bench-records";

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int macStage(bool recorded) {
    std::string list;
    for (int i = 0; i < 100; ++i) list += (i ? "," : "") + ("name" + std::to_string(i));
    const std::string path = directory + "/setup.ini";
    std::ofstream(path, std::ios::trunc | std::ios::binary)
        << "[Environment]\r\nPacing=prompt\r\n[SETUP]\r\nCPE_LAN_IP=127.0.0.123\r\nTelnet Username=admin\r\n"
           "Telnet Password=admin\r\n[WRITE_MAC]\r\npath=/proc/ticfg/mac\r\nnumber=1\r\nstart_mac=00:11:22:00:00:00\r\n0="
        << list << "\r\n[WRITE_ENV]\r\npath=/proc/ticfg/mac\r\nnumber=0\r\n";
    routersim::Options options;
    options.address = "127.0.0.123";
    options.latencyMs = 5;
    routersim::RouterSim router(options);
    if (!router.start()) {
        std::fputs("cannot start the simulated router on 127.0.0.123:23 (root needed)\n", stderr);
        return 1;
    }
    bench::StageRig rig(vornix::Stage::MacWriting, path, 100);
    vornix::MacBlock block;
    vornix::ProfileBlockSource blocks(rig.profile, path);

    const auto started = Clock::now();
    vornix::RunRecord::Data start;
    start.started = std::chrono::system_clock::now();
    start.router = "127.0.0.123";
    vornix::RunRecord record(start);
    auto transcript = std::make_shared<vornix::Transcript>(Clock::now());
    if (recorded) {
        rig.context.record = &record;
        vornix::setWireTap(transcript);
    }
    const int result = vornix::MacWriter(rig.context, block, blocks).run();
    std::size_t recordBytes = 0;
    if (recorded) {
        vornix::setWireTap(nullptr);
        record.ended();
        vornix::RunOutcome outcome;
        outcome.routerFound = true;
        outcome.stages[0] = result == 1 ? vornix::StageResult::Succeeded : vornix::StageResult::Failed;
        vornix::Secrets secrets;
        secrets.add("admin");
        vornix::platform::FileRecords files;
        std::string why;
        const std::string text = transcript->text(secrets);
        const std::string line = vornix::journal::recordLine(record.data(), outcome, {"bench", "vornix"}, "t.log", secrets);
        if (!files.writeNew(directory + "/transcripts", "t.log", text, why) ||
            !files.appendLine(directory + "/vornix-journal.jsonl", line, why)) {
            std::printf("FAILED: %s\n", why.c_str());
            return 1;
        }
        recordBytes = text.size() + line.size();
    }
    const long ms = msSince(started);
    router.stop();
    if (result != 1) {
        std::printf("%-22s FAILED: %s\n", recorded ? "100 names, recorded" : "100 names, unrecorded", rig.console.last().c_str());
        return 1;
    }
    std::printf("%-22s %10ld ms %10ld KiB peak %10zu bytes kept\n", recorded ? "100 names, recorded" : "100 names, unrecorded",
                ms, peakKiB(), recordBytes);
    return 0;
}

int history() {
    const std::string path = directory + "/history.jsonl";
    {
        std::ofstream out(path, std::ios::trunc | std::ios::binary);
        vornix::RunRecord::Data data;
        data.router = "192.168.1.1";
        data.log = {"Found 192.168.1.1", "process login procedure .....", "", "-----writing ENV-----"};
        for (int i = 0; i < 3; ++i) data.macs.push_back({"name" + std::to_string(i), "00:11:22:00:00:10", "00:11:22:00:00:10"});
        vornix::RunOutcome outcome;
        outcome.routerFound = true;
        outcome.stages[0] = vornix::StageResult::Succeeded;
        for (int i = 0; i < 100000; ++i) {
            data.started = data.ended = std::chrono::system_clock::now();
            data.runId = "run " + std::to_string(i);
            out << vornix::journal::recordLine(data, outcome, {"bench", "vornix"}, "t.log", vornix::Secrets()) << '\n';
        }
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const long long size = static_cast<long long>(in.tellg());
    for (std::size_t count : {std::size_t(20), std::size_t(100000)}) {
        const auto started = Clock::now();
        std::vector<std::string> records;
        std::string why;
        std::FILE* sink = std::fopen("/dev/null", "w");
        const bool ok = vornix::journal::lastRecords(path, count, records, why);
        vornix::journal::print(sink, records, false);
        std::fclose(sink);
        if (!ok || records.size() != count) {
            std::printf("history of %zu FAILED: %s (%zu records)\n", count, why.c_str(), records.size());
            return 1;
        }
        std::printf("--history %-12zu %10ld ms %10ld KiB peak   (journal of 100000 runs, %lld bytes)\n", count,
                    msSince(started), peakKiB(), size);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::system(("mkdir -p " + directory).c_str());
    if (argc == 2 && !std::strcmp(argv[1], "with")) return macStage(true);
    if (argc == 2 && !std::strcmp(argv[1], "without")) return macStage(false);
    if (argc == 2 && !std::strcmp(argv[1], "history")) return history();
    std::fputs("usage: records_bench with | without | history\n", stderr);
    return 2;
}
