#include "config/StationConfig.h"

#include <climits>

namespace vornix {

ConfigValue StationConfig::read(const ConfigKey& key) const { return read(key, key.bufferSize); }

ConfigValue StationConfig::read(const ConfigKey& key, std::size_t bufferSize) const {
    ConfigValue value;
    value.text = profile_.read(key.section, key.name, key.defaultValue, bufferSize);
    value.missing = key.nullTested && isMissing(value.text);
    return value;
}

ConfigValue StationConfig::readEntry(const NumberedKeys& list, int index) const {
    ConfigValue value;
    value.text = profile_.read(list.section, entryKeyName(index).c_str(), list.defaultValue, list.bufferSize);
    value.missing = isMissing(value.text);
    return value;
}

int StationConfig::readDecimal(const ConfigKey& key) const {
    return parseDecimal(profile_.read(key.section, key.name, key.defaultValue, key.bufferSize));
}

bool StationConfig::write(const ConfigKey& key, const std::string& value) const {
    return profile_.write(key.section, key.name, value);
}

bool startsWithNoCase(std::string_view value, std::string_view prefix) {
    if (value.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = value[i], b = prefix[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

bool isMissing(std::string_view value) { return startsWithNoCase(value, "NULL"); }

int parseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) break;  // clamps below
    }
    if (negative) return magnitude > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

bool chipIs7200(std::string_view chip) { return startsWithNoCase(chip, "7200"); }
bool promptPacing(std::string_view value) { return value.size() == 6 && startsWithNoCase(value, "prompt"); }
bool chipIs7300A(std::string_view chip) { return startsWithNoCase(chip, "7300A"); }
bool chipAccepted(std::string_view chip) { return chipIs7200(chip) || chipIs7300A(chip); }
bool formatMtd3Enabled(std::string_view value) { return startsWithNoCase(value, "TRUE"); }

std::string entryKeyName(int index) { return std::to_string(index); }

}  // namespace vornix
