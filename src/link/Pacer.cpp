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

// A command as its echo shows it: without the line end.
std::string echoOf(const std::string& command) {
    std::size_t end = command.size();
    while (end > 0 && (command[end - 1] == '\r' || command[end - 1] == '\n')) --end;
    return command.substr(0, end);
}

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string trimmedRight(const std::string& text) {
    const std::size_t end = text.find_last_not_of(" \t");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// Where a prompt's directory part ends: a blank, the prompt's own marker,
// or the bracket some prompts close it with.
bool endsDirectory(char c) {
    return c == ' ' || c == '\t' || c == '#' || c == '$' || c == '>' || c == ']' || c == ')' || isLineEnd(c);
}

// A login prompt is a short line: anything longer is not learned as one.
constexpr std::size_t maxLoginPrompt = 80;

}  // namespace

namespace prompts {

bool endsLikePrompt(const std::string& line) {
    if (line.size() < 2 || line.back() != ' ') return false;
    const char marker = line[line.size() - 2];
    return marker == '#' || marker == '$' || marker == '>';
}

bool sameBesidesDirectory(const std::string& known, const std::string& line) {
    if (known.empty()) return false;
    if (line == known) return true;
    // The directory part: from a '/' or '~' at the start or after a blank,
    // ':' or '[' up to where it ends.
    std::size_t from = std::string::npos;
    for (std::size_t i = 0; i < known.size() && from == std::string::npos; ++i)
        if ((known[i] == '/' || known[i] == '~') && (i == 0 || known[i - 1] == ' ' || known[i - 1] == ':' || known[i - 1] == '['))
            from = i;
    if (from == std::string::npos) return false;
    std::size_t to = from;
    while (to < known.size() && !endsDirectory(known[to])) ++to;
    const std::size_t tail = known.size() - to;
    if (line.size() < from + tail + 1) return false;
    if (line.compare(0, from, known, 0, from) != 0 || line.compare(line.size() - tail, tail, known, to, tail) != 0)
        return false;
    const std::string directory = line.substr(from, line.size() - from - tail);
    if (directory[0] != '/' && directory[0] != '~') return false;
    for (const char c : directory)
        if (endsDirectory(c)) return false;
    return true;
}

bool asksForName(const std::string& text, const std::string& learned) {
    const std::string plain = trimmedRight(withoutControlSequences(text));
    if (endsWith(plain, "login:")) return true;
    return !learned.empty() && plain.substr(lastLineStart(plain)) == learned;
}

bool promptAfterEcho(const std::string& text, const std::string& command, const std::string& known) {
    const std::string echo = echoOf(command);
    if (echo.empty() || known.empty() || text.compare(0, echo.size(), echo) != 0) return false;
    std::size_t at = echo.size();
    if (at >= text.size() || !isLineEnd(text[at])) return false;
    while (at < text.size() && isLineEnd(text[at])) ++at;
    const std::string line = text.substr(at);
    if (line.find_first_of("\r\n") != std::string::npos) return false;  // output came first
    return endsLikePrompt(line) && sameBesidesDirectory(known, line);
}

bool promptAfterLogin(const std::string& text, bool asked, const std::string& known) {
    const std::size_t start = lastLineStart(text);
    if (start == 0) return false;
    const std::string line = text.substr(start);
    if (sameBesidesDirectory(known, line)) return true;
    if (!endsLikePrompt(line)) return false;
    return line[line.size() - 2] != '>' || asked;
}

int promptLines(const std::string& text, const std::string& prompt) {
    const std::string marker = prompt.substr(prompt.size() > 2 ? prompt.size() - 2 : 0);
    int count = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (text.compare(start, prompt.size(), prompt) == 0) {
            ++count;
        } else if (!marker.empty()) {
            const std::size_t at = text.find(marker, start);
            if (at != std::string::npos && at < end && sameBesidesDirectory(prompt, text.substr(start, at + marker.size() - start)))
                ++count;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return count;
}

bool endsInControlSequence(const std::string& raw) {
    const std::size_t at = raw.rfind('\x1b');
    return at != std::string::npos && raw.compare(at, 2, "\x1b[") == 0 && withoutControlSequences(raw.substr(at)).empty();
}

}  // namespace prompts

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
    const ResponseCapture::Clock::time_point sent = capture.lastSent();
    if (promptSeen_ && promptSeenFor_ == sent) return true;
    // A prompt that leaves no doubt, after a line end: no need to wait for
    // the router to go quiet.
    const std::string raw = capture.since(sent).text;
    std::string text = withoutControlSequences(raw);
    const std::string echo = echoOf(capture.latestCommand());
    if (!echo.empty() && text.compare(0, echo.size(), echo) == 0) text.erase(0, echo.size());
    std::string line;
    if (prompts::promptAfterLogin(text, prompts::endsInControlSequence(raw), prompt_)) {
        line = text.substr(lastLineStart(text));
    } else {
        const ResponseCapture::Answer answer = capture.answer();
        if (!answer.quiet || answer.echoArriving) return false;
        const std::string shown = withoutControlSequences(answer.text);
        line = shown.substr(lastLineStart(shown));
        if (line.empty()) return false;
    }
    prompt_ = line;
    promptSeen_ = true;
    promptSeenFor_ = sent;
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
    if (start > 0 && line != prompt_ && since.sends == 1 &&
        prompts::promptAfterEcho(text, ResponseCapture::instance().latestCommand(), prompt_)) {
        prompt_ = line;  // the directory changed (cd)
    } else if (!(start > 0 && line == prompt_)) {
        const std::string marker = prompt_.substr(prompt_.size() > 2 ? prompt_.size() - 2 : 0);
        if (!since.quiet || line.empty() || !endsWith(line, marker)) return false;
        prompt_ = line;
    }
    if (prompts::promptLines(text, prompt_) < since.sends) return false;
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

bool Pacer::untilAskedForName(const TelnetChannel& channel, int milliseconds, ResponseCapture::Clock::time_point opened) {
    if (!prompting_) return false;
    ResponseCapture& capture = ResponseCapture::instance();
    loginCandidate_.clear();
    const bool asked = waitOnChannel(
        channel, milliseconds, [&] { return prompts::asksForName(capture.since(opened).text, loginPrompt_); });
    if (!asked) {
        // The router may keep what is typed ahead: if it takes the name, the
        // line it showed last is how it asks.
        const std::string text = withoutControlSequences(capture.since(opened).text);
        const std::string line = trimmedRight(text.substr(lastLineStart(text)));
        if (line.size() <= maxLoginPrompt) loginCandidate_ = line;  // not a banner sent without line ends
    }
    return asked;
}

void Pacer::nameTaken() {
    if (!loginCandidate_.empty()) loginPrompt_ = loginCandidate_;
    loginCandidate_.clear();
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
