#include "config/SerialRules.h"

#include <algorithm>
#include <regex>
#include <string_view>
#include <vector>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"

namespace vornix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAlphanumeric(char c) { return isDigit(c) || isLetter(c); }
// What may stand in `echo NAME SERIAL > path` on the router without quoting.
bool serialSafe(char c) { return isAlphanumeric(c) || c == '-' || c == '_' || c == '.' || c == '/'; }

bool equalsNoCase(std::string_view value, std::string_view word) {
    return value.size() == word.size() && startsWithNoCase(value, word);
}

std::string hexByte(unsigned char b) {
    static const char hex[] = "0123456789ABCDEF";
    return std::string("\\x") + hex[b >> 4] + hex[b & 15];
}

// Text as an operator line shows it: control and non-ASCII bytes as \xNN, so
// that a stray byte can neither mangle the log nor hide.
std::string shown(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += b >= 0x20 && b < 0x7F ? std::string(1, c) : hexByte(b);
    }
    return out;
}

// One refused character; a blank would be invisible between two blanks.
std::string shownCharacter(char c) { return c == ' ' ? hexByte(' ') : shown(std::string_view(&c, 1)); }

const char* checkName(SerialCheck check) { return check == SerialCheck::Mod10 ? "mod10" : "mod37-36"; }

// The characters the check counts in the body: digits for mod10, digits and
// letters for mod37-36.
bool counted(SerialCheck check, char c) { return check == SerialCheck::Mod10 ? isDigit(c) : isAlphanumeric(c); }

bool hasCounted(SerialCheck check, std::string_view body) {
    for (char c : body)
        if (counted(check, c)) return true;
    return false;
}

char expectedCheck(SerialCheck check, const std::string& body) {
    return check == SerialCheck::Mod10 ? mod10Check(body) : mod37_36Check(body);
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

enum class Field { Text, Year, YearTwo, Month, Day, Week, WeekYearWeek, Counter };

struct Piece {
    Field field;
    std::string text;  // Field::Text's characters
    int digits;        // the width it fills
};

constexpr int maxCounterDigits = 18;  // 10^18 - 1 still fits a long long

// Format split into fixed text and fields; false and why when it cannot make
// a serial that serialRefusal would let pass on its characters and length.
bool parseFormat(const std::string& format, SerialCheck check, std::vector<Piece>& pieces, std::string& problem) {
    static const struct {
        const char* name;
        Field field;
        int digits;
    } fields[] = {{"YYYY", Field::Year, 4}, {"YY", Field::YearTwo, 2}, {"MM", Field::Month, 2},
                  {"DD", Field::Day, 2}, {"WW", Field::Week, 2}, {"YYWW", Field::WeekYearWeek, 4}};
    pieces.clear();
    if (format.empty()) {
        problem = "it is empty";
        return false;
    }
    int counters = 0;
    std::size_t length = check == SerialCheck::None ? 0 : 1;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '{') {
            const std::size_t end = std::min(format.find('{', i), format.size());
            const std::string text = format.substr(i, end - i);
            for (char c : text) {
                if (!serialSafe(c)) {
                    problem = "it holds " + shownCharacter(c) + ", which a serial may not hold";
                    return false;
                }
            }
            pieces.push_back({Field::Text, text, static_cast<int>(text.size())});
            length += text.size();
            i = end;
            continue;
        }
        const std::size_t close = format.find('}', i);
        if (close == std::string::npos) {
            problem = "a { is not closed";
            return false;
        }
        const std::string name = format.substr(i + 1, close - i - 1);
        i = close + 1;
        Piece piece{Field::Text, "", 0};
        for (const auto& known : fields)
            if (name == known.name) piece = {known.field, "", known.digits};
        if (piece.field == Field::Text && name.rfind("N:", 0) == 0) {
            const std::string k = name.substr(2);
            bool digitsOnly = !k.empty() && k.size() <= 2;
            for (char c : k) digitsOnly = digitsOnly && isDigit(c);
            const int digits = digitsOnly ? std::stoi(k) : 0;
            if (digits < 1 || digits > maxCounterDigits) {
                problem = "{" + shown(name) + "} is not {N:1} to {N:18}";
                return false;
            }
            piece = {Field::Counter, "", digits};
            ++counters;
        }
        if (piece.field == Field::Text) {
            problem = "{" + shown(name) + "} is not a field ({YYYY}, {YY}, {MM}, {DD}, {WW}, {YYWW} or {N:k})";
            return false;
        }
        pieces.push_back(piece);
        length += static_cast<std::size_t>(piece.digits);
    }
    if (counters != 1) {
        problem = counters == 0 ? "it has no {N:k}" : "it has more than one {N:k}";
        return false;
    }
    if (length > maxSerialLength) {
        problem = "its serials would be " + std::to_string(length) + " characters long, longer than " +
                  std::to_string(maxSerialLength);
        return false;
    }
    return true;
}

