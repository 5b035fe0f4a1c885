#include "app/GangRouters.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "config/FileBytes.h"
#include "platform/FileRecords.h"

namespace vornix {

namespace {

// Lines: "runs 1 2 4", then "reached K ADDRESS" ("-" for none) and "ended K".
struct Said {
    std::set<int> runs;
    std::map<int, std::string> reached;
    std::set<int> ended;
};

Said read(const std::string& path) {
    Said said;
    std::string text;
    if (readFileBytes(path, text) != FileRead::Ok) return said;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string what;
        int port = 0;
        fields >> what;
        if (what == "runs") {
            while (fields >> port) said.runs.insert(port);
        } else if (what == "reached" && fields >> port) {
            std::string hardware;
            fields >> hardware;
            said.reached[port] = hardware == "-" ? std::string() : hardware;
        } else if (what == "ended" && fields >> port) {
            said.ended.insert(port);
        }
    }
    return said;
}

bool append(const std::string& path, const std::string& line) {
    std::string why;
    return platform::FileRecords().appendLine(path, line, why);
}

// "1 and 2", "1, 2 and 4".
std::string listed(const std::vector<int>& ports) {
    std::string text;
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += (i == 0 ? "" : i + 1 == ports.size() ? " and " : ", ") + std::to_string(ports[i]);
    return text;
}

}  // namespace

GangRouters::GangRouters(const std::string& directory, char separator, const std::string& tag)
    : path_(directory + separator + "vornix-gang-" + tag + ".routers") {}

bool GangRouters::begin(const std::vector<int>& ports, std::string& why) {
    std::string line = "runs";
    for (int port : ports) line += " " + std::to_string(port);
    return platform::FileRecords().appendLine(path_, line, why);
}

void GangRouters::ended(int port) { append(path_, "ended " + std::to_string(port)); }

std::string GangRouters::elsewhereLine(int port, const std::string& interfaceName, const std::string& router) {
    return "Port " + std::to_string(port) + "'s packets left by another port: the neighbour table of " + interfaceName +
           " holds no address for " + router + "; nothing is written";
}

void GangRouters::remove() { std::remove(path_.c_str()); }

std::string GangRouters::reached(int port, const std::string& interfaceName, const std::string& router,
                                 const std::string& hardware, Pause& pause, int limitMs) {
    const std::string self = std::to_string(port);
    if (!append(path_, "reached " + self + " " + (hardware.empty() ? "-" : hardware)))
        return "Port " + self + " can't tell the other ports which router it reached (" + path_ + "): nothing is written";
    if (hardware.empty()) return elsewhereLine(port, interfaceName, router);
    constexpr int step = 20;
    for (int waited = 0;; waited += step) {
        const Said said = read(path_);
        std::vector<int> waiting;
        for (int other : said.runs)
            if (other != port && !said.reached.count(other) && !said.ended.count(other)) waiting.push_back(other);
        if (waiting.empty()) {
            std::vector<int> same;
            for (const auto& [other, address] : said.reached)
                if (address == hardware) same.push_back(other);
            if (same.size() < 2) return std::string();
            return "Ports " + listed(same) + " reach the same router (" + hardware + "): nothing is written";
        }
        if (waited >= limitMs)
            return "Port " + self + " can't learn within " + std::to_string(limitMs / 1000) + " s which router " +
                   (waiting.size() == 1 ? "port " : "ports ") + listed(waiting) + " reached: nothing is written";
        pause.sleepMs(step);
    }
}

}  // namespace vornix
