#include "db/os.h"

#include <cstdio>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "db/errors.h"

namespace db::os {

int mapErrno(int err) {
  switch (err) {
    case ENOENT:
      return kNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return kBadPath;
    case EMFILE:
    case ENFILE:
      return kTooManyOpen;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kAccessDenied;
    case EBADF:
      return kBadHandle;
    case EBUSY:
      return kRemoveCurrentDir;
    case ESPIPE:
    case EOVERFLOW:
      return kSeekFailed;
    // A network share that dropped or timed out answers with these: the
    // folder cannot be reached, which is not a missing or locked file.
    case EIO:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ENOTCONN:
    case ECONNRESET:
    case ECONNABORTED:
    case ESTALE:
    case EREMOTEIO:
      return kHardware;
    case EAGAIN:
      return kLockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kDiskFull;
    default:
      return kUnknown;
  }
}

namespace {

class PosixFile final : public File {
 public:
  PosixFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~PosixFile() override { ::close(fd_); }

  int read(int64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (offset < 0) return kSeekFailed;
    char* p = static_cast<char*>(buf);
    while (*got < n) {
      ssize_t r = ::pread(fd_, p + *got, n - *got, off_t(offset + int64_t(*got)));
      if (r < 0) {
        if (errno == EINTR) continue;
        return mapErrno(errno);
      }
      if (r == 0) break;
      *got += size_t(r);
    }
    return kOk;
  }

  int write(int64_t offset, const void* buf, size_t n) override {
    if (offset < 0) return kSeekFailed;
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, p + done, n - done, off_t(offset + int64_t(done)));
      if (r < 0) {
        if (errno == EINTR) continue;
        return mapErrno(errno);
      }
      if (r == 0) return kDiskFull;
      done += size_t(r);
    }
    return kOk;
  }

  int size(int64_t* out) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return mapErrno(errno);
    *out = int64_t(st.st_size);
    return kOk;
  }

  int truncate(int64_t length) override {
    if (length < 0) return kSeekFailed;
    while (::ftruncate(fd_, off_t(length)) != 0) {
      if (errno != EINTR) return mapErrno(errno);
    }
    return kOk;
  }

  int tryLock(int64_t offset, int64_t length) override {
    return setLock(writable_ ? F_WRLCK : F_RDLCK, offset, length);
  }
  int tryLockShared(int64_t offset, int64_t length) override { return setLock(F_RDLCK, offset, length); }
  int unlock(int64_t offset, int64_t length) override { return setLock(F_UNLCK, offset, length); }

  int probe(int64_t offset, int64_t length, bool* held) override {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) return mapErrno(errno);
    *held = fl.l_type != F_UNLCK;
    return kOk;
  }

  int sync() override {
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return mapErrno(errno);
    }
    return kOk;
  }

  bool writable() const override { return writable_; }

 private:
  [[nodiscard]] int setLock(short type, int64_t offset, int64_t length) {
    if (offset < 0 || length <= 0) return kLockFailed;
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      if (type != F_UNLCK && (errno == EAGAIN || errno == EACCES)) return kBusy;
      return mapErrno(errno);
    }
    return kOk;
  }

  int fd_;
  bool writable_;
};

// A file this program makes in a folder that its group (or everyone) may
// write is made writable for them too, whatever this account's umask: the
// tables, memo files and change marks of a shared folder are written by
// every workstation's account. A setgid folder gives the file its group.
void shareLikeFolder(int fd, const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat dir, file;
  if (::stat(folder.c_str(), &dir) != 0 || ::fstat(fd, &file) != 0) return;
  const mode_t want =
      (file.st_mode & 07777) | (dir.st_mode & (S_IWGRP | S_IRGRP)) | (dir.st_mode & (S_IWOTH | S_IROTH));
  if (want != (file.st_mode & 07777)) ::fchmod(fd, want);
}

