#include "Session.h"

#include <cstdlib>

#include "FtpClient.h"

namespace routersim {

namespace {

constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr unsigned char ECHO_OPTION = 1, SGA = 3, TTYPE = 24, NAWS = 31;

const char* const shellBanner = "\nBuilt-in shell (ash)\nEnter 'help' for a list of built-in commands.\n\n";
const char* const cliBanner = "\nRouter CLI\nType 'shell' for the system shell, 'help' for commands.\n\n";
const char* const cliPrompt = "CLI> ";

std::string option(unsigned char verb, unsigned char what) {
    return std::string{static_cast<char>(IAC), static_cast<char>(verb), static_cast<char>(what)};
}

// Untrusted text made safe for one line of the log.
std::string printable(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text.substr(0, 200)) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7f) {
            out += ch;
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return text.size() > 200 ? out + "..." : out;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct CommandLine {
    std::vector<std::string> args;
    std::string target;  // redirection target; "" = the terminal
    bool append = false;
    std::string error;
};

// Words as the shell splits them: quotes group, a backslash escapes, and an
// unquoted ">" or ">>" redirects the output into the word that follows.
CommandLine parseCommand(const std::string& line) {
    CommandLine out;
    std::string word;
    bool inWord = false, redirect = false, haveTarget = false;
    auto finish = [&] {
        if (!inWord) return;
        if (redirect && !haveTarget) {
            out.target = word;
            haveTarget = true;
        } else {
            out.args.push_back(word);
        }
        word.clear();
        inWord = false;
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            finish();
        } else if (c == '>') {
            finish();
            if (redirect) {
                out.error = "sh: syntax error: unexpected redirection";
                return out;
            }
            redirect = true;
            if (i + 1 < line.size() && line[i + 1] == '>') {
                out.append = true;
                ++i;
            }
        } else if (c == '\'') {
            inWord = true;
            const auto close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                out.error = "sh: syntax error: unterminated quoted string";
                return out;
            }
            word += line.substr(i + 1, close - i - 1);
            i = close;
        } else if (c == '"') {
            inWord = true;
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && std::string("\"\\$`").find(line[i + 1]) != std::string::npos)
                    ++i;
                word += line[i];
            }
            if (i >= line.size()) {
                out.error = "sh: syntax error: unterminated quoted string";
                return out;
            }
        } else if (c == '\\' && i + 1 < line.size()) {
            inWord = true;
            word += line[++i];
        } else {
            inWord = true;
            word += c;
        }
    }
    finish();
    if (redirect && !haveTarget) out.error = "sh: syntax error: unexpected newline";
    return out;
}

std::vector<std::string> withoutFlags(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (std::size_t i = 1; i < args.size(); ++i)
        if (args[i].empty() || args[i][0] != '-') out.push_back(args[i]);
    return out;
}

}  // namespace

Session::Session(const Options& options, SessionHost& host, int id) : options_(options), host_(host), id_(id) {
    if (options_.closeAfterLines == 0) closing_ = true;
}

std::string Session::greeting() {
    std::string out;
    if (options_.telnetOptions)
        out = option(DO, TTYPE) + option(DO, NAWS) + option(WILL, ECHO_OPTION) + option(WILL, SGA);
    return out + encode("\nrouter telnet service\n\n" + loginPrompt());
}

std::string Session::passwordPromptText() const {
    if (!options_.passwordPrompt) return "";
    return options_.lowercasePrompt ? "password: " : "Password: ";
}

std::string Session::shellPrompt() const {
    std::string prompt = options_.prompt;
    const std::size_t at = prompt.find("{cwd}");
    if (at != std::string::npos) prompt.replace(at, 5, cwd_);
    return prompt;
}

