#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace vornix {

// A moment as UTC calendar text, computed here rather than by the C
// library, whose thread-safe gmtime is spelt differently on every system.
struct UtcTime {
    int year, month, day, hour, minute, second, millisecond;

    explicit UtcTime(std::chrono::system_clock::time_point time) {
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
        long long seconds = ms / 1000;
        millisecond = static_cast<int>(ms % 1000);
        if (millisecond < 0) {
            millisecond += 1000;
            --seconds;
        }
        long long days = seconds / 86400;
        long long rest = seconds % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        hour = static_cast<int>(rest / 3600);
        minute = static_cast<int>(rest % 3600 / 60);
        second = static_cast<int>(rest % 60);
        // Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
        days += 719468;
        const long long era = (days >= 0 ? days : days - 146096) / 146097;
        const long long dayOfEra = days - era * 146097;
        const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const long long monthIndex = (5 * dayOfYear + 2) / 153;
        day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
        month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
        year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    }

    // pattern gets year, month, day, hour, minute, second, millisecond in that order.
    std::string format(const char* pattern) const {
        char text[64];
        std::snprintf(text, sizeof text, pattern, year, month, day, hour, minute, second, millisecond);
        return text;
    }
};

}  // namespace vornix
