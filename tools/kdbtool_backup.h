// kdbtool's folder commands: the nightly backup of the centre's table folder
// while the workstations keep working, and the check of every table of a
// folder.
//
//   kdbtool backup [--wait SECONDS] DIR DEST
//   kdbtool verify [--wait SECONDS] DIR
//
// Both take the arguments that follow the command word and return the
// process exit status: 0 when every table was copied and checked (or is
// sound), 1 when any table was not, each such table named on standard
// error.
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

int backupCommand(const std::vector<std::string>& args);
int verifyCommand(const std::vector<std::string>& args);

}  // namespace kdbtool
