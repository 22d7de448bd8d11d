// File names of tables on this platform.
//
// "/" separates directories. A name with no "." after its last "/" gets
// ".kdb"; a name ending in "." gets "kdb"; a name with an extension keeps
// it. The auxiliary file is the database file's name with its extension
// replaced by ".kdt" (or ".kdt" appended when there is none).
//
// Names are compared ignoring letter case, as the program has always done:
// an existing file is found whatever the case of its name on disk, so
// "ypjbxx", "YPJBXX" and a copied "YPJBXX.KDB" all name one file; a file
// that does not exist yet is made with the name exactly as built above.
// Only the last component is matched this way; directories are taken as
// given.
#pragma once

#include <string>
#include <string_view>

namespace db {

std::string withDefaultExtension(std::string_view name);
std::string auxNameFor(std::string_view dbName);
// True when the name's extension is the auxiliary file's (any case, and
// after trailing spaces, which file servers drop). Such a name is never a
// table: its auxiliary file would be the table itself.
bool hasAuxExtension(std::string_view path);
// The redo record an interrupted pack leaves beside the table: the
// database file's name with ".pack" appended.
std::string packLogNameFor(std::string_view dbName);
// The file name without directory and extension.
std::string fileTitle(std::string_view path);

// The path of the existing file that `path` names ignoring case (the
// exact name first). False when there is none (or the folder could not be
// read).
bool resolveExisting(const std::string& path, std::string* out);
// The same with the reason: 1 found, 0 none, or the error code of a look
// that failed (a folder that cannot be reached is not one without it).
[[nodiscard]] int findExisting(const std::string& path, std::string* out);

// Wildcard match ("*" any run, "?" one character), ignoring letter case,
// walking GBK characters.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// 1 when at least one file or directory matches `pattern` (wildcards
// allowed in its last component), 0 when none does, or the error code of
// a look that failed: a folder that cannot be reached is not an empty one.
[[nodiscard]] int fileExistsLike(const std::string& pattern);

}  // namespace db
