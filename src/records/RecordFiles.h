#pragma once

#include <string>

namespace vornix {

// How the station's records reach the disk: the run journal and the
// connection transcripts beside setup.ini.
class RecordFiles {
public:
    virtual ~RecordFiles() = default;
    // Appends line and a line end in one write to the file at path (made
    // when missing), starting on a fresh line when an earlier process left a
    // torn one, and flushed to the disk before it returns. False and why
    // when not.
    virtual bool appendLine(const std::string& path, const std::string& line, std::string& why) = 0;
    // A new file with bytes, its directory made when missing, flushed to
    // the disk. False and why when not.
    virtual bool writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                          std::string& why) = 0;
};

}  // namespace vornix
