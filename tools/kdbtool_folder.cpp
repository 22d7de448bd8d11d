#include "kdbtool_folder.h"

#include <dirent.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kdbtool_common.h"

namespace kdbtool {

namespace {

void say(std::FILE* to, const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), to); }

std::string octal(mode_t mode) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04o", unsigned(mode & 07777));
  return buf;
}

std::string groupName(gid_t gid) {
  if (const group* g = ::getgrgid(gid)) return g->gr_name;
  return std::to_string(gid);
}

std::string ownerName(uid_t uid) {
  if (const passwd* p = ::getpwuid(uid)) return p->pw_name;
  return std::to_string(uid);
}

// A group named by its name or its number.
bool groupOf(const std::string& text, gid_t* gid) {
  if (text.empty()) return false;
  if (const group* g = ::getgrnam(text.c_str())) {
    *gid = g->gr_gid;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(text[0])) || v >= 0xFFFFFFFFul)
    return false;
  *gid = gid_t(v);
  return true;
}

constexpr mode_t kFolderMode = S_ISGID | S_IRWXU | S_IRWXG;  // 2770
constexpr mode_t kGroupFile = S_IRGRP | S_IWGRP;
constexpr mode_t kGroupFolder = S_ISGID | S_IRWXG;

// The walk over the folder's contents (nftw takes a plain function).
struct Walk {
  gid_t gid = 0;
  std::string root;
  int changed = 0;
  std::vector<std::string> failed;
};
Walk* g_walk = nullptr;

// Gives one entry the group and the group's access; says what changed.
int shareEntry(const char* path, const struct stat* st, int type, FTW*) {
  Walk& w = *g_walk;
  if (type == FTW_SL || type == FTW_SLN) return 0;  // a link's target is not the folder's to change
  if (type == FTW_NS || type == FTW_DNR) {
    w.failed.push_back(std::string(path) + ": cannot be read (" + std::strerror(errno) + ")");
    return 0;
  }
  const bool folder = type == FTW_D || type == FTW_DP;
  if (!folder && !S_ISREG(st->st_mode)) return 0;
  const bool top = w.root == path;
  const mode_t was = st->st_mode & 07777;
  const mode_t want = top ? kFolderMode : folder ? (was | kGroupFolder) : (was | kGroupFile);
  std::string what;
  if (st->st_gid != w.gid) {
    if (::lchown(path, uid_t(-1), w.gid) != 0) {
      w.failed.push_back(std::string(path) + ": its group cannot be set to " + groupName(w.gid) + " (" +
                         std::strerror(errno) + ")");
      return 0;
    }
    what = "group " + groupName(w.gid) + " (was " + groupName(st->st_gid) + ")";
  }
  // A change of group clears setgid on some systems: the mode is set after.
  if (want != was || !what.empty()) {
    if (::chmod(path, want) != 0) {
      w.failed.push_back(std::string(path) + ": its mode cannot be set to " + octal(want) + " (" +
                         std::strerror(errno) + ")");
      return 0;
    }
    if (want != was)
      what += (what.empty() ? "" : ", ") + std::string("mode ") + octal(want) + " (was " + octal(was) + ")";
  }
  if (!what.empty()) {
    ++w.changed;
    say(stdout, std::string(path) + ": " + what + "\n");
  }
  return 0;
}

[[noreturn]] void usage() {
  std::fputs("usage: kdbtool init-folder DIR [--group GROUP]\n", stderr);
  std::exit(1);
}

}  // namespace

int makeFolderLikeParent(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) return errno;
  const size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat up, made;
  if (::stat(parent.c_str(), &up) == 0 && ::stat(path.c_str(), &made) == 0) {
    const mode_t want = (made.st_mode & 07777) | (up.st_mode & (S_IRWXG | S_ISGID));
    if (want != (made.st_mode & 07777)) ::chmod(path.c_str(), want);
  }
  return 0;
}

bool sharingProblems(const std::string& dir, bool* shared, std::vector<std::string>* problems) {
  problems->clear();
  *shared = false;
  struct stat folder;
  if (::stat(dir.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
    problems->push_back(dir + ": not a folder that can be read (" + std::strerror(errno) + ")");
    return false;
  }
  if (!(folder.st_mode & S_IWGRP)) return true;
  *shared = true;
  const std::string fix = "; kdbtool init-folder " + dir + " fixes it";
  const std::string group = groupName(folder.st_gid);
  if (!(folder.st_mode & S_ISGID))
    problems->push_back(dir + ": the folder is not setgid, so a new file gets its maker's own group, not " + group +
                        fix);
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    problems->push_back(dir + ": the folder cannot be listed (" + std::strerror(errno) + ")");
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = joinPath(dir, name);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::string why;
    if (st.st_gid != folder.st_gid) why = "group " + groupName(st.st_gid) + ", not " + group;
    if ((st.st_mode & kGroupFile) != kGroupFile)
      why += (why.empty() ? "" : ", ") + std::string("mode ") + octal(st.st_mode) + " without group read and write";
    if (!why.empty())
      problems->push_back(name + ": other accounts of the group " + group + " cannot write it (owner " +
                          ownerName(st.st_uid) + ", " + why + ")" + fix);
  }
  return true;
}

int initFolderCommand(const std::vector<std::string>& args) {
  std::string dir, groupText;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--group" && i + 1 < args.size() && groupText.empty())
      groupText = args[++i];
    else if (!args[i].empty() && args[i][0] != '-' && dir.empty())
      dir = args[i];
    else
      usage();
  }
  if (dir.empty()) usage();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();

  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT || ::mkdir(dir.c_str(), kFolderMode) != 0 || ::stat(dir.c_str(), &st) != 0) {
      say(stderr, "kdbtool init-folder: cannot make the folder " + dir + ": " + std::strerror(errno) + "\n");
      return 1;
    }
    say(stdout, dir + ": made\n");
  } else if (!S_ISDIR(st.st_mode)) {
    say(stderr, "kdbtool init-folder: " + dir + " is not a folder\n");
    return 1;
  }
  gid_t gid = st.st_gid;
  if (!groupText.empty() && !groupOf(groupText, &gid)) {
    say(stderr, "kdbtool init-folder: there is no group " + groupText + " (make it with: groupadd " + groupText +
                    ", and add each account with: usermod -aG " + groupText + " ACCOUNT)\n");
    return 1;
  }

  Walk walk;
  walk.gid = gid;
  walk.root = dir;
  g_walk = &walk;
  // Depth first (FTW_DEPTH): a folder's own mode is set after its contents,
  // so a folder that is made unreadable to its owner cannot stop the walk.
  const int rc = ::nftw(dir.c_str(), shareEntry, 16, FTW_PHYS | FTW_DEPTH);
  g_walk = nullptr;
  if (rc != 0) walk.failed.push_back(dir + ": the folder cannot be walked (" + std::strerror(errno) + ")");

  bool shared = false;
  std::vector<std::string> problems;
  sharingProblems(dir, &shared, &problems);
  for (const std::string& p : problems) walk.failed.push_back(p);
  if (!walk.failed.empty()) {
    std::string text = "kdbtool init-folder: not every file could be shared:";
    for (const std::string& f : walk.failed) text += "\n  " + f;
    say(stderr, text + "\n");
    return 1;
  }
  say(stdout, dir + " is shared by the group " + groupName(gid) + " (" + std::to_string(walk.changed) +
                  " entries changed); every account in the group can now work in it\n");
  return 0;
}

}  // namespace kdbtool
