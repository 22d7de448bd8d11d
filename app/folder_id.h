// The id a centre folder keeps in itself ("centre.id"), so that the same
// folder mounted at another path is still itself, and another centre's
// folder mounted at this path is not. What this workstation keeps about a
// folder on its own disk (changes waiting for it, figures read from it) is
// filed under this id.
#pragma once

#include <string>

namespace app {

// The id of `folder`, made there by the first program that needs it; ""
// while the folder cannot be read (or the id cannot be made). Read once a
// run for each folder, which is known by its device and inode as well as
// its path: a folder put in another's place, or mounted anew, is read
// again.
std::string folderId(const std::string& folder);

}  // namespace app
