// Debian's Chromium, headless, on a page of the line view: the DOM once the
// page's script has run, or a screenshot. Each call gets a profile directory
// of its own, and the browser is killed (with all its processes) when it
// runs past a bound, so that a test never hangs.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace vornix::test {

inline const char* chromiumPath() { return "/usr/bin/chromium"; }

inline bool haveChromium() { return ::access(chromiumPath(), X_OK) == 0; }

struct ChromiumRun {
    bool finished = false;  // false: killed at the bound
    int status = -1;
    std::string out, err;
};

// Chromium with the arguments (after the fixed ones) in a profile of its
// own, stdout and stderr kept. virtualMs: how long the page's timers may run
// (Chromium's virtual time, which waits for fetches); bound: the wall-clock
// limit of the whole call.
// Chromium started with the fixed arguments and these, in a process group of
// its own; its pid (0 when it could not start).
inline pid_t startChromium(const std::vector<std::string>& arguments, const std::string& profile,
                           const std::string& out, const std::string& err) {
    std::vector<std::string> args = {chromiumPath(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                     "--disable-background-networking", "--disable-component-update",
                                     "--hide-scrollbars", "--user-data-dir=" + profile};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);  // its own group: the renderers and helpers go with it
        if (!std::freopen("/dev/null", "r", stdin) || !std::freopen(out.c_str(), "w", stdout) ||
            !std::freopen(err.c_str(), "w", stderr))
            ::_exit(97);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(98);
    }
    if (pid < 0) return 0;
    ::setpgid(pid, pid);
    return pid;
}

// Ends a Chromium that startChromium started, with every process of its group.
inline void stopChromium(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

inline ChromiumRun runChromium(const std::vector<std::string>& arguments, int virtualMs,
                               std::chrono::seconds bound = std::chrono::seconds(90)) {
    TempDir scratch;
    const std::string profile = scratch.file("profile"), out = scratch.file("out"), err = scratch.file("err");
    std::vector<std::string> args = {"--virtual-time-budget=" + std::to_string(virtualMs)};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const pid_t pid = startChromium(args, profile, out, err);
    ChromiumRun run;
    if (pid == 0) return run;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int raw = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &raw, WNOHANG);
        if (done == pid) {
            run.finished = true;
            run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &raw, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);  // any helper left behind
    run.out = readAll(out);
    run.err = readAll(err);
    return run;
}

// The page's DOM as HTML after its script ran for virtualMs; empty when
// Chromium failed or hung.
inline std::string dumpDom(const std::string& url, int virtualMs = 3000) {
    const ChromiumRun run = runChromium({"--dump-dom", url}, virtualMs);
    return run.finished && run.status == 0 ? run.out : std::string();
}

// The DOM once the page's script has rendered its first answer (the page
// says data-loaded="1"): asked again with a larger virtual-time budget while
// it has not, as a loaded machine (a sanitizer's build) may need; the last
// DOM got when it never has.
inline std::string renderedDom(const std::string& url) {
    std::string html;
    for (const int budget : {3000, 15000, 60000}) {
        html = dumpDom(url, budget);
        if (html.find("data-loaded=\"1\"") != std::string::npos) break;
    }
    return html;
}

// A PNG of the page at width x height; true when it was written.
inline bool screenshot(const std::string& url, const std::string& png, int width, int height, int virtualMs = 3000) {
    std::error_code ignored;
    std::filesystem::remove(png, ignored);
    const ChromiumRun run = runChromium({"--window-size=" + std::to_string(width) + "," + std::to_string(height),
                                         "--screenshot=" + png, url},
                                        virtualMs);
    return run.finished && run.status == 0 && std::filesystem::exists(png);
}

// Reading the DOM as Chromium left it.

inline std::string unescapeHtml(std::string text) {
    for (const auto& [entity, character] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", "\xC2\xA0"}, {"&amp;", "&"}})
        text = std::regex_replace(text, std::regex(entity), character);
    return text;
}

// The textContent of the element whose start tag holds `attribute` (the
// first one at or after from); nullopt when there is none.
inline std::optional<std::string> textOf(const std::string& html, const std::string& attribute, std::size_t from = 0) {
    const std::size_t at = html.find(attribute, from);
    if (at == std::string::npos) return std::nullopt;
    static const std::set<std::string> voids = {"br", "img", "input", "meta", "link", "hr", "col", "wbr", "source"};
    std::size_t i = html.find('>', at);
    if (i == std::string::npos) return std::nullopt;
    std::string text;
    for (int depth = 1; ++i < html.size() && depth > 0;) {
        if (html[i] != '<') {
            text += html[i];
            continue;
        }
        const std::size_t end = html.find('>', i);
        if (end == std::string::npos) break;
        if (html[i + 1] == '/') --depth;
        else if (!voids.count(html.substr(i + 1, html.find_first_of(" />", i + 1) - i - 1)) && html[end - 1] != '/')
            ++depth;
        i = end;
    }
    return unescapeHtml(text);
}

// The start of each element whose start tag begins with `head`.
inline std::vector<std::size_t> starts(const std::string& html, const std::string& head) {
    std::vector<std::size_t> found;
    for (std::size_t at = html.find(head); at != std::string::npos; at = html.find(head, at + 1)) found.push_back(at);
    return found;
}

inline std::string field(const std::string& html, std::size_t row, const std::string& name) {
    return textOf(html, "data-field=\"" + name + "\"", row).value_or("(none)");
}

}  // namespace vornix::test
