#include "kdbtool_backup.h"
#include "kdbtool_common.h"
#include "kdbtool_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <set>

#include "db/changes.h"
#include "db/errors.h"
#include "db/folder_use.h"
#include "db/format.h"
#include "db/locks.h"
#include "db/names.h"
#include "db/os.h"
#include "db/table.h"
#include "runtime/facade.h"
#include "runtime/gbk.h"
#include "tools/backup_keep.h"

namespace kdbtool {

std::string packUnfinishedText() { return "压缩未完成：下一次写入打开或 kdbtool repair 将完成它，数据完整"; }

std::string countDamagedText() {
  return "记录数已损坏（文件中的整条记录多于记录数）：运行 kdbtool repair 按文件长度恢复记录数，修复前不要写入此表";
}

namespace {

// How long a table that another workstation holds locked is waited for.
// A report's scan or a pack holds the whole file for seconds at most.
constexpr int kDefaultWaitSeconds = 30;
constexpr size_t kCopyChunk = size_t(1) << 20;

void say(std::FILE* to, const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), to); }

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The ".kdt" file of an open table that keeps memo or byte-set values;
// empty for a table without one.
std::string auxFileOf(db::Table& t) {
  if (!t.aux()) return {};
  std::string aux = db::auxNameFor(t.path()), existing;
  if (db::resolveExisting(aux, &existing)) aux = existing;
  return aux;
}

// Puts the written bytes of a file on the disk, so a backup that said
// "copied" survives a power cut of the backup machine.
[[nodiscard]] int syncToDisk(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return db::os::mapErrno(errno);
  int rc = ::fsync(fd) == 0 ? db::kOk : db::os::mapErrno(errno);
  ::close(fd);
  return rc;
}

// Copies `from` into the new file `to` through the engine's file layer
// (called with the table's whole-file lock held).
[[nodiscard]] int copyFile(const std::string& from, const std::string& to) {
  db::os::Env& env = db::os::env();
  if (env.exists(to)) return db::kCreateFailed;  // the dated folder is new: nothing is overwritten
  std::unique_ptr<db::os::File> src, dst;
  int rc = env.open(from, false, false, &src);
  if (rc != db::kOk) return rc;
  int64_t length = 0;
  if ((rc = src->size(&length)) != db::kOk) return rc;
  if ((rc = env.open(to, true, true, &dst)) != db::kOk) return rc;
  std::vector<uint8_t> buf(std::min<size_t>(kCopyChunk, size_t(std::max<int64_t>(length, 1))));
  for (int64_t at = 0; at < length && rc == db::kOk;) {
    size_t want = size_t(std::min<int64_t>(int64_t(buf.size()), length - at)), got = 0;
    rc = src->read(at, buf.data(), want, &got);
    if (rc == db::kOk && got < want) rc = db::kEndOfFile;  // the file shrank under a lock: no copy
    if (rc == db::kOk) rc = dst->write(at, buf.data(), want);
    at += int64_t(want);
  }
  return rc;
}

// What reading a whole table found.
struct TableState {
  int code = db::kOk;
  int32_t records = 0;
  int32_t deleted = 0;
  int64_t strayBytes = 0;  // past the last record: a cut-off append, dropped at the next writing open
  std::string aux;         // the table's ".kdt" file, or empty
};

// Opens the table read-only (it is never repaired here) and reads every
// record and every memo and byte-set value it refers to. `whole` holds the
// whole-file lock for the read; without it each batch of records is
// locked while it is read, so workstations can go on writing in between.
// The access password is not needed: nothing of the contents is shown.
TableState readWholeTable(const std::string& path, bool whole) {
  TableState s;
  db::OpenOptions o;
  o.readOnly = true;
  o.checkPassword = false;
  std::unique_ptr<db::Table> t;
  if ((s.code = db::Table::open(path, o, &t)) != db::kOk) return s;
  s.aux = auxFileOf(*t);
  if ((s.code = t->readCount(&s.records)) != db::kOk) return s;
  std::vector<const db::Field*> chains;
  for (const db::Field& f : t->fields())
    if (db::isChainKind(f.kind)) chains.push_back(&f);
  int32_t seen = 0;
  s.code = t->scan(0, whole, [&](int32_t, uint8_t* rec) {
    ++seen;
    if (db::getI32(rec) < 0) ++s.deleted;
    for (const db::Field* f : chains) {
      rt::Arg v;
      int rc = t->loadValue(*f, rec, &v);
      rt::Result owned(v);
      if (rc != db::kOk) return rc;
    }
    return 0;
  });
  if (s.code == db::kOk && seen < s.records) s.code = db::kRecordReadFailed;
  // Count and length together under the header lock: an append writes its
  // record before the count, so apart they could show a record in flight.
  if (s.code == db::kOk && (s.code = t->lockHeader()) == db::kOk) {
    int32_t now = 0;
    s.code = t->readCount(&now);
    if (s.code == db::kOk) s.strayBytes = std::max<int64_t>(0, t->fileLength() - t->recordOffset(now));
    // A lock a failed unlock left goes when the handle is closed or dropped.
    static_cast<void>(t->unlockHeader());
  }
  return s;
}

