#pragma once

// vornix-cli as a separate process, as a station script runs it: in a
// directory of the test's own, its exit status, standard output and error.
#include <cstdlib>
#include <string>

#include "support/BuildPath.h"
#include "support/TempDir.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace vornix::test {

struct CliResult {
    int status;
    std::string out, err;
};

inline CliResult runCli(const std::string& directory, const std::string& arguments) {
    const std::string program = buildPath(VORNIX_CLI_PATH);
    const std::string out = directory + "-out.txt", err = directory + "-err.txt";
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

}  // namespace vornix::test
