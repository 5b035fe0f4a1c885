#include "app/Gang.h"

#include <algorithm>
#include <memory>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "app/GangRouters.h"
#include "config/GangConfig.h"
#include "config/SerialRules.h"
#include "records/Journal.h"
#include "records/RunRecords.h"
#include "platform/Adapters.h"
#include "platform/ChildProcess.h"
#include "platform/CurrentDirectory.h"
#include "platform/FileLock.h"
#include "platform/FileRecords.h"
#include "platform/Ports.h"
#include "app/Station.h"
#include "station/StationStart.h"

namespace vornix {

namespace {

std::unique_ptr<Profile> currentProfile(std::string& why) {
    const std::optional<StationSettings> settings =
        fixStationSettings(platform::currentDirectory(), platform::pathSeparator(), &platform::makeProfile);
    if (!settings) {
        why = "cannot use setup.ini in the current directory";
        return nullptr;
    }
    return platform::makeProfile(settings->configPath);
}

Gang::Port checked(const GangPortConfig& config) {
    Gang::Port port{RouterPort{config.number, config.interfaceName, config.pcIp}, config.problem, std::string()};
    if (port.problem.empty()) port.problem = platform::portProblem(port.port);
    return port;
}

}  // namespace

std::optional<std::vector<Gang::Port>> Gang::ports(std::string& why) {
    const std::unique_ptr<Profile> profile = currentProfile(why);
    if (!profile) return std::nullopt;
    const GangConfig gang = readGangConfig(*profile);
    if (!gang.present) {
        why = "setup.ini has no [GANG] section (Ports=1..8, PortK=<interface>, PortK_PC_IP=<address>)";
        return std::nullopt;
    }
    if (!gang.problem.empty()) {
        why = gang.problem;
        return std::nullopt;
    }
    std::vector<Port> ports;
    for (const GangPortConfig& config : gang.ports) ports.push_back(checked(config));
    // Two ports on one adapter (by one name twice, or by its alias and its
    // index) would run two routers' dialogues through one cable.
    std::vector<unsigned long> adapters;
    for (const Port& port : ports) adapters.push_back(port.problem.empty() ? platform::portInterfaceIndex(port.port) : 0);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        std::vector<int> others;
        for (std::size_t j = 0; j < ports.size(); ++j)
            if (j != i && adapters[i] != 0 && adapters[j] == adapters[i]) others.push_back(ports[j].port.number);
        if (others.empty()) continue;
        std::string names = std::to_string(others[0]);
        for (std::size_t k = 1; k < others.size(); ++k)
            names += (k + 1 == others.size() ? " and " : ", ") + std::to_string(others[k]);
        ports[i].problem = (others.size() == 1 ? "port " + names + " names" : "ports " + names + " name") +
                           " the same network adapter";
    }
    return ports;
}

std::optional<RouterPort> Gang::port(int number, std::string& why) {
    const std::unique_ptr<Profile> profile = currentProfile(why);
    if (!profile) return std::nullopt;
    const GangConfig gang = readGangConfig(*profile);
    if (!gang.problem.empty() || number < 1 || number > static_cast<int>(gang.ports.size())) {
        why = gang.problem.empty() ? "setup.ini's [GANG] section has no port " + std::to_string(number) : gang.problem;
        return std::nullopt;
    }
    const Port port = checked(gang.ports[static_cast<std::size_t>(number - 1)]);
    if (!port.problem.empty()) {
        why = port.problem;
        return std::nullopt;
    }
    return port.port;
}

std::string Gang::problemLine(const Port& port) {
    return "Can't use port " + std::to_string(port.port.number) + " (" + port.port.interfaceName + "): " + port.problem;
}

bool Gang::giveSerials(std::vector<Port>& ports, const std::vector<std::pair<int, std::string>>& serials,
                       std::string& why) {
    const std::unique_ptr<Profile> profile = currentProfile(why);
    if (!profile) return false;
    SerialRules rules;
    if (!readSerialRules(*profile, rules, why)) return false;
    if (rules.source == SerialSource::Off) {
        if (serials.empty()) return true;
        why = "setup.ini has no [SERIAL] section: serials are not used";
        return false;
    }
    for (const auto& [number, typed] : serials) {
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const Port& p) { return p.port.number == number; });
        if (port == ports.end()) {
            why = "--serial " + std::to_string(number) + "=...: setup.ini's [GANG] section has no port " +
                  std::to_string(number);
            return false;
        }
        port->serial = scannedSerial(typed);
        const std::string refused = serialRefusal(rules, port->serial);
        if (!refused.empty() && port->problem.empty()) port->problem = refused;
    }
    for (Port& port : ports) {
        if (port.problem.empty() && port.serial.empty() && rules.source == SerialSource::Scan)
            port.problem = "no serial given (--serial " + std::to_string(port.port.number) + "=SN): it does not run";
        // One unit is one router: two ports given one serial run neither.
        for (const Port& other : ports)
            if (&other != &port && !port.serial.empty() && other.serial == port.serial)
                port.problem = "port " + std::to_string(other.port.number) + " was given the same serial " + port.serial;
    }
    return true;
}

