#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/LineDatabase.h"

namespace vornix {

// vornix-cli --unit: the unit named by its serial or by one of its
// addresses, from the units file and the journal beside it: its block, every
// run of it, the versions its runs found and its labels (each run's prints
// and the reprints in the labels journal at labelsPath). The exit status: 0
// when found, 1 when not (or a file cannot be read).
int printUnit(const std::string& unitsPath, const std::string& journalPath, const std::string& labelsPath,
              const std::string& serialOrMac, bool asJson, std::FILE* out, std::FILE* err);

// The same in line mode, from the line database (its ODBC connection
// string, each call within timeoutSeconds): the runs of every station, each
// with its station.
// A station's unit (no line database) as the line view shows it: false and
// why when a file cannot be read; unit empty when there is none. The unit's
// pool is empty, and it was bound when the run that bound it started.
// mac: one of its addresses, else serial names it.
bool findStationUnit(const std::string& unitsPath, const std::string& journalPath, std::optional<long long> mac,
                     const std::string& serial, std::optional<LineUnit>& unit,
                     std::vector<LineDatabase::StoredRun>& runs, std::string& why);

// findStationUnit on the files of the station in directory.
std::function<bool(std::optional<long long> mac, const std::string& serial, std::optional<LineUnit>& unit,
                   std::vector<LineDatabase::StoredRun>& runs, std::string& why)>
stationUnitLookup(const std::string& directory);

int printLineUnit(const std::string& database, int timeoutSeconds, const std::string& labelsPath,
                  const std::string& serialOrMac, bool asJson, std::FILE* out, std::FILE* err);

}  // namespace vornix
