// The stock journal "kcls": one record for every change of a catalogue
// record's stock `shl` (a charge, a deleted charge given back, a drug
// added, changed or deleted in the drug window), written in the same step
// as the change and under the same record lock, so that the sums of the
// journal follow the catalogue exactly whatever several workstations do at
// once. The program only ever appends to it.
//
// Each entry says when, who (the login), where (the workstation's host
// name), which batch (code, name, batch number), by how much the stock
// changed and what it was afterwards, why, and the inpatient number or
// prescription the change belongs to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app::journal {

// Why the stock changed (GBK, as the field `yy` holds it).
const std::string& inpatientCharge();   // "住院记帐"
const std::string& outpatientCharge();  // "门诊记帐"
const std::string& deletionReturn();    // "删除退回"
const std::string& catalogueAdd();      // "目录新增"
const std::string& catalogueModify();   // "目录修改"
const std::string& catalogueDelete();   // "目录删除"
const std::string& handAdjustment();    // "手工调整": a stock typed in the drug window

// What a stock change is for: its reason, the inpatient number or
// prescription, and the user it is written for ("" = the login).
struct Movement {
  std::string reason;
  std::string reference;
  std::string user;
};

// One entry (texts GBK). `op` names the operation that made it (a charge,
// a deletion, a catalogue change; "" for none), `lineTable` and
// `lineSerial` the charge line it goes with (a charge and its deletion
// name the same line).
struct Operation {
  std::string op;
  std::string lineTable;
  int32_t lineSerial = 0;
};
struct Entry {
  std::string dm, mch, ph;
  int32_t change = 0;
  int32_t after = 0;
  Movement why;
  Operation by;
};

// A new operation id: 16 characters, unique to this operation across every
// workstation (time and random bits).
std::string newOperationId();

// The workstation written into every entry: the host name, unless set
// (the demo year writes a fixed name so that its tables are the same on
// every machine).
void setWorkstation(const std::string& gbk);
const std::string& workstation();

// Makes the journal ready for an entry: created when the folder says no
// file of that name exists, opened, and checked to have the journal's
// fields (those of a journal made before entries carried operations are
// taken too). Leaves it current. 0, or the engine's code (-22 for a file
// of that name with other fields): no stock is changed without its entry.
[[nodiscard]] int prepare();
// Whether the journal prepared last holds operations and lines: a journal
// of the older layout keeps entries without them, and nothing can be
// checked against it by operation.
bool carriesOperations();

// Appends one entry, dated now, into the journal (prepare() first; it is
// current afterwards). 0 or the engine's code.
[[nodiscard]] int append(const Entry& e);
// The same with the journal current already (a run of entries in one
// append batch, db::AppendBatch).
[[nodiscard]] int appendToCurrent(const Entry& e);

// What the journal holds of one operation, read in one pass (the caller
// holds the lock of the catalogue record the operation changes, so no
// entry of its batch is appended meanwhile):
struct OperationFound {
  bool found = false;         // an entry made by the operation `op`
  Entry entry;                // the first such entry
  bool laterInBatch = false;  // an entry of the same batch after it
  int32_t laterBefore = 0;    // the stock before the first of those
  bool lineReturned = false;  // a 删除退回 entry of the line (table, serial)
};
// 0, or the engine's code when the journal could not be read whole (no
// journal yet: 0, nothing found).
[[nodiscard]] int findOperation(const std::string& op, const std::string& lineTable, int32_t lineSerial,
                                OperationFound* out);

// The entries of one batch (code, name and batch number equal), newest
// first, each as the texts the journal view shows: time, change, stock
// afterwards, reason, inpatient number or prescription, user,
// workstation. With `anyWhereEmpty`, an empty code, name or batch number
// matches every entry (a drug typed by its code alone shows all its
// batches). 0, or the engine's code when the journal could not be read
// whole (no journal yet: 0 and no rows).
[[nodiscard]] int entriesOf(const std::string& dm, const std::string& mch, const std::string& ph, bool anyWhereEmpty,
                            std::vector<std::vector<std::string>>* rows);

}  // namespace app::journal
