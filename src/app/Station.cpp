#include "app/Station.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <random>

#include "app/GangRouters.h"
#include "app/JournalingConsole.h"
#include "app/RunSequencer.h"
#include "app/UnitPage.h"
#include "automation/ToolLauncher.h"
#include "config/GangConfig.h"
#include "link/Net.h"
#include "link/TelnetChannel.h"
#include "platform/Adapters.h"
#include "platform/AtomicReplace.h"
#include "platform/CurrentDirectory.h"
#include "platform/FileLock.h"
#include "platform/FileRecords.h"
#include "platform/HostName.h"
#include "platform/LabelSpools.h"
#include "platform/Ports.h"
#include "procedures/BootUpdater.h"
#include "procedures/MacBlock.h"
#include "procedures/FirmwareUpdater.h"
#include "procedures/LabelPrinter.h"
#include "procedures/MacWriter.h"
#include "procedures/ProfileBlockSource.h"
#include "procedures/StageRun.h"
#include "records/Journal.h"
#include "records/LineBlockSource.h"
#include "records/LineClient.h"
#include "records/LineCommands.h"
#include "records/LineDatabase.h"
#include "records/LabelValues.h"
#include "records/LineRecordKeeper.h"
#include "records/Odbc.h"
#include "records/RunRecords.h"
#include "vornix/Version.h"

namespace vornix {

namespace {

// setup.ini as a gang port's run reads it: PC_IP, the address its router
// fetches the boot image from, is the port's own (PortK_PC_IP).
class PortProfile : public Profile {
public:
    PortProfile(Profile& profile, int port) : profile_(profile), pcIpKey_(gangPcIpKey(port)) {}
    std::string read(const char* section, const char* key, const char* defaultValue, std::size_t bufferSize) override {
        if (!std::strcmp(section, keys::pcIp.section) && !std::strcmp(key, keys::pcIp.name))
            return profile_.read(GangConfig::section, pcIpKey_.c_str(), defaultValue, bufferSize);
        return profile_.read(section, key, defaultValue, bufferSize);
    }
    bool write(const char* section, const char* key, const std::string& value) override {
        return profile_.write(section, key, value);
    }

private:
    Profile& profile_;
    std::string pcIpKey_;
};

}  // namespace

struct Station::Parts {
    Parts(OperatorConsole& frontEnd, StationSettings fixed, RouterPort routerPort)
        : settings(std::move(fixed)),
          port(std::move(routerPort)),
          adapters(platform::makeAdapters(settings.configPath, port)),
          profile(port.bound() ? std::make_unique<PortProfile>(*adapters.profile, port.number) : nullptr),
          console(frontEnd, port.number),
          context{console, profile ? *profile : *adapters.profile, settings.configPath, settings.telnetWait, flags, pause},
          station{platform::hostName(), std::string("vornix ") + VORNIX_VERSION},
          records(files, settings.directory, platform::pathSeparator(), station, console) {
        context.port = port;
        context.routerReached = [this] { return routerReached(); };
    }

    StationSettings settings;
    RouterPort port;  // a gang station's port, or none
    platform::Adapters adapters;
    std::unique_ptr<Profile> profile;  // the port's view of setup.ini, on a gang port
    JournalingConsole console;
    RunFlags flags;
    RealPause pause;
    StationContext context;
    MacBlock macBlock;         // start_mac's text stays here between runs
    std::string serial;        // the unit's the runs are for, on a station with serials
    ToolHandles toolHandles;   // the flashing tool's windows, as the last launch left them
    platform::FileRecords files;
    journal::Station station;
    RunRecords records;
    std::unique_ptr<RunSequencer> sequencer;

    // The run going on, or the last one.
    std::shared_ptr<RunRecord> record;
    // What its first connection found out about the router it reached.
    std::mutex reachedMutex;
    bool reachedAsked = false;
    std::string reachedLine;

