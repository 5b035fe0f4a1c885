// routersim: a simulated router on a loopback (or any local) address, run by
// hand next to the station. Runs until SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/stat.h>

#include "RouterSim.h"

namespace {

const char* const usage =
    "Usage: routersim [options]\n"
    "A simulated router: telnet login, a small shell, the /proc/ticfg variable\n"
    "stores, wget over FTP, boot loader update by cp to /dev/... and reboot.\n"
    "A boot image names its version with the text BOOTVERSION=<version>.\n"
    "\n"
    "  --address ADDR          IPv4 address to listen on (127.0.0.1)\n"
    "  --port N                telnet port (23; 0 = any free port)\n"
    "  --user NAME             login name expected (admin)\n"
    "  --password TEXT         password expected (admin)\n"
    "  --latency MS            delay before each answer, not the echo (200)\n"
    "  --prompt TEXT           the shell's prompt (\"# \"); {cwd} stands for the\n"
    "                          current directory; an empty text shows none\n"
    "  --cli                   log in to a CLI; its command 'shell' opens the shell\n"
    "  --no-password-prompt    read the password without prompting for it\n"
    "  --lowercase-prompt      prompt \"password:\" instead of \"Password:\"\n"
    "  --no-bootloader-version the environment listing lacks bootloaderVersion\n"
    "  --nul-bytes             a NUL byte after every line end of the output\n"
    "  --telnet-options        send telnet option requests at connect and in output\n"
    "  --trickle MS            send output one byte at a time, MS apart\n"
    "  --close-after-lines N   close a connection once N lines arrived\n"
    "  --flood BYTES           send BYTES of junk after a good password\n"
    "  --refuse                refuse every connection\n"
    "  --reboot-ms MS          telnet refused this long after reboot (3000)\n"
    "  --ftp-address ADDR      wget connects here instead of the URL's host\n"
    "  --ftp-port N            FTP port for wget (21)\n"
    "  --wget-cut BYTES        wget keeps only BYTES of a file and fails as a\n"
    "                          download cut short does\n"
    "  --bootloader-name NAME  label of the boot loader version (BUILD_VERSION)\n"
    "  --bootloader-version V  boot loader version at start (0.9.0)\n"
    "  --dump-dir DIR          at exit, write every file under DIR/files/ and\n"
    "                          the bytes of connection N to DIR/received-N.bin\n"
    "  --help                  this text\n";

bool toInt(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && out >= low && out <= high;
}

bool makeDirs(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash))) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void dump(const routersim::RouterSim& router, const std::string& dir) {
    int failures = 0;
    for (const auto& path : router.files())
        if (!writeFile(dir + "/files" + path, router.file(path))) ++failures;
    const auto received = router.received();
    for (std::size_t i = 0; i < received.size(); ++i)
        if (!writeFile(dir + "/received-" + std::to_string(i + 1) + ".bin", received[i])) ++failures;
    std::cerr << "routersim: dumped " << router.files().size() << " files and " << received.size()
              << " connections into " << dir << (failures ? " (some could not be written)" : "") << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    routersim::Options options;
    std::string dumpDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        auto needs = [&](long low, long high) {
            if (!value || !toInt(value, low, high, number)) {
                std::cerr << "routersim: " << arg << " needs a number from " << low << " to " << high << "\n";
                std::exit(2);
            }
            ++i;
            return static_cast<int>(number);
        };
        auto text = [&] {
            if (!value) {
                std::cerr << "routersim: " << arg << " needs a value\n";
                std::exit(2);
            }
            ++i;
            return std::string(value);
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        } else if (arg == "--address") {
            options.address = text();
        } else if (arg == "--port") {
            options.port = needs(0, 65535);
        } else if (arg == "--user") {
            options.user = text();
        } else if (arg == "--password") {
            options.password = text();
        } else if (arg == "--latency") {
            options.latencyMs = needs(0, 600000);
        } else if (arg == "--prompt") {
            options.prompt = text();
        } else if (arg == "--cli") {
            options.cliMode = true;
        } else if (arg == "--no-password-prompt") {
            options.passwordPrompt = false;
        } else if (arg == "--lowercase-prompt") {
            options.lowercasePrompt = true;
        } else if (arg == "--no-bootloader-version") {
            options.bootloaderVersion = false;
        } else if (arg == "--nul-bytes") {
            options.nulBytes = true;
        } else if (arg == "--telnet-options") {
            options.telnetOptions = true;
        } else if (arg == "--trickle") {
            options.trickleMs = needs(0, 60000);
        } else if (arg == "--close-after-lines") {
            options.closeAfterLines = needs(0, 1000000);
        } else if (arg == "--flood") {
            options.floodBytes = static_cast<std::size_t>(needs(0, 256 << 20));
        } else if (arg == "--refuse") {
            options.refuse = true;
        } else if (arg == "--reboot-ms") {
            options.rebootMs = needs(0, 3600000);
        } else if (arg == "--ftp-address") {
            options.ftpAddress = text();
        } else if (arg == "--ftp-port") {
            options.ftpPort = needs(1, 65535);
        } else if (arg == "--wget-cut") {
            options.wgetCutBytes = needs(0, 256 << 20);
        } else if (arg == "--bootloader-name") {
            options.bootloaderName = text();
        } else if (arg == "--bootloader-version") {
            options.bootloaderVersionText = text();
        } else if (arg == "--dump-dir") {
            dumpDir = text();
        } else {
            std::cerr << "routersim: unknown option " << arg << " (see --help)\n";
            return 2;
        }
    }

    std::mutex logMutex;
    options.log = [&logMutex](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        std::cerr << "routersim: " << line << "\n";
    };

    // Signals are taken by sigwait below; every thread the router starts
    // inherits the blocked mask, so none of them is interrupted.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    routersim::RouterSim router(options);
    std::string error;
    if (!router.start(&error)) {
        std::cerr << "routersim: " << error << "\n";
        return 1;
    }
    int signal = 0;
    sigwait(&signals, &signal);
    std::cerr << "routersim: " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ", stopping\n";
    router.stop();
    if (!dumpDir.empty()) dump(router, dumpDir);
    return 0;
}