bool Gang::scansSerials() {
    std::string why;
    const std::unique_ptr<Profile> profile = currentProfile(why);
    SerialRules rules;
    return profile && readSerialRules(*profile, rules, why) && rules.source == SerialSource::Scan;
}

std::string Gang::checkSerial(const std::string& typed, std::string& serial) {
    std::string why;
    const std::unique_ptr<Profile> profile = currentProfile(why);
    if (!profile) return why;
    SerialRules rules;
    if (!readSerialRules(*profile, rules, why)) return why;
    serial = scannedSerial(typed);
    return serialRefusal(rules, serial);
}

bool Gang::configured() {
    std::string why;
    const std::unique_ptr<Profile> profile = currentProfile(why);
    return profile && readGangConfig(*profile).present;
}

int Gang::runPort(int number, OperatorConsole& console, const std::string& gangRun, const std::string& serial) {
    // Its gang gone already: not one step on the router.
    if (!platform::ChildProcess::endWithStarter()) return interruptedStatus;
    std::string why;
    const std::optional<RouterPort> routerPort = port(number, why);
    if (!routerPort) {
        console.appendLog("Can't use port " + std::to_string(number) + ": " + why);
        return 1;
    }
    // One process a port, held until this one ends: a second one on the
    // same port (a gang started again beside it) would work its router too.
    static std::unique_ptr<platform::HeldLock> portLock;
    const std::optional<std::string> here = platform::currentDirectory();
    const std::string lockName = "vornix-port" + std::to_string(number) + ".lock";
    std::string busy;
    if (here) portLock = platform::lockFile(*here + platform::pathSeparator() + lockName, 0, busy);
    if (!portLock) {
        console.appendLog("Can't use port " + std::to_string(number) + " (" + routerPort->interfaceName +
                          "): another process is running it (" + lockName + " is held)");
        return 1;
    }
    RouterPort runPort = *routerPort;
    runPort.gangRun = gangRun;
    StartRefusal refusal{};
    std::string directory;
    // Kept to the process's end, as a one-port vornix-cli keeps its own: the
    // run is over for its gang once its outcome is known, and a probe still
    // waiting for a silent router is not waited for (the other ports wait for
    // this one to end before they write).
    static std::unique_ptr<Station> station;
    station = Station::open(console, refusal, directory, runPort);
    if (!station) {
        console.appendLog("Can't start the station of port " + std::to_string(number) + " in " + directory);
        return 1;
    }
    if (!station->labelProblem().empty()) {
        console.appendLog(station->labelProblem());
        return 1;
    }
    if (!serial.empty()) {
        const std::string refused = station->useSerial(serial);
        if (!refused.empty()) {
            console.appendLog(refused);
            return 1;
        }
    }
    station->startPressed();
    const RunOutcome outcome = station->waitForRun();
    return outcome.succeeded() ? 0 : outcome.routerFound ? 1 : noRouterStatus;
}

void Gang::recover(OperatorConsole& console, const Tell& tell) {
    StartRefusal refusal{};
    std::string directory;
    Station::open(console, refusal, directory, RouterPort(), tell);
}

void Gang::Stop::now() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopped_ = true;
    for (const std::shared_ptr<platform::ChildProcess>& child : children_) child->kill();
    started_.wait(lock, [this] { return starting_ == 0; });
}

bool Gang::Stop::admit() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return false;
    ++starting_;
    return true;
}

void Gang::Stop::add(const std::shared_ptr<platform::ChildProcess>& child) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --starting_;
        if (child) {
            if (stopped_) child->kill();
            else children_.push_back(child);
        }
    }
    started_.notify_all();
}

void Gang::Stop::remove(const std::shared_ptr<platform::ChildProcess>& child) {
    std::lock_guard<std::mutex> lock(mutex_);
    children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
}

std::vector<Gang::Result> Gang::runAll(const std::vector<Port>& ports, const std::vector<std::string>& stageArguments,
                                       const Events& events, OperatorConsole& console, Stop* stop, const Tell& tell) {
    recover(console, tell);
    return run(ports, stageArguments, events, [&console, &tell] { recover(console, tell); }, stop);
}

