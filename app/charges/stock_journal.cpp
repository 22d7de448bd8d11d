#include "app/charges/stock_journal.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <ctime>

#include "app/listed_records.h"
#include "app/table_use.h"
#include "app/charges/charge_values.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::journal {
namespace {

const std::string kJournal = kStockJournalName;

std::string g_workstation;
bool g_workstationSet = false;
bool g_withOperations = true;

// The journal current: of which layout? -22 when neither.
int checkLayout() {
  if (currentTableIs(kStockJournal)) {
    g_withOperations = true;
    return 0;
  }
  if (currentTableIs(kStockJournalWithoutOperations)) {
    g_withOperations = false;
    return 0;
  }
  return db::kNotDatabase;
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;  // host names are ASCII
}

}  // namespace

const std::string& inpatientCharge() {
  static const std::string s = GBK("住院记帐");
  return s;
}
const std::string& outpatientCharge() {
  static const std::string s = GBK("门诊记帐");
  return s;
}
const std::string& deletionReturn() {
  static const std::string s = GBK("删除退回");
  return s;
}
const std::string& catalogueAdd() {
  static const std::string s = GBK("目录新增");
  return s;
}
const std::string& catalogueModify() {
  static const std::string s = GBK("目录修改");
  return s;
}
const std::string& catalogueDelete() {
  static const std::string s = GBK("目录删除");
  return s;
}
const std::string& handAdjustment() {
  static const std::string s = GBK("手工调整");
  return s;
}

void setWorkstation(const std::string& gbk) {
  g_workstation = gbk;
  g_workstationSet = true;
}

const std::string& workstation() {
  if (!g_workstationSet) {
    g_workstation = hostName();
    g_workstationSet = true;
  }
  return g_workstation;
}

int prepare() {
  // Created only when the folder says there is no such file: a journal
  // that could not be seen is never made anew over the entries it holds.
  // Its layout is one of two (checkLayout); where it stands does not
  // matter to an append. An engine call with the journal current opens
  // again a handle that a dropped folder took away, before the entry needs
  // it: the open of a journal open already makes none.
  const TableUse use =
      useTable(kJournal, {.def = &kStockJournal, .checkLayout = false, .createWhenMissing = true, .moveFirst = false});
  if (!use.ok()) return use.code;
  if (!use.openedHere) cmd::FieldCount();
  return checkLayout();
}

bool carriesOperations() { return g_withOperations; }

std::string newOperationId() {
  // Seconds since 2000 (8 hex digits) and 32 random bits: unique across
  // workstations without asking any of them, and in time order.
  static const char* digits = "0123456789abcdef";
  uint32_t random = 0;
  if (FILE* f = std::fopen("/dev/urandom", "rb")) {
    if (std::fread(&random, sizeof random, 1, f) != 1) random = 0;
    std::fclose(f);
  }
  if (random == 0) random = uint32_t(::getpid()) * 2654435761u ^ uint32_t(std::clock());
  const uint32_t seconds = uint32_t(std::time(nullptr) - 946684800);
  std::string id(16, '0');
  for (int i = 0; i < 8; ++i) {
    id[size_t(7 - i)] = digits[(seconds >> (4 * i)) & 15];
    id[size_t(15 - i)] = digits[(random >> (4 * i)) & 15];
  }
  return id;
}

int append(const Entry& e) {
  if (!cmd::SetCurrentDatabase(kJournal)) return db::lastErrorOr(db::kNotOpened);
  return appendToCurrent(e);
}

int appendToCurrent(const Entry& e) {
  const std::string& user = e.why.user.empty() ? cashier() : e.why.user;
  const bool appended = g_withOperations
                            ? cmd::AppendRecord(cmd::Now(), user, workstation(), e.dm, e.mch, e.ph, e.change, e.after,
                                                e.why.reason, e.why.reference, e.by.op, e.by.lineTable, e.by.lineSerial)
                            : cmd::AppendRecord(cmd::Now(), user, workstation(), e.dm, e.mch, e.ph, e.change, e.after,
                                                e.why.reason, e.why.reference);
  if (appended) return 0;
  return db::lastErrorOr(db::kRecordWriteFailed);
}

int findOperation(const std::string& op, const std::string& lineTable, int32_t lineSerial, OperationFound* out) {
  *out = OperationFound{};
  if (!cmd::FileExists(kJournal + ".kdb")) return db::lastError();
  if (const int why = prepare(); why != 0) return why;
  if (!g_withOperations) return 0;
  OperationFound f;
  const int rc = db::forEachRecord([&] {
    const bool mine = db::fieldTextEquals("czh", op);
    if (!f.found && mine) {
      FieldReader r;
      f.found = true;
      f.entry.dm = r.text("dm");
      f.entry.mch = r.text("mch");
      f.entry.ph = r.text("ph");
      f.entry.change = int32_t(r.number("bd"));
      f.entry.after = int32_t(r.number("kc"));
      f.entry.why = {r.text("yy"), r.text("hm"), r.text("czy")};
      f.entry.by = {op, r.text("mxb"), int32_t(r.number("mxh"))};
    } else if (f.found && !f.laterInBatch && db::fieldTextEquals("dm", f.entry.dm) &&
               db::fieldTextEquals("mch", f.entry.mch) && db::fieldTextEquals("ph", f.entry.ph)) {
      FieldReader r;
      f.laterInBatch = true;
      f.laterBefore = int32_t(r.number("kc") - r.number("bd"));
    }
    if (lineSerial != 0 && !f.lineReturned && db::fieldTextEquals("mxb", lineTable) &&
        db::fieldTextEquals("yy", deletionReturn()) && FieldReader().number("mxh") == double(lineSerial))
      f.lineReturned = true;
  });
  if (rc != 0) return rc;
  *out = f;
  return 0;
}

int entriesOf(const std::string& dm, const std::string& mch, const std::string& ph, bool anyWhereEmpty,
              std::vector<std::vector<std::string>>* rows) {
  rows->clear();
  if (!cmd::FileExists(kJournal + ".kdb")) return db::lastError();
  if (const int why = useTable(kJournal, {.def = &kStockJournal}).failure(); why != 0) return why;
  std::vector<std::vector<std::string>> found;
  const int rc = db::forEachRecord([&] {
    auto matches = [anyWhereEmpty](const char* field, const std::string& value) {
      return (anyWhereEmpty && value.empty()) || db::fieldTextEquals(field, value);
    };
    if (!matches("dm", dm) || !matches("mch", mch) || !matches("ph", ph)) return;
    FieldReader r;
    found.push_back(
        {r.shown("sj"), r.shown("bd"), r.shown("kc"), r.text("yy"), r.text("hm"), r.text("czy"), r.text("gzz")});
  });
  if (rc != 0) return rc;
  rows->assign(found.rbegin(), found.rend());
  return 0;
}

}  // namespace app::journal
