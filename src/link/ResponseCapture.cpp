#include "link/ResponseCapture.h"

#include <cstring>

namespace vornix {

ResponseCapture& ResponseCapture::instance() {
    // Never destroyed: collectors may still be appending while the process ends.
    static ResponseCapture* capture = new ResponseCapture;
    return *capture;
}

void ResponseCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
}

void ResponseCapture::append(const char* bytes, std::size_t size) {
    const void* nul = std::memchr(bytes, '\0', size);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(bytes, length);
}

long ResponseCapture::find(const std::string& text, long start) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (start < 0) start = 0;
    if (static_cast<std::size_t>(start) > text_.size()) return -1;
    const std::size_t at = text_.find(text, static_cast<std::size_t>(start));
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

std::string ResponseCapture::mid(long start, long count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (start < 0) start = 0;
    if (count < 0) count = 0;
    if (static_cast<std::size_t>(start) >= text_.size()) return std::string();
    return text_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count));
}

long ResponseCapture::length() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<long>(text_.size());
}

char ResponseCapture::at(long index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= text_.size()) return '\0';
    return text_[static_cast<std::size_t>(index)];
}

std::string ResponseCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

}  // namespace vornix
