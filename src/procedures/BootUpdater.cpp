#include "procedures/BootUpdater.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/ReachabilityProbe.h"
#include "link/ResponseCapture.h"
#include "link/RouterLogin.h"

namespace vornix {

void BootUpdater::log(const std::string& line) { context_.console.appendLog(line.substr(0, maxLineLength)); }

int BootUpdater::fail(const std::string& line) {
    log(line);
    if (channelOpen_) channel_.close();
    channelOpen_ = false;
    context_.console.enableStart(true);
    context_.flags.bootBusy = 0;
    return 0;
}

int BootUpdater::finish(bool succeeded) {
    context_.console.enableStart(true);
    log("---------------------");
    log("");
    if (succeeded) context_.flags.bootSucceeded = 1;
    context_.flags.bootBusy = 0;
    return succeeded ? 1 : 0;
}

// A logged command goes to the log as it is sent, "\r\n" and all. A command
// that does not fit its buffer is not sent at all.
bool BootUpdater::sendCommand(const std::string& command, bool logged) {
    if (command.size() > maxLineLength) return false;
    if (logged) log(command);
    channel_.send(command);
    return true;
}

std::optional<std::string> BootUpdater::foundVersion(const std::string& text, const std::string& name,
                                                     std::size_t length) {
    const std::size_t at = text.find(name);
    if (at == std::string::npos) return std::nullopt;
    std::size_t position = at + name.size();
    for (int skipped = 0; skipped < 30 && position < text.size() && text[position] == ' '; ++skipped) ++position;
    return text.substr(std::min(position, text.size()), length);
}

int BootUpdater::waitForRouter(const std::string& address, int waitMs) {
    ReachabilityProbe probe(echo_, context_.pause);
    if (!probe.pingUntil(address, waitMs)) {
        for (int k = 0; k < 10; ++k) {
            if (probe.pingUntil(address, 1000)) break;
            log("Try to ping the router, " + std::to_string(k) + " times");
        }
    }
    return probe.pingUntil(address, 500);
}

int BootUpdater::run() {
    context_.flags.bootBusy = 1;
    context_.flags.bootSucceeded = 0;
    const StationConfig config(context_.profile);
    RouterLogin login(context_.profile, context_.telnetWait, context_.pause);
    const std::string tooLong = "Command too long for the router (over 1023 characters)";

    log("");
    log("-----Boot Update-----");
    log("process login procedure .....");
    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) return fail("Can't read CPE_LAN_IP");
    const ConfigValue pcIp = config.read(keys::pcIp);
    if (pcIp.missing) return fail("Can't read PC_IP");
    channelOpen_ = true;  // a failed connect still holds a socket: close() releases it
    if (!channel_.connect(address.text, 23)) return fail("Can't telnet router!");
    if (!login.login(channel_)) return fail("Can't login router!");
    log("Login router.");

    const ConfigValue directory = config.read(keys::tempDirectory);
    if (directory.missing) return fail("Can't read TempDirectory");
    if (!sendCommand("cd " + directory.text + "\r\n", true)) return fail(tooLong);
    context_.pause.sleepMs(50);

    const ConfigValue user = config.read(keys::pcFtpId);
    if (user.missing) return fail("Can't read PC_FTP_ID");
    const ConfigValue password = config.read(keys::pcFtpPwd);
    if (password.missing) return fail("Can't read PC_FTP_PWD");
    const ConfigValue image = config.read(keys::bootCode);
    if (image.missing) return fail("Can't read BOOTCODE");
    if (!sendCommand("wget ftp://" + user.text + ":" + password.text + "@" + pcIp.text + "/" + image.text + "\r\n", true))
        return fail(tooLong);
    context_.pause.sleepMs(1000);

    const ConfigValue partition = config.read(keys::bootPartition);
    if (partition.missing) return fail("Can't read BOOT_PARTITION");
    if (!sendCommand("cp " + directory.text + "/" + image.text + " " + partition.text + "\r\n", true)) return fail(tooLong);
    const ConfigValue copyTime = config.read(keys::time2BootCopy);
    if (copyTime.missing) return fail("Can't read TIME2BOOTCOPY");
    context_.pause.sleepMs(parseDecimal(copyTime.text));

    log("rebooting .....");
    channel_.send("reboot\r\n");
    context_.pause.sleepMs(context_.telnetWait);
    channel_.close();
    channelOpen_ = false;

    const ConfigValue bootTime = config.read(keys::time2WaitBoot);
    if (bootTime.missing) return fail("Can't read TIME2WAITBOOT(ms)!");
    const int waitMs = parseDecimal(bootTime.text);
    log("Waiting for " + std::to_string(waitMs) + " ms");
    log("");
    if (!waitForRouter(address.text, waitMs)) return fail("reboot fail! Please check!");

    log("Verifying Boot Code Version .....");
    channelOpen_ = true;
    if (!channel_.connect(address.text, 23)) return fail("Can't telnet router!");
    if (!login.login(channel_)) return fail("Can't login router!");
    const ConfigValue envPath = config.read(keys::envPath);
    if (envPath.missing) return fail("Can't read ENV_PATH");
    if (!sendCommand("cat " + envPath.text + "\r\n", false)) return fail(tooLong);
    context_.pause.sleepMs(100);
    ResponseCapture::instance().clear();
    collectFor(channel_, 2000);
    context_.pause.sleepMs(2000);
    channel_.close();
    channelOpen_ = false;
    // Searched as it stood when the connection closed.
    const std::string text = ResponseCapture::instance().text();

    const ConfigValue version = config.read(keys::bootVersion);
    if (version.missing) return fail("Can't read BOOTVERSION!");
    const ConfigValue name = config.read(keys::bootCodeName);
    if (name.missing) return fail("Can't read BOOTCODENAME!");
    const std::optional<std::string> found = foundVersion(text, name.text, version.text.size());
    if (!found) return fail("Can't verify the boot code version!");
    if (*found == version.text) {
        log("Boot Loader changed to " + version.text);
        return finish(true);
    }
    log(name.text + " = " + *found + " != " + version.text);
    return finish(false);
}

}  // namespace vornix
