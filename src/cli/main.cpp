// vornix-cli: the station run without the dialog. The stages are chosen with
// flags instead of check boxes; the run log goes to standard output, exactly
// as the dialog would show it, and diagnostics to standard error.
// Exit status: 0 when the router answered and every chosen stage succeeded,
// 1 otherwise, 2 for a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Gang.h"
#include "app/Station.h"
#include "app/HeadlessConsole.h"
#include "app/UnitPage.h"
#include "cli/QueuedOutput.h"
#include "vornix/Version.h"
#ifdef VORNIX_LINE_VIEW
#include "view/ViewServer.h"
#endif
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr char usage[] =
    "usage: vornix-cli [--mac] [--boot] [--firmware]\n"
    "       vornix-cli --serial SN [--mac] [--boot] [--firmware]\n"
    "       vornix-cli --gang [--mac] [--boot]\n"
    "       vornix-cli --gang --serial K=SN... [--mac] [--boot]\n"
    "       vornix-cli --history [N] [--json]\n"
    "       vornix-cli --unit SN|MAC [--json]\n"
    "       vornix-cli --label SN|MAC|RUN\n"
    "       vornix-cli --reprint SN|MAC|RUN [--reason TEXT]\n"
    "       vornix-cli --line-init | --pool-add NAME FIRST LAST | --pool-status\n"
    "       vornix-cli --serve [ADDRESS:]PORT [--allow-host NAME]...\n"
    "Prepares the router named in setup.ini (in the current directory), like a\n"
    "press of Start in the Vornix dialog with the chosen stages ticked.\n"
    "  --mac       MAC Writing: write and verify MAC addresses and environment\n"
    "  --boot      BOOT Code Update\n"
    "  --firmware  Firmware Update\n"
    "  --help      show this text\n"
    "  --version   show the program's version\n"
    "With no stage chosen, the run only checks that the router answers.\n"
    "The run log goes to standard output, one line per log line. Every run is\n"
    "recorded in vornix-journal.jsonl and transcripts/ beside setup.ini.\n"
    "Exit status: 0 when the router answered, every chosen stage succeeded and\n"
    "the run's record was written, 1 otherwise, 2 for a usage error.\n"
    "  --gang      every port of the gang station in setup.ini's [GANG] section\n"
    "              at once, one router per port; each log line is prefixed\n"
    "              [K] with its port, and a line per port ends the output. Exit\n"
    "              status 0 when every port whose router answered passed and\n"
    "              one did at least\n"
    "  --serial SN  with [SERIAL] in setup.ini: the serial of the unit the run\n"
    "              is for (a unit keeps its first block of addresses for life);\n"
    "              with --gang, K=SN for port K, once per port\n"
    "  --unit SN|MAC  the unit of that serial or address: its block, its runs\n"
    "  --label SN|MAC|RUN  with [LABEL] in setup.ini: the label of the last run\n"
    "              that passed for that serial, address or run id, as the ZPL\n"
    "              sent to the printer, to standard output\n"
    "  --reprint SN|MAC|RUN  print that label again; --reason TEXT says why, in\n"
    "              vornix-labels.jsonl beside setup.ini\n"
    "  --history [N]  the last N runs of the journal (20), as a table\n"
    "  --json         with --history: the runs' records, one JSON object a line;\n"
    "                 with --unit: the unit as one JSON object\n"
    "  --serve [ADDRESS:]PORT  the line view: web pages and a JSON API of the\n"
    "                 journal (and of the line database when setup.ini names one)\n"
    "                 until Ctrl+C; 127.0.0.1:8080 when not given. Reads only.\n"
    "  --allow-host NAME  with --serve: answer requests for NAME too (the host\n"
    "                 name the supervisors' browsers use); others get 403\n";

// A count of runs for --history: a whole number from 1 on.
bool parseCount(const char* text, int& count) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 100000000) return false;
    count = static_cast<int>(value);
    return true;
}

