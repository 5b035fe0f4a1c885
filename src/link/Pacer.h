#pragma once

#include <string>

#include "link/ResponseCapture.h"
#include "link/TelnetChannel.h"
#include "station/Pause.h"

namespace vornix {

// How long the station waits in its dialogue with a router. Fixed pacing
// waits the whole of every pause and capture attempt. Prompt pacing ends a
// wait as soon as what the station waits for has arrived: the word an
// attempt searches for, or, after a shell command, the router's prompt at
// the end of the command's answer; and at the latest when the fixed wait
// would have ended. The prompt is learned from the router itself, so a
// router that shows none gets exactly the fixed timing.
//
// A command sent before the router was done with the one before it (its
// wait ran out) is typed ahead: the next prompt is the earlier command's.
// So a wait ends only once the router has shown a prompt for every command
// sent since it was last seen idle, the last of them at the end of what
// arrived.
class Pacer {
public:
    Pacer(Pause& pause, bool promptPacing) : pause_(pause), prompting_(promptPacing) {}

    bool prompting() const { return prompting_; }
    const std::string& prompt() const { return prompt_; }

    // The pause after a shell command sent on channel.
    void afterCommand(const TelnetChannel& channel, int milliseconds);
    // Before the login's user name, in prompt pacing: waits at most
    // milliseconds for the router to ask for it ("login:", or the login
    // prompt learned from an earlier login). True when it asked; fixed
    // pacing does not wait and answers false.
    // opened: when the connection was made (what came since counts).
    bool untilAskedForName(const TelnetChannel& channel, int milliseconds, ResponseCapture::Clock::time_point opened);
    // The router asked for the password: the name was taken. What a router
    // that was not seen asking showed before the name is its login prompt.
    void nameTaken();
    const std::string& loginPrompt() const { return loginPrompt_; }
    // The pause after the login's user name: in prompt pacing none, as the
    // attempts that follow wait for the router's answer.
    void afterUserName(int milliseconds);
    // In prompt pacing with a learned prompt: waits at most milliseconds for
    // the prompt of every command sent, true once it is back. Otherwise the
    // fixed pause of fixedMs, and true.
    bool untilPromptBack(const TelnetChannel& channel, int milliseconds, int fixedMs);
    // The pause after the login's way into the shell (the password, or
    // "shell"): in prompt pacing it ends once the router has shown a prompt
    // and gone quiet, and the prompt is learned.
    void afterShellEntry(const TelnetChannel& channel, int milliseconds);
    // One collectFor on channel, ended early in prompt pacing once word has
    // arrived; with learn, also once the router has shown a prompt (it is
    // learned then). True when word is in the capture: in prompt pacing,
    // also when it has arrived and is not yet shown.
    bool attempt(const TelnetChannel& channel, int milliseconds, const std::string& word, bool learn = false);
    // One collectFor at the end of a command's answer, ended early in
    // prompt pacing once the prompt is back.
    void collect(const TelnetChannel& channel, int milliseconds);

private:
    // The router has shown a prompt for every command sent since it was
    // last idle, the last one at the end of what arrived; it is idle again.
    bool promptBack();
    // A prompt shows at the end of what came since the latest command, and
    // nothing more is on its way: it is learned, and the router is idle.
    bool promptShown();
    void idleNow();

    Pause& pause_;
    bool prompting_;
    std::string prompt_;  // without terminal control sequences
    std::string loginPrompt_, loginCandidate_;
    // The prompt was seen after the command sent at promptSeenFor_: it stays
    // seen until the next command, whatever the ledger has forgotten since.
    bool promptSeen_ = false;
    ResponseCapture::Clock::time_point promptSeenFor_{};
    bool idleKnown_ = false;
    ResponseCapture::Clock::time_point idleSince_{};
};

// text without the terminal's control sequences (ESC [ ... final byte): a
// shell on a terminal asks for the cursor position after its prompt.
std::string withoutControlSequences(const std::string& text);

// How prompt pacing reads the router's text (control sequences already
// taken out, but where said). Each answers only what the text shows for
// certain; where output could end as a prompt does, the caller waits for
// the router to go quiet instead.
namespace prompts {

// The line ends as a shell's prompt does: "# ", "$ " or "> ".
bool endsLikePrompt(const std::string& line);
// line is the prompt known, or the known one with only its directory part
// changed ("~ # " and "/proc/ticfg # ", "VX100 / $ " and "VX100 /tmp $ ").
bool sameBesidesDirectory(const std::string& known, const std::string& line);
// The router asks for the user name: the text ends, blanks aside, in
// "login:" or in the login prompt learned (when not empty).
bool asksForName(const std::string& text, const std::string& learned);
// After a command: text (all that came since it was sent) is the command's
// echo, a line end, and on the line right after it the known prompt, its
// directory part changed or not. Output between echo and prompt (cat, ls)
// leaves doubt: its last line could end as a prompt does.
bool promptAfterEcho(const std::string& text, const std::string& command, const std::string& known);
// After the login's last answer (the password, or "shell"): the last line
// of text (what came since, the echo left out), after a line end, ends in
// "# " or "$ ", or is the known prompt, its directory changed or not. A line
// ending in "> " is in doubt (a banner's "... >", a menu) unless the
// terminal's query follows it: asked tells whether raw text ended in one.
bool promptAfterLogin(const std::string& text, bool asked, const std::string& known);
// The raw text ends in a terminal control sequence (a shell's ESC [ 6 n).
bool endsInControlSequence(const std::string& raw);
// Lines of text that begin with the prompt: one for each command the shell
// took. A line that begins with the prompt of another directory counts too:
// a cd typed ahead changes the prompt of the lines after it only.
int promptLines(const std::string& text, const std::string& prompt);

}  // namespace prompts

}  // namespace vornix
