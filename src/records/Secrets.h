#pragma once

#include <string>
#include <vector>

namespace vornix {

// The passwords a run knows of (the router's, the FTP account's, the line
// database's): every record the station keeps shows "***" in their place.
class Secrets {
public:
    void add(const std::string& secret) {
        if (!secret.empty()) secrets_.push_back(secret);
    }
    // Every occurrence of a secret replaced by "***" (one per run of hidden
    // bytes). ended: nothing follows text (a stream closed, a line cut), so
    // an end that could be the start of a secret is one cut short: hidden too.
    std::string mask(std::string text, bool ended = false) const;
    // Which bytes of text belong to an occurrence of a secret (ended: as above).
    std::vector<bool> covered(const std::string& text, bool ended = false) const;
    // Whether mask(text, true) would hide anything of text.
    bool touches(const std::string& text) const;
    // text with every byte mask(text, true) would hide left out, again until
    // nothing is (leaving bytes out may join two parts into a secret).
    std::string without(std::string text) const;
    // How many bytes at text's end could be the start of a secret still to
    // come (a secret's beginning, shorter than it): at most longest() - 1.
    std::size_t unfinished(const std::string& text) const;
    std::size_t longest() const;

private:
    std::vector<std::string> secrets_;
};

}  // namespace vornix
