#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace routersim {

struct Options {
    std::string address = "127.0.0.1";
    int port = 23;                       // 0: any free port (see RouterSim::port())
    std::string user = "admin";          // telnet login name expected
    std::string password = "admin";      // password expected
    int latencyMs = 200;                 // delay before the answer to each command line (not the echo)
    std::string prompt = "# ";           // the shell's prompt ("{cwd}": the current directory; "": none)
    bool cliMode = false;                // log in to a command-line mode ("CLI> "); "shell" leaves it
    bool passwordPrompt = true;          // false: the password is still read, but never prompted for
    bool lowercasePrompt = false;        // "password: " instead of "Password: "
    bool bootloaderVersion = true;       // false: the environment listing has no "bootloaderVersion"
    bool nulBytes = false;               // a NUL byte after every line end of the output
    bool telnetOptions = false;          // telnet option requests at connect and before every answer
    int trickleMs = 0;                   // >0: output leaves one byte at a time, this far apart
    int closeAfterLines = -1;            // >=0: close the connection once this many lines arrived
    std::size_t floodBytes = 0;          // >0: this much junk output right after a good password
    bool refuse = false;                 // refuse every connection (the port is held, nothing listens)
    int rebootMs = 3000;                 // after "reboot": connections dropped, telnet refused this long (0: never)
    std::string ftpAddress = "";         // where wget's FTP connections go; "" = the URL's host
    int ftpPort = 21;
    int ftpTimeoutMs = 5000;             // wget gives up on an FTP server silent this long
    long wgetCutBytes = -1;              // >=0: wget keeps this many bytes of a file and fails as if cut short
    std::string bootloaderName = "BUILD_VERSION";  // label of the boot loader version in the environment
    std::string bootloaderVersionText = "0.9.0";   // boot loader version at start
    // Files present from the start, path -> content, as "echo ... > path" would
    // leave them (in /proc/ticfg each line "NAME VALUE" sets a variable).
    std::map<std::string, std::string> files;
    // What the router does, one line per event; called from any of its
    // threads, never with its lock held. Empty: silent.
    std::function<void(const std::string&)> log;
    // Called by wget on its connection's thread once the file has come,
    // before it is stored: a test holds a download in progress here.
    std::function<void(const std::string& path)> wgetArrived;
};

}  // namespace routersim
