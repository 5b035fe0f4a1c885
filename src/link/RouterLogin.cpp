#include "link/RouterLogin.h"

#include "config/ConfigKeys.h"
#include "config/StationConfig.h"
#include "link/ResponseCapture.h"

namespace vornix {

namespace {

// A login program that discards what was typed before its prompt (BusyBox
// login and getty do) shows that prompt again, after the name went out, and
// waits: the text since then ends in "login:" and blanks.
bool loginPromptAgain() {
    const std::string text = ResponseCapture::instance().answer().text;
    const std::size_t end = text.find_last_not_of(" \t");
    const std::string word = "login:";
    return end != std::string::npos && end + 1 >= word.size() &&
           text.compare(end + 1 - word.size(), word.size(), word) == 0;
}

constexpr int maxNameResends = 3;

}  // namespace

bool RouterLogin::attempt(TelnetChannel& channel, const char* text, bool learnPrompt) {
    return pacer_.attempt(channel, telnetWait_, text, learnPrompt);
}

int RouterLogin::login(TelnetChannel& channel) {
    const StationConfig config(profile_);
    ResponseCapture& capture = ResponseCapture::instance();

    const ConfigValue user = config.read(keys::telnetUsername);
    if (user.missing) return 0;
    // Prompt pacing types the name when the router asks for it: a login
    // program that throws away what was typed before its prompt gets it once.
    const ResponseCapture::Clock::time_point opened = capture.now();
    pacer_.untilAskedForName(channel, telnetWait_, opened);
    channel.send(user.text + "\r\n");
    pacer_.afterUserName(100);
    // Fixed pacing has collected nothing on the fresh connection yet: the
    // banner and prompt reach the capture with the first attempt. Prompt
    // pacing has them already, and keeps them: only what came before the
    // connection goes.
    if (pacer_.prompting()) capture.clearBefore(opened);
    else capture.clear();

    bool prompted = false;
    int resends = 0;
    for (int i = 0; i < 10 && !prompted; ++i) {
        prompted = attempt(channel, "Password");
        if (prompted || resends == maxNameResends || !loginPromptAgain()) continue;
        ++resends;
        channel.send(user.text + "\r\n");
        pacer_.afterUserName(100);
    }
    if (!prompted) return 0;
    pacer_.nameTaken();

    const ConfigValue password = config.read(keys::telnetPassword);
    if (password.missing) return 0;
    channel.send(password.text + "\r\n");
    pacer_.afterShellEntry(channel, 100);

    // A router that opens its shell at once shows its prompt and goes quiet:
    // with prompt pacing that ends the attempts too.
    bool cli = false;
    for (int i = 0; i < 5 && !cli; ++i) cli = attempt(channel, "CLI", true);
    if (cli) {
        channel.send("shell\r\n");
        pacer_.afterShellEntry(channel, 100);
    }
    channel.send("cd /proc/ticfg\r\n");
    pacer_.afterCommand(channel, 100);
    channel.send("ls env\r\n");
    pacer_.afterCommand(channel, 100);
    capture.clear();

    // The listing may be slow to come; a missing "env" does not fail the login.
    for (int i = 0; i < 10; ++i) {
        if (attempt(channel, "env")) break;
        channel.send("cd /proc/ticfg\r\n");
    }

    channel.send("cat env\r\n");
    pacer_.afterCommand(channel, 100);
    capture.clear();
    bool listed = false;
    for (int i = 0; i < 10 && !listed; ++i) listed = attempt(channel, "bootloaderVersion");
    return listed ? 1 : 0;
}

}  // namespace vornix
