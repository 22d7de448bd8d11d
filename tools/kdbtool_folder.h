// A centre folder shared by the accounts of several workstations: every
// account works in it through one group, so every file any of them makes
// must be writable by the others.
//
//   kdbtool init-folder DIR [--group GROUP]
//
// makes DIR (when missing) the group's: the folder and everything in it get
// GROUP (a name or a number; by default the folder's own group), the
// folder is made setgid with the group's full access and none for others
// (2770: the files hold patients' data), subfolders get the group's access
// and setgid, and files group read and write. New files then get the group
// from the setgid folder and group write from the engine, which gives a
// file it makes the folder's group access whatever the account's umask.
// Symbolic links are left alone. Exit status 0 when the folder is shared
// with nothing left unwritable, 1 otherwise (each file named).
#pragma once

#include <string>
#include <vector>

namespace kdbtool {

[[nodiscard]] int initFolderCommand(const std::vector<std::string>& args);

// What keeps another account of a shared folder from writing it (UTF-8, a
// line each, naming the file and the fix): a folder its group may write
// that is not setgid, a file of another group, a file without group read
// and write. Empty for a folder no group may write (one account's folder:
// *shared is false then) and for a sound shared folder. Only the folder
// and the files directly in it are looked at: the programs keep nothing
// in subfolders. False (with *problems holding why) when the folder
// cannot be read.
// mkdir(path) whose new folder, inside a folder its group may write, gets
// the same group access (and setgid from it) whatever the umask: another
// account of the group can then clear out a restore's kept files or an old
// backup. 0, or the errno of mkdir (EEXIST when the name is taken).
[[nodiscard]] int makeFolderLikeParent(const std::string& path);

bool sharingProblems(const std::string& dir, bool* shared, std::vector<std::string>* problems);

}  // namespace kdbtool