// What stands behind a -48 of the table at `path`, or "".
std::string sizeFaultNote(const std::string& path, int code) {
  if (code != db::kFileSizeWrong) return {};
  switch (db::sizeFaultOf(path)) {
    case db::SizeFault::kPackUnfinished:
      return packUnfinishedText();
    case db::SizeFault::kCountDamaged:
      return countDamagedText();
    default:
      return {};
  }
}

std::string recordsText(const TableState& s) {
  std::string text = std::to_string(s.records) + (s.records == 1 ? " record" : " records");
  if (s.deleted) text += " (" + std::to_string(s.deleted) + " marked deleted)";
  return text;
}

bool isBusy(int code) { return code == db::kLockViolation || code == db::kSharingViolation; }

// "--wait SECONDS" in front of the folders; the rest are the folders.
bool takeWait(std::vector<std::string>* args) {
  int seconds = kDefaultWaitSeconds;
  if (args->size() >= 2 && (*args)[0] == "--wait") {
    char* end = nullptr;
    long v = std::strtol((*args)[1].c_str(), &end, 10);
    if ((*args)[1].empty() || *end != '\0' || v < 0 || v > 3600) return false;
    seconds = int(v);
    args->erase(args->begin(), args->begin() + 2);
  }
  db::setLockWaitMs(seconds * 1000);
  return true;
}

void usage(const char* line) {
  std::fprintf(stderr, "usage: kdbtool %s\n", line);
  std::exit(1);
}

constexpr const char* kUnfinishedPrefix = "unfinished-";

// Today's date as kdbtool takes it: KDBTOOL_TODAY=YYYY-MM-DD when set (so
// that a rotation can be tried over days that have not come yet), else the
// local date. False (and said) when the variable holds anything else.
bool today(Date* out) {
  if (const char* given = std::getenv("KDBTOOL_TODAY"); given && *given) {
    if (parseDate(given, out)) return true;
    say(stderr, std::string("KDBTOOL_TODAY is not a date (YYYY-MM-DD): ") + given + "\n");
    return false;
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  *out = Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  return true;
}

// "2024-05-31_211500": today's date (above) and the local time of day.
std::string stampOf(const Date& day) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char time[16];
  std::strftime(time, sizeof time, "_%H%M%S", &local);
  return dateText(day) + time;
}

// A new folder under `dest` named "unfinished-" and the date and time
// ("unfinished-2024-05-31_211500", "-2" added when that name or the dated
// name is taken); *dated is the name it gets once complete.
[[nodiscard]] int makeWorkFolder(const std::string& dest, const Date& day, std::string* made, std::string* dated) {
  const std::string stamp = stampOf(day);
  for (int k = 1; k < 100; ++k) {
    std::string name = stamp + (k > 1 ? "-" + std::to_string(k) : "");
    std::string path = joinPath(dest, kUnfinishedPrefix + name);
    if (db::os::env().exists(joinPath(dest, name))) continue;
    const int rc = makeFolderLikeParent(path);
    if (rc == 0) {
      *made = path;
      *dated = joinPath(dest, name);
      return db::kOk;
    }
    if (rc != EEXIST) return db::os::mapErrno(rc);
  }
  return db::kCreateFailed;
}

