#include "procedures/BootUpdater.h"

#include <algorithm>

#include "config/ConfigKeys.h"
#include "link/FtpSize.h"
#include "link/ReachabilityProbe.h"
#include "procedures/Listing.h"
#include "procedures/StageRun.h"

namespace vornix {

std::optional<std::string> BootUpdater::foundVersion(const std::string& text, const std::string& name,
                                                     std::size_t length) {
    const std::optional<NamedLine> line = findNamedLine(text, name);
    if (!line) return std::nullopt;
    std::size_t position = line->name + name.size();
    for (int skipped = 0; skipped < 30 && position < line->end && text[position] == ' '; ++skipped) ++position;
    return text.substr(position, std::min(length, line->end - position));
}

BootUpdater::SizeOnRouter BootUpdater::sizeOnRouter(const std::string& answer, const std::string& path) {
    const std::string complaint = "wc: " + path + ": ";
    std::size_t start = 0;
    for (std::size_t end = answer.find_first_of("\r\n"); end != std::string::npos;
         start = end + 1, end = answer.find_first_of("\r\n", start)) {
        const std::size_t first = answer.find_first_not_of(" \t", start);
        if (first >= end) continue;
        const std::string line = answer.substr(first, answer.find_last_not_of(" \t", end - 1) + 1 - first);
        if (line == complaint + "No such file or directory") return {SizeOnRouter::known, 0};
        if (line.compare(0, complaint.size(), complaint) == 0 ||
            (line.size() >= 13 && line.compare(line.size() - 13, 13, "wc: not found") == 0))
            return {SizeOnRouter::unreadable, 0};
        // 19 digits always fit; an image is far smaller.
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits == 0 || digits == std::string::npos || digits > 19) continue;
        const std::size_t name = line.find_first_not_of(" \t", digits);
        if (name == digits || line.compare(name, std::string::npos, path) != 0) continue;
        return {SizeOnRouter::known, std::stoull(line.substr(0, digits))};
    }
    return {};
}

int BootUpdater::waitForRouter(const std::string& address, int waitMs) {
    ReachabilityProbe probe(echo_, context_.pause);
    if (!probe.pingUntil(address, waitMs)) {
        for (int k = 0; k < 10; ++k) {
            if (probe.pingUntil(address, 1000)) break;
            context_.console.appendLog("Try to ping the router, " + std::to_string(k) + " times");
        }
    }
    return probe.pingUntil(address, 500);
}

