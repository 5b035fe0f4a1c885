#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "config/Profile.h"

namespace vornix {

// The set-up commands of line mode, for vornix-cli; args start with the
// command itself:
//   --line-init                  create the line database's tables (safe to repeat)
//   --pool-add NAME FIRST LAST   add a pool of addresses FIRST..LAST
//   --pool-status                the pools and the stations' open blocks
// The database is [LINE] Database of setup.ini. Returns 0 on success, 1 when
// the database fails (one line on err, password masked), 2 for a usage error.
int lineCommand(const std::vector<std::string>& args, Profile& profile, std::FILE* out, std::FILE* err);

// Whether args[0] names one of the commands above.
bool isLineCommand(const std::string& arg);

// The usage text of the commands, for vornix-cli --help.
extern const char lineCommandUsage[];

// [LINE] Station, or this computer's name when it is absent or empty.
std::string lineStation(Profile& profile, const std::string& hostName);

}  // namespace vornix