    std::string path(const std::string& name) const {
        return settings.directory + platform::pathSeparator() + name;
    }
    ConfigValue read(const ConfigKey& key) const { return StationConfig(*adapters.profile).read(key); }

    // What every taker of this setup.ini's start_mac shares: its lock and
    // the blocks one-port runs are writing.
    StartMacShare startMacShare() {
        const std::string claims = path(startMacClaimsName), units = path(unitsName);
        return {[lock = path(startMacLockName)](std::string& why) {
                    return std::shared_ptr<void>(platform::lockFile(lock, 10000, why));
                },
                [claims](std::string& text) { return readFileBytes(claims, text); },
                [claims](const std::string& text) { return platform::replaceFileAtomically(claims, text); },
                claims,
                [units](std::string& text) { return readFileBytes(units, text); },
                [this, units](const std::string& line, std::string& why) { return files.appendLine(units, line, why); },
                [locks = path(unitLocksName)](const std::string& serial, std::string& why) {
                    // One byte a unit, by a hash of its serial: two serials that
                    // share a byte only wait for each other.
                    std::uint32_t hash = 2166136261u;
                    for (const char c : serial) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
                    return std::shared_ptr<void>(platform::tryLockByte(locks, hash & 0x3FFFFFFF, why));
                },
                units};
    }

    // The unit the run is for, when setup.ini has [SERIAL]: its serial and
    // the router variable that holds it; empty when none. failure: the
    // stage's line when the run may not write (no serial, or none usable).
    MacWriter::Unit unit(std::string& failure) const {
        MacWriter::Unit unit;
        if (!readSerialRules(*adapters.profile, unit.rules, failure)) return {};
        if (unit.rules.source == SerialSource::Off) return {};
        unit.serial = serial;
        if (serial.empty() && unit.rules.source == SerialSource::Scan)
            failure = "No serial for this unit: nothing is written";
        return unit;
    }

    // The next serial of a station that numbers its units, from Format and
    // next_serial, which moves past it before the serial is used. Asked
    // under the start_mac lock. Empty, or the stage's failure line.
    std::string assignSerial(const SerialRules& rules, std::string& assigned) const {
        std::string problem;
        long long counter = 0;
        if (!readNextSerial(*adapters.profile, counter, problem)) return problem;
        const std::string refused = numberedSerial(rules, counter, assigned);
        if (!refused.empty()) return refused;
        const std::string next = std::to_string(counter + 1);
        const StationConfig config(*adapters.profile);
        if (!config.write(keys::nextSerial, next) || config.read(keys::nextSerial).text != next)
            return "Can't write next_serial to " + settings.configPath;
        return std::string();
    }

    // The serial of number counter, today; empty, or the stage's failure line.
    static std::string numberedSerial(const SerialRules& rules, long long counter, std::string& assigned) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        std::string problem;
        if (!formatSerial(rules, counter, local, assigned, problem)) return "Can't number this unit: " + problem;
        return serialRefusal(rules, assigned);
    }

