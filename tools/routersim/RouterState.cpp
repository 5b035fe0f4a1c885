#include "RouterState.h"

#include <algorithm>
#include <set>

namespace routersim {

namespace {

constexpr std::size_t maxVersionChars = 64;
constexpr std::size_t valueColumn = 24;

std::string trimLeft(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first);
}

// "name" padded with spaces to a column, then the value, as the router lists it.
std::string listingLine(const std::string& name, const std::string& value) {
    std::string line = name;
    if (!value.empty()) {
        line.append(name.size() + 2 < valueColumn ? valueColumn - name.size() : 2, ' ');
        line += value;
    }
    return line + "\n";
}

}  // namespace

RouterState::RouterState(std::string bootloaderName, std::string bootloaderVersion, bool listBootloaderVersion)
    : bootloaderName_(std::move(bootloaderName)),
      version_(std::move(bootloaderVersion)),
      listBootloaderVersion_(listBootloaderVersion),
      dirs_{"/", "/bin", "/dev", "/etc", "/proc", configDir, "/tmp", "/var", "/var/tmp"} {
    for (int i = 0; i < 6; ++i) {
        files_["/dev/mtd" + std::to_string(i)] = "";
        files_["/dev/mtdblock" + std::to_string(i)] = "";
    }
    files_["/etc/hostname"] = "router\n";
    stores_[envFile];
}

std::string RouterState::resolve(const std::string& cwd, const std::string& path) {
    std::vector<std::string> parts;
    const std::string full = (!path.empty() && path[0] == '/') ? path : cwd + "/" + path;
    std::size_t at = 0;
    while (at <= full.size()) {
        const auto slash = std::min(full.find('/', at), full.size());
        const std::string part = full.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string out;
    for (const auto& part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

std::string RouterState::baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RouterState::parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return (slash == 0 || slash == std::string::npos) ? "/" : path.substr(0, slash);
}

bool RouterState::inConfigDir(const std::string& path) {
    return parent(path) == configDir;
}

bool RouterState::isDirectory(const std::string& path) const {
    return std::find(dirs_.begin(), dirs_.end(), path) != dirs_.end();
}

bool RouterState::isFile(const std::string& path) const {
    return files_.count(path) != 0 || stores_.count(path) != 0;
}

std::vector<std::string> RouterState::list(const std::string& dir) const {
    std::set<std::string> names;
    for (const auto& d : dirs_)
        if (d != "/" && parent(d) == dir) names.insert(baseName(d));
    for (const auto& f : files_)
        if (parent(f.first) == dir) names.insert(baseName(f.first));
    for (const auto& s : stores_)
        if (parent(s.first) == dir) names.insert(baseName(s.first));
    return {names.begin(), names.end()};
}

std::string RouterState::listStore(const std::string& path, const Store& store) const {
    std::string out;
    if (path == envFile) {
        if (listBootloaderVersion_ && bootloaderName_ != "bootloaderVersion")
            out += listingLine("bootloaderVersion", version_);
        out += listingLine(bootloaderName_, version_);
    }
    for (const auto& variable : store) out += listingLine(variable.first, variable.second);
    return out;
}

std::string RouterState::read(const std::string& path) const {
    const auto store = stores_.find(path);
    if (store != stores_.end()) return listStore(path, store->second);
    const auto file = files_.find(path);
    return file == files_.end() ? std::string() : file->second;
}

RouterState::WriteResult RouterState::write(const std::string& path, const std::string& content, bool append) {
    if (isDirectory(path)) return WriteResult::isDirectory;
    if (!isDirectory(parent(path))) return WriteResult::noDirectory;
    if (inConfigDir(path)) {
        // The store keeps variables, not text: each line sets one, appended
        // or not, and a variable set again keeps its place in the listing.
        Store& store = stores_[path];
        std::size_t at = 0;
        while (at < content.size()) {
            const auto end = std::min(content.find('\n', at), content.size());
            const std::string line = trimLeft(content.substr(at, end - at));
            at = end + 1;
            if (line.empty()) continue;
            const auto gap = line.find_first_of(" \t");
            const std::string name = line.substr(0, gap);
            const std::string value = gap == std::string::npos ? std::string() : trimLeft(line.substr(gap));
            auto known = std::find_if(store.begin(), store.end(), [&](const auto& v) { return v.first == name; });
            if (known != store.end()) {
                known->second = value;
            } else if (store.size() < 4096) {
                store.emplace_back(name, value);
            }
        }
        return WriteResult::ok;
    }
    std::string& file = files_[path];
    if ((append ? file.size() : 0) + content.size() > maxFileBytes) return WriteResult::tooLarge;
    if (append) {
        file += content;
    } else {
        file = content;
    }
    return WriteResult::ok;
}

std::map<std::string, std::string> RouterState::variables(const std::string& path) const {
    std::map<std::string, std::string> out;
    const auto store = stores_.find(path);
    if (store != stores_.end())
        for (const auto& variable : store->second) out[variable.first] = variable.second;
    return out;
}

std::vector<std::string> RouterState::files() const {
    std::vector<std::string> out;
    for (const auto& f : files_) out.push_back(f.first);
    for (const auto& s : stores_) out.push_back(s.first);
    std::sort(out.begin(), out.end());
    return out;
}

std::string RouterState::flash(const std::string& image) {
    static const std::string marker = "BOOTVERSION=";
    const auto at = image.find(marker);
    if (at == std::string::npos) return "";
    std::string version;
    for (std::size_t i = at + marker.size(); i < image.size() && version.size() < maxVersionChars; ++i) {
        const unsigned char c = static_cast<unsigned char>(image[i]);
        if (c <= ' ' || c >= 0x7f) break;
        version += static_cast<char>(c);
    }
    if (!version.empty()) pending_ = version;
    return version;
}

void RouterState::completeReboot() {
    if (!pending_.empty()) version_ = pending_;
    pending_.clear();
}

}  // namespace routersim
