#include "db/changes.h"

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

// One open counter file per folder, for the run (dropped after an error).
std::map<std::string, std::unique_ptr<os::File>> g_files;

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

// The folder's counter file: made by the first writer (`create`); a
// reader of a folder without one is told kNotFound (nothing advanced yet).
// A folder that may not be written is read through a read-only handle.
int fileFor(const std::string& tablePath, bool create, os::File** out) {
  const std::string folder = folderOf(tablePath);
  auto it = g_files.find(folder);
  if (it == g_files.end() || (create && !it->second->writable())) {
    const std::string path = folder + "/" + kChangeFileName;
    std::unique_ptr<os::File> f;
    int rc = os::openFile(path, true, create, &f);
    if (rc == kAccessDenied && !create) rc = os::openFile(path, false, false, &f);
    if (rc != kOk) return rc;
    it = g_files.insert_or_assign(folder, std::move(f)).first;
  }
  *out = it->second.get();
  return kOk;
}

int readSlot(os::File& f, int64_t at, uint64_t* out) {
  uint8_t b[8] = {};
  size_t got = 0;
  if (const int rc = f.read(at, b, 8, &got); rc != kOk) return rc;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
  *out = got == 8 ? v : 0;  // past the end of the file: never advanced
  return kOk;
}

int failed(const std::string& tablePath, int rc) {
  g_files.erase(folderOf(tablePath));
  return rc;
}

}  // namespace

// A value no earlier change of this table can have had: this program's
// own random start, advanced by one for each change it makes. Writing a
// new value (rather than adding one to the old) needs no lock and no read:
// of two workstations writing at once either value differs from what a
// reader kept.
uint64_t nextMark() {
  static uint64_t mark = [] {
    std::random_device seed;
    return (uint64_t(seed()) << 32) ^ uint64_t(seed()) ^ uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  return ++mark;
}

int bumpChange(const std::string& tablePath, const uint64_t* expect, bool* unchanged, uint64_t* written) {
  if (unchanged) *unchanged = false;
  os::File* f = nullptr;
  if (const int rc = fileFor(tablePath, true, &f); rc != kOk) return rc;
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

int readChange(const std::string& tablePath, uint64_t* out) {
  os::File* f = nullptr;
  if (const int rc = fileFor(tablePath, false, &f); rc != kOk) {
    // No writer of this program has written in this folder yet.
    if (rc != kNotFound) return rc;
    *out = 0;
    return kOk;
  }
  const int rc = readSlot(*f, slotOf(tablePath), out);
  return rc == kOk ? kOk : failed(tablePath, rc);
}

void dropChangeFiles() { g_files.clear(); }

}  // namespace db
