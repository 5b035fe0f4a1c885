#include "procedures/MacWriter.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/ResponseCapture.h"
#include "link/RouterLogin.h"

namespace vornix {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

void MacWriter::log(const std::string& line) {
    // A line is shown as far as its 1024-byte buffer reaches.
    context_.console.appendLog(line.substr(0, maxLineLength));
}

int MacWriter::fail(const std::string& line) {
    log(line);
    if (channelOpen_) channel_.close();
    channelOpen_ = false;
    context_.console.enableStart(true);
    context_.flags.macBusy = 0;
    return 0;
}

int MacWriter::succeed() {
    log("---------------------");
    log("");
    context_.console.enableStart(true);
    context_.flags.macSucceeded = 1;
    context_.flags.macBusy = 0;
    return 1;
}

bool MacWriter::sendCommand(const std::string& command) {
    if (command.size() > maxLineLength) return false;
    channel_.send(command);
    return true;
}

int MacWriter::run() {
    context_.flags.macBusy = 1;
    context_.flags.macSucceeded = 0;
    const StationConfig config(context_.profile);
    ResponseCapture& capture = ResponseCapture::instance();
    RouterLogin login(context_.profile, context_.telnetWait, context_.pause);

    log("process login procedure .....");
    log("");
    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) return fail("Can't load SETUP->CPE_LAN_IP from " + context_.configPath);
    channelOpen_ = true;  // a failed connect still holds a socket: close() releases it
    if (!channel_.connect(address.text, 23)) return fail("Can't connect " + address.text);
    if (!login.login(channel_)) return fail("Can't login the router");

    log("-----writing ENV-----");
    const ConfigValue macPath = config.read(keys::writeMacPath);
    if (macPath.missing) return fail("Can't read WRITE_MAC->path");
    const int macEntries = config.readDecimal(keys::writeMacNumber);
    const ConfigValue startMac = config.read(keys::startMac);
    // Anything but a whole address would write some other block to the
    // router; a longer value is not one either, though its buffer cuts it to
    // an address's length.
    if (startMac.missing || !isMacText(startMac.text) || config.read(keys::startMac, 64).text != startMac.text)
        return fail("Can't read start_mac!");
    block_.setStartMac(startMac.text);
    const int counter = MacBlock::readCounter(block_.startMac());

    int written = 0;
    for (int i = 0; i < macEntries; ++i) {
        const ConfigValue entry = config.readEntry(keys::writeMacEntries, i);
        if (entry.missing) return fail("Can't read WRITE_MAC->" + std::to_string(i));
        splitFields(entry.text, context_.console);
        for (int k = 0; k < context_.console.scratchCount(); ++k) {
            const std::string name = context_.console.scratchItem(k);
            const std::string mac = block_.formatMac(static_cast<long long>(counter) + i);
            if (!sendCommand("echo " + name + " " + mac + " > " + macPath.text + "\r\n"))
                return fail("Command too long for the router (over 1023 characters): echo " + name.substr(0, 40) + " ...");
            log("Writing " + name + " = " + quoted(mac));
            context_.pause.sleepMs(context_.telnetWait);
        }
        ++written;
    }

    const ConfigValue envPath = config.read(keys::writeEnvPath);
    if (envPath.missing) return fail("Can't read WRITE_MAC->path");
    const int envEntries = config.readDecimal(keys::writeEnvNumber);
    for (int i = 0; i < envEntries; ++i) {
        const ConfigValue entry = config.readEntry(keys::writeEnvEntries, i);
        if (entry.missing) return fail("Can't read WRITE_ENV->" + std::to_string(i));
        splitFields(entry.text, context_.console);
        const std::string name = context_.console.scratchItem(0);
        const std::string value = context_.console.scratchItem(1);  // empty for an entry without a comma
        if (!sendCommand("echo " + name + " " + value + " > " + envPath.text + "\r\n"))
            return fail("Command too long for the router (over 1023 characters): echo " + name.substr(0, 40) + " ...");
        log("Writing " + name + " " + value);
        context_.pause.sleepMs(context_.telnetWait);
    }

    log("---------------------");
    log("Verifying ..... ");
    log("");
    channel_.close();
    if (!channel_.connect(address.text, 23)) return fail("Can't connect " + address.text);
    if (!login.login(channel_)) return fail("Can't login the router");
    const ConfigValue readBackPath = config.read(keys::writeMacPath);
    if (readBackPath.missing) return fail("Can't read WRITE_MAC->path");
    if (!sendCommand("cat " + readBackPath.text + "\r\n"))
        return fail("Command too long for the router (over 1023 characters): cat ...");
    context_.pause.sleepMs(50);
    capture.clear();
    collectFor(channel_, 3000);
    context_.pause.sleepMs(2000);
    channel_.close();
    channelOpen_ = false;
    // The capture as it stood when the connection closed: a collector that
    // was just finishing cannot change it under the searches.
    const std::string text = capture.text();
    auto find = [&](const std::string& what, std::size_t from) -> long {
        if (from > text.size()) return -1;
        const std::size_t at = text.find(what, from);
        return at == std::string::npos ? -1 : static_cast<long>(at);
    };

    const int verifyEntries = config.readDecimal(keys::writeMacNumber);
    const std::string prefix = block_.startMac().substr(0, 8);
    for (int i = 0; i < verifyEntries; ++i) {
        splitFields(config.readEntry(keys::writeMacEntries, i).text, context_.console);
        for (int k = 0; k < context_.console.scratchCount(); ++k) {
            const std::string name = context_.console.scratchItem(k);
            const std::string expected = block_.formatMac(static_cast<long long>(counter) + i);
            const long at = find(name, 0);
            if (at < 0) return fail("Verify Fail : " + name + " != " + quoted(expected) + " (1)");
            const long prefixAt = find(prefix, static_cast<std::size_t>(at));
            if (prefixAt < 0) return fail("Verify Fail : " + prefix + " != " + quoted(expected) + " (2)");
            const std::string found = text.substr(static_cast<std::size_t>(prefixAt), expected.size());
            if (found.size() != expected.size() || !startsWithNoCase(found, expected))
                return fail("Verify Fail : " + name + " = " + quoted(found));
            log("Verify OK : " + name + " = " + quoted(found));
        }
    }

    // The next router's block. A write that does not reach the disk must stop
    // the line: the next router would get these addresses again.
    const std::string next = block_.formatMac(static_cast<long long>(counter) + written);
    // Read back as the next run will read it: anything else hands out a block twice.
    if (!config.write(keys::startMac, next) || config.read(keys::startMac).text != next)
        return fail("Can't write start_mac to " + context_.configPath);

    const ConfigValue envPathAgain = config.read(keys::writeEnvPath);
    if (envPathAgain.missing) return fail("Can't read WRITE_MAC->path");
    const int verifyEnv = config.readDecimal(keys::writeEnvNumber);
    for (int i = 0; i < verifyEnv; ++i) {
        splitFields(config.readEntry(keys::writeEnvEntries, i).text, context_.console);
        const std::string name = context_.console.scratchItem(0);
        const std::string value = context_.console.scratchItem(1);
        const long at = find(name, 0);
        if (at < 0 || find(value, static_cast<std::size_t>(at)) < 0)
            return fail("Verify Fail : " + name + " != " + quoted(value));
        log("Verify OK : " + name + " = " + quoted(value));
    }
    return succeed();
}

}  // namespace vornix
