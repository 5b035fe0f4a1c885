#pragma once

#include <chrono>

#include "records/RecordFiles.h"

namespace vornix::platform {

// The records as files of this system, each write flushed to the disk
// (fsync, or FlushFileBuffers). A held file is locked: flock on POSIX,
// LockFileEx on Windows, both released by the system when the process ends.
// Appends to the journal take turns under the same kind of lock.
class FileRecords : public RecordFiles {
public:
    // journalWait: how long an append waits for another process's turn.
    explicit FileRecords(std::chrono::milliseconds journalWait = std::chrono::seconds(30)) : journalWait_(journalWait) {}
    bool appendLine(const std::string& path, const std::string& line, std::string& why) override;
    bool writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                  std::string& why) override;
    std::unique_ptr<HeldFile> create(const std::string& directory, const std::string& name, const std::string& heading,
                                     std::string& why) override;
    std::vector<std::string> names(const std::string& directory, const std::string& suffix) override;
    std::unique_ptr<HeldFile> claim(const std::string& directory, const std::string& name) override;

private:
    std::chrono::milliseconds journalWait_;
};

}  // namespace vornix::platform