    void macWriting() {
        std::string refused;
        const MacWriter::Unit forUnit = unit(refused);
        if (!refused.empty()) {
            StageRun(context, Stage::MacWriting).fail(refused);
            return;
        }
        const std::string database = read(keys::lineDatabase).text;
        if (database.empty()) {
            ProfileBlockSource blocks(context.profile, settings.configPath, startMacShare(),
                                      port.bound() ? ProfileBlockSource::Moves::AtOnce
                                                   : ProfileBlockSource::Moves::OnceVerified,
                                      record->data().runId);
            if (forUnit.rules.source == SerialSource::Assign)
                blocks.assignsSerials(
                    [this, rules = forUnit.rules](std::string& assigned) { return assignSerial(rules, assigned); });
            MacWriter(context, macBlock, blocks, forUnit).run();
            spentAtEnd(blocks);
            return;
        }
        const RunRecord::Data run = record->data();
        LineBlockSource::Settings line{database, read(keys::linePool).text, lineStation(*adapters.profile, station.name),
                                       run.router, run.runId,
                                       StationConfig(*adapters.profile).readDecimal(keys::lineTimeout), forUnit.serial};
        if (forUnit.rules.source == SerialSource::Assign) {
            // The line numbers the units of every station that shares the
            // format; a station's next_serial, when set, is where it starts.
            std::string problem;
            long long start = 1;
            if (!read(keys::nextSerial).text.empty() && !readNextSerial(*adapters.profile, start, problem)) {
                StageRun(context, Stage::MacWriting).fail(problem);
                return;
            }
            line.numberSerial = [rules = forUnit.rules](long long number, std::string& assigned) {
                return numberedSerial(rules, number, assigned);
            };
            line.serialFormat = forUnit.rules.format;
            line.serialStart = start;
        }
        LineBlockSource blocks(std::move(line));
        MacWriter(context, macBlock, blocks, forUnit).run();
        // Released as the source goes: the record says so first.
        spentAtEnd(blocks);
    }
    void spentAtEnd(const MacBlockSource& blocks) {
        if (!blocks.spentAtEnd()) return;
        const RunRecord::Data data = record->data();
        record->blockSpent(data.startMacBefore, data.blockCount);
    }
    void bootUpdate() { BootUpdater(context, *adapters.echo).run(); }
    void firmwareUpdate() {
        if (!adapters.windows) {
            // Not in this build: the stage ends as a failed one, without a line.
            StageRun(context, Stage::FirmwareUpdate).end(false);
            return;
        }
        ToolLauncher launcher(context, *adapters.toolHost, *adapters.windows, *adapters.devices, toolHandles);
        FirmwareUpdater(context, *adapters.echo, launcher, *adapters.windows, toolHandles, settings.directory).run();
    }

    // Once a run's first connection to its router is made: the router's
    // hardware address goes into the record, and a gang port makes sure the
    // router is the one behind its own port, and no other port's.
    std::string routerReached() {
        std::lock_guard<std::mutex> lock(reachedMutex);
        if (reachedAsked) return reachedLine;
        reachedAsked = true;
        std::string router = read(keys::cpeLanIp).text;
        std::uint32_t address = 0;
        if (net::resolveIPv4(router, address)) {
            const auto* octet = reinterpret_cast<const unsigned char*>(&address);
            router = std::to_string(octet[0]) + "." + std::to_string(octet[1]) + "." + std::to_string(octet[2]) + "." +
                     std::to_string(octet[3]);
        }
        const std::string hardware = platform::neighbourAddress(port, router);
        if (!hardware.empty()) context.note([&](RunRecord& run) { run.routerHardware(hardware); });
        // A one-port station reaches its router as the routing table says.
        if (!port.bound()) return reachedLine;
        if (port.gangRun.empty()) {
            if (hardware.empty()) reachedLine = GangRouters::elsewhereLine(port.number, port.interfaceName, router);
            return reachedLine;
        }
        GangRouters routers(settings.directory, platform::pathSeparator(), port.gangRun);
        reachedLine = routers.reached(port.number, port.interfaceName, router, hardware, pause);
        return reachedLine;
    }

    // The passwords setup.ini holds now, masked in every record.
    Secrets secrets() const {
        Secrets secrets;
        for (const ConfigKey* key : {&keys::telnetPassword, &keys::pcFtpPwd}) {
            const ConfigValue secret = read(*key);
            if (!secret.missing) secrets.add(secret.text);
        }
        for (const std::string& password : odbc::passwordsOf(read(keys::lineDatabase).text)) secrets.add(password);
        return secrets;
    }
    // The line database's keeper in line mode; none without.
    std::unique_ptr<LineRecordKeeper> keeper() const {
        const std::string database = read(keys::lineDatabase).text;
        if (database.empty()) return nullptr;
        return lineRecordKeeper(database, lineStation(*adapters.profile, station.name),
                                StationConfig(*adapters.profile).readDecimal(keys::lineTimeout));
    }