class PosixEnv final : public Env {
 public:
  int open(const std::string& path, bool write, bool create, std::unique_ptr<File>* out) override {
    if (path.empty()) return kNotFound;
    int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    // A new or replaced file is never reached through a symbolic link: the
    // link's target may be any file of the user's.
    if (create) flags |= O_CREAT | O_NOFOLLOW;
    int fd;
    bool made = false;
    do {
      // Made here (not there before): told apart so that its access follows
      // the folder's below.
      fd = create ? ::open(path.c_str(), flags | O_EXCL, 0666) : -1;
      if (create && fd >= 0)
        made = true;
      else if (!create || errno == EEXIST)
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return mapErrno(errno);
    if (made) shareLikeFolder(fd, path);
    // Only a regular file is a table; a look at it that fails says why
    // (a folder away is not a file that may not be accessed).
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int rc = mapErrno(errno);
      ::close(fd);
      return rc;
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return kAccessDenied;
    }
    // O_NONBLOCK only kept a FIFO from blocking the open.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    out->reset(new PosixFile(fd, write));
    return kOk;
  }

  int fullPath(const std::string& path, std::string* out) override {
    if (path.empty()) return kNotFound;
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf)) {
      *out = buf;
      return kOk;
    }
    if (errno != ENOENT) return mapErrno(errno);
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || !::realpath(dir.c_str(), buf)) return mapErrno(errno ? errno : ENOENT);
    *out = buf;
    if (out->empty() || out->back() != '/') *out += '/';
    *out += base;
    return kOk;
  }

  int listDir(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return mapErrno(errno);
    while (struct dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names->push_back(n);
    }
    ::closedir(d);
    return kOk;
  }

  bool exists(const std::string& path) override {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
  }

  int stat(const std::string& path) override {
    struct stat st;
    if (path.empty()) return 0;
    if (::stat(path.c_str(), &st) == 0) return 1;
    return errno == ENOENT || errno == ENOTDIR ? 0 : mapErrno(errno);
  }

  int remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? kOk : mapErrno(errno); }

  int syncDir(const std::string& dir) override {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return mapErrno(errno);
    int rc = kOk;
    while (::fsync(fd) != 0) {
      if (errno == EINTR) continue;
      // Some file systems cannot sync a directory; their entries are
      // written through anyway.
      if (errno != EINVAL && errno != EROFS) rc = mapErrno(errno);
      break;
    }
    ::close(fd);
    return rc;
  }

  void sleepMs(int ms) override {
    struct timespec ts = {ms / 1000, long(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
  }

  uint64_t tickMs() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec / 1000000);
  }
};

PosixEnv g_posix;
Env* g_env = &g_posix;

}  // namespace

int Env::stat(const std::string& path) { return exists(path) ? 1 : 0; }

int Env::rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? kOk : mapErrno(errno);
}

int Env::fileId(const std::string& path, uint64_t* id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? int(kNotFound) : mapErrno(errno);
  *id = uint64_t(st.st_dev) * 0x9E3779B97F4A7C15ull ^ uint64_t(st.st_ino);
  return kOk;
}

bool Env::isLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// --- written-file bookkeeping ------------------------------------------------

namespace {

class Tracked;
// Files written since their last sync, and directories with new entries.
// Never destroyed: a table still open when the program ends (a static of
// another file, or a tool that exits with its tables open) closes after
// every static here is gone, and its file forgets itself from the list.
std::vector<Tracked*>& g_written = *new std::vector<Tracked*>;
std::set<std::string>& g_dirs = *new std::set<std::string>;

// A file opened for writing: notes itself as written on its first change
// after a sync, and syncs what is still unsynced when it closes.
class Tracked final : public File {
 public:
  explicit Tracked(std::unique_ptr<File> in) : in_(std::move(in)) {}
  ~Tracked() override {
    if (dirty_) {
      // A closing handle has nobody to tell: what must be durable is
      // synced by syncWritten() while its files are still open.
      static_cast<void>(in_->sync());
      forget();
    }
  }
  int read(int64_t o, void* b, size_t n, size_t* g) override { return in_->read(o, b, n, g); }
  int write(int64_t o, const void* b, size_t n) override {
    note();
    ++writes_;
    return in_->write(o, b, n);
  }
  int size(int64_t* out) override { return in_->size(out); }
  int truncate(int64_t l) override {
    note();
    ++writes_;
    return in_->truncate(l);
  }
  uint64_t writesMade() const override { return writes_; }
  int tryLock(int64_t o, int64_t l) override { return in_->tryLock(o, l); }
  int unlock(int64_t o, int64_t l) override { return in_->unlock(o, l); }
  int tryLockShared(int64_t o, int64_t l) override { return in_->tryLockShared(o, l); }
  int probe(int64_t o, int64_t l, bool* h) override { return in_->probe(o, l, h); }
  int sync() override {
    if (dirty_) forget();
    dirty_ = false;
    return in_->sync();
  }
  bool writable() const override { return in_->writable(); }

