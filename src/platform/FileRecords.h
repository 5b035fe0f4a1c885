#pragma once

#include "records/RecordFiles.h"

namespace vornix::platform {

// The records as files of this system, each write flushed to the disk
// (fsync, or FlushFileBuffers). A held file is locked: flock on POSIX,
// LockFileEx on Windows, both released by the system when the process ends.
class FileRecords : public RecordFiles {
public:
    bool appendLine(const std::string& path, const std::string& line, std::string& why) override;
    bool writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                  std::string& why) override;
    std::unique_ptr<HeldFile> create(const std::string& directory, const std::string& name, const std::string& heading,
                                     std::string& why) override;
    std::vector<std::string> names(const std::string& directory, const std::string& suffix) override;
    std::unique_ptr<HeldFile> claim(const std::string& directory, const std::string& name) override;
};

}  // namespace vornix::platform