    // The run's id, which every record (journal, transcript, line database,
    // the block's holder) carries as it is, never masked: so it must carry
    // no secret, such as a password that is part of the host name.
    std::string runId(std::chrono::system_clock::time_point started, const Secrets& known) const {
        // The tag makes it unique also among stations of one computer that
        // start in the same millisecond.
        auto tag = [] {
            char text[12];
            std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(std::random_device()()));
            return std::string(text);
        };
        const std::string time = journal::utcText(started);
        std::string id = time + " " + station.name + " " + tag();
        for (int tries = 0; tries < 16 && known.touches(id); ++tries) id = time + " " + tag();
        // A secret so short that every id holds it (a digit of the date) is left out of it.
        return known.without(id);
    }

    // A new record and transcript for the run about to start.
    void runStarting() {
        {
            std::lock_guard<std::mutex> lock(reachedMutex);
            reachedAsked = false;
            reachedLine.clear();
        }
        RunRecord::Data start;
        start.started = std::chrono::system_clock::now();
        const ConfigValue router = read(keys::cpeLanIp);
        start.router = router.missing ? std::string() : router.text;
        start.port = port.number;
        start.serial = serial;
        start.interfaceName = port.interfaceName;
        const Secrets known = secrets();
        start.runId = runId(start.started, known);
        record = records.begin(start, known);
        context.record = record.get();
        console.setRecord(record.get());
    }

    // [LABEL], read as the station starts: its template checked once, and
    // what prints is what was checked.
    LabelRules labelRules;
    std::string labelTemplate;
    std::string labelProblem;  // the line that refuses [LABEL], or empty
    std::unique_ptr<LabelSpool> labelSpool;

    void readLabel() {
        if (!readLabelRules(*adapters.profile, labelRules, labelProblem) || !labelRules.on) return;
        const std::string& file = labelRules.templatePath;
        const bool absolute = file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':');
        const std::string templatePath = absolute ? file : path(file);
        std::string why;
        if (readFileBytes(templatePath, labelTemplate) != FileRead::Ok)
            labelProblem = "Can't read LABEL->Template: cannot read " + templatePath;
        else if (labelTemplate.size() > maxLabelTemplateBytes)
            labelProblem = "Can't read LABEL->Template: " + templatePath + " is larger than " +
                           std::to_string(maxLabelTemplateBytes) + " bytes";
        else if (!checkLabelTemplate(labelTemplate, why))
            labelProblem = "Can't read LABEL->Template: " + templatePath + ", " + why;
        if (!labelProblem.empty()) labelRules.on = false;
        else labelSpool = platform::makeLabelSpool(settings.directory, platform::pathSeparator());
    }

    // One label of a run to the printer, under the station's label lock: a
    // gang's ports never interleave theirs. The operator's line, also in
    // the run's record with the print.
    RunRecord::Label printLabel(const std::string& runId, const std::string& zpl, const std::string& reason) {
        std::string why;
        if (const auto lock = platform::lockFile(path(labelLockName), 30000, why))
            why = LabelPrinterLink(*labelSpool).print(labelRules.printer, runId, zpl);
        return {std::chrono::system_clock::now(), labelRules.printer.text,
                why.empty() ? std::string("printed") : "not printed: " + why, reason};
    }
    std::string labelLine(const RunRecord::Label& label) const {
        return label.result == "printed" ? "Label printed: " + label.printer
                                         : "Label not printed: " + label.result.substr(std::strlen("not printed: "));
    }

    // The journal record of the last passed run for a serial, an address or
    // a run id, and its label; false and the line for standard error.
    bool labelOf(const std::string& key, std::string& record, std::string& zpl, std::string& why) const {
        if (!labelProblem.empty() || !labelRules.on) {
            why = labelProblem.empty() ? "setup.ini has no [LABEL] section" : labelProblem;
            return false;
        }
        const std::string journalPath = path(journal::fileName);
        std::vector<std::string> records;
        if (!journal::lastRecords(journalPath, std::numeric_limits<std::size_t>::max(), records, why)) return false;
        for (auto line = records.rbegin(); line != records.rend(); ++line) {
            LabelValues values;
            if (!labelRecordMatches(*line, key) || !labelValuesOfRecord(*line, values)) continue;
            record = *line;
            zpl = fillLabel(labelTemplate, values);
            return true;
        }
        why = "no run that passed is for " + key + " in " + journalPath;
        return false;
    }

    // The run is over: its label, when it passed (its router is good
    // whatever the printer does), then its records, kept before the run
    // reports its result; one that cannot be kept fails the run.
    void runEnded(RunOutcome& outcome) {
        bool chosen = false;
        for (StageResult stage : outcome.stages) chosen = chosen || stage != StageResult::NotChosen;
        if (labelRules.on && chosen && outcome.succeeded()) {
            const std::string zpl = fillLabel(labelTemplate, labelValues(record->data(), station, secrets()));
            const RunRecord::Label label = printLabel(record->data().runId, zpl, std::string());
            record->label(label);
            console.appendLog(labelLine(label));
        }
        records.end(outcome, keeper().get());
    }

    // Before the first run: the records of runs killed before they wrote theirs.
    void recoverInterrupted() {
        records.recoverInterrupted(secrets(), keeper().get(),
                                   [this](const std::string& runId, const std::string& first, int count, bool written,
                                          std::string& told) {
                                       return settleKilledBlock(*adapters.profile, startMacShare(), runId, first,
                                                                count, written, told);
                                   });
    }
};

