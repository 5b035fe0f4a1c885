// Labels: the station's own time for one label (the sample template filled,
// the printer's status asked, the label sent to a printer on loopback that
// answers at once), one port alone and 8 ports passing at once, each label
// under the station's label lock as a port takes it. A label that did not
// go out, or one the printer did not get, fails the row; exit 1 then.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/LabelRules.h"
#include "platform/FileLock.h"
#include "platform/LabelSpools.h"
#include "procedures/LabelPrinter.h"
#include "support/TempDir.h"
#include "support/TestPrinter.h"

namespace {

using Clock = std::chrono::steady_clock;
using vornix::test::TestPrinter;

constexpr int labelsEach = 250;

struct Port {
    std::vector<double> ms;  // each label's, from asking for the lock to sent
    std::string failure;     // the first label that did not go out
};

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const std::size_t rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[rank == 0 ? 0 : rank - 1];
}

}  // namespace

int main() {
    TestPrinter printer("127.0.0.196", TestPrinter::Mode::Ready);
    const std::string sample = vornix::test::readAll(VORNIX_SOURCE_DIR "/samples/label.zpl");
    std::string why;
    vornix::LabelPrinter target;
    if (sample.empty() || !vornix::checkLabelTemplate(sample, why) ||
        !vornix::parseLabelPrinter(printer.printer(), target, why)) {
        std::fprintf(stderr, "label_bench: the sample template or the printer cannot be used: %s\n", why.c_str());
        return 1;
    }
    vornix::test::TempDir dir;
    const std::string lockPath = dir.file("vornix-label.lock");
    const auto spool = vornix::platform::makeLabelSpool(dir.file("."), '/');

    // Port K's labels, one after another, as its runs pass.
    auto labels = [&](int port, Port& out) {
        for (int i = 0; i < labelsEach && out.failure.empty(); ++i) {
            vornix::LabelValues values;
            char serial[16];
            std::snprintf(serial, sizeof serial, "VX%02d%04d", port, i);
            values.serial = serial;
            const int counter = port * labelsEach + i;
            char mac[18];
            std::snprintf(mac, sizeof mac, "00:11:22:%02X:%02X:%02X", counter >> 16 & 0xff, counter >> 8 & 0xff,
                          counter & 0xff);
            values.macs = {mac, mac};
            values.port = std::to_string(port);
            values.station = "station-1";
            values.run = "2026-12-10T10:00:00.000Z-station-1-" + std::string(serial);
            values.date = "2026-12-10";
            const auto started = Clock::now();
            std::string failed;
            if (const auto lock = vornix::platform::lockFile(lockPath, 30000, failed))
                failed = vornix::LabelPrinterLink(*spool).print(target, values.run, vornix::fillLabel(sample, values));
            out.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            if (!failed.empty()) out.failure = "label " + values.run + ": " + failed;
        }
    };

    std::printf("labels to a printer on loopback that answers ~HS at once; the sample template; %d labels a port\n\n",
                labelsEach);
    std::printf("%-8s %10s %11s %10s %10s\n", "ports", "labels/s", "median ms", "p99 ms", "max ms");
    int status = 0;
    std::size_t sent = 0;
    for (const int count : {1, 8}) {
        std::vector<Port> ports(static_cast<std::size_t>(count));
        std::vector<std::thread> threads;
        const auto started = Clock::now();
        for (int k = 0; k < count; ++k) threads.emplace_back(labels, k + 1, std::ref(ports[static_cast<std::size_t>(k)]));
        for (std::thread& thread : threads) thread.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        std::vector<double> all;
        std::string failure;
        for (const Port& port : ports) {
            all.insert(all.end(), port.ms.begin(), port.ms.end());
            if (failure.empty()) failure = port.failure;
        }
        sent += all.size();
        printer.settle();
        if (failure.empty() && printer.labels().size() != sent)
            failure = "the printer got " + std::to_string(printer.labels().size()) + " labels of " + std::to_string(sent);
        if (!failure.empty()) {
            std::printf("%-8d FAILED: %s\n", count, failure.c_str());
            status = 1;
            continue;
        }
        std::printf("%-8d %10.0f %11.2f %10.2f %10.2f\n", count, static_cast<double>(all.size()) / seconds,
                    percentile(all, 0.5), percentile(all, 0.99), percentile(all, 1.0));
    }
    return status;
}
