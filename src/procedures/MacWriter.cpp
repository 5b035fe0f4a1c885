#include "procedures/MacWriter.h"

#include <algorithm>

#include "config/ConfigKeys.h"
#include "procedures/Listing.h"
#include "procedures/StageRun.h"
#include "procedures/UnitBook.h"

namespace vornix {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Index of the first occurrence of what on line (from the name to the
// line's end), or -1.
long findOnLine(const std::string& text, const NamedLine& line, const std::string& what) {
    const std::size_t at = text.find(what, line.name);
    return at == std::string::npos || at + what.size() > line.end ? -1 : static_cast<long>(at);
}

// The value on name's own line, without the blanks around it; empty when
// there is no such line.
std::string valueOn(const std::string& text, const std::string& name) {
    const std::optional<NamedLine> line = findNamedLine(text, name);
    if (!line) return std::string();
    std::string value = text.substr(line->name + name.size(), line->end - line->name - name.size());
    if (!value.empty() && value[0] == '=') value.erase(0, 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t\r") + 1);
    return value;
}

}  // namespace

int MacWriter::run() {
    StageRun run(context_, Stage::MacWriting);
    const StationConfig& config = run.config();
    OperatorConsole& console = context_.console;

    run.log("process login procedure .....");
    run.log("");
    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) return run.fail("Can't load SETUP->CPE_LAN_IP from " + context_.configPath);
    if (!run.openRouter(address.text, "Can't connect " + address.text, "Can't login the router")) return 0;

    run.log("-----writing ENV-----");
    const ConfigValue macPath = config.read(keys::writeMacPath);
    if (macPath.missing) return run.fail("Can't read WRITE_MAC->path");
    const int macEntries = config.readDecimal(keys::writeMacNumber);
    // A file listed whole: a name that no file has ends the answer (cat
    // says it cannot open it). nullopt once the stage has failed.
    const bool units = unit_.rules.source != SerialSource::Off;
    auto listing = [&](const std::string& path) -> std::optional<std::string> {
        static const std::string end = "vornix-end-of-answer";
        // In cat's complaint, not in the command's echo (which may be in
        // the answer or not): the name is followed by a quote or a colon.
        auto ended = [](const std::string& arrived) {
            for (std::size_t at = arrived.find(end); at != std::string::npos; at = arrived.find(end, at + 1))
                if (at + end.size() < arrived.size() && arrived[at + end.size()] != '\r' &&
                    arrived[at + end.size()] != '\n')
                    return true;
            return false;
        };
        std::optional<std::string> text =
            run.answerTo("cat " + path + " " + end + "\r\n", std::max(context_.telnetWait, 1000) * 4, ended);
        if (text && !ended(*text)) {
            run.fail("Can't read " + path + " on the router");
            return std::nullopt;
        }
        return text;
    };
    std::string serial = unit_.serial;
    const std::string& variable = unit_.rules.name;
    if (units && serial.empty() && unit_.rules.source != SerialSource::Scan) {
        // The unit is the one whose serial its board carries already; a
        // station that numbers its units gives a new one to a board without.
        const ConfigValue envPath = config.read(keys::envPath);
        if (envPath.missing) return run.fail("Can't read SETUP->ENV_PATH");
        const std::optional<std::string> environment = listing(envPath.text);
        if (!environment) return 0;
        serial = valueOn(*environment, variable);
        if (serial.empty() && unit_.rules.source == SerialSource::Router)
            return run.fail("Can't read the serial " + variable + " on the router");
        const std::string refused = serial.empty() ? std::string() : serialRefusal(unit_.rules, serial);
        if (!refused.empty()) return run.fail(refused);
    }
    if (units) blocks_.unitIs(serial);
    const MacBlockSource::Reserved reserved = blocks_.reserve(std::max(macEntries, 0));
    if (!reserved.ok) return run.fail(reserved.failureLine);
    block_.setStartMac(reserved.startMac);
    context_.note([&](RunRecord& record) {
        record.macBlock(reserved.startMac, "", std::max(macEntries, 0));
        if (reserved.taken) record.blockTaken();
        if (!reserved.reusedBlockOf.empty()) record.blockReused(reserved.reusedBlockOf);
    });
    if (!reserved.notice.empty()) run.log(reserved.notice);
    if (units && !reserved.serial.empty()) serial = reserved.serial;
    // Read from the board or numbered: the record learns it now.
    if (units && serial != unit_.serial) context_.note([&](RunRecord& record) { record.serial(serial); });
    if (units) {
        // What the router holds before a byte goes: a board that carries
        // another unit's addresses was swapped.
        const std::optional<std::string> held = listing(macPath.text);
        if (!held) return 0;
        const std::string swapped = blocks_.routerHolds(addressesIn(*held));
        if (!swapped.empty()) return run.fail(swapped);
    }
    const long long counter = MacBlock::readCounter(block_.startMac());
    auto addressOf = [&](int entry) { return block_.formatMac(counter + entry); };

    // Once before the first write: from then on the block may be on this
    // router, and whoever keeps the block must know it before a byte goes.
    bool writing = false;
    auto beginWriting = [&]() -> bool {
        if (writing) return true;
        context_.note([](RunRecord& record) { record.blockWriting(); });
        const std::string refused = blocks_.writing();
        if (!refused.empty()) {
            run.fail(refused);
            return false;
        }
        writing = true;
        return true;
    };

    // The serial first: a run killed while it writes leaves a board that
    // says which unit it is. One read from the board stays as it is there.
    const bool serialWritten = units && unit_.rules.source != SerialSource::Router;
    if (serialWritten) {
        const ConfigValue serialPath = config.read(keys::writeEnvPath);
        if (serialPath.missing) return run.fail("Can't read WRITE_MAC->path");
        const std::string lapsed = blocks_.stillHeld();
        if (!lapsed.empty()) return run.fail(lapsed);
        if (!beginWriting()) return 0;
        if (!run.sendCommand("echo " + variable + " " + serial + " > " + serialPath.text + "\r\n")) return 0;
        run.log("Writing " + variable + " " + serial);
        context_.note([&](RunRecord& record) { record.environmentWritten(variable, serial); });
        run.afterCommand(context_.telnetWait);
    }

    int written = 0;
    for (int i = 0; i < macEntries; ++i) {
        const ConfigValue entry = config.readEntry(keys::writeMacEntries, i);
        if (entry.missing) return run.fail("Can't read WRITE_MAC->" + std::to_string(i));
        splitFields(entry.text, console);
        for (int k = 0; k < console.scratchCount(); ++k) {
            const std::string name = console.scratchItem(k);
            const std::string lapsed = blocks_.stillHeld();
            if (!lapsed.empty()) return run.fail(lapsed);
            if (!beginWriting()) return 0;
            if (!run.sendCommand("echo " + name + " " + addressOf(i) + " > " + macPath.text + "\r\n")) return 0;
            run.log("Writing " + name + " = " + quoted(addressOf(i)));
            context_.note([&](RunRecord& record) { record.macWritten(name, addressOf(i)); });
            run.afterCommand(context_.telnetWait);
        }
        ++written;
    }

    const ConfigValue envPath = config.read(keys::writeEnvPath);
    if (envPath.missing) return run.fail("Can't read WRITE_MAC->path");
    const int envEntries = config.readDecimal(keys::writeEnvNumber);
    for (int i = 0; i < envEntries; ++i) {
        const ConfigValue entry = config.readEntry(keys::writeEnvEntries, i);
        if (entry.missing) return run.fail("Can't read WRITE_ENV->" + std::to_string(i));
        splitFields(entry.text, console);
        const std::string name = console.scratchItem(0);
        const std::string value = console.scratchItem(1);  // empty for an entry without a comma
        const std::string lapsed = blocks_.stillHeld();
        if (!lapsed.empty()) return run.fail(lapsed);
        if (!beginWriting()) return 0;
        if (!run.sendCommand("echo " + name + " " + value + " > " + envPath.text + "\r\n")) return 0;
        run.log("Writing " + name + " " + value);
        context_.note([&](RunRecord& record) { record.environmentWritten(name, value); });
        run.afterCommand(context_.telnetWait);
    }
    run.log("---------------------");
    run.log("Verifying ..... ");
    run.log("");
    run.closeRouter();
    if (!run.openRouter(address.text, "Can't connect " + address.text, "Can't login the router")) return 0;
    const ConfigValue readBackPath = config.read(keys::writeMacPath);
    if (readBackPath.missing) return run.fail("Can't read WRITE_MAC->path");
    const std::optional<std::string> answer = run.readBack("cat " + readBackPath.text + "\r\n", 50, 3000);
    if (!answer) return 0;
    const std::string& text = *answer;

    const int verifyEntries = config.readDecimal(keys::writeMacNumber);
    const std::string prefix = block_.startMac().substr(0, 8);
    for (int i = 0; i < verifyEntries; ++i) {
        splitFields(config.readEntry(keys::writeMacEntries, i).text, console);
        for (int k = 0; k < console.scratchCount(); ++k) {
            const std::string name = console.scratchItem(k);
            const std::string expected = addressOf(i);
            const std::optional<NamedLine> line = findNamedLine(text, name);
            if (!line) return run.fail("Verify Fail : " + name + " != " + quoted(expected) + " (1)");
            const long prefixAt = findOnLine(text, *line, prefix);
            if (prefixAt < 0) return run.fail("Verify Fail : " + prefix + " != " + quoted(expected) + " (2)");
            // All of the address, from its own line: a cut one could match another router's.
            const std::size_t from = static_cast<std::size_t>(prefixAt);
            const std::string found = text.substr(from, std::min(expected.size(), line->end - from));
            context_.note([&](RunRecord& record) { record.macReadBack(name, found); });
            if (found.size() != expected.size() || !startsWithNoCase(found, expected))
                return run.fail("Verify Fail : " + name + " = " + quoted(found));
            run.log("Verify OK : " + name + " = " + quoted(found));
        }
    }

    // The next router's block. A block source that cannot keep it must stop
    // the line: the next router would get these addresses again.
    const std::string notKept = blocks_.commit(block_.startMac(), written, addressOf(written));
    if (!notKept.empty()) return run.fail(notKept);
    if (!reserved.startMac.empty())
        context_.note([&](RunRecord& record) { record.macBlock("", addressOf(written)); });

    const ConfigValue envPathAgain = config.read(keys::writeEnvPath);
    if (envPathAgain.missing) return run.fail("Can't read WRITE_MAC->path");
    const int verifyEnv = config.readDecimal(keys::writeEnvNumber);
    for (int i = 0; i < verifyEnv; ++i) {
        splitFields(config.readEntry(keys::writeEnvEntries, i).text, console);
        const std::string name = console.scratchItem(0);
        const std::string value = console.scratchItem(1);
        const std::optional<NamedLine> line = findNamedLine(text, name);
        if (!line || findOnLine(text, *line, value) < 0)
            return run.fail("Verify Fail : " + name + " != " + quoted(value));
        run.log("Verify OK : " + name + " = " + quoted(value));
    }
    if (serialWritten) {
        // The whole value: a serial that only begins the one read back is another unit's.
        if (valueOn(text, variable) != serial) return run.fail("Verify Fail : " + variable + " != " + quoted(serial));
        run.log("Verify OK : " + variable + " = " + quoted(serial));
    }
    // A shared block source records the block as this router's only now,
    // with everything on the router verified.
    const std::string notRecorded = blocks_.stageVerified();
    if (!notRecorded.empty()) return run.fail(notRecorded);
    run.log("---------------------");
    run.log("");
    return run.end(true);
}

}  // namespace vornix
