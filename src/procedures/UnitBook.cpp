#include "procedures/UnitBook.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "config/StationConfig.h"
#include "procedures/MacBlock.h"

namespace vornix {

namespace {

bool sameRange(const std::string& a, const std::string& b) {
    return a.size() >= 8 && b.size() >= 8 && startsWithNoCase(a, b.substr(0, 8));
}

}  // namespace

std::vector<UnitBlock> parseUnits(const std::string& text) {
    std::vector<UnitBlock> units;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // torn: no line end yet
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t firstAt = line.find(' ');
        const std::size_t countAt = firstAt == std::string::npos ? firstAt : line.find(' ', firstAt + 1);
        const std::size_t runAt = countAt == std::string::npos ? countAt : line.find(' ', countAt + 1);
        if (runAt == std::string::npos || runAt + 1 >= line.size()) continue;
        UnitBlock unit;
        unit.serial = line.substr(0, firstAt);
        unit.first = line.substr(firstAt + 1, countAt - firstAt - 1);
        const std::string count = line.substr(countAt + 1, runAt - countAt - 1);
        unit.runId = line.substr(runAt + 1);
        if (unit.serial.empty() || !isMacText(unit.first) || count.empty() || count.size() > 8 ||
            count.find_first_not_of("0123456789") != std::string::npos)
            continue;
        unit.count = std::atoi(count.c_str());
        if (unit.count < 1) continue;
        units.push_back(std::move(unit));
    }
    return units;
}

std::string unitLine(const UnitBlock& unit) {
    return unit.serial + " " + unit.first + " " + std::to_string(unit.count) + " " + unit.runId;
}

const UnitBlock* unitNamed(const std::vector<UnitBlock>& units, const std::string& serial) {
    const auto found =
        std::find_if(units.begin(), units.end(), [&](const UnitBlock& unit) { return unit.serial == serial; });
    return found == units.end() ? nullptr : &*found;
}

const UnitBlock* unitHolding(const std::vector<UnitBlock>& units, const std::string& mac) {
    if (!isMacText(mac)) return nullptr;
    const long long at = MacBlock::readCounter(mac);
    for (const UnitBlock& unit : units) {
        const long long first = MacBlock::readCounter(unit.first);
        if (sameRange(unit.first, mac) && at >= first && at < first + unit.count) return &unit;
    }
    return nullptr;
}

std::vector<std::string> addressesIn(const std::string& text) {
    std::vector<std::string> found;
    constexpr std::size_t length = 17;
    for (std::size_t i = 0; i + length <= text.size(); ++i) {
        // Not the tail of a longer run of hex digits and colons.
        if (i > 0 && (std::isxdigit(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == ':')) continue;
        const std::string candidate = text.substr(i, length);
        if (!isMacText(candidate)) continue;
        const std::size_t after = i + length;
        if (after < text.size() && (std::isxdigit(static_cast<unsigned char>(text[after])) || text[after] == ':'))
            continue;
        std::string upper = candidate;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (std::find(found.begin(), found.end(), upper) == found.end()) found.push_back(upper);
        i = after - 1;
    }
    return found;
}

}  // namespace vornix
