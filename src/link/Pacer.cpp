#include "link/Pacer.h"

namespace vornix {

namespace {

// Where the text after the last line end begins: where a prompt stands.
std::size_t lastLineStart(const std::string& text) {
    const std::size_t end = text.find_last_of("\r\n");
    return end == std::string::npos ? 0 : end + 1;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Lines that begin with the prompt: one for each command the shell took.
int promptLines(const std::string& text, const std::string& prompt) {
    int count = 0;
    for (std::size_t start = 0; start <= text.size();) {
        if (text.compare(start, prompt.size(), prompt) == 0) ++count;
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return count;
}

}  // namespace

std::string withoutControlSequences(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            std::size_t j = i + 2;
            while (j < text.size() && text[j] >= 0x20 && text[j] <= 0x3f) ++j;  // parameters, intermediates
            if (j < text.size() && text[j] >= 0x40 && text[j] <= 0x7e) {
                i = j;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

void Pacer::idleNow() {
    ResponseCapture& capture = ResponseCapture::instance();
    idleKnown_ = true;
    idleSince_ = capture.now();
    capture.forget(idleSince_);
}

bool Pacer::promptShown() {
    ResponseCapture& capture = ResponseCapture::instance();
    if (!prompt_.empty()) {
        // The prompt known from an earlier login, after a line end: no need
        // to wait for the router to go quiet.
        const std::string text = withoutControlSequences(capture.since(capture.lastSent()).text);
        const std::size_t start = lastLineStart(text);
        if (start > 0 && text.compare(start, std::string::npos, prompt_) == 0) {
            idleNow();
            return true;
        }
    }
    const ResponseCapture::Answer answer = capture.answer();
    if (!answer.quiet || answer.echoArriving) return false;
    const std::string text = withoutControlSequences(answer.text);
    const std::string line = text.substr(lastLineStart(text));
    if (line.empty()) return false;
    prompt_ = line;
    idleNow();
    return true;
}

bool Pacer::promptBack() {
    if (prompt_.empty() || !idleKnown_) return false;
    const ResponseCapture::Since since = ResponseCapture::instance().since(idleSince_);
    if (since.sends == 0) return true;  // nothing sent since the router was idle
    const std::string text = withoutControlSequences(since.text);
    const std::size_t start = lastLineStart(text);
    const std::string line = text.substr(start);
    // The prompt as learned, after a line end: the answer is whole. Anything
    // else that could be a prompt only once nothing more is on its way: one
    // that changed (after cd) ends as the one known does ("# ", "$ ").
    if (!(start > 0 && line == prompt_)) {
        const std::string marker = prompt_.substr(prompt_.size() > 2 ? prompt_.size() - 2 : 0);
        if (!since.quiet || line.empty() || !endsWith(line, marker)) return false;
        prompt_ = line;
    }
    if (promptLines(text, prompt_) < since.sends) return false;
    idleNow();
    return true;
}

void Pacer::afterCommand(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) return pause_.sleepMs(milliseconds);
    waitOnChannel(channel, milliseconds, [&] { return promptBack(); });
}

bool Pacer::untilPromptBack(const TelnetChannel& channel, int milliseconds, int fixedMs) {
    if (!prompting_ || prompt_.empty()) {
        pause_.sleepMs(fixedMs);
        return true;
    }
    return waitOnChannel(channel, milliseconds, [&] { return promptBack(); });
}

void Pacer::afterShellEntry(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) return pause_.sleepMs(milliseconds);
    waitOnChannel(channel, milliseconds, [&] { return promptShown(); });
}

void Pacer::afterUserName(int milliseconds) {
    if (!prompting_) pause_.sleepMs(milliseconds);
}

bool Pacer::attempt(const TelnetChannel& channel, int milliseconds, const std::string& word, bool learn) {
    ResponseCapture& capture = ResponseCapture::instance();
    if (!prompting_) {
        collectFor(channel, milliseconds);
        return capture.find(word) >= 0;
    }
    collectUntil(channel, milliseconds, [&] { return capture.findArrived(word) >= 0 || (learn && promptShown()); });
    return capture.findArrived(word) >= 0;
}

void Pacer::collect(const TelnetChannel& channel, int milliseconds) {
    if (!prompting_) {
        collectFor(channel, milliseconds);
        return;
    }
    collectUntil(channel, milliseconds, [&] { return promptBack(); });
}

}  // namespace vornix
