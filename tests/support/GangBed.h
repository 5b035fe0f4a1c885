#pragma once

// A gang station's bed (tests/support/gang-bed) for the object's lifetime:
// the station's network namespace with ports veth1..vethN on one subnet,
// router K (Debian's BusyBox) at 192.168.1.1 behind port K, and the station's
// FTP server on every port's address. vornix-cli runs inside the station's
// namespace, in a station directory of the test's own.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/BashScript.h"
#include "support/CliRun.h"
#include "support/TempDir.h"

namespace vornix::test {

struct GangBedOptions {
    GangBedOptions() = default;
    explicit GangBedOptions(int portCount) : ports(portCount) {}
    int ports = 4;
    std::map<int, long> copyRate;         // port: bytes a second of its router's cp to the boot partition
    std::set<int> noRouter;               // ports whose cable leads to nothing at 192.168.1.1
    std::map<int, std::string> password;  // port: its router's password other than admin
    std::map<int, int> bridge;            // port K: the lower port J whose router K's cable leads to too
};

// vornix-cli started without waiting: its pid, and where its output goes.
struct StartedCli {
    pid_t pid = 0;
    std::string out, err;

    // Waits for it; its status (-1 when killed by a signal) and output.
    CliResult finish() const {
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(out), readAll(err)};
    }
};

// A gang station's setup.ini for the bed: port K on vethK with the PC address
// 192.168.1.(100+K), the routers' account admin/admin, the FTP account
// station/station, the image u-boot.bin of version 1.2.3, the sample's MAC
// entries (ethaddr and lan_mac on a block's first address, wan_mac on the
// next) and one environment value.
struct GangStation {
    int ports = 4;
    std::string pacing = "prompt";
    // 0: by pacing. A run passes only if each router answers within the
    // wait, so the wait leaves room for a loaded machine; prompt pacing's
    // waits end at the prompt and cost nothing while the routers answer.
    int telnetWaitMs = 0, bootCopyMs = 300, waitBootMs = 300;
    std::string startMac = "00:11:22:00:00:0A";
    std::string line;  // the [LINE] section's keys; empty: setup.ini's start_mac
    // [WRITE_MAC]'s entries: ethaddr and lan_mac on a block's first address, wan_mac on the next.
    std::string macEntries = "number=2\r\n0=ethaddr,lan_mac\r\n1=wan_mac\r\n";
    std::string envEntries = "number=1\r\n0=ProductID,VX100\r\n";  // [WRITE_ENV]'s

    std::string setupIni() const;
};

class GangBed {
public:
    using Options = GangBedOptions;
    static constexpr const char* routerAddress = "192.168.1.1";

    // name: 1-40 letters, digits, - or _; the namespaces are NAME-st and NAME-rK.
    GangBed(const std::string& name, const Options& options = Options())
        : name_(name), ports_(options.ports), directory_("/tmp/vornix-gang-" + name) {
        std::string arguments = "up " + name + " " + std::to_string(options.ports);
        for (const auto& [port, rate] : options.copyRate)
            arguments += " --copy-rate " + std::to_string(port) + ":" + std::to_string(rate);
        for (int port : options.noRouter) arguments += " --no-router " + std::to_string(port);
        for (const auto& [port, password] : options.password)
            arguments += " --password " + shellQuoted(std::to_string(port) + ":" + password);
        for (const auto& [port, other] : options.bridge)
            arguments += " --bridge " + std::to_string(port) + ":" + std::to_string(other);
        std::string output;
        const int status = script(arguments, &output);
        ready_ = status == 0;
        if (status == 77) skipReason_ = output;
        else if (status != 0) failure_ = "gang-bed " + arguments + " exited " + std::to_string(status) + ": " + output;
    }
    ~GangBed() { script("down " + name_); }
    GangBed(const GangBed&) = delete;
    GangBed& operator=(const GangBed&) = delete;

    bool ready() const { return ready_; }
    // Why this machine cannot build the bed (not root, a program missing).
    const std::string& skipReason() const { return skipReason_; }
    // Why it was not built otherwise.
    const std::string& failure() const { return failure_; }

    int ports() const { return ports_; }
    std::string stationNamespace() const { return name_ + "-st"; }
    static std::string interface(int port) { return "veth" + std::to_string(port); }
    // The station's address on port K, where router K fetches its boot image.
    static std::string pcAddress(int port) { return "192.168.1." + std::to_string(100 + port); }
    // The FTP server's directory (account station, password station).
    std::string ftpDirectory() const { return directory_ + "/ftp"; }

    // A file of router K's /proc/ticfg, as cat shows it there.
    std::string ticfg(int port, const std::string& file) const {
        return readAll(routerRoot(port) + "/proc/ticfg/" + file);
    }
    // What has reached router K's flash behind /dev/mtdblock0.
    std::string flash(int port) const { return readAll(flashPath(port)); }
    std::string flashPath(int port) const { return routerRoot(port) + "/var/flash/mtdblock0"; }
    // Router K's store set to text (its lines "NAME VALUE"), as though new.
    void setTicfg(int port, const std::string& file, const std::string& text) const {
        for (const char* store : {"/var/ticfg/", "/proc/ticfg/"})
            std::ofstream(routerRoot(port) + store + file, std::ios::binary | std::ios::trunc) << text;
    }