std::string Session::encode(const std::string& text) const {
    std::string out;
    if (options_.telnetOptions) out = option(DO, TTYPE);
    for (const char ch : text) {
        if (ch == '\n') {
            out += "\r\n";
            if (options_.nulBytes) out += '\0';
        } else if (static_cast<unsigned char>(ch) == IAC) {
            out += ch;
            out += ch;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Session::receive(const char* data, std::size_t size, Clock::time_point now) {
    std::string echo;
    for (std::size_t i = 0; i < size && !closing_; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (telnet_) {
        case Telnet::iac:
            telnet_ = Telnet::data;
            if (c == WILL || c == WONT || c == DO || c == DONT) telnet_ = Telnet::option;
            if (c == SB) telnet_ = Telnet::sub;
            if (c != IAC) continue;
            break;  // IAC IAC: one data byte 255
        case Telnet::option:
            telnet_ = Telnet::data;
            continue;
        case Telnet::sub:
            if (c == IAC) telnet_ = Telnet::subIac;
            continue;
        case Telnet::subIac:
            telnet_ = c == SE ? Telnet::data : Telnet::sub;
            continue;
        case Telnet::data:
            if (c == IAC) {
                telnet_ = Telnet::iac;
                continue;
            }
            break;
        }
        if (c == '\0') continue;  // telnet's CR NUL
        if (c == '\r' || (c == '\n' && !lastWasCr_)) {
            echo += "\r\n";
            lastWasCr_ = c == '\r';
            lineDone(now);
            continue;
        }
        const bool lf = c == '\n';
        lastWasCr_ = false;
        if (lf) continue;
        if (c == 8 || c == 127) {
            if (!line_.empty()) {
                line_.pop_back();
                echo += "\b \b";
            }
        } else if ((c >= 0x20 || c == '\t') && line_.size() < maxLine) {
            line_ += static_cast<char>(c);
            echo += static_cast<char>(c);
            if (c == IAC) echo += static_cast<char>(c);
        }
    }
    return echo;
}

void Session::lineDone(Clock::time_point now) {
    ++linesReceived_;
    if (pending_.size() < maxPendingLines) {
        pending_.push_back({now + std::chrono::milliseconds(options_.latencyMs), line_});
    } else {
        host_.log("connection " + std::to_string(id_) + ": too many lines waiting, one dropped");
    }
    line_.clear();
    if (options_.closeAfterLines >= 0 && linesReceived_ >= options_.closeAfterLines) {
        host_.log("connection " + std::to_string(id_) + ": closing after " + std::to_string(linesReceived_) + " lines");
        closing_ = true;
    }
}

std::string Session::runDue(Clock::time_point now) {
    std::string out;
    while (!closing_ && !pending_.empty() && pending_.front().due <= now) {
        const std::string line = pending_.front().text;
        pending_.pop_front();
        out += execute(line);
    }
    return out;
}

std::string Session::execute(const std::string& line) {
    switch (mode_) {
    case Mode::login:
        // An empty line is a user name only for a router whose user name is empty.
        if (trim(line).empty() && !options_.user.empty()) return encode(loginPrompt());
        user_ = line;
        mode_ = Mode::password;
        return encode(passwordPromptText());
    case Mode::password:
        return afterPassword(line);
    case Mode::cli:
        return cliCommand(trim(line));
    case Mode::shell:
        break;
    }
    host_.log("connection " + std::to_string(id_) + ": # " + printable(line));
    return shellCommand(line);
}

std::string Session::afterPassword(const std::string& password) {
    const std::string who = "connection " + std::to_string(id_) + ": login as '" + printable(user_) + "'";
    if (user_ != options_.user || password != options_.password) {
        host_.log(who + " refused");
        mode_ = Mode::login;
        return encode("\nLogin incorrect\n" + loginPrompt());
    }
    host_.log(who + " accepted");
    std::string out = encode("\n");
    if (options_.floodBytes > 0) {
        static const std::string junk = "junk 0123456789 .............................................\r\n";
        std::string flood;
        flood.reserve(options_.floodBytes);
        while (flood.size() < options_.floodBytes)
            flood += junk.substr(0, options_.floodBytes - flood.size());
        out += flood;
    }
    if (options_.cliMode) {
        mode_ = Mode::cli;
        return out + encode(std::string(cliBanner) + cliPrompt);
    }
    mode_ = Mode::shell;
    return out + encode(std::string(shellBanner) + shellPrompt());
}

std::string Session::cliCommand(const std::string& line) {
    host_.log("connection " + std::to_string(id_) + ": CLI> " + printable(line));
    if (line == "shell") {
        mode_ = Mode::shell;
        return encode(std::string(shellBanner) + shellPrompt());
    }
    if (line == "exit" || line == "quit") {
        closing_ = true;
        return "";
    }
    std::string out;
    if (line == "help" || line == "?") {
        out = "Commands: help, shell, exit\n";
    } else if (!line.empty()) {
        out = "% Unknown command\n";
    }
    return encode(out + cliPrompt);
}

std::string Session::shellCommand(const std::string& line) {
    const CommandLine command = parseCommand(line);
    if (!command.error.empty()) return encode(command.error + "\n" + shellPrompt());
    if (command.args.empty() && command.target.empty()) return encode(shellPrompt());

    const std::string name = command.args.empty() ? "" : command.args[0];
    const std::vector<std::string> operands = withoutFlags(command.args);
    std::string out;   // what a redirection catches
    std::string tty;   // messages that always reach the terminal

    if (name.empty()) {
        // "> file" alone truncates the file
    } else if (name == "cd") {
        const std::string dir = RouterState::resolve(cwd_, operands.empty() ? "/" : operands[0]);
        bool ok = false;
        host_.withState([&](RouterState& state) { ok = state.isDirectory(dir); });
        if (ok) {
            cwd_ = dir;
        } else {
            tty = "sh: cd: can't cd to " + operands[0] + "\n";
        }
    } else if (name == "pwd") {
        out = cwd_ + "\n";
    } else if (name == "ls") {
        host_.withState([&](RouterState& state) {
            const std::vector<std::string> names = operands.empty() ? std::vector<std::string>{"."} : operands;
            for (const auto& operand : names) {
                const std::string path = RouterState::resolve(cwd_, operand);
                if (state.isDirectory(path)) {
                    std::string row;
                    for (const auto& entry : state.list(path)) row += (row.empty() ? "" : "  ") + entry;
                    if (!row.empty()) out += row + "\n";
                } else if (state.isFile(path)) {
                    out += operand + "\n";
                } else {
                    tty += "ls: " + operand + ": No such file or directory\n";
                }
            }
        });
    } else if (name == "cat") {
        host_.withState([&](RouterState& state) {
            for (const auto& operand : operands) {
                const std::string path = RouterState::resolve(cwd_, operand);
                if (state.isDirectory(path)) {
                    tty += "cat: read error: Is a directory\n";
                } else if (!state.isFile(path)) {
                    tty += "cat: can't open '" + operand + "': No such file or directory\n";
                } else {
                    out += state.read(path);
                }
            }
        });
    } else if (name == "echo") {
        bool newline = true;
        std::size_t first = 1;
        if (command.args.size() > 1 && command.args[1] == "-n") {
            newline = false;
            first = 2;
        }
        for (std::size_t i = first; i < command.args.size(); ++i) out += (i > first ? " " : "") + command.args[i];
        if (newline) out += "\n";
    } else if (name == "wget") {
        tty = wget(command.args);
    } else if (name == "cp") {
        tty = cp(operands);
    } else if (name == "wc") {
        tty = wc(command.args, out);
    } else if (name == "rm") {
        // rm [-f] FILE...: plain files only, as the station uses it.
        bool force = false;
        for (const auto& arg : command.args) force = force || arg == "-f";
        host_.withState([&](RouterState& state) {
            for (const auto& operand : operands) {
                const std::string path = RouterState::resolve(cwd_, operand);
                if (state.isDirectory(path)) tty += "rm: '" + operand + "' is a directory\n";
                else if (!state.remove(path) && !force)
                    tty += "rm: can't remove '" + operand + "': No such file or directory\n";
            }
        });
    } else if (name == "reboot") {
        host_.log("connection " + std::to_string(id_) + ": reboot");
        closing_ = true;
        host_.reboot();
        return encode("\nThe system is going down NOW!\nSent SIGTERM to all processes\nRestarting system.\n");
    } else if (name == "exit" || name == "logout") {
        closing_ = true;
        return "";
    } else if (name == "help") {
        out = "Built-in commands:\n\tcat cd cp echo exit help ls pwd reboot wc wget\n";
    } else {
        tty = "sh: " + name + ": not found\n";
    }

    if (!command.target.empty()) {
        const std::string path = RouterState::resolve(cwd_, command.target);
        RouterState::WriteResult result = RouterState::WriteResult::ok;
        host_.withState([&](RouterState& state) { result = state.write(path, out, command.append); });
        if (result == RouterState::WriteResult::noDirectory) tty += "sh: can't create " + command.target + ": nonexistent directory\n";
        if (result == RouterState::WriteResult::isDirectory) tty += "sh: can't create " + command.target + ": Is a directory\n";
        if (result == RouterState::WriteResult::tooLarge) tty += "sh: write error: No space left on device\n";
        out.clear();
    }
    return encode(out + tty + shellPrompt());
}

std::string Session::wget(const std::vector<std::string>& args) {
    std::string url, outputName;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-O" && i + 1 < args.size()) {
            outputName = args[++i];
        } else if (args[i].empty() || args[i][0] != '-') {
            url = args[i];
        }
    }
    static const std::string scheme = "ftp://";
    if (url.compare(0, scheme.size(), scheme) != 0) return "wget: not an ftp url: " + url + "\n";

    const std::string rest = url.substr(scheme.size());
    const auto slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    FtpRequest request;
    request.path = slash == std::string::npos ? "" : rest.substr(slash + 1);
    std::string hostPort = authority;
    request.user = "anonymous";
    request.password = "busybox@";
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string account = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const auto colon = account.find(':');
        request.user = account.substr(0, colon);
        request.password = colon == std::string::npos ? "" : account.substr(colon + 1);
    }
    std::string host = hostPort;
    int urlPort = 0;
    const auto colon = hostPort.find(':');
    if (colon != std::string::npos) {
        host = hostPort.substr(0, colon);
        urlPort = std::atoi(hostPort.substr(colon + 1).c_str());
    }
    if (outputName.empty()) outputName = RouterState::baseName(request.path);
    if (outputName.empty()) return "wget: can't determine a file name from " + url + "\n";

    request.address = options_.ftpAddress.empty() ? host : options_.ftpAddress;
    request.port = (options_.ftpAddress.empty() && urlPort > 0) ? urlPort : options_.ftpPort;
    std::string out = "Connecting to " + host + " (" + request.address + ":" + std::to_string(request.port) + ")\n";
    const std::string who = "connection " + std::to_string(id_) + ": wget " + printable(request.path) + " from " +
                            request.address + ":" + std::to_string(request.port);

    std::string data, error;
    FtpClient client(host_.abortFd(), options_.ftpTimeoutMs, RouterState::maxFileBytes);
    if (!client.fetch(request, data, error)) {
        host_.log(who + " failed: " + printable(error));
        return out + "wget: " + error + "\n";
    }
    const std::string path = RouterState::resolve(cwd_, outputName);
    if (options_.wgetArrived) options_.wgetArrived(path);
    // Cut short: what came stays in the file, as BusyBox's wget leaves it.
    const bool cut = options_.wgetCutBytes >= 0 && data.size() > static_cast<std::size_t>(options_.wgetCutBytes);
    if (cut) data.resize(static_cast<std::size_t>(options_.wgetCutBytes));
    RouterState::WriteResult result = RouterState::WriteResult::ok;
    host_.withState([&](RouterState& state) { result = state.write(path, data, false); });
    if (result != RouterState::WriteResult::ok) {
        host_.log(who + ": cannot store " + printable(path));
        return out + "wget: can't open '" + outputName + "': No such file or directory\n";
    }
    if (cut) {
        host_.log(who + ": cut short after " + std::to_string(data.size()) + " bytes into " + printable(path));
        return out + "saving to '" + outputName + "'\nwget: connection closed prematurely\n";
    }
    host_.log(who + ": " + std::to_string(data.size()) + " bytes into " + printable(path));
    std::string label = outputName.substr(0, 20);
    label.resize(21, ' ');
    return out + label + "100% |*******************************| " + std::to_string(data.size()) + "  0:00:00 ETA\n";
}

