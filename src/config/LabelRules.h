#pragma once

#include <string>
#include <utility>
#include <vector>

#include "config/Profile.h"

namespace vornix {

// Where a label goes, setup.ini's [LABEL] Printer=.
enum class LabelPrinterKind { Tcp, Lp, Windows, Directory };

struct LabelPrinter {
    LabelPrinterKind kind = LabelPrinterKind::Tcp;
    std::string host;  // tcp:
    int port = 9100;   // tcp:
    std::string name;  // lp: the queue, win: the printer, dir: the directory (as written)
    std::string text;  // the value as written, as the records name the printer
};

// [LABEL]: off while both Template and Printer are absent or empty.
struct LabelRules {
    bool on = false;
    std::string templatePath;  // as written: relative to the station directory unless absolute
    LabelPrinter printer;
};

// A template larger than this is refused: a label is a few kilobytes.
inline constexpr std::size_t maxLabelTemplateBytes = 64 * 1024;

// [LABEL] of setup.ini. False and one operator line ("Can't read
// LABEL->Key: ...") when a value cannot be used.
bool readLabelRules(Profile& profile, LabelRules& rules, std::string& problem);

// Printer=: tcp:HOST[:PORT], lp:QUEUE, win:NAME or dir:PATH. False and why not.
bool parseLabelPrinter(const std::string& text, LabelPrinter& printer, std::string& why);

// What a label's fields are filled with, as the run's record keeps them.
struct LabelValues {
    std::string serial;
    std::vector<std::string> macs;  // one address per WRITE_MAC entry, in their order
    std::vector<std::pair<std::string, std::string>> environment;  // WRITE_ENV names and values
    std::string port;     // the gang port's number, empty on a one-port station
    std::string station;  // the station's name
    std::string run;      // the run's id
    std::string date;     // the run's start, UTC: YYYY-MM-DD
};

// A label's ZPL II template: {NAME} fields inside field data (^FD or ^FV up
// to the next ^ or ~). False and "line L, column C: ..." when it has a field
// it does not know, a field outside field data, a { not closed, or its own
// ^FH before data that holds a field (the station writes its own there).
bool checkLabelTemplate(const std::string& text, std::string& problem);

// The template with every field filled. Each field data that holds a field
// gets ^FH_ before its ^FD, and its text (the template's own and the values)
// is written with ^, ~, _ and every byte outside printable ASCII as _XX: no
// value can end the data or start a command. The template must have passed
// checkLabelTemplate.
std::string fillLabel(const std::string& text, const LabelValues& values);

// A value as it stands in field data after ^FH_.
std::string zplEscaped(const std::string& value);

}  // namespace vornix