// Holds `dir` shared while a backup or verify reads it, so that no
// restore replaces tables under it. False (said) while a restore holds the
// folder; a folder where the use file cannot be made is read as before.
bool enterFolder(const std::string& dir, std::unique_ptr<db::FolderUse>* use) {
  int rc = db::FolderUse::enter(dir, use);
  if (rc == db::kSharingViolation) {
    say(stderr, "a restore is under way in " + dir + " (it holds " + db::folderUsePath(dir) +
                    "): nothing read; try again when it has finished\n");
    return false;
  }
  return true;
}

struct BackupOptions {
  bool rotate = false;  // --keep-days or --keep-months given
  int keepDays = 0, keepMonths = 0;
};

bool numberArg(const std::string& text, long max, int* out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > max) return false;
  *out = int(v);
  return true;
}

// backup's options, in any order in front of the folders.
bool takeBackupOptions(std::vector<std::string>* args, BackupOptions* opt) {
  int seconds = kDefaultWaitSeconds;
  while (args->size() >= 2 && (*args)[0].rfind("--", 0) == 0) {
    const std::string& name = (*args)[0];
    const std::string& value = (*args)[1];
    if (name == "--wait") {
      if (!numberArg(value, 3600, &seconds)) return false;
    } else if (name == "--keep-days") {
      if (!numberArg(value, 100000, &opt->keepDays)) return false;
      opt->rotate = true;
    } else if (name == "--keep-months") {
      if (!numberArg(value, 10000, &opt->keepMonths)) return false;
      opt->rotate = true;
    } else {
      return false;
    }
    args->erase(args->begin(), args->begin() + 2);
  }
  db::setLockWaitMs(seconds * 1000);
  return true;
}

// Removes the backup folder `path`: its files, then the folder. Only a
// folder of plain files is removed (a backup holds nothing else); anything
// else in it is left, with the folder. 0 or the code of what failed.
[[nodiscard]] int removeBackupFolder(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return db::os::mapErrno(errno);
  if (!S_ISDIR(st.st_mode)) return db::kAccessDenied;
  std::vector<std::string> names;
  int rc = db::os::env().listDir(path, &names);
  if (rc != db::kOk) return rc;
  for (const std::string& n : names) {
    const std::string file = joinPath(path, n);
    if (::lstat(file.c_str(), &st) != 0) return db::os::mapErrno(errno);
    if (!S_ISREG(st.st_mode)) return db::kAccessDenied;
    if ((rc = db::os::env().remove(file)) != db::kOk) return rc;
  }
  return ::rmdir(path.c_str()) == 0 ? db::kOk : db::os::mapErrno(errno);
}

// The rotation after a complete backup (backup_keep.h chooses). False when
// an old backup could not be removed (named on standard error).
bool rotateBackups(const std::string& dest, const std::string& justMade, const Date& day, const BackupOptions& opt) {
  std::vector<std::string> names;
  int rc = db::os::env().listDir(dest, &names);
  if (rc != db::kOk) {
    say(stderr, "old backups not removed: cannot read " + dest + ": " + codeText(rc) + "\n");
    return false;
  }
  std::sort(names.begin(), names.end());
  bool ok = true;
  for (const std::string& name : backupsToRemove(names, day, opt.keepDays, opt.keepMonths, justMade)) {
    rc = removeBackupFolder(joinPath(dest, name));
    if (rc == db::kOk) {
      say(stdout, "old backup removed: " + name + "\n");
    } else {
      say(stderr, "old backup " + joinPath(dest, name) + " not removed: " + codeText(rc) + "\n");
      ok = false;
    }
  }
  // A removal not yet durable may come back after a power cut; the next
  // rotation removes it again.
  if (ok) static_cast<void>(db::os::env().syncDir(dest));
  return ok;
}

struct Failure {
  std::string table, what;
};

