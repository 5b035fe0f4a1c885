// How prompt pacing reads the router's text: when a prompt leaves no doubt
// and the wait may end at once, when the router asks for the user name, and
// the cases that keep the quiet wait. Text only: no router, no clock.
#include <gtest/gtest.h>

#include "link/Pacer.h"

namespace vornix {
namespace {

const std::string busyBoxBanner =
    "\r\n\r\n\r\nBusyBox v1.35.0 (Debian 1:1.35.0-4+deb12u1+b1) built-in shell (ash)\r\n"
    "Enter 'help' for a list of built-in commands.\r\n\r\n";

// After a command: its echo, then the prompt on the very next line.
TEST(PromptPacing, APromptRightAfterTheEchoEndsTheWait) {
    const struct {
        const char* what;
        std::string text, command, known;
        bool prompt;
    } cases[] = {
        {"cd: the directory part changed", "cd /proc/ticfg\r\n/proc/ticfg # ", "cd /proc/ticfg\r\n", "~ # ", true},
        {"a write, the prompt as known", "echo A 00:11 > /proc/ticfg/env\r\n/proc/ticfg # ",
         "echo A 00:11 > /proc/ticfg/env\r\n", "/proc/ticfg # ", true},
        {"a directory inside a longer prompt", "cd /tmp\r\nVX100 /tmp $ ", "cd /tmp\r\n", "VX100 / $ ", true},
        {"user, host and directory", "cd /proc\r\nroot@VX100:/proc# ", "cd /proc\r\n", "root@VX100:~# ", true},
        {"cat: a file whose last line ends in '# '", "cat notes\r\nfirst line\r\nset it # ", "cat notes\r\n",
         "/proc/ticfg # ", false},
        {"cat: a file of one line ending in '# '", "cat notes\r\nset it # ", "cat notes\r\n", "/proc/ticfg # ", false},
        {"cat: the line looks like a directory's prompt", "cat notes\r\n/etc # ", "cat notes\r\n", "# ", false},
        {"a prompt of another kind", "shell\r\nCLI> ", "shell\r\n", "# ", false},
        {"the echo still arriving", "cd /proc/ti", "cd /proc/ticfg\r\n", "~ # ", false},
        {"the echo of another command", "ls env\r\n/proc/ticfg # ", "cd /proc/ticfg\r\n", "~ # ", false},
        {"no prompt known", "cd /proc/ticfg\r\n/proc/ticfg # ", "cd /proc/ticfg\r\n", "", false},
        {"the directory part with a blank in it", "cd x\r\n/a b # ", "cd x\r\n", "/a # ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prompts::promptAfterEcho(c.text, c.command, c.known), c.prompt) << c.what;
}

// After the login's last answer (the password, or "shell"): the last line.
TEST(PromptPacing, APromptAfterTheLoginEndsTheWaitUnlessABannerCouldEndSo) {
    const struct {
        const char* what;
        std::string text;
        bool asked;  // the terminal's query followed
        std::string known;
        bool prompt;
    } cases[] = {
        {"BusyBox ash after its banner", busyBoxBanner + "~ # ", true, "", true},
        {"a '$ ' prompt, no query", "\r\nWelcome\r\n$ ", false, "", true},
        {"the prompt of the login before, another directory", "\r\n~ # ", false, "/proc/ticfg # ", true},
        {"a banner line ending in '> ', more to come", "\r\nVX100 router\r\nType 'help' for commands > ", false, "",
         false},
        {"a '> ' prompt the terminal is asked after", "\r\nVX100 router\r\nVX100> ", true, "", true},
        {"a '> ' prompt known from the login before", "\r\nVX100 router\r\nVX100> ", false, "VX100> ", true},
        {"the banner still arriving", busyBoxBanner.substr(0, 40), false, "", false},
        {"the banner's last line end, no prompt yet", busyBoxBanner, false, "", false},
        {"no line end before it", "# ", false, "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prompts::promptAfterLogin(c.text, c.asked, c.known), c.prompt) << c.what;

    EXPECT_TRUE(prompts::endsInControlSequence("~ # \x1b[6n"));
    EXPECT_FALSE(prompts::endsInControlSequence("~ # "));
    EXPECT_FALSE(prompts::endsInControlSequence("\x1b[6n~ # ")) << "a query before the line is no query after it";
}

// The shell took as many commands as lines begin with its prompt; a cd
// typed ahead of the prompt before it left that prompt in the old directory.
TEST(PromptPacing, EveryPromptLineCountsWhateverItsDirectory) {
    const struct {
        const char* what;
        std::string text;
        int lines;
    } cases[] = {
        {"a listing, then a cd and a wget typed ahead of its prompt",
         "cat env\r\nbootloaderVersion 1.0.0\r\n/proc/ticfg # cd /var/tmp\r\n/var/tmp # wget x\r\nConnecting\r\n/var/tmp # ",
         3},
        {"output that names no directory", "ls\r\nnotes # 1\r\n/var/tmp # ", 1},
        {"a prompt of another kind", "shell\r\nCLI> \r\n/var/tmp # ", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(prompts::promptLines(c.text, "/var/tmp # "), c.lines) << c.what;
}

TEST(PromptPacing, TheRouterAsksForTheName) {
    const struct {
        std::string text, learned;
        bool asks;
    } cases[] = {
        {"\xff\xfd\x01\r\r\nVX100 (BusyBox router)\r\n\rVX100 login: ", "", true},
        {"\r\nrouter login:", "", true},
        {"\r\nVX100 (BusyBox router)\r\n", "", false},
        {"\r\nLast login: Tue", "", false},
        {"\r\nrouter login: admin\r\n", "", false},
        {"\r\nUsername: ", "", false},
        {"\r\nWelcome\r\nUsername: ", "Username:", true},
        {"\r\nUsername: admin\r\nPassword: ", "Username:", false},
    };
    for (const auto& c : cases) EXPECT_EQ(prompts::asksForName(c.text, c.learned), c.asks) << c.text;
}

}  // namespace
}  // namespace vornix
