#include "link/Pacer.h"

#include "link/ResponseCapture.h"

namespace vornix {

namespace {

// The text after the last line end: where a prompt stands.
std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_of("\r\n");
    return end == std::string::npos ? text : text.substr(end + 1);
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool Pacer::promptShown() {
    const ResponseCapture::Answer answer = ResponseCapture::instance().answer();
    if (!answer.quiet || answer.echoArriving) return false;
    const std::string line = lastLine(answer.text);
    if (line.empty()) return false;
    prompt_ = line;
    return true;
}

bool Pacer::promptBack() {
    if (prompt_.empty()) return false;
    const ResponseCapture::Answer answer = ResponseCapture::instance().answer();
    if (!answer.quiet || answer.echoArriving) return false;
    if (endsWith(answer.text, prompt_)) return true;
    // A prompt that shows the directory changes with cd: the new one ends
    // as the old one does ("# ", "$ ").
    const std::string line = lastLine(answer.text);
    const std::string marker = prompt_.substr(prompt_.size() > 2 ? prompt_.size() - 2 : 0);
    if (line.empty() || !endsWith(line, marker)) return false;
    prompt_ = line;
    return true;
}

void Pacer::afterCommand(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) return pause_.sleepMs(milliseconds);
    waitOnChannel(channel, milliseconds, [&] { return promptBack(); });
}

void Pacer::afterShellEntry(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) return pause_.sleepMs(milliseconds);
    waitOnChannel(channel, milliseconds, [&] { return promptShown(); });
}

void Pacer::attempt(const TelnetChannel& channel, int milliseconds, const std::string& word, bool learn) {
    if (!prompting_) {
        collectFor(channel, milliseconds);
        return;
    }
    collectUntil(channel, milliseconds,
                 [&] { return ResponseCapture::instance().find(word) >= 0 || (learn && promptShown()); });
}

void Pacer::collect(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) {
        collectFor(channel, milliseconds);
        return;
    }
    collectUntil(channel, milliseconds, [&] { return promptBack(); });
}

}  // namespace vornix
