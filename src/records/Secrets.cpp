#include "records/Secrets.h"

#include <algorithm>

namespace vornix {

std::vector<bool> Secrets::covered(const std::string& text, bool ended) const {
    std::vector<bool> hidden(text.size(), false);
    for (const std::string& secret : secrets_)
        for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1))
            std::fill(hidden.begin() + static_cast<long>(at), hidden.begin() + static_cast<long>(at + secret.size()), true);
    if (ended) std::fill(hidden.end() - static_cast<long>(unfinished(text)), hidden.end(), true);
    return hidden;
}

bool Secrets::touches(const std::string& text) const {
    const std::vector<bool> hidden = covered(text, true);
    return std::find(hidden.begin(), hidden.end(), true) != hidden.end();
}

std::string Secrets::without(std::string text) const {
    while (touches(text)) {
        const std::vector<bool> hidden = covered(text, true);
        std::string kept;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!hidden[i]) kept += text[i];
        text = std::move(kept);
    }
    return text;
}

std::size_t Secrets::unfinished(const std::string& text) const {
    std::size_t found = 0;
    for (const std::string& secret : secrets_)
        for (std::size_t length = std::min(secret.size() - 1, text.size()); length > found; --length)
            if (text.compare(text.size() - length, length, secret, 0, length) == 0) {
                found = length;
                break;
            }
    return found;
}

std::size_t Secrets::longest() const {
    std::size_t length = 0;
    for (const std::string& secret : secrets_) length = std::max(length, secret.size());
    return length;
}

std::string Secrets::mask(std::string text, bool ended) const {
    if (secrets_.empty()) return text;
    const std::vector<bool> hidden = covered(text, ended);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!hidden[i]) out += text[i];
        else if (i == 0 || !hidden[i - 1]) out += "***";
    }
    return out;
}

}  // namespace vornix
