// The auxiliary ".kdt" file that holds memo and byte-set values.
//
// A sequence of 512-byte blocks; block k starts at k * 512. Block 0:
//
//   offset  size  content
//   0       4     magic "WKDT"
//   4       4     version, int32; equals the database file's
//   8       8     creation date-time, double
//   16      4     blocks in the file, block 0 included, int32 (1 when new)
//   20      4     blocks on the free list, int32
//   24      4     first block of the free list, int32, 0 = none
//   28      4     zero
//   32      480   zero
//
// Data and free blocks:
//
//   offset  size  content
//   0       4     previous block of the chain, int32 (0 for the first)
//   4       4     next block of the chain or free list, int32, 0 = last
//   8       4     data bytes used in this block, 0..500
//   12      500   data, zero-filled behind the used bytes
//
// A memo is stored with its terminating NUL, a byte-set as its bytes, cut
// into 500-byte pieces in order. Chains are followed only inside the file
// and at most once per block, so a damaged chain (a loop, a link past the
// end, a bad used count) gives -59 instead of a hang or a wild read.
//
// The free list and block count change only under the lock on byte 0 of
// this file and are read fresh from the file each time, so several
// programs can write values at once. An open auxiliary file holds the
// "open" share marker (locks.h) for as long as it is open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/os.h"

namespace db {

constexpr int kBlockSize = 512;
constexpr int kBlockData = 500;
constexpr int kBlockHeader = 12;
constexpr int kAuxHeaderBytes = 32;
constexpr int kAuxOffBlocks = 16, kAuxOffFreeCount = 20, kAuxOffFreeHead = 24;
constexpr char kAuxMagic[4] = {'W', 'K', 'D', 'T'};

class AuxFile {
 public:
  // Makes `f` (a file opened for writing) a new one-block file, dropping
  // what it held. 0, -14 when the disk is full, or -50.
  [[nodiscard]] static int create(os::File& f, int32_t version, double created);

  // Opens and validates: -35 for a bad header, -36 for a version other
  // than `dbVersion`; a file shorter than its block count fails with -37
  // (its last values may be gone, and new blocks would be given out over
  // blocks the header still counts), unless `repairing` (read-write), which
  // cuts the count to the file. File errors as mapped by the file layer.
  // `lockless`: the database is alone on its files and takes no locks.
  [[nodiscard]] static int open(const std::string& path, bool write, int32_t dbVersion, bool lockless, bool repairing,
                                std::unique_ptr<AuxFile>* out);

  // The bytes of the chain starting at `first` (0: empty). -59 on any
  // unreadable or damaged block.
  [[nodiscard]] int read(int32_t first, std::string* out);

  // Stores `n` bytes as a new chain in free blocks, then new ones at the
  // end; no block of any existing chain is touched, so the value a record
  // names stays whole until the record is switched to the new chain (the
  // caller then releases the old one). *newFirst is 0 for n == 0. -14 when
  // the disk is full, -59 on any other failure.
  [[nodiscard]] int write(const void* data, size_t n, int32_t* newFirst);

  // Puts the chain at `first` on the free list.
  [[nodiscard]] int release(int32_t first);
  // Puts every chain of `firsts` on the free list in one rewrite of it.
  [[nodiscard]] int release(const std::vector<int32_t>& firsts);

  // Makes every block from 1 up that `inUse` does not mark the free list
  // (repairing a damaged one); free blocks at the end are cut off.
  [[nodiscard]] int rebuildFreeList(const std::vector<bool>& inUse);

  // Back to one empty block (zapping the database).
  [[nodiscard]] int reset();

  os::File& file() { return *file_; }
  // Closes the file (and its locks) after an I/O error: every later call
  // fails with -11 until the table reopens it.
  void drop() { file_ = os::deadFile(file_->writable()); }

 private:
  struct State;
  [[nodiscard]] int lockHeader();
  void unlockHeader();
  [[nodiscard]] int loadState(State* s);
  [[nodiscard]] int storeState(State* s);

  std::unique_ptr<os::File> file_;
  bool lockless_ = false;
};

}  // namespace db
