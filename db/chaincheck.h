// Checking and mending the memo and byte-set chains of a table's auxiliary
// file: every record's chains and the free list are walked block by block.
//
// Faults found (each tied to the record and field whose chain has it, or
// to the free list):
//   * a link to a block past the end of the file (or below block 1);
//   * a chain or the free list coming back to a block it already passed;
//   * a block whose used-byte count is outside 0..500;
//   * a block in two chains (a cross-link): the chain whose link matches
//     the block's own "previous" field keeps it (the first one when that
//     does not decide), the other chain has the fault;
//   * a block of a chain that is on the free list (the next value written
//     would overwrite it);
//   * a torn chain: a block whose "previous" field is not the block before
//     it, a block before the last that is not full, or a last block that
//     holds nothing (a value written over in place and cut short).
// Blocks that belong to no chain and are not free are only counted: they
// waste space but harm nothing. So is a header whose free count differs
// from the free list (a value written into free blocks and stopped before
// the header followed: writers cut the list where it goes wrong), and one
// that counts fewer blocks than the file holds (writers count the file's
// blocks and give out none it holds): both are noted, not faults.
//
// Repair drops the value of every chain with a fault of its own (the
// record's block number becomes 0; the record is otherwise untouched) and,
// when anything was wrong, rebuilds the free list from every block no kept
// chain uses. A sound file is left byte for byte as it was.
#pragma once

#include <cstdint>
#include <vector>

namespace db {

class Table;

enum class ChainFaultKind {
  kPastEnd,     // block: the link's target
  kLoop,        // block: the block reached again
  kBadUsed,     // block: the block with the bad count
  kCrossLink,   // block: the shared block; other*: the chain keeping it
  kOnFreeList,  // block: the block that is also free
  kTorn,        // block: the first block that does not continue the chain
};

struct ChainFault {
  ChainFaultKind kind;
  int32_t record = 0;  // 1-based; 0 = the free list
  int field = -1;      // index into the table's fields
  int32_t block = 0;
  int32_t otherRecord = 0;
  int otherField = -1;
};

struct ChainReport {
  std::vector<ChainFault> faults;
  int32_t blocks = 0;        // in the file, block 0 included
  int32_t freeBlocks = 0;    // on the free list as walked
  int32_t unused = 0;        // in no chain and not free
  int32_t headerFree = 0;    // the header's free count (freeBlocks when sound)
  int32_t headerBlocks = 0;  // the header's block count (blocks when sound)
  // Filled by repair: the values dropped (record 1-based, field index) and
  // whether the free list was rewritten.
  std::vector<std::pair<int32_t, int>> dropped;
  bool freeListRebuilt = false;
};

// Whether any fault is a record's: a value that cannot be read whole, or
// that the next value written would overwrite. Faults of the free list
// alone (a list that loops or runs past the end: writers cut it where it
// goes wrong) only lose free space, as a write stopped while it took
// blocks from the list leaves it.
bool valuesAtRisk(const ChainReport& r);

// Walks every chain of every record (deleted ones included) and the free
// list. 0 or an engine error code (the report then holds what was found).
[[nodiscard]] int checkChains(Table& t, ChainReport* out);

// checkChains, then mends as described above (the table must be open for
// writing).
[[nodiscard]] int repairChains(Table& t, ChainReport* out);

}  // namespace db
