#pragma once

#include <optional>
#include <string>

#include "config/ConfigKeys.h"
#include "config/ConfigPath.h"
#include "config/StationConfig.h"

namespace vornix {

// What start-up fixes for the whole program: where setup.ini is and the
// telnet wait. Written once, before any worker exists.
struct StationSettings {
    std::string configPath;
    int telnetWait = 500;
};

// The start-up rules shared by the dialog and the headless front end:
// ConfigPath is the current directory, the separator and "setup.ini";
// TelnetWait is TELNETWAITTIME(ms) by the atoi rules, 500 when absent.
// nullopt when there is no current directory or the path does not fit in
// ConfigPath: the station refuses rather than read some other file.
// makeProfile(path) builds the platform's profile for a path.
template <typename MakeProfile>
std::optional<StationSettings> fixStationSettings(const std::optional<std::string>& currentDirectory,
                                                  char separator, MakeProfile makeProfile) {
    if (!currentDirectory) return std::nullopt;
    const std::optional<std::string> path = configPathFor(*currentDirectory, separator);
    if (!path) return std::nullopt;
    auto profile = makeProfile(*path);
    StationSettings settings;
    settings.configPath = *path;
    settings.telnetWait = StationConfig(profile).readDecimal(keys::telnetWaitTime);
    return settings;
}

}  // namespace vornix
