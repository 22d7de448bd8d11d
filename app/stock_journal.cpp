#include "app/stock_journal.h"

#include <unistd.h>

#include <climits>

#include "app/module.h"
#include "app/program_values.h"
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

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;  // host names are ASCII
}

}  // namespace

const std::string& inpatientCharge() { static const std::string s = GBK("住院记帐"); return s; }
const std::string& outpatientCharge() { static const std::string s = GBK("门诊记帐"); return s; }
const std::string& deletionReturn() { static const std::string s = GBK("删除退回"); return s; }
const std::string& catalogueAdd() { static const std::string s = GBK("目录新增"); return s; }
const std::string& catalogueModify() { static const std::string s = GBK("目录修改"); return s; }
const std::string& catalogueDelete() { static const std::string s = GBK("目录删除"); return s; }
const std::string& handAdjustment() { static const std::string s = GBK("手工调整"); return s; }

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
  if (cmd::SetCurrentDatabase(kJournal)) {
    // Open already. An engine call with the journal current opens again a
    // handle that a dropped folder took away, before the entry needs it.
    cmd::FieldCount();
    return currentTableIs(kStockJournal) ? 0 : int(db::kNotDatabase);
  }
  // Created only when the folder says there is no such file: a journal
  // that could not be seen is never made anew over the entries it holds.
  if (!cmd::FileExists(kJournal + ".kdb") && db::lastError() == db::kOk) createTable(kJournal, kStockJournal);
  const int why = selectCheckedTable(kJournal, kStockJournal);
  return why == kWrongLayout ? int(db::kNotDatabase) : why;
}

int append(const Entry& e) {
  if (!cmd::SetCurrentDatabase(kJournal)) return db::lastError() != db::kOk ? db::lastError() : int(db::kNotOpened);
  return appendToCurrent(e);
}

int appendToCurrent(const Entry& e) {
  const std::string& user = e.why.user.empty() ? cashier() : e.why.user;
  if (cmd::AppendRecord(cmd::Now(), user, workstation(), e.dm, e.mch, e.ph, e.change, e.after, e.why.reason,
                        e.why.reference))
    return 0;
  return db::lastError() != db::kOk ? db::lastError() : int(db::kRecordWriteFailed);
}

int entriesOf(const std::string& dm, const std::string& mch, const std::string& ph,
              std::vector<std::vector<std::string>>* rows) {
  rows->clear();
  if (!cmd::FileExists(kJournal + ".kdb")) return db::lastError();
  if (const int why = selectCheckedTable(kJournal, kStockJournal); why != 0)
    return why == kWrongLayout ? int(db::kNotDatabase) : why;
  std::vector<std::vector<std::string>> found;
  const int rc = db::forEachRecord([&] {
    if (!db::fieldTextEquals("dm", dm) || !db::fieldTextEquals("mch", mch) || !db::fieldTextEquals("ph", ph))
      return;
    FieldReader r;
    found.push_back({r.shown("sj"), r.shown("bd"), r.shown("kc"), r.text("yy"), r.text("hm"), r.text("czy"),
                     r.text("gzz")});
  });
  if (rc != 0) return rc;
  rows->assign(found.rbegin(), found.rend());
  return 0;
}

}  // namespace app::journal