// One table into `folder`: opened read-only, its files copied while the
// whole-file lock is held (no append, change, delete or pack of any
// workstation is half in the copy, and the ".kdt" is copied together with
// the records that point into it), the lock released at once, then the
// copy read through on its own. Returns "" or what went wrong.
std::string backupTable(const std::string& dir, const std::string& name, const std::string& folder, std::string* done) {
  const std::string path = joinPath(dir, name);
  db::OpenOptions o;
  o.readOnly = true;
  o.checkPassword = false;
  std::unique_ptr<db::Table> t;
  int rc = db::Table::open(path, o, &t);
  if (rc != db::kOk) {
    std::string note = sizeFaultNote(path, rc);
    return "not copied: " + codeText(rc) + (note.empty() ? "" : " (" + note + ")");
  }
  const std::string aux = auxFileOf(*t);
  std::vector<std::string> copies = {joinPath(folder, name)};
  if (!aux.empty()) copies.push_back(joinPath(folder, baseName(aux)));

  int32_t count = 0;
  rc = t->lockWhole();
  if (rc != db::kOk) return "not copied: " + codeText(rc);
  rc = t->readCount(&count);
  if (rc == db::kOk) rc = copyFile(path, copies[0]);
  if (rc == db::kOk && !aux.empty()) rc = copyFile(aux, copies[1]);
  // A lock a failed unlock left goes when the handle is closed or dropped.
  static_cast<void>(t->unlockWhole());
  t.reset();
  // Forcing the copies to disk can take long on a slow backup disk; the
  // workstations need not wait for it.
  for (size_t i = 0; i < copies.size() && rc == db::kOk; ++i) rc = syncToDisk(copies[i]);

  std::string problem;
  TableState s;
  if (rc != db::kOk) {
    problem = "not copied: " + codeText(rc);
  } else {
    s = readWholeTable(copies[0], true);
    if (s.code != db::kOk)
      problem = "copy not checked: " + codeText(s.code);
    else if (s.records != count)
      problem = "copy not checked: it holds " + std::to_string(s.records) + " records, the table held " +
                std::to_string(count);
  }
  if (!problem.empty()) {
    // A copy that is not known to be good must not be restored by mistake.
    // One that cannot be removed stays in the unfinished folder, which is
    // never restored from.
    for (const std::string& c : copies) static_cast<void>(db::os::env().remove(c));
    return problem;
  }
  *done = name + (aux.empty() ? "" : ", " + baseName(aux)) + ": " + recordsText(s) + ", copied and checked";
  return {};
}

void reportFailures(const char* heading, const std::vector<Failure>& failed) {
  std::string text = heading;
  for (const Failure& f : failed) text += "\n  " + (f.table.empty() ? "" : f.table + " ") + f.what;
  say(stderr, text + "\n");
}

}  // namespace

