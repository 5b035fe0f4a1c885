#pragma once

// A simulated router for testing the station against: a telnet service with
// a login and a small shell, the configuration directory's variable stores,
// wget over FTP, and a boot loader that a copied image and a reboot replace.
//
// Boot images: copying a file onto any path under /dev/ flashes it. The
// image names its version with the text "BOOTVERSION=<version>" anywhere in
// it (the version ends at the first blank, control character or end of
// file); after the next reboot the environment listing reports that
// version. An image without the marker leaves the boot loader as it was.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Options.h"

namespace routersim {

class RouterSim {
public:
    explicit RouterSim(Options options);
    ~RouterSim();  // stops
    RouterSim(const RouterSim&) = delete;
    RouterSim& operator=(const RouterSim&) = delete;

    // Binds and listens; false (with the reason) when it cannot.
    bool start(std::string* error = nullptr);
    // Drops all connections, joins all threads, closes all descriptors.
    void stop();

    // The port bound (useful with Options::port 0); 0 before start().
    int port() const;
    // Per accepted connection, in acceptance order: every byte received
    // (at most 16 MiB of each connection are kept).
    std::vector<std::string> received() const;
    // What `cat path` would print, with "\n" line ends ("" when absent).
    std::string file(const std::string& path) const;
    // Every file and store path, sorted.
    std::vector<std::string> files() const;
    // The variables set in a store of /proc/ticfg (fixed entries of the
    // environment listing, such as the boot loader's, are not included).
    std::map<std::string, std::string> variables(const std::string& path) const;
    // Reboots begun so far.
    int reboots() const;
    // True from a reboot until telnet is served again.
    bool rebooting() const;
    // The version currently reported.
    std::string bootloaderVersion() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace routersim
