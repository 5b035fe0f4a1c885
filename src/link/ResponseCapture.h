#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace vornix {

// The one process-wide text that router output accumulates in. Collectors
// append, procedures clear and search; every operation is atomic, and the
// text never holds a NUL.
class ResponseCapture {
public:
    static ResponseCapture& instance();

    void clear();
    // Appends the bytes up to the first NUL among them, at most size bytes.
    void append(const char* bytes, std::size_t size);
    // Index of the first occurrence at or after start, or -1 (also when
    // start lies beyond the end, or below 0 counts as 0). Case-sensitive.
    long find(const std::string& text, long start = 0) const;
    // Substring: start below 0 counts as 0, count below 0 as 0, cut at the end.
    std::string mid(long start, long count) const;
    long length() const;
    // The byte at index, or '\0' outside the text.
    char at(long index) const;
    std::string text() const;

private:
    ResponseCapture() = default;
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace vornix
