#pragma once

#include <string>

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
class Pacer {
public:
    Pacer(Pause& pause, bool promptPacing) : pause_(pause), prompting_(promptPacing) {}

    bool prompting() const { return prompting_; }
    const std::string& prompt() const { return prompt_; }

    // The pause after a shell command sent on channel.
    void afterCommand(const TelnetChannel& channel, int milliseconds);
    // The pause after the login's way into the shell (the password, or
    // "shell"): in prompt pacing it ends once the router has shown a prompt
    // and gone quiet, and the prompt is learned.
    void afterShellEntry(const TelnetChannel& channel, int milliseconds);
    // One collectFor on channel, ended early in prompt pacing once word
    // shows in the capture; with learn, also once the router has shown a
    // prompt and gone quiet (the prompt is learned then).
    void attempt(const TelnetChannel& channel, int milliseconds, const std::string& word, bool learn = false);
    // One collectFor at the end of a command's answer, ended early in
    // prompt pacing once the prompt is back.
    void collect(const TelnetChannel& channel, int milliseconds);

private:
    // The prompt is back at the end of what the command brought, after its
    // echo, and nothing more is on its way; a prompt that changed (after cd)
    // is taken over when it ends as the one known does.
    bool promptBack();
    // A prompt shows at the end of what came since the latest command, and
    // nothing more is on its way: it is learned.
    bool promptShown();

    Pause& pause_;
    bool prompting_;
    std::string prompt_;
};

}  // namespace vornix
