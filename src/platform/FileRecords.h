#pragma once

#include "records/RecordFiles.h"

namespace vornix::platform {

// The records as files of this system, each write flushed to the disk
// (fsync, or FlushFileBuffers).
class FileRecords : public RecordFiles {
public:
    bool appendLine(const std::string& path, const std::string& line, std::string& why) override;
    bool writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                  std::string& why) override;
};

}  // namespace vornix::platform