int backupCommand(const std::vector<std::string>& given) {
  BackupOptions opt;
  std::vector<std::string> args = given;
  if (!takeBackupOptions(&args, &opt) || args.size() != 2)
    usage("backup [--wait SECONDS] [--keep-days N] [--keep-months M] DIR DEST");
  const std::string& dir = args[0];
  const std::string& dest = args[1];
  Date day;
  if (!today(&day)) return 1;

  std::unique_ptr<db::FolderUse> use;
  if (!enterFolder(dir, &use)) return 1;
  std::vector<std::string> tables;
  int rc = listTables(dir, &tables);
  if (rc != db::kOk) {
    say(stderr, "cannot read the folder " + dir + ": " + codeText(rc) + "\n");
    return 1;
  }
  if (tables.empty()) {
    // Most likely the wrong folder: an empty backup must not look like a good one.
    say(stderr, "no tables (.kdb) in " + dir + ": nothing backed up\n");
    return 1;
  }
  struct stat st;
  if (::stat(dest.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    say(stderr, "the backup folder " + dest + " does not exist (is the backup disk mounted?)\n");
    return 1;
  }
  std::string folder, dated;
  if ((rc = makeWorkFolder(dest, day, &folder, &dated)) != db::kOk) {
    say(stderr, "cannot make a new folder in " + dest + ": " + codeText(rc) + "\n");
    return 1;
  }
  say(stdout, "backup of " + dir + " into " + folder + "\n");

  std::vector<Failure> failed;
  int copied = 0;
  for (const std::string& name : tables) {
    std::string done;
    std::string problem = backupTable(dir, name, folder, &done);
    if (problem.empty()) {
      ++copied;
      say(stdout, done + "\n");
    } else {
      say(stdout, name + ": " + problem + "\n");
      failed.push_back({name, problem});
    }
    std::fflush(stdout);
  }
  use.reset();
  say(stdout, std::to_string(copied) + " of " + std::to_string(tables.size()) + " tables copied and checked\n");
  if (!failed.empty()) {
    reportFailures(("backup incomplete, left in " + folder + " (not to be restored from):").c_str(), failed);
    return 1;
  }
  // Only now does the folder get its dated name, and the name is made
  // durable with the copies.
  if (::rename(folder.c_str(), dated.c_str()) != 0) {
    rc = db::os::mapErrno(errno);
    say(stderr,
        "backup complete in " + folder + " but it could not be renamed to " + dated + ": " + codeText(rc) + "\n");
    return 1;
  }
  // The copies are on the disk already; a name not yet durable is at worst
  // the unfinished one again after a power cut.
  static_cast<void>(db::os::env().syncDir(dest));
  say(stdout, "backup complete: " + dated + "\n");
  // Old backups go only once a new complete one is there.
  if (opt.rotate && !rotateBackups(dest, baseName(dated), day, opt)) return 1;
  return 0;
}

int verifyCommand(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  if (!takeWait(&args) || args.size() != 1) usage("verify [--wait SECONDS] DIR");
  const std::string& dir = args[0];
  std::unique_ptr<db::FolderUse> use;
  if (!enterFolder(dir, &use)) return 1;
  std::vector<std::string> tables;
  int rc = listTables(dir, &tables);
  if (rc != db::kOk) {
    say(stderr, "cannot read the folder " + dir + ": " + codeText(rc) + "\n");
    return 1;
  }
  if (tables.empty()) {
    say(stderr, "no tables (.kdb) in " + dir + "\n");
    return 1;
  }
  std::vector<Failure> failed;
  size_t unfinished = 0;
  for (const std::string& name : tables) {
    TableState s = readWholeTable(joinPath(dir, name), false);
    std::string line = name + ": ";
    const bool packStopped =
        s.code == db::kFileSizeWrong && db::sizeFaultOf(joinPath(dir, name)) == db::SizeFault::kPackUnfinished;
    if (packStopped) {
      ++unfinished;
      line += packUnfinishedText();
    } else if (s.code == db::kOk) {
      line += "ok, " + recordsText(s);
      if (s.strayBytes)
        line += "; " + std::to_string(s.strayBytes) +
                " bytes of an unfinished append after the last record (cut off when next opened for writing)";
    } else {
      std::string what = (isBusy(s.code) ? "in use, not checked: " : "damaged: ") + codeText(s.code);
      std::string note = sizeFaultNote(joinPath(dir, name), s.code);
      if (!note.empty()) what += " (" + note + ")";
      line += what;
      failed.push_back({name, what});
    }
    say(stdout, line + "\n");
  }
  // A shared folder with a file another account cannot write fails the
  // day that account's workstation writes it: named here, before then.
  bool shared = false;
  std::vector<std::string> sharing;
  sharingProblems(dir, &shared, &sharing);
  for (const std::string& p : sharing) say(stdout, p + "\n");
  say(stdout, std::to_string(tables.size() - failed.size() - unfinished) + " of " + std::to_string(tables.size()) +
                  " tables sound" +
                  (unfinished ? ", " + std::to_string(unfinished) + " with a pack still to complete" : "") + "\n");
  for (const std::string& p : sharing) failed.push_back({"", p});
  if (!failed.empty()) {
    reportFailures("not sound:", failed);
    return 1;
  }
  return unfinished ? kPackUnfinishedStatus : 0;
}

// --- restore ---------------------------------------------------------------

namespace {

constexpr const char* kScratchSuffix = ".restoring";
constexpr const char* kAsidePrefix = "restore-aside-";

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string tablesText(size_t n) { return std::to_string(n) + (n == 1 ? " table" : " tables"); }

// The existing file that `path` names ignoring letter case, or "".
std::string existingFile(const std::string& path) {
  std::string found;
  return db::resolveExisting(path, &found) ? found : std::string();
}

// One table being restored: where its files come from and go to.
struct Restore {
  std::string name;                // as in the backup ("m20101.kdb")
  std::string fromAux;             // the backup's ".kdt", or empty
  int32_t records = 0;             // as the backup holds them
  std::vector<std::string> now;    // the folder's files of the table now (table, ".kdt", pack record)
  std::vector<std::string> place;  // where the copies go: the table, then its ".kdt"
  std::unique_ptr<db::Table> held;
};

// True when another open file holds the "open" marker of `path`: a table
// that could not be opened (a damaged one) may still be open elsewhere.
bool openElsewhere(const std::string& path) {
  std::unique_ptr<db::os::File> f;
  if (db::os::env().open(path, false, false, &f) != db::kOk) return false;
  int rc = db::kOk;
  return db::markerHeld(*f, db::kMarkOpen, &rc) || rc != db::kOk;
}

// Opens the folder's table denying everyone else (held until the files
// are swapped): "" or why it cannot be replaced now.
std::string holdTable(Restore& r) {
  if (r.now.empty()) return {};
  db::OpenOptions o;
  o.readOnly = true;
  o.checkPassword = false;
  o.shareMode = db::kDenyAll;
  int rc = db::Table::open(r.now[0], o, &r.held);
  if (rc == db::kSharingViolation) return "is open in another program";
  if (rc == db::kOk) return {};
  // A table that does not open (often the reason for the restore) is
  // replaced unless someone has it, or its ".kdt", open all the same.
  r.held.reset();
  for (const std::string& f : r.now)
    if (openElsewhere(f)) return "is open in another program";
  return {};
}

// Undoes the swap so far: the copies put in place are removed and the
// files moved aside go back. Each undo is tried whatever the others give:
// what could not be put back is still in the folder kept aside.
void putBack(const std::vector<std::string>& placed, const std::vector<std::pair<std::string, std::string>>& moved) {
  for (const std::string& p : placed) static_cast<void>(db::os::env().remove(p));
  for (auto it = moved.rbegin(); it != moved.rend(); ++it)
    static_cast<void>(db::os::env().rename(it->second, it->first));
}

// One restore: the backup, the centre folder, the tables restored and the
// scratch copies made so far.
struct RestoreRun {
  std::string backup, dir;
  bool tty = false;
  std::vector<Restore> tables;
  std::vector<std::string> scratch;

  // Scratch copies are the restore's own: one that cannot be removed is
  // only a stray file, replaced by the next restore.
  void dropScratch() {
    for (const std::string& f : scratch) static_cast<void>(db::os::env().remove(f));
  }
};

// False, having said why, when the backup is an unfinished one or either
// folder is not there.
bool foldersUsable(const RestoreRun& run) {
  if (baseName(run.backup).rfind(kUnfinishedPrefix, 0) == 0) {
    say(stderr, run.backup + " is an unfinished backup (not every table was copied and checked): not restored from\n");
    return false;
  }
  struct stat st;
  for (const std::string& d : {run.backup, run.dir})
    if (::stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      say(stderr, "no folder " + d + "\n");
      return false;
    }
  return true;
}

// The tables asked for ("m20101" or "m20101.kdb", any letter case), or all
// the backup holds. False, having said why, when the backup holds no table
// or not one asked for.
bool chooseTables(const std::vector<std::string>& args, RestoreRun* run) {
  std::vector<std::string> inBackup;
  const int rc = listTables(run->backup, &inBackup);
  if (rc != db::kOk || inBackup.empty()) {
    say(stderr, "no tables (.kdb) in " + run->backup + (rc ? ": " + codeText(rc) : std::string()) + "\n");
    return false;
  }
  std::set<std::string> chosen;
  for (size_t i = 2; i < args.size(); ++i) {
    auto it = std::find_if(inBackup.begin(), inBackup.end(), [&](const std::string& t) {
      return sameIgnoringCase(t, args[i]) || sameIgnoringCase(t, args[i] + ".kdb");
    });
    if (it == inBackup.end()) {
      say(stderr, "no table " + args[i] + " in " + run->backup + ": nothing restored\n");
      return false;
    }
    chosen.insert(*it);
  }
  for (const std::string& t : inBackup)
    if (chosen.empty() || chosen.count(t)) run->tables.push_back(Restore{t, {}, 0, {}, {}, nullptr});
  return true;
}

// Step 1: every table of the backup reads through, or nothing is touched.
bool backupSound(RestoreRun& run) {
  std::vector<Failure> failed;
  for (Restore& r : run.tables) {
    TableState s = readWholeTable(joinPath(run.backup, r.name), true);
    if (s.code != db::kOk) failed.push_back({r.name, "does not read through: " + codeText(s.code)});
    r.records = s.records;
    r.fromAux = s.aux;
  }
  if (failed.empty()) return true;
  reportFailures(("the backup " + run.backup + " is not sound; nothing restored:").c_str(), failed);
  return false;
}

// Step 2: the folder alone: no program of this system works on it, and no
// table to be replaced is open (an older program does not announce itself
// on the folder, but its tables are open). Each table's current files and
// the places of its copies are noted.
bool takeFolder(RestoreRun& run, std::unique_ptr<db::FolderUse>* alone) {
  const int rc = db::FolderUse::takeAlone(run.dir, alone);
  if (rc == db::kSharingViolation) {
    say(stderr, "refused: a program is working on " + run.dir + " (it holds " + db::folderUsePath(run.dir) +
                    "): end the clinic program on every workstation, and any backup or verify, then restore again\n");
    return false;
  }
  if (rc != db::kOk) {
    say(stderr,
        "refused: cannot take " + run.dir + " alone (" + db::folderUsePath(run.dir) + "): " + codeText(rc) + "\n");
    return false;
  }
  std::vector<Failure> failed;
  for (Restore& r : run.tables) {
    const std::string table = existingFile(joinPath(run.dir, r.name));
    if (!table.empty()) {
      r.now.push_back(table);
      if (std::string aux = existingFile(db::auxNameFor(table)); !aux.empty()) r.now.push_back(aux);
      // A pack's redo record would be replayed on the restored table.
      if (std::string log = existingFile(db::packLogNameFor(table)); !log.empty()) r.now.push_back(log);
    }
    r.place.push_back(joinPath(run.dir, r.name));
    if (!r.fromAux.empty()) r.place.push_back(joinPath(run.dir, baseName(r.fromAux)));
    if (std::string why = holdTable(r); !why.empty()) failed.push_back({baseName(r.now[0]), why});
  }
  if (failed.empty()) return true;
  reportFailures(("refused: tables of " + run.dir + " are in use; nothing restored:").c_str(), failed);
  return false;
}

// Step 3: copies under scratch names in the folder, on the disk before any
// current file moves.
bool copyIn(RestoreRun& run) {
  say(stdout, "restore of " + tablesText(run.tables.size()) + " from " + run.backup + " into " + run.dir + "\n");
  int rc = db::kOk;
  for (size_t i = 0; i < run.tables.size() && rc == db::kOk; ++i) {
    Restore& r = run.tables[i];
    std::vector<std::string> from = {joinPath(run.backup, r.name)};
    if (!r.fromAux.empty()) from.push_back(r.fromAux);
    for (size_t k = 0; k < from.size() && rc == db::kOk; ++k) {
      const std::string to = r.place[k] + kScratchSuffix;
      // Left by a restore that was stopped (the folder is ours alone); one
      // that cannot be removed makes the copy over it fail and say so.
      static_cast<void>(db::os::env().remove(to));
      run.scratch.push_back(to);
      if ((rc = copyFile(from[k], to)) == db::kOk) rc = syncToDisk(to);
    }
    if (rc != db::kOk) {
      say(stderr, r.name + " could not be copied into " + run.dir + ": " + codeText(rc) + "; nothing restored\n");
      run.dropScratch();
      return false;
    }
    say(stdout, (run.tty ? std::to_string(i + 1) + "/" + std::to_string(run.tables.size()) + " " + r.name + " copied"
                         : r.name + ": copied") +
                    "\n");
    std::fflush(stdout);
  }
  return true;
}

// Step 4: the current files into a folder of their own (kept, *aside), the
// copies into their places. A swap that fails is undone.
bool swapIn(RestoreRun& run, const Date& day, std::string* aside) {
  const std::string stamp = stampOf(day);
  for (int k = 1; k < 100 && aside->empty(); ++k) {
    std::string path = joinPath(run.dir, kAsidePrefix + stamp + (k > 1 ? "-" + std::to_string(k) : ""));
    const int made = makeFolderLikeParent(path);
    if (made == 0)
      *aside = path;
    else if (made != EEXIST)
      break;
  }
  if (aside->empty()) {
    say(stderr, "cannot make a folder for the current tables in " + run.dir + "; nothing restored\n");
    run.dropScratch();
    return false;
  }
  std::vector<std::pair<std::string, std::string>> moved;
  std::vector<std::string> placed;
  int rc = db::kOk;
  for (Restore& r : run.tables) {
    for (const std::string& f : r.now) {
      const std::string to = joinPath(*aside, baseName(f));
      if ((rc = db::os::env().rename(f, to)) != db::kOk) break;
      moved.emplace_back(f, to);
    }
    for (size_t k = 0; k < r.place.size() && rc == db::kOk; ++k) {
      if ((rc = db::os::env().rename(r.place[k] + kScratchSuffix, r.place[k])) == db::kOk) placed.push_back(r.place[k]);
    }
    if (rc != db::kOk) {
      say(stderr, r.name + " could not be put in place: " + codeText(rc) + "; the folder is put back as it was\n");
      putBack(placed, moved);
      run.dropScratch();
      ::rmdir(aside->c_str());
      return false;
    }
  }
  // The renames are done; a folder whose entries cannot be synced now has
  // them on the disk at the next sync of the file system all the same, and
  // step 6 reads every restored table through.
  static_cast<void>(db::os::env().syncDir(*aside));
  static_cast<void>(db::os::env().syncDir(run.dir));
  for (Restore& r : run.tables) r.held.reset();  // the old files, now aside
  return true;
}

// Step 5: every restored table gets a new change mark (changes.h), which
// no program's kept copy of it carries. Removing the marks file instead
// would set every table of the folder back to "never changed", the mark a
// copy kept before the first change of a table also carries, and would
// make every other table be read again for nothing.
void markRestored(const RestoreRun& run) {
  for (const Restore& r : run.tables)
    if (const int rc = db::bumpChange(joinPath(run.dir, r.name)); rc != db::kOk)
      say(stderr, r.name + ": its change mark could not be written (" + codeText(rc) +
                      "); restart the clinic program on every workstation\n");
}

// Step 6: the restored tables read through and hold what the backup
// holds. Prints a line per table; false when any does not.
bool restoredSound(const RestoreRun& run, const std::string& aside) {
  std::vector<Failure> failed;
  for (const Restore& r : run.tables) {
    TableState s = readWholeTable(joinPath(run.dir, r.name), true);
    std::string line;
    if (s.code != db::kOk) {
      line = "restored but does not read through: " + codeText(s.code);
      failed.push_back({r.name, line});
    } else if (s.records != r.records) {
      line = "restored but holds " + std::to_string(s.records) + " records, the backup " + std::to_string(r.records);
      failed.push_back({r.name, line});
    } else {
      line = recordsText(s) + ", restored and checked";
    }
    say(stdout, r.name + ": " + line + "\n");
  }
  say(stdout, "the tables replaced are kept in " + aside + "\n");
  if (failed.empty()) return true;
  reportFailures("restore not sound:", failed);
  return false;
}

}  // namespace

// The tables to restore are chosen, then the restore goes in steps, each
// of which stops it (saying why) when it fails:
//   1. every table of the backup reads through;
//   2. the folder is taken alone and no table to be replaced is open;
//   3. the backup's files are copied into the folder under scratch names;
//   4. the current files move into a folder kept aside, the copies into
//      their places;
//   5. every restored table gets a new change mark;
//   6. the restored tables are read through and counted.
// Nothing in the folder changes before step 4, and step 4 undoes itself.
int restoreCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) usage("restore BACKUP DIR [TABLE...]");
  RestoreRun run;
  run.backup = args[0];
  while (run.backup.size() > 1 && run.backup.back() == '/') run.backup.pop_back();
  run.dir = args[1];
  run.tty = ::isatty(STDOUT_FILENO) == 1;
  if (!foldersUsable(run)) return 1;
  Date day;
  if (!today(&day) || !chooseTables(args, &run)) return 1;

  std::unique_ptr<db::FolderUse> alone;
  std::string aside;
  if (!backupSound(run) || !takeFolder(run, &alone) || !copyIn(run) || !swapIn(run, day, &aside)) return 1;
  markRestored(run);
  if (!restoredSound(run, aside)) return 1;
  say(stdout, "restore complete: " + tablesText(run.tables.size()) + " from " + run.backup + "\n");
  return 0;
}

}  // namespace kdbtool
