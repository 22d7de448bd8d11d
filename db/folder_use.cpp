#include "db/folder_use.h"

#include "db/errors.h"

namespace db {

namespace {

constexpr int64_t kUseByte = 0;

// An os::File lock answer as this module's codes: kBusy is someone else.
[[nodiscard]] int lockResult(int rc) {
  if (rc == os::kBusy) return kSharingViolation;
  return rc == kOk ? kOk : kLockFailed;
}

std::unique_ptr<FolderUse>& runHold() {
  static std::unique_ptr<FolderUse> hold;
  return hold;
}

}  // namespace

std::string folderUsePath(const std::string& dir) {
  if (dir.empty()) return kFolderUseFileName;
  return dir.back() == '/' ? dir + kFolderUseFileName : dir + "/" + kFolderUseFileName;
}

FolderUse::~FolderUse() = default;  // closing the file drops the lock

int FolderUse::enter(const std::string& dir, std::unique_ptr<FolderUse>* out) {
  const std::string path = folderUsePath(dir);
  std::unique_ptr<os::File> f;
  int rc = os::env().open(path, true, true, &f);
  // A folder this account may only read: its programs only read, and a
  // shared lock needs no more than read access.
  if (rc == kAccessDenied) rc = os::env().open(path, false, false, &f);
  if (rc != kOk) return rc;
  if ((rc = lockResult(f->tryLockShared(kUseByte, 1))) != kOk) return rc;
  out->reset(new FolderUse(std::move(f), false));
  return kOk;
}

int FolderUse::takeAlone(const std::string& dir, std::unique_ptr<FolderUse>* out) {
  std::unique_ptr<os::File> f;
  int rc = os::env().open(folderUsePath(dir), true, true, &f);
  if (rc != kOk) return rc;
  // A handle opened for writing locks exclusively (os.h).
  if ((rc = lockResult(f->tryLock(kUseByte, 1))) != kOk) return rc;
  out->reset(new FolderUse(std::move(f), true));
  return kOk;
}

int enterFolderForRun(const std::string& dir) {
  std::unique_ptr<FolderUse> hold;
  int rc = FolderUse::enter(dir, &hold);
  if (rc == kOk) runHold() = std::move(hold);
  return rc;
}

void leaveFolderForRun() { runHold().reset(); }

}  // namespace db
