// Who is working on a centre folder: one small file, "kdbuse.dat", in the
// folder, whose byte 0 every program that works on the folder's tables
// holds a shared lock on for as long as it runs, and that a tool which
// must be alone on the folder (a restore replacing the tables) locks
// exclusively. The lock is an open-file-description lock taken through the
// engine's file layer (db/os.h), so it is dropped when the holder closes
// the file or ends, however it ends, and it never touches a table's locks.
//
// The file holds no data; it is made by the first program that enters the
// folder (one open with O_CREAT, readable and writable by whoever may
// write the folder, see os.cpp) and never removed.
//
// A FolderUse owns its open file: destroying it releases the lock.
// Nothing here throws or waits.
#pragma once

#include <memory>
#include <string>

#include "db/os.h"

namespace db {

constexpr const char* kFolderUseFileName = "kdbuse.dat";

class FolderUse {
 public:
  ~FolderUse();
  FolderUse(const FolderUse&) = delete;
  FolderUse& operator=(const FolderUse&) = delete;

  // Takes a shared hold on the folder `dir` (*out owns it). 0; -12 when a
  // tool holds the folder alone (a restore is under way); the file error
  // when "kdbuse.dat" can be neither made nor opened (a folder this account
  // may only read is entered read-only without making the file: -3 when it
  // has none yet); -28 when the lock call itself failed.
  [[nodiscard]] static int enter(const std::string& dir, std::unique_ptr<FolderUse>* out);

  // Takes the folder alone, without waiting (*out owns it). 0; -12 when
  // any other program (or another FolderUse of this one) holds the
  // folder; the file error when "kdbuse.dat" cannot be made or opened for
  // writing (an exclusive lock needs write access); -28 when the lock call
  // itself failed.
  [[nodiscard]] static int takeAlone(const std::string& dir, std::unique_ptr<FolderUse>* out);

  bool alone() const { return alone_; }

 private:
  FolderUse(std::unique_ptr<os::File> file, bool alone) : file_(std::move(file)), alone_(alone) {}
  std::unique_ptr<os::File> file_;
  bool alone_;
};

// The path of the folder's use file.
std::string folderUsePath(const std::string& dir);

// For a program that works on one folder for its whole run: enters `dir`
// and keeps the hold until leaveFolderForRun() or the end of the process.
// Codes as FolderUse::enter.
[[nodiscard]] int enterFolderForRun(const std::string& dir);
void leaveFolderForRun();

}  // namespace db
