// vornix-showconfig: prints setup.ini as the station reads it, key by key,
// with the interpretation each procedure applies. For station engineers
// checking a new file before a line starts.
#include <cstdio>
#include <string>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#ifdef _WIN32
#include <windows.h>
#include "platform/win32/Win32Profile.h"
#else
#include "platform/posix/PosixProfile.h"
#endif

namespace {

std::string interpretation(const vornix::ConfigKey& key, const vornix::ConfigValue& value) {
    using vornix::Reading;
    if (value.missing) return "missing";
    switch (key.reading) {
    case Reading::Decimal: return "number " + std::to_string(vornix::parseDecimal(value.text));
    case Reading::Compared:
        if (&key == &vornix::keys::chip)
            return vornix::chipIs7200(value.text)    ? "chip 7200"
                   : vornix::chipIs7300A(value.text) ? "chip 7300A"
                                                     : "chip not accepted";
        return vornix::formatMtd3Enabled(value.text) ? "true" : "false";
    default: return "text";
    }
}

void showEntries(const vornix::StationConfig& config, const vornix::ConfigKey& count,
                 const vornix::NumberedKeys& list) {
    const int number = config.readDecimal(count);
    for (int i = 0; i < number; ++i) {
        const vornix::ConfigValue value = config.readEntry(list, i);
        std::printf("[%s] %d = \"%s\" (%s)\n", list.section, i, value.text.c_str(),
                    value.missing ? "missing" : "list");
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "setup.ini";
#ifdef _WIN32
    // The profile functions look relative names up in the Windows directory.
    char full[MAX_PATH];
    if (GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr)) path = full;
    vornix::platform::Win32Profile profile(path);
#else
    vornix::platform::PosixProfile profile(path);
#endif
    const vornix::StationConfig config(profile);
    for (const vornix::ConfigKey* key : vornix::keys::all) {
        const vornix::ConfigValue value = config.read(*key);
        std::printf("[%s] %s = \"%s\" (%s)\n", key->section, key->name, value.text.c_str(),
                    interpretation(*key, value).c_str());
    }
    showEntries(config, vornix::keys::writeMacNumber, vornix::keys::writeMacEntries);
    showEntries(config, vornix::keys::writeEnvNumber, vornix::keys::writeEnvEntries);
    return 0;
}
