// The file and lock layer. Every operating-system call the engine makes
// (open, pread/pwrite, fstat, ftruncate, byte-range locks, sleeping, the
// clock tick, full paths, directory listings, removing files) goes through
// the Env and File interfaces below, so tests can install a failing or
// recording layer with setEnv().
//
// Errors are returned as engine error codes (db/errors.h); the mapping from
// errno is done once, in os.cpp. No call here throws.
//
// Locks are open-file-description locks (F_OFD_SETLK): they belong to the
// open file, not to the process, so two handles on one file in one process
// exclude each other just as two programs do, and closing the handle drops
// its locks. A handle opened for writing takes exclusive locks; a read-only
// handle takes shared ones (POSIX allows no exclusive lock without write
// access); a shared lock still excludes every writer. No other kind of lock
// (flock, classic fcntl) is ever taken: network file systems turn flock
// into whole-file byte-range locks that would clash with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace db::os {

// tryLock's answer when another open file holds a conflicting lock.
constexpr int kBusy = 1;

class File {
 public:
  virtual ~File() = default;

  // Reads up to n bytes at `offset`; *got is the number read (less than n
  // only at the end of the file). Returns 0 or an error code.
  [[nodiscard]] virtual int read(int64_t offset, void* buf, size_t n, size_t* got) = 0;
  // Writes all n bytes at `offset`; 0 or an error code.
  [[nodiscard]] virtual int write(int64_t offset, const void* buf, size_t n) = 0;
  [[nodiscard]] virtual int size(int64_t* out) = 0;
  [[nodiscard]] virtual int truncate(int64_t length) = 0;

  // One attempt at locking [offset, offset + length): 0, kBusy, or an
  // error code. Never waits.
  [[nodiscard]] virtual int tryLock(int64_t offset, int64_t length) = 0;
  [[nodiscard]] virtual int unlock(int64_t offset, int64_t length) = 0;
  // Takes a shared lock (used for the share-mode markers); 0, kBusy or an
  // error code.
  [[nodiscard]] virtual int tryLockShared(int64_t offset, int64_t length) = 0;
  // *held = some other open file holds any lock on the range.
  [[nodiscard]] virtual int probe(int64_t offset, int64_t length, bool* held) = 0;

  // Makes what was written (data and length) durable: 0, -14 when the
  // disk is full, -11 for a device error, other file errors.
  [[nodiscard]] virtual int sync() = 0;

  virtual bool writable() const = 0;

  // Writes and truncates made through this handle so far (counted by the
  // layer that notes written files; 0 where nothing counts them). A table
  // compares it to tell whether it has changed its own file since.
  virtual uint64_t writesMade() const { return 0; }
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens `path` for reading, or reading and writing; `create` makes the
  // file when it does not exist (never truncates) and never follows a
  // symbolic link at `path` (-4). Only regular files open; anything else
  // gives -6.
  [[nodiscard]] virtual int open(const std::string& path, bool write, bool create, std::unique_ptr<File>* out) = 0;
  // Absolute path with "." / ".." and symbolic links resolved; for a file
  // that does not exist yet, its resolved directory plus its name.
  [[nodiscard]] virtual int fullPath(const std::string& path, std::string* out) = 0;
  // Names in a directory ("." and ".." left out).
  [[nodiscard]] virtual int listDir(const std::string& dir, std::vector<std::string>* names) = 0;
  // True when something (file or directory) exists at exactly `path`.
  virtual bool exists(const std::string& path) = 0;
  // The same with the reason: 1 there, 0 not there, or the error code of a
  // look that failed (an unreachable folder is not an empty one). The
  // default asks exists() and cannot fail.
  [[nodiscard]] virtual int stat(const std::string& path);
  [[nodiscard]] virtual int remove(const std::string& path) = 0;
  // Puts `from` in the place of `to` in one step (replacing it): 0 or an
  // error code; a failure leaves `to` as it was.
  [[nodiscard]] virtual int rename(const std::string& from, const std::string& to);
  // True when `path` itself is a symbolic link (dangling or not).
  virtual bool isLink(const std::string& path);
  // Which file is at `path` now (its device and inode as one number), so
  // that a file deleted, or replaced by another, is told from the one a
  // handle has open: 0, kNotFound, or the error of a look that failed.
  [[nodiscard]] virtual int fileId(const std::string& path, uint64_t* id);
  // Makes the directory's entries (files made or removed in it) durable.
  [[nodiscard]] virtual int syncDir(const std::string& dir) = 0;
  virtual void sleepMs(int ms) = 0;
  // Milliseconds of a monotonic clock.
  virtual uint64_t tickMs() = 0;
};

// The installed layer (the POSIX one unless a test installed another).
Env& env();
// Installs `e` (not owned; null puts the POSIX layer back); returns the
// previous one.
Env* setEnv(Env* e);

// The POSIX layer itself, for test layers that wrap it.
Env& posixEnv();

// errno to engine code, for the rare caller outside this layer.
[[nodiscard]] int mapErrno(int err);

// --- durability -------------------------------------------------------------
//
// Every file the engine opens for writing is opened through openFile(),
// which notes each file written since it was last synced (and the
// directory of each file it made). syncWritten() makes all of them durable
// at once: the program calls it when a window's handler returns, so that
// an action the screen shows as done survives a power cut; batch tools
// call it once at the end. A written file that is closed is synced as it
// closes. All of this runs on the one thread that uses the engine.

// env().open, with the written-file bookkeeping above for files opened
// for writing.
[[nodiscard]] int openFile(const std::string& path, bool write, bool create, std::unique_ptr<File>* out);
// Syncs every file written (and directory changed) since the last call;
// 0 or the first error (every file is still tried).
[[nodiscard]] int syncWritten();
// Number of files waiting for syncWritten (tests).
size_t writtenFiles();
// Makes the entries of the directory holding `path` durable now (a file
// that later writes depend on, such as a pack's redo record).
[[nodiscard]] int syncDirOf(const std::string& path);

// --- folders that drop -------------------------------------------------------
//
// Every file opened through openFile() counts the calls that fail with an
// I/O error (-11: the device or the network share did not answer).
// The command layer compares the count before and after each command: a
// command that met one drops the handles of its tables (and with them their
// locks) and reopens them on next use, so no lock outlives the failure.

// I/O errors met by the engine's files so far in this run.
uint64_t ioFaults();
// Counts one (a call outside openFile's files that met one).
void noteIoFault();

// A file that is no longer there to use: every call fails with -11 and no
// lock is held. Takes the place of a handle dropped after an I/O error.
std::unique_ptr<File> deadFile(bool writable);

}  // namespace db::os