// The station for the current directory, or nullptr after saying why not.
std::unique_ptr<vornix::Station> openStation(vornix::OperatorConsole& console) {
    vornix::StartRefusal refusal{};
    std::string directory;
    std::unique_ptr<vornix::Station> station = vornix::Station::open(console, refusal, directory);
    if (station) return station;
    if (refusal == vornix::StartRefusal::PathTooLong)
        std::fprintf(stderr,
                     "vornix-cli: cannot use setup.ini in %s: its full path would exceed %zu characters; "
                     "start the station from a shorter directory\n",
                     directory.c_str(), vornix::maxConfigPathLength);
    else
        std::fputs("vornix-cli: cannot read the current directory\n", stderr);
    return nullptr;
}

// vornix-cli --serve [[ADDRESS:]PORT] [--allow-host NAME]...
int serveView(int argc, char** argv) {
#ifdef VORNIX_LINE_VIEW
    vornix::view::ServeOptions options;
    bool listenGiven = false;
    for (int i = 2; i < argc; ++i) {
        std::string why;
        if (!std::strcmp(argv[i], "--allow-host")) {
            const char* name = i + 1 < argc ? argv[++i] : "";
            // A host name or an address as a Host header carries it, without a port.
            if (!*name || std::strlen(name) > 253 || std::strpbrk(name, " \t/:@") != nullptr) {
                std::fprintf(stderr, "vornix-cli: --allow-host takes a host name without a port\n%s", usage);
                return 2;
            }
            options.allowHosts.emplace_back(name);
        } else if (listenGiven) {
            std::fprintf(stderr, "vornix-cli: --serve takes one [ADDRESS:]PORT\n%s", usage);
            return 2;
        } else if (!vornix::view::parseListen(argv[i], options, why)) {
            std::fprintf(stderr, "vornix-cli: --serve %s: %s\n", argv[i], why.c_str());
            return 2;
        } else {
            listenGiven = true;
        }
    }
    vornix::StartRefusal refusal{};
    std::string directory;
    const std::optional<vornix::Station::ViewSource> source = vornix::Station::viewSource(refusal, directory);
    if (!source) {
        std::fprintf(stderr, "vornix-cli: cannot use the station directory %s\n", directory.c_str());
        return 1;
    }
    options.stationDirectory = source->directory;
    options.database = source->database;
    options.station = source->station;
    options.timeoutSeconds = source->timeoutSeconds;
    if (options.database.empty()) options.stationUnits = vornix::stationUnitLookup(source->directory);
    return vornix::view::serve(options, stdout, stderr);
#else
    (void)argc;
    (void)argv;
    std::fputs("vornix-cli: the line view is in the Linux build only (the .deb): serve it from a Linux PC\n", stderr);
    return 2;
#endif
}

// A port's own run on a gang station: a one-port station whose sockets go
// through that port; exit status as a one-router run's, and
// Gang::noRouterStatus when its router did not answer.
int runGangPort(const char* number, const char* gangRun, const char* serial, bool mac, bool boot) {
    int port = 0;
    if (!parseCount(number, port) || port > vornix::maxPorts) {
        std::fprintf(stderr, "vornix-cli: %s takes a port number from 1 to %d\n", vornix::Gang::portArgument,
                     vornix::maxPorts);
        return 2;
    }
    vornix::HeadlessConsole console(stdout, mac, boot, false);
    console.endWhenUnread(vornix::Gang::interruptedStatus);
    vornix::Station::endProcess(vornix::Gang::runPort(port, console, gangRun ? gangRun : "", serial ? serial : ""));
}