 private:
  void note() {
    if (dirty_) return;
    dirty_ = true;
    g_written.push_back(this);
  }
  void forget() { g_written.erase(std::remove(g_written.begin(), g_written.end(), this), g_written.end()); }

  std::unique_ptr<File> in_;
  bool dirty_ = false;
  uint64_t writes_ = 0;
};

uint64_t g_ioFaults = 0;

[[nodiscard]] int counted(int rc) {
  if (rc == kHardware) ++g_ioFaults;
  return rc;
}

// Every file of the engine: counts the calls that meet an I/O error.
class Watched final : public File {
 public:
  explicit Watched(std::unique_ptr<File> in) : in_(std::move(in)) {}
  int read(int64_t o, void* b, size_t n, size_t* g) override { return counted(in_->read(o, b, n, g)); }
  int write(int64_t o, const void* b, size_t n) override { return counted(in_->write(o, b, n)); }
  int size(int64_t* out) override { return counted(in_->size(out)); }
  int truncate(int64_t l) override { return counted(in_->truncate(l)); }
  int tryLock(int64_t o, int64_t l) override { return counted(in_->tryLock(o, l)); }
  int unlock(int64_t o, int64_t l) override { return counted(in_->unlock(o, l)); }
  int tryLockShared(int64_t o, int64_t l) override { return counted(in_->tryLockShared(o, l)); }
  int probe(int64_t o, int64_t l, bool* h) override { return counted(in_->probe(o, l, h)); }
  int sync() override { return counted(in_->sync()); }
  bool writable() const override { return in_->writable(); }

 private:
  std::unique_ptr<File> in_;
};

class Dead final : public File {
 public:
  explicit Dead(bool writable) : writable_(writable) {}
  int read(int64_t, void*, size_t, size_t* g) override {
    *g = 0;
    return kHardware;
  }
  int write(int64_t, const void*, size_t) override { return kHardware; }
  int size(int64_t*) override { return kHardware; }
  int truncate(int64_t) override { return kHardware; }
  int tryLock(int64_t, int64_t) override { return kHardware; }
  int unlock(int64_t, int64_t) override { return kHardware; }
  int tryLockShared(int64_t, int64_t) override { return kHardware; }
  int probe(int64_t, int64_t, bool*) override { return kHardware; }
  int sync() override { return kHardware; }
  bool writable() const override { return writable_; }

 private:
  bool writable_;
};

std::string dirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int openFile(const std::string& path, bool write, bool create, std::unique_ptr<File>* out) {
  const bool isNew = create && !env().exists(path);
  std::unique_ptr<File> f;
  int rc = counted(env().open(path, write, create, &f));
  if (rc != kOk) return rc;
  if (isNew) g_dirs.insert(dirOf(path));
  f = std::make_unique<Watched>(std::move(f));
  if (write) f = std::make_unique<Tracked>(std::move(f));
  *out = std::move(f);
  return kOk;
}

int syncWritten() {
  int first = kOk;
  std::vector<Tracked*> files;
  files.swap(g_written);
  for (Tracked* f : files) {
    // sync() takes the file off the list (already emptied here).
    int rc = f->sync();
    if (first == kOk) first = rc;
  }
  std::set<std::string> dirs;
  dirs.swap(g_dirs);
  for (const std::string& d : dirs) {
    int rc = env().syncDir(d);
    if (first == kOk) first = rc;
  }
  return first;
}

size_t writtenFiles() { return g_written.size() + g_dirs.size(); }

uint64_t ioFaults() { return g_ioFaults; }
void noteIoFault() { ++g_ioFaults; }
std::unique_ptr<File> deadFile(bool writable) { return std::make_unique<Dead>(writable); }

int syncDirOf(const std::string& path) {
  std::string dir = dirOf(path);
  g_dirs.erase(dir);
  return env().syncDir(dir);
}

Env& posixEnv() { return g_posix; }
Env& env() { return *g_env; }
Env* setEnv(Env* e) {
  Env* old = g_env;
  g_env = e ? e : &g_posix;
  return old;
}

}  // namespace db::os