    // A shell command in the station's namespace (ip link set veth2 down); its exit status.
    int inStation(const std::string& command) const {
        const int raw = std::system(("ip netns exec " + stationNamespace() + " sh -c " + shellQuoted(command)).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    // vornix-cli ARGUMENTS in the station's namespace with directory current.
    CliResult runCli(const std::string& directory, const std::vector<std::string>& arguments) const {
        return startCli(directory, arguments).finish();
    }
    // The same, not waited for: the pid is vornix-cli's own (ip and env
    // exec it). environment: NAME=VALUE settings for it; output: the
    // descriptor its standard output goes to, instead of a file.
    StartedCli startCli(const std::string& directory, const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environment = {}, int output = -1) const {
        static int counter = 0;
        StartedCli started;
        const std::string base = directory + "-" + std::to_string(++counter);
        started.out = base + "-out.txt";
        started.err = base + "-err.txt";
        std::vector<std::string> argv = {"ip", "netns", "exec", stationNamespace(), "env"};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.push_back(VORNIX_CLI_PATH);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        started.pid = ::fork();
        if (started.pid != 0) return started;
        const int out = output >= 0 ? output : ::open(started.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(started.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || ::chdir(directory.c_str()) != 0) ::_exit(99);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execvp("ip", pointers.data());
        ::_exit(98);
    }

    // The gang's child for port K: the process whose command line names
    // --gang-port K, started by the gang or running in its station's
    // directory; 0 when none.
    static pid_t portChild(pid_t gang, const std::string& station, int port) {
        const std::string wanted = std::string("--gang-port") + '\0' + std::to_string(port) + '\0';
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
            const std::string pid = entry.path().filename().string();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            if (readAll("/proc/" + pid + "/cmdline").find(wanted) == std::string::npos) continue;
            std::error_code error;
            if (parentOf(pid) == gang || std::filesystem::read_symlink(entry.path() / "cwd", error).string() == station)
                return std::stoi(pid);
        }
        return 0;
    }

private:
    // From its stat line, "pid (name) state ppid ...": the name may hold blanks.
    static pid_t parentOf(const std::string& pid) {
        const std::string stat = readAll("/proc/" + pid + "/stat");
        const std::size_t close = stat.rfind(')');
        long parent = 0;
        if (close != std::string::npos) std::sscanf(stat.c_str() + close + 1, " %*c %ld", &parent);
        return static_cast<pid_t>(parent);
    }

    std::string routerRoot(int port) const { return directory_ + "/r" + std::to_string(port) + "/root"; }

    int script(const std::string& arguments, std::string* output = nullptr) const {
        return runBashScript(VORNIX_GANG_BED, arguments, directory_ + ".log", output);
    }

    std::string name_;
    int ports_;
    std::string directory_;
    bool ready_ = false;
    std::string skipReason_, failure_;
};

inline std::string GangStation::setupIni() const {
    const int wait = telnetWaitMs > 0 ? telnetWaitMs : pacing == "prompt" ? 1000 : 300;
    std::string ini = "[Environment]\r\nTELNETWAITTIME(ms)=" + std::to_string(wait) +
                      "\r\nTempDirectory=/var/tmp\r\nPacing=" + pacing +
                      "\r\n\r\n[SETUP]\r\nCPE_LAN_IP=192.168.1.1\r\nTelnet Username=admin\r\nTelnet Password=admin\r\n"
                      "PC_IP=NULL\r\nPC_FTP_ID=station\r\nPC_FTP_PWD=station\r\nBOOTCODE=u-boot.bin\r\n"
                      "BOOT_PARTITION=/dev/mtdblock0\r\nTIME2BOOTCOPY(ms)=" + std::to_string(bootCopyMs) +
                      "\r\nTIME2WAITBOOT(ms)=" + std::to_string(waitBootMs) +
                      "\r\nENV_PATH=/proc/ticfg/env\r\nBOOTCODENAME=BUILD_VERSION\r\nBOOTVERSION=1.2.3\r\nCHIP=7200\r\n"
                      "\r\n[WRITE_MAC]\r\npath=/proc/ticfg/env\r\nstart_mac=" + (line.empty() ? startMac : "NULL") +
                      "\r\n" + macEntries + "\r\n[WRITE_ENV]\r\npath=/proc/ticfg/env\r\n" + envEntries +
                      "\r\n[GANG]\r\nPorts=" + std::to_string(ports) + "\r\n";
    for (int k = 1; k <= ports; ++k)
        ini += "Port" + std::to_string(k) + "=" + GangBed::interface(k) + "\r\nPort" + std::to_string(k) +
               "_PC_IP=" + GangBed::pcAddress(k) + "\r\n";
    if (!line.empty()) ini += "\r\n[LINE]\r\n" + line;
    return ini;
}

}  // namespace vornix::test