// vornix-cli --gang: every port at once, each port's lines prefixed "[K] ".
int runGang(bool mac, bool boot, const std::vector<std::pair<int, std::string>>& serials) {
    std::string why;
    std::optional<std::vector<vornix::Gang::Port>> ports = vornix::Gang::ports(why);
    if (!ports) {
        std::fprintf(stderr, "vornix-cli: --gang: %s\n", why.c_str());
        return 1;
    }
    if (!vornix::Gang::giveSerials(*ports, serials, why)) {
        std::fprintf(stderr, "vornix-cli: --gang: %s\n", why.c_str());
        return 1;
    }
    // A stalled standard output (a console in selection mode, a pipe read
    // slowly) must never hold a port's reader, and so its router dialogue.
    vornix::QueuedOutput output(stdout);
    auto prefixed = [&output](int port, const std::string& line) {
        output.write("[" + std::to_string(port) + "] " + line + "\n");
    };
    for (const vornix::Gang::Port& port : *ports)
        if (!port.problem.empty()) prefixed(port.port.number, vornix::Gang::problemLine(port));
    // Killed runs' records are made before any port starts and after.
    vornix::HeadlessConsole recovery(stderr, false, false, false);
    std::vector<std::string> stages;
    if (mac) stages.emplace_back("--mac");
    if (boot) stages.emplace_back("--boot");
    const std::vector<vornix::Gang::Result> results =
        vornix::Gang::runAll(*ports, stages, {prefixed, nullptr}, recovery);
    for (std::size_t i = 0; i < ports->size(); ++i) {
        const vornix::RouterPort& port = (*ports)[i].port;
        output.write("Port " + std::to_string(port.number) + " (" + port.interfaceName +
                     "): " + vornix::Gang::resultText(results[i]) + "\n");
    }
    if (const std::size_t dropped = output.finish())
        std::fprintf(stderr, "vornix-cli: %zu lines were not shown: standard output was not read\n", dropped);
    return vornix::Gang::exitStatus(results);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: one "\n" after each log line.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (argc > 1 && vornix::Station::isLineCommand(argv[1])) {
        vornix::HeadlessConsole console(stdout, false, false, false);
        const std::unique_ptr<vornix::Station> station = openStation(console);
        if (!station) return 1;
        return station->lineCommand(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
    }

    if (argc > 1 && !std::strcmp(argv[1], "--serve")) return serveView(argc, argv);

    bool mac = false, boot = false, firmware = false, history = false, json = false, gang = false;
    const char* gangPort = nullptr;
    const char* gangRun = nullptr;
    const char* serial = nullptr;
    const char* unit = nullptr;
    const char* label = nullptr;
    const char* reprint = nullptr;
    const char* reason = nullptr;
    std::vector<std::pair<int, std::string>> portSerials;  // --gang --serial K=SN
    int count = 20;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--history")) {
            history = true;
            if (i + 1 < argc && parseCount(argv[i + 1], count)) ++i;
        } else if (!std::strcmp(argv[i], "--gang")) {
            gang = true;
        } else if (!std::strcmp(argv[i], vornix::Gang::portArgument) && i + 1 < argc) {
            gangPort = argv[++i];
        } else if (!std::strcmp(argv[i], vornix::Gang::runArgument) && i + 1 < argc) {
            gangRun = argv[++i];
        } else if (!std::strcmp(argv[i], "--serial") && i + 1 < argc) {
            serial = argv[++i];
            const char* equals = std::strchr(serial, '=');
            int port = 0;
            if (equals && parseCount(std::string(serial, equals).c_str(), port) && port <= vornix::maxPorts)
                portSerials.emplace_back(port, equals + 1);
        } else if (!std::strcmp(argv[i], "--unit") && i + 1 < argc) {
            unit = argv[++i];
        } else if (!std::strcmp(argv[i], "--label") && i + 1 < argc) {
            label = argv[++i];
        } else if (!std::strcmp(argv[i], "--reprint") && i + 1 < argc) {
            reprint = argv[++i];
        } else if (!std::strcmp(argv[i], "--reason") && i + 1 < argc) {
            reason = argv[++i];
        } else if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--mac")) mac = true;
        else if (!std::strcmp(argv[i], "--boot")) boot = true;
        else if (!std::strcmp(argv[i], "--firmware")) firmware = true;
        else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            std::fputs(vornix::Station::lineCommandUsage(), stdout);
            return 0;
        } else if (!std::strcmp(argv[i], "--version")) {
            std::fputs("vornix-cli " VORNIX_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vornix-cli: unknown argument: %s\n%s", argv[i], usage);
            return 2;
        }
    }

    if (unit && (history || mac || boot || firmware || gang || serial)) {
        std::fprintf(stderr, "vornix-cli: --unit runs no stage\n%s", usage);
        return 2;
    }
    if (reason && !reprint) {
        std::fprintf(stderr, "vornix-cli: --reason goes with --reprint\n%s", usage);
        return 2;
    }
    if ((label || reprint) && ((label && reprint) || unit || history || json || mac || boot || firmware || gang || serial)) {
        std::fprintf(stderr, "vornix-cli: %s runs no stage and goes alone\n%s", label ? "--label" : "--reprint", usage);
        return 2;
    }
    if (gang && serial && portSerials.empty()) {
        std::fprintf(stderr, "vornix-cli: with --gang, --serial takes K=SN (the port, then its unit's serial)\n%s",
                     usage);
        return 2;
    }
    if (json && !history && !unit) {
        std::fprintf(stderr, "vornix-cli: --json goes with --history\n%s", usage);
        return 2;
    }
    if (history && (mac || boot || firmware)) {
        std::fprintf(stderr, "vornix-cli: --history runs no stage\n%s", usage);
        return 2;
    }

    if ((gang || gangPort) && (history || json)) {
        std::fprintf(stderr, "vornix-cli: --history does not go with --gang\n%s", usage);
        return 2;
    }
    if ((gang || gangPort) && firmware) {
        // One flashing tool reaches one router, and it cannot be told which port to use.
        std::fputs("vornix-cli: a gang station does not run the firmware update: the flashing tool cannot be pointed "
                   "at a port; flash the routers on a one-port station\n",
                   stderr);
        return 2;
    }
    if (gangPort) return runGangPort(gangPort, gangRun, serial, mac, boot);
    if (gang) return runGang(mac, boot, portSerials);

    vornix::HeadlessConsole console(stdout, mac, boot, firmware);
    const std::unique_ptr<vornix::Station> station = openStation(console);
    if (!station) return 1;
    if (history) return station->printHistory(stdout, stderr, count, json);
    if (unit) return station->printUnit(stdout, stderr, unit, json);
    if (label) return station->printLabel(stdout, stderr, label);
    if (reprint) return station->reprintLabel(stdout, stderr, reprint, reason ? reason : "");
    if (!station->labelProblem().empty()) {
        std::printf("%s\n", station->labelProblem().c_str());
        return 1;
    }
    std::string problem;
    const vornix::SerialSource source = station->serialSource(problem);
    if (!problem.empty() || (serial && source == vornix::SerialSource::Off)) {
        std::printf("%s\n", problem.empty() ? "Serial refused: setup.ini has no [SERIAL] section" : problem.c_str());
        return 1;
    }
    if (source == vornix::SerialSource::Scan && !serial && (mac || boot || firmware)) {
        std::puts("No serial for this unit: scan it, or give it with --serial SN");
        return 1;
    }
    if (serial) {
        const std::string refused = station->useSerial(serial);
        if (!refused.empty()) {
            std::printf("%s\n", refused.c_str());
            return 1;
        }
    }
    std::fprintf(stderr, "vornix-cli: setup.ini: %s; telnet wait %d ms\n", station->settings().configPath.c_str(),
                 station->settings().telnetWait);

    station->startPressed();
    const vornix::RunOutcome outcome = station->waitForRun();
    if (firmware && !station->builds(vornix::Stage::FirmwareUpdate) &&
        outcome.stage(vornix::Stage::FirmwareUpdate) != vornix::StageResult::NotChosen)
        std::fputs("vornix-cli: the firmware update drives the Windows flashing tool: only vornix-cli.exe runs it\n",
                   stderr);
    // The run is over for the operator: a probe still waiting for a silent
    // router is not waited for.
    vornix::Station::endProcess(outcome.succeeded() ? 0 : 1);
}
