#pragma once

// What the router keeps between commands and across reboots: a small
// directory tree, plain files, the variable stores of the configuration
// directory and the boot loader. Not thread-safe; RouterSim locks around it.
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace routersim {

class RouterState {
public:
    static constexpr const char* configDir = "/proc/ticfg";
    static constexpr const char* envFile = "/proc/ticfg/env";
    static constexpr std::size_t maxFileBytes = 16u << 20;

    RouterState(std::string bootloaderName, std::string bootloaderVersion, bool listBootloaderVersion);

    // Absolute, normalised path of `path` seen from `cwd` ("." and ".." resolved).
    static std::string resolve(const std::string& cwd, const std::string& path);
    static std::string baseName(const std::string& path);

    bool isDirectory(const std::string& path) const;
    bool isFile(const std::string& path) const;
    bool exists(const std::string& path) const { return isDirectory(path) || isFile(path); }
    // Names directly inside a directory, sorted.
    std::vector<std::string> list(const std::string& dir) const;
    // What `cat` prints, lines ending in "\n"; "" when absent.
    std::string read(const std::string& path) const;

    enum class WriteResult { ok, noDirectory, isDirectory, tooLarge };
    // A shell redirection into `path`. Inside the configuration directory
    // every line "NAME VALUE" sets one variable of that file's store.
    WriteResult write(const std::string& path, const std::string& content, bool append);

    // rm: a plain file goes; false when there is none at path.
    bool remove(const std::string& path) { return files_.erase(path) != 0; }

    std::map<std::string, std::string> variables(const std::string& path) const;
    std::vector<std::string> files() const;

    // Copying onto a device: an image carrying "BOOTVERSION=<version>"
    // becomes the boot loader that runs after the next reboot. Returns the
    // version found, "" when the image carries none.
    std::string flash(const std::string& image);
    void completeReboot();
    const std::string& bootloaderVersion() const { return version_; }
    const std::string& pendingBootloaderVersion() const { return pending_; }

private:
    using Store = std::vector<std::pair<std::string, std::string>>;
    static bool inConfigDir(const std::string& path);
    static std::string parent(const std::string& path);
    std::string listStore(const std::string& path, const Store& store) const;

    std::string bootloaderName_;
    std::string version_;
    std::string pending_;
    bool listBootloaderVersion_;
    std::vector<std::string> dirs_;
    std::map<std::string, std::string> files_;
    std::map<std::string, Store> stores_;
};

}  // namespace routersim