// Days since 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's
// days_from_civil): whole days, free of time zones and the C library's range.
long long daysFromCivil(long long year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// ISO 8601: weeks begin on Monday, and a week belongs to the year that holds
// its Thursday.
void isoWeek(long long year, int month, int day, long long& weekYear, int& week) {
    const long long days = daysFromCivil(year, month, day);
    const long long weekday = ((days + 3) % 7 + 7) % 7 + 1;  // 1970-01-01 was a Thursday (4)
    const long long thursday = days - weekday + 4;
    weekYear = year;
    if (thursday < daysFromCivil(year, 1, 1)) weekYear = year - 1;
    else if (thursday >= daysFromCivil(year + 1, 1, 1)) weekYear = year + 1;
    week = static_cast<int>((thursday - daysFromCivil(weekYear, 1, 1)) / 7 + 1);
}

std::string padded(long long value, int digits) {
    const std::string text = std::to_string(value);
    const auto width = static_cast<std::size_t>(digits);
    return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

}  // namespace

bool readSerialRules(Profile& profile, SerialRules& rules, std::string& problem) {
    rules = SerialRules{};
    problem.clear();
    const StationConfig config(profile);
    const std::string source = config.read(keys::serialSource).text;
    if (source.empty()) return true;
    if (equalsNoCase(source, "scan")) rules.source = SerialSource::Scan;
    else if (equalsNoCase(source, "router")) rules.source = SerialSource::Router;
    else if (equalsNoCase(source, "assign")) rules.source = SerialSource::Assign;
    else {
        problem = "Can't read SERIAL->Source: " + shown(source) + " (scan, router or assign)";
        return false;
    }

    // The name goes into the router's shell command as it stands.
    rules.name = config.read(keys::serialName).text;
    bool nameSafe = !rules.name.empty();
    for (char c : rules.name) nameSafe = nameSafe && (isAlphanumeric(c) || c == '_');
    if (!nameSafe) {
        problem = "Can't read SERIAL->Name";
        return false;
    }

    rules.pattern = config.read(keys::serialPattern).text;
    if (!rules.pattern.empty()) {
        try {
            const std::regex compiled(rules.pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& error) {
            problem = std::string("Can't read SERIAL->Pattern: ") + error.what();
            return false;
        }
    }

    const std::string check = config.read(keys::serialCheck).text;
    if (check.empty() || equalsNoCase(check, "none")) rules.check = SerialCheck::None;
    else if (equalsNoCase(check, "mod10")) rules.check = SerialCheck::Mod10;
    else if (equalsNoCase(check, "mod37-36")) rules.check = SerialCheck::Mod37_36;
    else {
        problem = "Can't read SERIAL->Check: " + shown(check) + " (none, mod10 or mod37-36)";
        return false;
    }

    if (rules.source != SerialSource::Assign) return true;
    rules.format = config.read(keys::serialFormat).text;
    std::vector<Piece> pieces;
    std::string why;
    if (!parseFormat(rules.format, rules.check, pieces, why)) {
        problem = "Can't read SERIAL->Format: " + why;
        return false;
    }
    return true;
}

bool readNextSerial(Profile& profile, long long& counter, std::string& problem) {
    const std::string text = StationConfig(profile).read(keys::nextSerial).text;
    bool digitsOnly = !text.empty() && text.size() <= static_cast<std::size_t>(maxCounterDigits);
    for (char c : text) digitsOnly = digitsOnly && isDigit(c);
    if (!digitsOnly) {
        problem = "Can't read SERIAL->next_serial: " + (text.empty() ? std::string("it is empty")
                                                                     : shown(text) + " (digits only, at most 18)");
        return false;
    }
    counter = std::stoll(text);
    return true;
}

std::string scannedSerial(std::string typed) {
    while (!typed.empty() && (typed.back() == '\r' || typed.back() == '\n' || typed.back() == '\t')) typed.pop_back();
    return typed;
}

std::string serialRefusal(const SerialRules& rules, const std::string& serial) {
    if (serial.empty()) return "Serial refused: it is empty";
    if (serial.size() > maxSerialLength)
        return "Serial refused: it is longer than " + std::to_string(maxSerialLength) + " characters";
    const std::string head = "Serial " + shown(serial) + " refused: ";
    for (char c : serial)
        if (!serialSafe(c)) return head + "it holds " + shownCharacter(c) + ", which a serial may not hold";
    if (!rules.pattern.empty()) {
        bool matches = false;
        try {
            matches = std::regex_match(serial, std::regex(rules.pattern, std::regex::ECMAScript));
        } catch (const std::regex_error&) {
            // A pattern that cannot be matched lets nothing through.
        }
        if (!matches) return head + "it does not match Pattern=" + shown(rules.pattern);
    }
    if (rules.check != SerialCheck::None) {
        const std::string body = serial.substr(0, serial.size() - 1);
        if (!hasCounted(rules.check, body))
            return head + "it has no " + (rules.check == SerialCheck::Mod10 ? "digit" : "letter or digit") +
                   " before its check character (" + checkName(rules.check) + ")";
        if (!checkCharacterValid(rules.check, serial))
            return head + "its check character is wrong (" + checkName(rules.check) + " gives " +
                   expectedCheck(rules.check, body) + ")";
    }
    return "";
}

char mod10Check(const std::string& body) {
    // Luhn: from the right, every other digit doubled, starting with the one
    // next to the check digit.
    int sum = 0;
    bool doubled = true;
    for (auto it = body.rbegin(); it != body.rend(); ++it) {
        if (!isDigit(*it)) continue;
        int digit = *it - '0';
        if (doubled) digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
        sum += digit;
        doubled = !doubled;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char mod37_36Check(const std::string& body) {
    // ISO/IEC 7064 hybrid system, M = 36: P starts at M; for each character's
    // value a, S = (P + a) mod M (M when 0) and P = 2S mod (M + 1). The check
    // value c makes (P + c) mod M = 1.
    constexpr int m = 36;
    int p = m;
    for (char c : body) {
        if (!isAlphanumeric(c)) continue;
        const int a = isDigit(c) ? c - '0' : upper(c) - 'A' + 10;
        int s = (p + a) % m;
        if (s == 0) s = m;
        p = 2 * s % (m + 1);
    }
    const int value = (m + 1 - p) % m;
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

bool checkCharacterValid(SerialCheck check, const std::string& serial) {
    if (check == SerialCheck::None) return true;
    if (serial.empty()) return false;
    const std::string body = serial.substr(0, serial.size() - 1);
    const char last = serial.back();
    if (!counted(check, last) || !hasCounted(check, body)) return false;
    return upper(last) == expectedCheck(check, body);
}

bool formatSerial(const SerialRules& rules, long long counter, const std::tm& date, std::string& serial,
                  std::string& problem) {
    std::vector<Piece> pieces;
    std::string why;
    if (!parseFormat(rules.format, rules.check, pieces, why)) {
        problem = "Format=" + shown(rules.format) + ": " + why;
        return false;
    }
    const long long year = date.tm_year + 1900LL;
    const int month = date.tm_mon + 1;
    const int day = date.tm_mday;
    if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) {
        problem = "the date " + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day) +
                  " is not a date of the years 0 to 9999";
        return false;
    }
    long long weekYear = 0;
    int week = 0;
    isoWeek(year, month, day, weekYear, week);

    std::string made;
    for (const Piece& piece : pieces) {
        switch (piece.field) {
            case Field::Text: made += piece.text; break;
            case Field::Year: made += padded(year, 4); break;
            case Field::YearTwo: made += padded(year % 100, 2); break;
            case Field::Month: made += padded(month, 2); break;
            case Field::Day: made += padded(day, 2); break;
            case Field::Week: made += padded(week, 2); break;
            case Field::WeekYearWeek: made += padded((weekYear % 100 + 100) % 100, 2) + padded(week, 2); break;
            case Field::Counter: {
                long long limit = 1;
                for (int i = 0; i < piece.digits; ++i) limit *= 10;
                if (counter < 0 || counter >= limit) {
                    problem = "the counter " + std::to_string(counter) + " does not fit {N:" +
                              std::to_string(piece.digits) + "}";
                    return false;
                }
                made += padded(counter, piece.digits);
                break;
            }
        }
    }
    if (rules.check != SerialCheck::None) made += expectedCheck(rules.check, made);
    serial = made;
    return true;
}

}  // namespace vornix
