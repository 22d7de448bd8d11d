// Where the centre's tables live.
//
// A program folder (scripts/install DIR, or the build tree) keeps the
// tables beside the program, as it always has. The program installed by
// the Debian package lives in /usr/bin, where no table may be: it works in
// a centre folder named, in this order, by
//   1. the command line: `clinic /srv/clinic` (a desktop entry's Exec line);
//   2. the workstation: the first line of /etc/clinic/centre, which the
//      administrator writes once for every user of the machine;
//   3. the user: the folder chosen at the first start, remembered in
//      ~/.config/clinic/centre ($XDG_CONFIG_HOME);
//   4. otherwise the program asks for the folder and remembers the answer.
// A centre folder is never inside /usr or /opt, and must exist: a folder
// that is not there (a share that is not mounted) is named and nothing is
// created in its place.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

// True for a program folder that the package installed: /usr or below it,
// or a "usr/bin" folder (the package unpacked under another root).
bool packagedProgramFolder(const std::string& dir);
// True for a folder inside /usr or /opt (after resolving links), where
// tables never go.
bool systemFolder(const std::string& dir);

struct CentreSources {
  std::vector<std::string> args;  // the command line after the program name
  std::string programDir;
  std::string workstationFile;  // "/etc/clinic/centre"
  std::string userFile;         // "$XDG_CONFIG_HOME/clinic/centre"
};

struct CentreChoice {
  enum Source { kArgument, kProgramFolder, kWorkstation, kUser, kAsk } source = kAsk;
  std::string folder;  // absolute; empty for kAsk
  // Why the folder named cannot be used (UTF-8), or empty.
  std::string problem;
};

// The folder the tables are in, as the rules above pick it. A named folder
// that cannot be used comes back with its problem set.
CentreChoice chooseCentreFolder(const CentreSources& sources);

// What is wrong with `dir` as a centre folder (UTF-8), or empty when it is
// usable: it must be an existing folder outside /usr and /opt.
std::string centreFolderProblem(const std::string& dir);

// The files the rules read, for this process.
CentreSources centreSources(int argc, char** argv, const std::string& programDir);

// Remembers the folder the user chose in the user's file; false when it
// could not be written.
[[nodiscard]] bool rememberCentreFolder(const std::string& userFile, const std::string& dir);

// At start-up: picks the centre folder (asking when nothing names one) and
// makes it the working directory. False when the program is to end: the
// folder named cannot be used (the operator is told why) or the question
// was cancelled.
bool enterCentreFolder(int argc, char** argv);

}  // namespace app
