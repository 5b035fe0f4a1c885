#include "app/HeadlessConsole.h"

#include <cstdlib>

namespace vornix {

HeadlessConsole::HeadlessConsole(std::FILE* out, bool macWriting, bool bootUpdate, bool firmwareUpdate)
    : out_(out), chosen_{macWriting, bootUpdate, firmwareUpdate} {}

std::string HeadlessConsole::outputLine(const std::string& line) {
    std::string out;
    out.reserve(line.size() + 1);
    for (char c : line) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    out += '\n';
    return out;
}

std::string HeadlessConsole::logLineOf(const std::string& output) {
    std::string line;
    line.reserve(output.size());
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i] == '\\' && i + 1 < output.size() && (output[i + 1] == 'r' || output[i + 1] == 'n')) {
            line += output[i + 1] == 'r' ? '\r' : '\n';
            ++i;
        } else {
            line += output[i];
        }
    }
    return line;
}

void HeadlessConsole::appendLog(const std::string& line) {
    const std::string text = outputLine(line);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool written = std::fwrite(text.data(), 1, text.size(), out_) == text.size() && std::fflush(out_) == 0;
    if (!written && unreadStatus_ >= 0) std::_Exit(unreadStatus_);
}

bool HeadlessConsole::stageChosen(Stage stage) { return chosen_[static_cast<int>(stage)]; }

void HeadlessConsole::clearScratch() {
    std::lock_guard<std::mutex> lock(mutex_);
    scratch_.clear();
}

void HeadlessConsole::appendScratch(const std::string& item) {
    std::lock_guard<std::mutex> lock(mutex_);
    scratch_.push_back(item);
}

int HeadlessConsole::scratchCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(scratch_.size());
}

std::string HeadlessConsole::scratchItem(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= scratch_.size()) return std::string();
    return scratch_[static_cast<std::size_t>(index)];
}

}  // namespace vornix
