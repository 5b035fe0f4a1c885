#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vornix {

// A record file a run writes as it goes, held by this process until it is
// closed (destroyed): while it is held, another process of the station
// (vornix.exe and vornix-cli.exe may share a folder) can see that its run is
// live. The system releases it with the process, however that ends.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    // Appends bytes, handed to the system (not yet on the disk).
    virtual bool append(const std::string& bytes, std::string& why) = 0;
    // Everything appended is on the disk.
    virtual bool sync(std::string& why) = 0;
    // The whole file.
    virtual bool read(std::string& bytes, std::string& why) = 0;
    // Gives it another name in its directory; it stays held.
    virtual bool rename(const std::string& name, std::string& why) = 0;
    // Takes its name away: the file is gone once it is let go.
    virtual bool remove(std::string& why) = 0;
};

// How the station's records reach the disk: the run journal and the
// connection transcripts beside setup.ini.
class RecordFiles {
public:
    virtual ~RecordFiles() = default;
    // Appends line and a line end in one write to the file at path (made
    // when missing), starting on a fresh line when an earlier process left a
    // torn one, and flushed to the disk before it returns. Processes
    // appending at once take turns (each waits a while for its own); readers
    // are never kept out. False and why when not.
    virtual bool appendLine(const std::string& path, const std::string& line, std::string& why) = 0;
    // A new file with bytes, its directory made when missing, flushed to
    // the disk. False and why when not.
    virtual bool writeNew(const std::string& directory, const std::string& name, const std::string& bytes,
                          std::string& why) = 0;
    // A new file that begins with heading, held from before it has its
    // name (no other process ever finds it unheld, or without its heading,
    // while this one lives), the heading on the disk before it has its name,
    // its directory made when missing. nullptr and why when not.
    virtual std::unique_ptr<HeldFile> create(const std::string& directory, const std::string& name,
                                             const std::string& heading, std::string& why) = 0;
    // The names of the files in directory that end in suffix; none when it
    // is missing.
    virtual std::vector<std::string> names(const std::string& directory, const std::string& suffix) = 0;
    // The file, held now by this process, when nothing else holds it (its
    // process is gone) and it still has this name; else nullptr.
    virtual std::unique_ptr<HeldFile> claim(const std::string& directory, const std::string& name) = 0;
};

}  // namespace vornix
