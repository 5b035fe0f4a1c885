#pragma once

// vornix-cli as a separate process, as a station script runs it: in a
// directory of the test's own, its exit status, standard output and error.
#include <atomic>
#include <cstdlib>
#include <string>

#include "support/BuildPath.h"
#include "support/TempDir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vornix::test {

struct CliResult {
    int status;
    std::string out, err;
};

inline CliResult runCli(const std::string& directory, const std::string& arguments) {
    const std::string program = buildPath(VORNIX_CLI_PATH);
    // Names of each run's own: under Wine, the handle of a run that has just
    // ended can still hold its file when the next run's shell opens it, and
    // the shell then runs nothing ("Sharing violation.").
    static std::atomic<int> runs{0};
    const std::string name = directory + "-" + std::to_string(runs++);
    const std::string out = name + "-out.txt", err = name + "-err.txt";
#ifdef _WIN32
    const std::string command = "cd /d \"" + directory + "\" && \"" + program + "\" " + arguments + " > \"" + out +
                                "\" 2> \"" + err + "\"";
    const int status = std::system(command.c_str());
#else
    const std::string command =
        "cd '" + directory + "' && '" + program + "' " + arguments + " > '" + out + "' 2> '" + err + "'";
    const int raw = std::system(command.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return {status, readAll(out), readAll(err)};
}

#ifndef _WIN32
// vornix-cli started in directory with one argument, its output discarded;
// the caller waits for it (or kills it).
inline pid_t startCli(const std::string& directory, const char* argument) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(directory.c_str()) != 0) ::_exit(99);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(VORNIX_CLI_PATH, VORNIX_CLI_PATH, argument, static_cast<char*>(nullptr));
    ::_exit(98);
}
#endif

}  // namespace vornix::test
