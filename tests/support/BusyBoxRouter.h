#pragma once

// Debian's BusyBox as the router (tests/support/busybox-router): its telnetd,
// login and ash on ADDRESS:23, up for the object's lifetime, in a root of its
// own under the temporary directory. The router's files are read from here.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/BashScript.h"
#include "support/TempDir.h"

namespace vornix::test {

struct BusyBoxRouterOptions {
    std::string user = "admin";
    std::string password = "admin";
    // Bytes a second that cp gets into /dev/mtdblock0; 0: a plain file.
    long copyRate = 0;
};

class BusyBoxRouter {
public:
    using Options = BusyBoxRouterOptions;

    explicit BusyBoxRouter(const std::string& address, const Options& options = Options())
        : address_(address),
          directory_((std::filesystem::temp_directory_path() / ("vornix-busybox-router-" + address)).string()) {
        // One directory per address: a router left by a crashed run goes first.
        script("stop " + quoted(directory_));
        std::string arguments = "start " + quoted(directory_) + " " + address + " --user " + quoted(options.user) +
                                " --password " + quoted(options.password);
        if (options.copyRate > 0) arguments += " --copy-rate " + std::to_string(options.copyRate);
        std::string output;
        const int status = script(arguments, &output);
        ready_ = status == 0;
        if (status == 77) skipReason_ = output;
        else if (status != 0)
            failure_ = "busybox-router " + arguments + " exited " + std::to_string(status) + ": " + output;
    }
    ~BusyBoxRouter() {
        script("stop " + quoted(directory_));
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    BusyBoxRouter(const BusyBoxRouter&) = delete;
    BusyBoxRouter& operator=(const BusyBoxRouter&) = delete;

    bool ready() const { return ready_; }
    // Why this machine cannot run the router (not root, no busybox-static).
    const std::string& skipReason() const { return skipReason_; }
    // Why it did not start otherwise.
    const std::string& failure() const { return failure_; }
    const std::string& address() const { return address_; }

    // A file of the router's /proc/ticfg, as cat shows it there.
    std::string ticfg(const std::string& name) const { return readAll(directory_ + "/root/proc/ticfg/" + name); }
    // What has reached the flash behind /dev/mtdblock0.
    std::string flash() const { return readAll(directory_ + "/root/var/flash/mtdblock0"); }
    // Whether the router's file at path (absolute in the router) is there.
    bool has(const std::string& path) const { return std::filesystem::exists(directory_ + "/root" + path); }

private:
    static std::string quoted(const std::string& text) { return shellQuoted(text); }
    int script(const std::string& arguments, std::string* output = nullptr) const {
        return runBashScript(VORNIX_BUSYBOX_ROUTER, arguments, directory_ + ".log", output);
    }

    std::string address_, directory_;
    bool ready_ = false;
    std::string skipReason_, failure_;
};

}  // namespace vornix::test
