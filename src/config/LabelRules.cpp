#include "config/LabelRules.h"

#include <cstdlib>

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"

namespace vornix {

namespace {

// Text as an operator line shows it: control and non-ASCII bytes as \xNN.
std::string shown(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) out += c;
        else out += std::string("\\x") + hex[b >> 4] + hex[b & 15];
    }
    return out;
}

bool printable(const std::string& text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) return false;
    }
    return true;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// One piece of field data in a template: the ^FD (or ^FV) that opens it and
// its text, which runs to the next ^ or ~.
struct Data {
    std::size_t command, begin, end;
    bool hasField;
};

// Where the template's field data is; false and why (with line and column)
// when it cannot be filled.
bool scan(const std::string& text, std::vector<Data>& data, std::string& problem) {
    std::size_t line = 1, lineStart = 0;
    auto at = [&](std::size_t i, const std::string& what) {
        problem = "line " + std::to_string(line) + ", column " + std::to_string(i - lineStart + 1) + ": " + what;
        return false;
    };
    bool ownEscape = false;  // a ^FH of the template's in the current field
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            lineStart = ++i;
            continue;
        }
        if (c == '{') return at(i, "a field stands outside field data (^FD ... ^FS)");
        if ((c != '^' && c != '~') || i + 1 >= text.size()) {
            ++i;
            continue;
        }
        const std::string command{upper(text[i + 1]), i + 2 < text.size() ? upper(text[i + 2]) : '\0'};
        // The command, control and delimiter characters stay ^ ~ and , so
        // that what the station escapes is all that could start a command.
        if (command == "CC" || command == "CT" || command == "CD")
            return at(i, std::string(1, c) + command + " changes a command character, which a label may not");
        if (command == "FH") ownEscape = true;
        if (command == "FS") ownEscape = false;
        const bool fieldData = c == '^' && (command == "FD" || command == "FV");
        const bool comment = c == '^' && command == "FX";
        if (!fieldData && !comment) {
            ++i;
            continue;
        }
        Data piece{i, i + 3, i + 3, false};
        std::size_t j = piece.begin;
        for (; j < text.size() && text[j] != '^' && text[j] != '~'; ++j) {
            if (text[j] == '\n') {
                ++line;
                lineStart = j + 1;
                continue;
            }
            if (text[j] != '{' || comment) continue;
            const std::size_t close = text.find('}', j);
            const std::size_t stop = text.find_first_of("^~\n", j);
            if (close == std::string::npos || (stop != std::string::npos && stop < close))
                return at(j, "a { is not closed");
            const std::string name = text.substr(j + 1, close - j - 1);
            bool known = name == "SERIAL" || name == "MAC" || name == "MACPLAIN" || name == "PORT" ||
                         name == "STATION" || name == "RUN" || name == "DATE" ||
                         (name.size() == 4 && name.compare(0, 3, "MAC") == 0 && name[3] >= '0' && name[3] <= '9') ||
                         (name.size() > 4 && name.compare(0, 4, "ENV:") == 0);
            if (!known) return at(j, "{" + shown(name) + "} is not a field");
            if (ownEscape) return at(piece.command, "^FH before field data that holds a field (the station writes its own)");
            piece.hasField = true;
            j = close;
        }
        piece.end = j;
        if (fieldData) data.push_back(piece);
        i = j;
    }
    return true;
}

std::string macPlain(const std::string& mac) {
    std::string plain;
    for (char c : mac)
        if (c != ':') plain += c;
    return plain;
}

std::string valueOf(const std::string& name, const LabelValues& values) {
    auto mac = [&](std::size_t k) { return k < values.macs.size() ? values.macs[k] : std::string(); };
    if (name == "SERIAL") return values.serial;
    if (name == "MAC") return mac(0);
    if (name == "MACPLAIN") return macPlain(mac(0));
    if (name == "PORT") return values.port;
    if (name == "STATION") return values.station;
    if (name == "RUN") return values.run;
    if (name == "DATE") return values.date;
    if (name.compare(0, 4, "ENV:") == 0) {
        for (const auto& [variable, value] : values.environment)
            if (variable == name.substr(4)) return value;
        return std::string();
    }
    return mac(static_cast<std::size_t>(name[3] - '0'));
}

}  // namespace

