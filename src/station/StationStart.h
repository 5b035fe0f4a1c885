#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/ConfigKeys.h"
#include "config/ConfigPath.h"
#include "config/Profile.h"
#include "config/StationConfig.h"

namespace vornix {

// What start-up fixes for the whole program: where setup.ini is and the
// telnet wait. Written once, before any worker exists.
struct StationSettings {
    std::string directory;  // the station directory: the current one at start-up
    std::string configPath;
    int telnetWait = 500;
};

// Why a station cannot start where it was started.
enum class StartRefusal { NoCurrentDirectory, PathTooLong };

// The start-up rules shared by the dialog and the headless front end:
// ConfigPath is the current directory, the separator and "setup.ini";
// TelnetWait is TELNETWAITTIME(ms) by the atoi rules, 500 when absent.
// nullopt (and why) when there is no current directory or the path does not
// fit in ConfigPath: the station refuses rather than read some other file.
// makeProfile(path) builds the platform's profile for a path.
inline std::optional<StationSettings> fixStationSettings(
    const std::optional<std::string>& currentDirectory, char separator,
    const std::function<std::unique_ptr<Profile>(const std::string&)>& makeProfile, StartRefusal* why = nullptr) {
    if (!currentDirectory) {
        if (why) *why = StartRefusal::NoCurrentDirectory;
        return std::nullopt;
    }
    const std::optional<std::string> path = configPathFor(*currentDirectory, separator);
    if (!path) {
        if (why) *why = StartRefusal::PathTooLong;
        return std::nullopt;
    }
    StationSettings settings;
    settings.directory = *currentDirectory;
    settings.configPath = *path;
    settings.telnetWait = StationConfig(*makeProfile(*path)).readDecimal(keys::telnetWaitTime);
    return settings;
}

}  // namespace vornix
