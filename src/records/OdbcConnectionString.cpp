#include "records/Odbc.h"

// Reading connection strings (their passwords, for masking) and adding the
// station's own driver settings to them.
#include <algorithm>
#include <cctype>

namespace vornix::odbc {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isPasswordKey(std::string_view key) { return equalsNoCase(key, "pwd") || equalsNoCase(key, "password"); }

// End of a value that starts at `at`: a braced value runs to its closing
// brace ("}}" stands for one brace inside), any other to the next ";".
std::size_t valueEnd(std::string_view s, std::size_t at, std::string_view stops) {
    if (at < s.size() && s[at] == '{') {
        for (std::size_t i = at + 1; i < s.size(); ++i) {
            if (s[i] != '}') continue;
            if (i + 1 < s.size() && s[i + 1] == '}') {
                ++i;
                continue;
            }
            return i + 1;
        }
        return s.size();
    }
    const std::size_t end = s.find_first_of(stops, at);
    return end == std::string_view::npos ? s.size() : end;
}

// Calls visit(key, raw value) for each KEY=VALUE of a connection string, the
// key trimmed, a braced value with its braces.
template <typename Visit>
void forEachAttribute(std::string_view connectionString, Visit visit) {
    std::size_t i = 0;
    while (i < connectionString.size()) {
        const std::size_t equals = connectionString.find_first_of("=;", i);
        if (equals == std::string_view::npos) break;
        if (connectionString[equals] == ';') {
            i = equals + 1;
            continue;
        }
        const std::string_view key = trim(connectionString.substr(i, equals - i));
        std::size_t start = equals + 1;
        while (start < connectionString.size() && isBlank(connectionString[start])) ++start;
        const std::size_t end = valueEnd(connectionString, start, ";");
        visit(key, connectionString.substr(start, end - start));
        i = end < connectionString.size() ? end + 1 : end;
    }
}

}  // namespace

// The password values of a connection string, as the driver receives them.
std::vector<std::string> passwordsOf(std::string_view connectionString) {
    std::vector<std::string> passwords;
    forEachAttribute(connectionString, [&](std::string_view key, std::string_view raw) {
        if (isPasswordKey(key)) {
            std::string value;
            if (!raw.empty() && raw.front() == '{') {
                std::string_view inside = raw.substr(1);
                if (!inside.empty() && inside.back() == '}') inside.remove_suffix(1);
                for (std::size_t k = 0; k < inside.size(); ++k) {
                    value.push_back(inside[k]);
                    if (inside[k] == '}' && k + 1 < inside.size() && inside[k + 1] == '}') ++k;
                }
            } else {
                value = std::string(trim(raw));
            }
            if (!value.empty()) passwords.push_back(value);
            // The raw form too: a message may quote the string as written.
            if (!raw.empty() && std::string(raw) != value) passwords.emplace_back(raw);
        }
    });
    // Longest first, so a password inside another one is not half masked.
    std::sort(passwords.begin(), passwords.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return passwords;
}


std::string maskPasswords(std::string_view text, std::string_view connectionString) {
    // The known values first, whole, wherever they stand.
    std::string known(text);
    for (const std::string& password : passwordsOf(connectionString)) {
        for (std::size_t at = known.find(password); at != std::string::npos; at = known.find(password, at + 3))
            known.replace(at, password.size(), "***");
    }
    // Then any PWD= or Password= value, up to its ";", the end of its line or
    // a quote around it; a value already masked stays as it is.
    std::string out;
    out.reserve(known.size());
    std::size_t i = 0;
    while (i < known.size()) {
        std::size_t keyLength = 0;
        for (std::string_view key : {std::string_view("password"), std::string_view("pwd")}) {
            if (known.size() - i >= key.size() && equalsNoCase(std::string_view(known).substr(i, key.size()), key)) {
                keyLength = key.size();
                break;
            }
        }
        std::size_t at = i + keyLength;
        while (keyLength && at < known.size() && isBlank(known[at])) ++at;
        if (keyLength && at < known.size() && known[at] == '=') {
            ++at;
            while (at < known.size() && isBlank(known[at])) ++at;
            out.append(known, i, at - i);
            out.append("***");
            i = known.compare(at, 3, "***") == 0 ? at + 3 : valueEnd(known, at, ";\r\n\"");
            continue;
        }
        out.push_back(known[i]);
        ++i;
    }
    return out;
}

namespace {

bool setsKey(std::string_view connectionString, std::string_view key, std::string_view shortKey) {
    bool found = false;
    forEachAttribute(connectionString, [&](std::string_view k, std::string_view) {
        found = found || equalsNoCase(k, key) || (!shortKey.empty() && equalsNoCase(k, shortKey));
    });
    return found;
}

}  // namespace

std::string withStationSettings(std::string_view connectionString, int timeoutSeconds) {
    const int seconds = std::max(timeoutSeconds, 1);
    // psqlODBC's keywords, each with the short form it also reads.
    const struct {
        std::string_view key, shortKey;
        std::string value;
    } settings[] = {
        // Debian registers the driver with CommLog=1; a data source may ask
        // for it too. The log lands in /tmp and carries the password.
        {"CommLog", "B3", "0"},
        {"Debug", "B2", "0"},
        // Keepalives find a server gone from the network while the
        // connection idles between routers, within about the deadline.
        {"KeepaliveTime", "D1", std::to_string(std::max(seconds / 2, 1))},
        {"KeepaliveInterval", "D2", std::to_string(std::max(seconds / 5, 1))},
        // Straight to libpq: the probes before giving up, and how long sent
        // data may stay unacknowledged (a statement in flight to a server gone
        // from the network). Windows' libpq ignores both.
        {"pqopt", "", "{keepalives_count=3 tcp_user_timeout=" + std::to_string(seconds * 1000) + "}"},
    };
    std::string out(connectionString);
    for (const auto& setting : settings) {
        if (setsKey(connectionString, setting.key, setting.shortKey)) continue;
        const auto last = std::find_if_not(out.rbegin(), out.rend(), isBlank);
        if (last != out.rend() && *last != ';') {
            out.erase(static_cast<std::size_t>(out.rend() - last));
            out.push_back(';');
        }
        out.append(setting.key).append("=").append(setting.value).append(";");
    }
    return out;
}

bool hasOwnConnectTimeout(std::string_view connectionString) {
    bool found = false;
    forEachAttribute(connectionString, [&](std::string_view key, std::string_view raw) {
        found = found || (equalsNoCase(key, "pqopt") && raw.find("connect_timeout") != std::string_view::npos);
    });
    return found;
}

}  // namespace vornix::odbc