std::unique_ptr<Station> Station::open(OperatorConsole& console, StartRefusal& why, std::string& directory,
                                       const RouterPort& port, const std::function<void(const std::string&)>& tell) {
    const std::optional<std::string> current = platform::currentDirectory();
    directory = current.value_or(std::string());
    const std::optional<StationSettings> settings =
        fixStationSettings(current, platform::pathSeparator(), &platform::makeProfile, &why);
    if (!settings) return nullptr;
    auto parts = std::make_unique<Parts>(console, *settings, port);
    Parts& p = *parts;
    p.sequencer = std::make_unique<RunSequencer>(
        p.context, *p.adapters.echo,
        RunSequencer::Stages{[&p] { p.macWriting(); }, [&p] { p.bootUpdate(); }, [&p] { p.firmwareUpdate(); }});
    p.readLabel();
    p.sequencer->aroundRuns([&p] { p.runStarting(); }, [&p](RunOutcome& outcome) { p.runEnded(outcome); });
    // A gang's port leaves that to its gang, before and after its ports
    // run: a port starting beside its siblings would take a sibling's
    // transcript, made but not yet held, for a killed run's.
    if (tell) p.records.tellOn(tell);
    if (!port.bound()) p.recoverInterrupted();
    return std::unique_ptr<Station>(new Station(std::move(parts)));
}

std::optional<Station::ViewSource> Station::viewSource(StartRefusal& why, std::string& directory) {
    const std::optional<std::string> current = platform::currentDirectory();
    directory = current.value_or(std::string());
    const std::optional<StationSettings> settings =
        fixStationSettings(current, platform::pathSeparator(), &platform::makeProfile, &why);
    if (!settings) return std::nullopt;
    const std::unique_ptr<Profile> profile = platform::makeProfile(settings->configPath);
    const StationConfig config(*profile);
    const std::string database = config.read(keys::lineDatabase).text;
    return ViewSource{settings->directory, database,
                      database.empty() ? std::string() : lineStation(*profile, platform::hostName()),
                      lineTimeoutSeconds(config.readDecimal(keys::lineTimeout))};
}