std::vector<Gang::Result> Gang::run(const std::vector<Port>& ports, const std::vector<std::string>& stageArguments,
                                    const Events& events, const std::function<void()>& recover, Stop* stop) {
    std::vector<Result> results(ports.size(), Result::NotRun);
    std::mutex tell;  // one event at a time, so lines never interleave inside a line
    std::vector<std::thread> readers;
    bool killed = false;
    // Where the ports tell each other which router they reached.
    const std::string tag = [] {
        char text[12];
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(std::random_device()()));
        return std::string(text);
    }();
    const std::optional<std::string> here = platform::currentDirectory();
    GangRouters routers(here.value_or("."), platform::pathSeparator(), tag);
    std::vector<int> running;
    for (const Port& port : ports)
        if (port.problem.empty()) running.push_back(port.port.number);
    std::string unshared;
    const bool shared = routers.begin(running, unshared);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const Port& port = ports[i];
        if (!port.problem.empty()) continue;
        std::vector<std::string> arguments{portArgument, std::to_string(port.port.number)};
        if (shared) arguments.insert(arguments.end(), {runArgument, tag});
        if (!port.serial.empty()) arguments.insert(arguments.end(), {"--serial", port.serial});
        arguments.insert(arguments.end(), stageArguments.begin(), stageArguments.end());
        if (stop && !stop->admit()) {
            routers.ended(port.port.number);
            std::lock_guard<std::mutex> lock(tell);
            if (events.ended) events.ended(port.port.number, results[i]);
            continue;
        }
        std::string why;
        std::shared_ptr<platform::ChildProcess> child = platform::ChildProcess::start(arguments, why);
        if (stop) stop->add(child);
        if (!child) {
            routers.ended(port.port.number);
            std::lock_guard<std::mutex> lock(tell);
            if (events.line) events.line(port.port.number, "Can't start the run of port " +
                                                               std::to_string(port.port.number) + ": " + why);
            results[i] = Result::Failed;
            if (events.ended) events.ended(port.port.number, results[i]);
            continue;
        }
        readers.emplace_back([&, i, child, number = port.port.number] {
            std::string line;
            while (child->readLine(line)) {
                std::lock_guard<std::mutex> lock(tell);
                if (events.line) events.line(number, line);
            }
            // Out of the stop's reach before it is waited for: a killed
            // process id, once waited for, may be another process's.
            if (stop) stop->remove(child);
            const platform::ChildProcess::End end = child->wait();
            routers.ended(number);
            std::lock_guard<std::mutex> lock(tell);
            if (!end.exited) {
                results[i] = Result::Interrupted;
                killed = true;
            } else if (end.status == 0) {
                results[i] = Result::Passed;
            } else if (end.status == noRouterStatus) {
                results[i] = Result::NoRouter;
            } else if (end.status == interruptedStatus) {
                results[i] = Result::Interrupted;
                killed = true;
            } else {
                results[i] = Result::Failed;
            }
            if (events.ended) events.ended(number, results[i]);
        });
    }
    for (std::thread& reader : readers) reader.join();
    routers.remove();
    // A run that ended its way named its transcript .log. One still .open was
    // killed, whatever its exit status says (on Windows a process ended
    // from outside exits with any status its killer chose).
    if (const std::optional<std::string> directory = platform::currentDirectory()) {
        platform::FileRecords files;
        const std::string transcripts = *directory + platform::pathSeparator() + journal::transcriptDirectory;
        for (const std::string& name : files.names(transcripts, RunRecords::liveSuffix))
            for (std::size_t i = 0; i < ports.size(); ++i) {
                const std::string suffix = "-port" + std::to_string(ports[i].port.number) + RunRecords::liveSuffix;
                if (results[i] == Result::NotRun || name.size() < suffix.size() ||
                    name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
                    continue;
                killed = true;
                if (results[i] != Result::Interrupted && events.ended) events.ended(ports[i].port.number, Result::Interrupted);
                results[i] = Result::Interrupted;
            }
    }
    // A killed port's run left its transcript open: its record is made now,
    // as the next start would make it.
    if (killed && recover) recover();
    return results;
}

const char* Gang::resultText(Result result) {
    switch (result) {
        case Result::NotRun: return "not run";
        case Result::Passed: return "passed";
        case Result::Failed: return "failed";
        case Result::NoRouter: return "no router";
        case Result::Interrupted: return "interrupted";
    }
    return "failed";
}

int Gang::exitStatus(const std::vector<Result>& results) {
    bool answered = false;
    for (Result result : results) {
        if (result == Result::NoRouter || result == Result::NotRun) continue;
        if (result != Result::Passed) return 1;
        answered = true;
    }
    return answered ? 0 : 1;
}

}  // namespace vornix
