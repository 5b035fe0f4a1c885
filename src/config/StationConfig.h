#pragma once

#include <string>
#include <string_view>

#include "config/ConfigKeys.h"
#include "config/Profile.h"

namespace vornix {

// A value as a procedure sees it: the text (cut to its buffer, or the
// default) and whether the "NULL" rule calls it missing.
struct ConfigValue {
    std::string text;
    bool missing = false;
};

// Reads setup.ini through the profile port, key by key, at the moment a
// procedure needs a value. Nothing is cached.
class StationConfig {
public:
    explicit StationConfig(Profile& profile) : profile_(profile) {}

    ConfigValue read(const ConfigKey& key) const;
    // The key read into a buffer of another size than its own.
    ConfigValue read(const ConfigKey& key, std::size_t bufferSize) const;
    // Entry index (0, 1, ...) of a numbered list; always "NULL"-tested, the
    // caller decides whether that matters.
    ConfigValue readEntry(const NumberedKeys& list, int index) const;
    // The key read and converted by the atoi rules, with no "NULL" test.
    int readDecimal(const ConfigKey& key) const;

    bool write(const ConfigKey& key, const std::string& value) const;

private:
    Profile& profile_;
};

// "NULL" in any case as the first four characters.
bool isMissing(std::string_view value);

// The C runtime's atoi: leading white space, one sign, digits up to the first
// other character, 0 without digits. Out of range clamps to INT_MIN/INT_MAX,
// as the Windows runtime does.
int parseDecimal(std::string_view text);

// Case-insensitive comparison of the first prefix.size() characters.
bool startsWithNoCase(std::string_view value, std::string_view prefix);

bool chipIs7200(std::string_view chip);
bool chipIs7300A(std::string_view chip);
bool chipAccepted(std::string_view chip);
// format_mtd3 selects formatting when it begins with "TRUE".
bool formatMtd3Enabled(std::string_view value);
// Pacing is "prompt" (any case); anything else is the fixed pacing.
bool promptPacing(std::string_view value);

// Name of numbered entry index: decimal, no leading zeros or sign.
std::string entryKeyName(int index);

}  // namespace vornix