std::string Session::wc(const std::vector<std::string>& args, std::string& out) {
    std::vector<std::string> files;
    bool bytes = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-c") bytes = true;
        else if (!args[i].empty() && args[i][0] == '-') return "wc: invalid option -- '" + args[i].substr(1) + "'\n";
        else files.push_back(args[i]);
    }
    // Only what a station asks: the bytes of one file, as BusyBox shows them.
    if (!bytes || files.size() != 1) return "Usage: wc -c FILE\n";
    const std::string& file = files[0];
    const std::string path = RouterState::resolve(cwd_, file);
    std::string tty;
    host_.withState([&](RouterState& state) {
        if (state.isDirectory(path)) {
            tty = "wc: " + file + ": Is a directory\n";
            out = "0 " + file + "\n";
        } else if (!state.isFile(path)) {
            tty = "wc: " + file + ": No such file or directory\n";
        } else {
            out = std::to_string(state.read(path).size()) + " " + file + "\n";
        }
    });
    return tty;
}

std::string Session::cp(const std::vector<std::string>& operands) {
    if (operands.size() != 2) return "cp: need a source and a destination\n";
    const std::string source = RouterState::resolve(cwd_, operands[0]);
    std::string target = RouterState::resolve(cwd_, operands[1]);
    std::string message, version;
    bool flashed = false;
    host_.withState([&](RouterState& state) {
        if (state.isDirectory(source)) {
            message = "cp: omitting directory '" + operands[0] + "'\n";
            return;
        }
        if (!state.isFile(source)) {
            message = "cp: can't stat '" + operands[0] + "': No such file or directory\n";
            return;
        }
        if (state.isDirectory(target)) target = RouterState::resolve(target, RouterState::baseName(source));
        const std::string content = state.read(source);
        if (state.write(target, content, false) != RouterState::WriteResult::ok) {
            message = "cp: can't create '" + operands[1] + "': No such file or directory\n";
            return;
        }
        if (target.compare(0, 5, "/dev/") == 0) {
            flashed = true;
            version = state.flash(content);
        }
    });
    if (flashed) {
        host_.log("connection " + std::to_string(id_) + ": " + printable(target) +
                  (version.empty() ? " written; the image carries no BOOTVERSION=, boot loader unchanged"
                                   : " written; boot loader " + printable(version) + " after the next reboot"));
    }
    return message;
}

}  // namespace routersim