bool parseLabelPrinter(const std::string& text, LabelPrinter& printer, std::string& why) {
    printer = LabelPrinter{};
    printer.text = text;
    const std::size_t colon = text.find(':');
    const std::string kind = colon == std::string::npos ? std::string() : text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    if (!printable(text)) {
        why = "it holds a control character";
        return false;
    }
    if (kind == "tcp") {
        printer.kind = LabelPrinterKind::Tcp;
        const std::size_t portColon = rest.rfind(':');
        printer.host = rest.substr(0, portColon);
        if (portColon != std::string::npos) {
            const std::string port = rest.substr(portColon + 1);
            bool digits = !port.empty() && port.size() <= 5;
            for (char c : port) digits = digits && c >= '0' && c <= '9';
            printer.port = digits ? std::atoi(port.c_str()) : 0;
            if (printer.port < 1 || printer.port > 65535) {
                why = "the port " + port + " is not 1 to 65535";
                return false;
            }
        }
        if (printer.host.empty() || printer.host.find_first_of(" /") != std::string::npos) {
            why = "it names no host";
            return false;
        }
        return true;
    }
    if (kind == "lp" || kind == "win" || kind == "dir") {
        printer.kind = kind == "lp" ? LabelPrinterKind::Lp : kind == "win" ? LabelPrinterKind::Windows
                                                                            : LabelPrinterKind::Directory;
        printer.name = rest;
        if (rest.empty()) {
            why = kind == "dir" ? "it names no directory" : "it names no printer";
            return false;
        }
        // lp's queue is an argument of its own; one starting with - would be an option.
        if (kind == "lp" && (rest[0] == '-' || rest.find_first_of(" \t/") != std::string::npos)) {
            why = "the queue " + rest + " is not a queue's name";
            return false;
        }
        return true;
    }
    why = "tcp:HOST[:PORT], lp:QUEUE, win:NAME or dir:PATH";
    return false;
}

bool readLabelRules(Profile& profile, LabelRules& rules, std::string& problem) {
    rules = LabelRules{};
    problem.clear();
    const StationConfig config(profile);
    const std::string templatePath = config.read(keys::labelTemplate).text;
    const std::string printer = config.read(keys::labelPrinter).text;
    if (templatePath.empty() && printer.empty()) return true;
    if (templatePath.empty()) {
        problem = "Can't read LABEL->Template: it is empty";
        return false;
    }
    std::string why;
    if (!parseLabelPrinter(printer, rules.printer, why)) {
        problem = "Can't read LABEL->Printer: " + (printer.empty() ? std::string("it is empty") : shown(printer) + " (" + why + ")");
        return false;
    }
    rules.on = true;
    rules.templatePath = templatePath;
    return true;
}

bool checkLabelTemplate(const std::string& text, std::string& problem) {
    std::vector<Data> data;
    return scan(text, data, problem);
}

std::string zplEscaped(const std::string& value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '^' || c == '~' || c == '_') out += std::string("_") + hex[b >> 4] + hex[b & 15];
        else out += c;
    }
    return out;
}

std::string fillLabel(const std::string& text, const LabelValues& values) {
    std::vector<Data> data;
    std::string problem;
    if (!scan(text, data, problem)) return text;
    std::string out;
    std::size_t done = 0;
    for (const Data& piece : data) {
        if (!piece.hasField) continue;
        out.append(text, done, piece.command - done);
        out += "^FH_";
        out.append(text, piece.command, piece.begin - piece.command);
        for (std::size_t i = piece.begin; i < piece.end;) {
            if (text[i] == '{') {
                const std::size_t close = text.find('}', i);
                out += zplEscaped(valueOf(text.substr(i + 1, close - i - 1), values));
                i = close + 1;
            } else {
                // The template's own text stays as written; only the escape character must change.
                out += text[i] == '_' ? std::string("_5F") : std::string(1, text[i]);
                ++i;
            }
        }
        done = piece.end;
    }
    out.append(text, done, std::string::npos);
    return out;
}

}  // namespace vornix
