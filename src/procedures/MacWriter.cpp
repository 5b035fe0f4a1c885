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
    const MacBlockSource::Reserved reserved = blocks_.reserve(std::max(macEntries, 0));
    if (!reserved.ok) return run.fail(reserved.failureLine);
    block_.setStartMac(reserved.startMac);
    context_.note([&](RunRecord& record) {
        record.macBlock(reserved.startMac, "", std::max(macEntries, 0));
        if (reserved.taken) record.blockTaken();
        if (!reserved.reusedBlockOf.empty()) record.blockReused(reserved.reusedBlockOf);
    });
    if (!reserved.notice.empty()) run.log(reserved.notice);
    if (!unit_.serial.empty()) {
        // What the router holds before a byte goes: a board that carries
        // another unit's addresses was swapped. A name that no file has
        // ends the answer (cat says it cannot open it).
        static const std::string end = "vornix-end-of-answer";
        const std::string command = "cat " + macPath.text + " " + end;
        // The capture drops what came of the command's echo before it was
        // cleared; the rest of the echo, if any, is the answer's first line.
        auto answer = [command](const std::string& text) {
            const std::size_t lineEnd = text.find('\n');
            if (lineEnd == std::string::npos) return std::string();
            std::string first = text.substr(0, lineEnd);
            if (!first.empty() && first.back() == '\r') first.pop_back();
            const bool echo = first.size() <= command.size() &&
                              command.compare(command.size() - first.size(), first.size(), first) == 0;
            return echo ? text.substr(lineEnd + 1) : text;
        };
        const std::optional<std::string> held =
            run.answerTo(command + "\r\n", std::max(context_.telnetWait, 1000) * 4,
                         [&](const std::string& text) { return answer(text).find(end) != std::string::npos; });
        if (!held) return 0;
        const std::string holds = answer(*held);
        if (holds.find(end) == std::string::npos) return run.fail("Can't read the MAC addresses this router holds");
        const std::string swapped = blocks_.routerHolds(addressesIn(holds));
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
    if (!unit_.serial.empty()) {
        if (!beginWriting()) return 0;
        if (!run.sendCommand("echo " + unit_.variable + " " + unit_.serial + " > " + envPath.text + "\r\n")) return 0;
        run.log("Writing " + unit_.variable + " " + unit_.serial);
        context_.note([&](RunRecord& record) { record.environmentWritten(unit_.variable, unit_.serial); });
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
    if (!unit_.serial.empty()) {
        // The whole value: a serial that only begins the one read back is another unit's.
        const std::optional<NamedLine> line = findNamedLine(text, unit_.variable);
        std::string found = line ? text.substr(line->name + unit_.variable.size(), line->end - line->name - unit_.variable.size()) : "";
        found.erase(0, found.find_first_not_of(" \t"));
        found.erase(found.find_last_not_of(" \t\r") + 1);
        if (found != unit_.serial) return run.fail("Verify Fail : " + unit_.variable + " != " + quoted(unit_.serial));
        run.log("Verify OK : " + unit_.variable + " = " + quoted(unit_.serial));
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
