#pragma once

#include <cstdio>
#include <string>

namespace vornix {

// vornix-cli --unit: the unit named by its serial or by one of its
// addresses, from the units file and the journal beside it: its block, every
// run of it and the versions its runs found. The exit status: 0 when found,
// 1 when not (or a file cannot be read).
int printUnit(const std::string& unitsPath, const std::string& journalPath, const std::string& serialOrMac,
              bool asJson, std::FILE* out, std::FILE* err);

// The same in line mode, from the line database (its ODBC connection
// string, each call within timeoutSeconds): the runs of every station, each
// with its station.
int printLineUnit(const std::string& database, int timeoutSeconds, const std::string& serialOrMac, bool asJson,
                  std::FILE* out, std::FILE* err);

}  // namespace vornix
