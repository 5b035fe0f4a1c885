#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace vornix::platform {

// Another process of this program, as a gang station runs one per port: its
// standard output comes back through a pipe, its standard error is ours. A
// child never outlives the process that started it: on Windows it is in a
// job that ends with that process, on Linux it asks for that itself
// (endWithStarter).
class ChildProcess {
public:
    // How it ended: exited with a status, or ended from outside (a signal,
    // or another process ended it).
    struct End {
        bool exited = false;
        int status = -1;
    };

    // Starts this program's own executable with arguments (not counting the
    // program's name), in the current directory. nullptr and why when not.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments, std::string& why);
    virtual ~ChildProcess() = default;

    // Called first thing in a process that start() started: from here on
    // it ends at once when its starter does. False when the starter is
    // gone already (the caller ends); true too when not started by start().
    static bool endWithStarter();

    // Its next line of standard output, without its line end (a carriage
    // return before the line feed is dropped too); false once the output has
    // ended. A line longer than maxLine comes in pieces.
    static constexpr std::size_t maxLine = 64 * 1024;
    virtual bool readLine(std::string& line) = 0;
    // Waits until it has ended.
    virtual End wait() = 0;
    // Ends it at once (the operator left, or the gang is torn down).
    virtual void kill() = 0;
    virtual long long id() const = 0;

protected:
    // The next line of the output, as readLine gives it; read(chunk, size)
    // fills chunk with what comes next and returns its size, 0 at the end.
    template <typename Read>
    bool nextLine(std::string& line, Read read) {
        line.clear();
        for (;;) {
            if (takeLine(buffer_, ended_, line)) return true;
            if (ended_) return false;
            char chunk[4096];
            const std::size_t got = read(chunk, sizeof chunk);
            if (got == 0) ended_ = true;
            else buffer_.append(chunk, got);
        }
    }

    // Takes the next line (or piece of a long one) from the front of what
    // was read; ended: nothing more will come. False when none is whole yet.
    static bool takeLine(std::string& buffer, bool ended, std::string& line) {
        // A line end past maxLine ends a later piece: this one is cut at maxLine.
        std::size_t end = buffer.find('\n');
        if (end != std::string::npos && end > maxLine) end = std::string::npos;
        if (end == std::string::npos && buffer.size() < maxLine && !(ended && !buffer.empty())) return false;
        const std::size_t take = end != std::string::npos ? end : std::min(buffer.size(), maxLine);
        line = buffer.substr(0, take);
        buffer.erase(0, end != std::string::npos ? take + 1 : take);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

private:
    std::string buffer_;
    bool ended_ = false;
};

}  // namespace vornix::platform