int BootUpdater::run() {
    StageRun run(context_, Stage::BootUpdate);
    const StationConfig& config = run.config();

    run.log("");
    run.log("-----Boot Update-----");
    run.log("process login procedure .....");
    const ConfigValue address = config.read(keys::cpeLanIp);
    if (address.missing) return run.fail("Can't read CPE_LAN_IP");
    const ConfigValue pcIp = config.read(keys::pcIp);
    if (pcIp.missing) return run.fail("Can't read PC_IP");
    if (!run.openRouter(address.text, "Can't telnet router!", "Can't login router!")) return 0;
    run.log("Login router.");

    const ConfigValue directory = config.read(keys::tempDirectory);
    if (directory.missing) return run.fail("Can't read TempDirectory");
    if (!run.sendCommand("cd " + directory.text + "\r\n", true)) return 0;
    run.afterCommand(50);

    const ConfigValue user = config.read(keys::pcFtpId);
    if (user.missing) return run.fail("Can't read PC_FTP_ID");
    const ConfigValue password = config.read(keys::pcFtpPwd);
    if (password.missing) return run.fail("Can't read PC_FTP_PWD");
    const ConfigValue image = config.read(keys::bootCode);
    if (image.missing) return run.fail("Can't read BOOTCODE");
    if (!run.sendCommand("wget ftp://" + user.text + ":" + password.text + "@" + pcIp.text + "/" + image.text + "\r\n",
                         true))
        return 0;
    run.afterCommand(1000);

    const ConfigValue partition = config.read(keys::bootPartition);
    if (partition.missing) return run.fail("Can't read BOOT_PARTITION");

    // A download cut short leaves part of the image, and a part copied onto
    // the boot partition leaves a router that no longer boots.
    std::string why;
    const std::optional<std::uint64_t> served =
        FtpSize(serverSizeLimitMs).of(pcIp.text, 21, {user.text, password.text}, image.text, why);
    if (!served)
        return run.fail("Can't get the size of " + image.text + " from the FTP server " + pcIp.text + ": " + why);
    const std::string fetched = directory.text + "/" + image.text;
    const std::optional<std::string> counted =
        run.answerTo("wc -c " + fetched + "\r\n", downloadLimitMs, [&](const std::string& text) {
            return sizeOnRouter(text, fetched).state != SizeOnRouter::pending;
        });
    if (!counted) return 0;
    const SizeOnRouter arrived = sizeOnRouter(*counted, fetched);
    if (arrived.state != SizeOnRouter::known) return run.fail("Can't read the size of " + fetched + " on the router");
    context_.note([&](RunRecord& record) { record.bootImage(*served, arrived.bytes); });
    if (arrived.bytes != *served) {
        // BusyBox's wget never writes over a file that is there: the part
        // goes, or every later try of this router would find it again.
        if (run.sendCommand("rm -f " + fetched + "\r\n")) run.afterCommand(context_.telnetWait);
        return run.fail("Boot image incomplete: " + std::to_string(arrived.bytes) + " of " + std::to_string(*served) +
                        " bytes arrived, not copied");
    }

    if (!run.sendCommand("cp " + fetched + " " + partition.text + "\r\n", true)) return 0;
    const ConfigValue copyTime = config.read(keys::time2BootCopy);
    if (copyTime.missing) return run.fail("Can't read TIME2BOOTCOPY");
    // A reboot during the copy leaves half a boot loader: paced by the
    // prompt, the reboot waits for the copy's own prompt however long it takes.
    if (!run.untilPromptBack(copyLimitMs, parseDecimal(copyTime.text)))
        return run.fail("The copy to " + partition.text + " did not end within " + std::to_string(copyLimitMs / 1000) +
                        " s: the router was not rebooted");

    run.log("rebooting .....");
    run.sendCommand("reboot\r\n");
    // The router's telnet service ends whatever still runs in the session
    // when the connection closes: the router closes it when it reboots.
    run.untilRouterCloses(rebootCloseLimitMs);
    run.closeRouter();

    const ConfigValue bootTime = config.read(keys::time2WaitBoot);
    if (bootTime.missing) return run.fail("Can't read TIME2WAITBOOT(ms)!");
    const int waitMs = parseDecimal(bootTime.text);
    run.log("Waiting for " + std::to_string(waitMs) + " ms");
    run.log("");
    if (!waitForRouter(address.text, waitMs)) return run.fail("reboot fail! Please check!");

    run.log("Verifying Boot Code Version .....");
    if (!run.openRouter(address.text, "Can't telnet router!", "Can't login router!")) return 0;
    const ConfigValue envPath = config.read(keys::envPath);
    if (envPath.missing) return run.fail("Can't read ENV_PATH");
    const std::optional<std::string> answer = run.readBack("cat " + envPath.text + "\r\n", 100, 2000);
    if (!answer) return 0;
    const std::string& text = *answer;

    const ConfigValue version = config.read(keys::bootVersion);
    if (version.missing) return run.fail("Can't read BOOTVERSION!");
    const ConfigValue name = config.read(keys::bootCodeName);
    if (name.missing) return run.fail("Can't read BOOTCODENAME!");
    const std::optional<std::string> found = foundVersion(text, name.text, version.text.size());
    if (!found) return run.fail("Can't verify the boot code version!");
    context_.note([&](RunRecord& record) { record.bootVersions(version.text, *found); });
    const bool changed = *found == version.text;
    if (!changed) run.noteFailure(name.text + " = " + *found + " != " + version.text);
    run.log(changed ? "Boot Loader changed to " + version.text : name.text + " = " + *found + " != " + version.text);
    return run.end(changed, {"---------------------", ""});
}

}  // namespace vornix
