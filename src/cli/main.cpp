// vornix-cli: the station run without the dialog. The stages are chosen with
// flags instead of check boxes; the run log goes to standard output.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "config/ConfigKeys.h"
#include "config/ConfigPath.h"
#include "config/StationConfig.h"
#ifdef _WIN32
#include "platform/win32/Win32Profile.h"
#else
#include "platform/posix/PosixProfile.h"
#endif

namespace {

constexpr char usage[] =
    "usage: vornix-cli [--mac] [--boot] [--firmware]\n"
    "  Prepares the router named in setup.ini (current directory).\n"
    "  --mac       write and verify the MAC addresses and environment\n"
    "  --boot      update the boot code\n"
    "  --firmware  update the firmware through the flashing tool\n"
    "  --help      show this text\n";

}  // namespace

int main(int argc, char** argv) {
    bool mac = false, boot = false, firmware = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mac")) mac = true;
        else if (!std::strcmp(argv[i], "--boot")) boot = true;
        else if (!std::strcmp(argv[i], "--firmware")) firmware = true;
        else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vornix-cli: unknown argument: %s\n%s", argv[i], usage);
            return 2;
        }
    }

    std::error_code error;
    const std::string directory = std::filesystem::current_path(error).string();
    if (error) {
        std::fprintf(stderr, "vornix-cli: cannot read the current directory: %s\n", error.message().c_str());
        return 1;
    }
#ifdef _WIN32
    const auto configPath = vornix::configPathFor(directory, '\\');
    vornix::platform::Win32Profile profile(configPath ? *configPath : std::string());
#else
    const auto configPath = vornix::configPathFor(directory, '/');
    vornix::platform::PosixProfile profile(configPath ? *configPath : std::string());
#endif
    if (!configPath) {
        std::fprintf(stderr,
                     "vornix-cli: the path of setup.ini in %s would exceed %zu characters; "
                     "start the station from a shorter directory\n",
                     directory.c_str(), vornix::maxConfigPathLength);
        return 1;
    }
    const vornix::StationConfig config(profile);
    const int telnetWait = config.readDecimal(vornix::keys::telnetWaitTime);
    std::fprintf(stderr, "vornix-cli: setup.ini: %s, telnet wait %d ms\n", configPath->c_str(), telnetWait);

    if (!mac && !boot && !firmware) {
        std::fputs("vornix-cli: no stage chosen (--mac, --boot, --firmware)\n", stderr);
        return 1;
    }
    std::fputs("vornix-cli: the station stages are not part of this build yet; nothing was done\n", stderr);
    return 1;
}