Station::Station(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

Station::~Station() { parts_->sequencer.reset(); }

const StationSettings& Station::settings() const { return parts_->settings; }

bool Station::builds(Stage stage) const { return stage != Stage::FirmwareUpdate || parts_->adapters.windows != nullptr; }

SerialSource Station::serialSource(std::string& problem) const {
    SerialRules rules;
    problem.clear();
    if (!readSerialRules(*parts_->adapters.profile, rules, problem)) return SerialSource::Off;
    return rules.source;
}

std::string Station::useSerial(const std::string& typed) {
    SerialRules rules;
    std::string problem;
    if (!readSerialRules(*parts_->adapters.profile, rules, problem)) return problem;
    if (rules.source == SerialSource::Off) return "Serial refused: setup.ini has no [SERIAL] section";
    const std::string serial = scannedSerial(typed);
    const std::string refused = serialRefusal(rules, serial);
    if (!refused.empty()) return refused;
    parts_->serial = serial;
    return std::string();
}

const std::string& Station::labelProblem() const { return parts_->labelProblem; }

bool Station::startPressed() { return parts_->sequencer->startPressed(); }

RunOutcome Station::waitForRun() { return parts_->sequencer->waitForRun(); }

std::string Station::journalPath() const { return parts_->path(journal::fileName); }

int Station::printHistory(std::FILE* out, std::FILE* err, int count, bool asJson) const {
    std::vector<std::string> records;
    std::string why;
    if (!journal::lastRecords(journalPath(), static_cast<std::size_t>(count), records, why)) {
        std::fprintf(err, "vornix-cli: %s\n", why.c_str());
        return 1;
    }
    journal::print(out, records, asJson);
    return 0;
}

int Station::printUnit(std::FILE* out, std::FILE* err, const std::string& serialOrMac, bool asJson) const {
    const std::string database = parts_->read(keys::lineDatabase).text;
    if (!database.empty())
        return printLineUnit(database, StationConfig(*parts_->adapters.profile).readDecimal(keys::lineTimeout),
                             parts_->path(labelJournalFileName), serialOrMac, asJson, out, err);
    return vornix::printUnit(parts_->path(unitsName), journalPath(), parts_->path(labelJournalFileName), serialOrMac,
                             asJson, out, err);
}

int Station::printLabel(std::FILE* out, std::FILE* err, const std::string& key) const {
    std::string record, zpl, why;
    if (!parts_->labelOf(key, record, zpl, why)) {
        std::fprintf(err, "vornix-cli: %s\n", why.c_str());
        return 1;
    }
    std::fwrite(zpl.data(), 1, zpl.size(), out);
    return 0;
}

int Station::reprintLabel(std::FILE* out, std::FILE* err, const std::string& key, const std::string& reason) {
    Parts& p = *parts_;
    std::string record, zpl, why;
    if (!p.labelOf(key, record, zpl, why)) {
        std::fprintf(err, "vornix-cli: %s\n", why.c_str());
        return 1;
    }
    LabelValues values;
    labelValuesOfRecord(record, values);
    const RunRecord::Label label = p.printLabel(values.run, zpl, reason);
    std::fprintf(out, "%s\n", p.labelLine(label).c_str());
    // The run's own journal line was written once, at its end: a reprint
    // is a line of the labels' journal, naming its run.
    if (!p.files.appendLine(p.path(labelJournalFileName), labelReprintLine(values.run, values.serial, label, p.secrets()),
                            why)) {
        std::fprintf(err, "vornix-cli: Can't write %s: %s\n", labelJournalFileName, why.c_str());
        return 1;
    }
    return label.result == "printed" ? 0 : 1;
}

bool Station::isLineCommand(const std::string& arg) { return vornix::isLineCommand(arg); }

const char* Station::lineCommandUsage() { return vornix::lineCommandUsage; }

int Station::lineCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) const {
    return vornix::lineCommand(args, *parts_->adapters.profile, out, err);
}

void Station::endProcess(int status) {
    awaitCollectors(1000);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace vornix
