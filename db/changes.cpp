#include "db/changes.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <random>

#include "db/errors.h"
#include "db/format.h"
#include "db/locks.h"
#include "db/os.h"

namespace db {
namespace {

// One open counter file per folder, for the run (dropped after an error),
// with which file it was when opened and the largest length seen.
struct MarkFile {
  std::unique_ptr<os::File> file;
  uint64_t id = 0;
  int64_t size = 0;
  uint64_t checkedAt = 0;
};
std::map<std::string, MarkFile> g_files;

// Moved on whenever a folder's counter file was found deleted, emptied or
// replaced: no copy kept before is trusted (changeEpoch()).
uint64_t g_epoch = 0;

// How often an open counter file is checked against the folder.
constexpr uint64_t kRecheckMs = 2000;

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int64_t slotOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  uint32_t h = 2166136261u;  // FNV-1a over the lower-case name
  for (unsigned char c : name) {
    h ^= uint32_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    h *= 16777619u;
  }
  return int64_t(h % uint32_t(kChangeSlots)) * 8;
}

// The folder's counter file. `create`: a writer's, made when missing. A
// reader may make it too (`mayMake`); it takes a read-only handle where
// the folder may not be written, and is told kNotFound when the file is
// not there (nothing advanced yet).
// Whether the open counter file of `folder` is still the folder's, as it
// was: not deleted, replaced or emptied behind this program (another
// account, an administrator, a restore). Looked at every few seconds.
bool stillTheFile(const std::string& path, MarkFile& m) {
  const uint64_t now = os::env().tickMs();
  if (now - m.checkedAt < kRecheckMs) return true;
  m.checkedAt = now;
  uint64_t id = 0;
  const int rc = os::env().fileId(path, &id);
  if (rc != kOk && rc != kNotFound) return true;  // not known now: looked at again next time
  int64_t size = 0;
  const bool shrunk = m.file->size(&size) == kOk && size < m.size;
  if (rc == kOk && id == m.id && !shrunk) {
    m.size = std::max(m.size, size);
    return true;
  }
  return false;
}

[[nodiscard]] int fileFor(const std::string& tablePath, bool create, bool mayMake, os::File** out) {
  const std::string folder = folderOf(tablePath);
  const std::string path = folder + "/" + kChangeFileName;
  auto it = g_files.find(folder);
  if (it != g_files.end() && !stillTheFile(path, it->second)) {
    // Marks read from it, or written into it, said nothing to the others:
    // every copy kept is read again, and the engine marks its open tables
    // anew in the folder's file.
    g_files.erase(it);
    it = g_files.end();
    ++g_epoch;
  }
  if (it == g_files.end() || (create && !it->second.file->writable())) {
    // A reader makes the file too where it may: an empty file says what a
    // missing one says (no marks yet), and once it is there each reading
    // costs one read instead of a failed open. Where the folder may not be
    // written, the file is read through a read-only handle.
    MarkFile m;
    int rc = os::openFile(path, true, create || mayMake, &m.file);
    if (rc == kAccessDenied && !create) rc = os::openFile(path, false, false, &m.file);
    if (rc != kOk) return rc;
    m.checkedAt = os::env().tickMs();
    // A look that fails leaves the id 0, which the next check takes for a
    // replaced file (every kept copy is read again), and the size 0, which
    // the next check's reading raises.
    static_cast<void>(os::env().fileId(path, &m.id));
    static_cast<void>(m.file->size(&m.size));
    it = g_files.insert_or_assign(folder, std::move(m)).first;
  }
  *out = it->second.file.get();
  return kOk;
}

[[nodiscard]] int readSlot(os::File& f, int64_t at, uint64_t* out) {
  uint8_t b[8] = {};
  size_t got = 0;
  if (const int rc = f.read(at, b, 8, &got); rc != kOk) return rc;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
  *out = got == 8 ? v : 0;  // past the end of the file: never advanced
  return kOk;
}

[[nodiscard]] int failed(const std::string& tablePath, int rc) {
  g_files.erase(folderOf(tablePath));
  return rc;
}

}  // namespace

// A value no earlier change of this table can have had: this program's
// own random start, advanced by one for each change it makes. A new value
// rather than the old one plus one: the mark is right even if the slot's
// old value were misread, and of two workstations writing at once either
// value differs from what a reader kept. The slot is still locked while it
// is written (and read first when the caller compares, bumpChange).
uint64_t nextMark() {
  static uint64_t mark = [] {
    std::random_device seed;
    return (uint64_t(seed()) << 32) ^ uint64_t(seed()) ^
           uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  return ++mark;
}

int bumpChange(const std::string& tablePath, const uint64_t* expect, bool* unchanged, uint64_t* written) {
  if (unchanged) *unchanged = false;
  os::File* f = nullptr;
  if (const int rc = fileFor(tablePath, true, true, &f); rc != kOk) return rc;
  uint64_t v = nextMark();
  if (v == 0) v = nextMark();  // 0 stands for "never changed"
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(v >> (8 * i));
  const int64_t at = slotOf(tablePath);
  // The slot's lock: a writer that compares the mark before it writes its
  // own sees every mark written before, and none slips in between.
  if (const int rc = lockWithRetry(*f, at, 8, headerWaitMs()); rc != kOk) return failed(tablePath, rc);
  int rc = kOk;
  if (expect) {
    uint64_t was = 0;
    rc = readSlot(*f, at, &was);
    if (rc == kOk && unchanged) *unchanged = was == *expect;
  }
  if (rc == kOk) rc = f->write(at, b, 8);
  const int unlocked = f->unlock(at, 8);
  if (rc == kOk && unlocked != kOk) rc = kUnlockFailed;
  if (rc != kOk) {
    if (unchanged) *unchanged = false;
    return failed(tablePath, rc);
  }
  if (written) *written = v;
  return kOk;
}

int readChange(const std::string& tablePath, uint64_t* out, bool mayMake) {
  os::File* f = nullptr;
  if (const int rc = fileFor(tablePath, false, mayMake, &f); rc != kOk) {
    // No writer of this program has written in this folder yet.
    if (rc != kNotFound) return rc;
    *out = 0;
    return kOk;
  }
  const int rc = readSlot(*f, slotOf(tablePath), out);
  return rc == kOk ? kOk : failed(tablePath, rc);
}

void dropChangeFiles() { g_files.clear(); }

uint64_t changeEpoch() { return g_epoch; }

}  // namespace db
