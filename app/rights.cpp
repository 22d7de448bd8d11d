#include "app/rights.h"

#include <QWidget>
#include <functional>
#include <vector>

#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/shell.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "runtime/gbk.h"

namespace app::rights {
namespace {

namespace ids = forms::ids;

Rights g_login;

// Reads every record of the table `name` with `step`, through a handle
// this program has open already or a read-only one opened and closed
// here (so that a window opening it later for writing still can). Sets
// *exists; 0, or the engine's code when it could not be read whole.
int readTable(const std::string& name, const std::function<void()>& step, bool* exists) {
  *exists = cmd::FileExists(name + ".kdb");
  if (!*exists) return db::lastError();
  const TableUse use = useTable(name, {.readOnly = true});
  int code = use.code;
  if (use.ok()) code = db::forEachRecord(step, true);
  if (use.openedHere) cmd::CloseDatabase(name);
  return code;
}

}  // namespace

bool Rights::has(Right r) const {
  switch (r) {
    case Right::kDrugWindow:
      return drugWindow;
    case Right::kInpatientWindow:
      return inpatientWindow;
    case Right::kMedicationWindow:
      return medicationWindow;
    case Right::kOutpatientWindow:
      return outpatientWindow;
    case Right::kReportWindow:
      return reportWindow;
    case Right::kDeleteLine:
      return deleting != Deleting::kNever;
    case Right::kCorrect:
      return correct;
    case Right::kCatalogue:
      return catalogue;
    case Right::kUsers:
      return users;
  }
  return false;
}

int read(const std::string& user, Rights* out) {
  *out = Rights{};
  Rights found;
  bool exists = false;
  bool wrongLayout = false;
  const int rc = readTable(
      kRightsName,
      [&] {
        if (found.limited || wrongLayout) return;
        if (!currentTableIs(kRights)) {
          wrongLayout = true;
          return;
        }
        // A record marked deleted (in the record-edit dialog) is no record.
        if (db::scanSerial() < 0 || !db::fieldTextEquals("use", user)) return;
        FieldReader r;
        found.limited = true;
        found.drugWindow = r.number("yp") != 0;
        found.inpatientWindow = r.number("zy") != 0;
        found.medicationWindow = r.number("zp") != 0;
        found.outpatientWindow = r.number("mz") != 0;
        found.reportWindow = r.number("bb") != 0;
        const double sc = r.number("sc");
        found.deleting = sc >= 2 ? Deleting::kAlways : sc >= 1 ? Deleting::kBeforeBill : Deleting::kNever;
        found.correct = r.number("gz") != 0;
        found.catalogue = r.number("ml") != 0;
        found.users = r.number("yh") != 0;
      },
      &exists);
  if (!exists) return rc;
  if (rc != 0) return rc;
  if (wrongLayout) return db::kNotDatabase;
  *out = found;
  return 0;
}

const Rights& ofLogin() { return g_login; }

int takeForLogin(const std::string& user) {
  Rights r;
  const int rc = read(user, &r);
  if (rc != 0) return rc;
  g_login = r;
  return 0;
}

void forget() { g_login = Rights{}; }

std::string rightName(Right r) {
  switch (r) {
    case Right::kDrugWindow:
      return GBK("打开药品库存");
    case Right::kInpatientWindow:
      return GBK("打开住院信息");
    case Right::kMedicationWindow:
      return GBK("打开住院票据");
    case Right::kOutpatientWindow:
      return GBK("打开门诊用药");
    case Right::kReportWindow:
      return GBK("打开报表管理");
    case Right::kDeleteLine:
      return GBK("删除收费明细");
    case Right::kCorrect:
      return GBK("更正报表数据");
    case Right::kCatalogue:
      return GBK("增改删药品目录");
    case Right::kUsers:
      return GBK("编辑用户名单和权限");
  }
  return "";
}

namespace {

void tellMissing(const std::string& gbkRight, const char* gbkState) {
  const std::string text = GBK("用户“") + loggedInUser() + GBK("”没有“") + gbkRight + GBK("”的权限，") + gbkState;
  tell(text.c_str());
}

}  // namespace

bool require(Right r, const char* gbkState) {
  if (g_login.has(r)) return true;
  tellMissing(rightName(r), gbkState);
  return false;
}

bool windowRight(uint32_t windowId, Right* out) {
  switch (windowId) {
    case ids::kDrugWindow:
      *out = Right::kDrugWindow;
      return true;
    case ids::kInpatientWindow:
      *out = Right::kInpatientWindow;
      return true;
    case ids::kMedicationWindow:
      *out = Right::kMedicationWindow;
      return true;
    case ids::kOutpatientWindow:
      *out = Right::kOutpatientWindow;
      return true;
    case ids::kReportWindow:
      *out = Right::kReportWindow;
      return true;
    default:
      return false;
  }
}

namespace {

// "m" + digits: a month's outpatient table (an inpatient number never has
// that form: usablePatientNumber refuses it).
bool outpatientTable(const std::string& table) {
  if (table.size() < 2 || (table[0] != 'm' && table[0] != 'M')) return false;
  for (size_t i = 1; i < table.size(); ++i)
    if (table[i] < '0' || table[i] > '9') return false;
  return true;
}

}  // namespace

int billPrinted(const std::string& table, rt::DateTime lineDate, const std::string& cf) {
  const bool outpatient = outpatientTable(table);
  const std::string number = outpatient ? cf : table;
  const double day = cmd::DateOnly(lineDate).days;
  const int32_t from = cmd::YearOf(lineDate);
  const int32_t to = cmd::YearOf(cmd::Now());
  for (int32_t year = from; year <= to; ++year) {
    const std::string bills = (outpatient ? "bm" : "bz") + std::to_string(year);
    bool printed = false, exists = false;
    const int rc = readTable(
        bills,
        [&] {
          if (printed || db::scanSerial() < 0 || !db::fieldTextEquals("chf", number)) return;
          // The bill printed last for this number: a line of a later day
          // is not on it.
          rt::Result shj = cmd::ReadField("shj");
          printed = shj.kind() == rt::kDateTime && shj.real() >= day;
        },
        &exists);
    if (rc != 0) return rc;
    if (printed) return 1;
  }
  return 0;
}

bool mayDeleteLine(const std::string& table, rt::DateTime lineDate, const std::string& cf) {
  const Deleting when = g_login.deleting;
  if (when == Deleting::kAlways) return true;
  if (when == Deleting::kNever) {
    tellMissing(rightName(Right::kDeleteLine), GBK("未删除任何记录。"));
    return false;
  }
  const int printed = billPrinted(table, lineDate, cf);
  // Back to the charge table the deletion acts on; one that cannot be made
  // current deletes nothing.
  if (const TableUse use = useTable(table, {.moveFirst = false}); !use.ok()) {
    tellFailure(GBK("收费表“") + table + GBK("”无法打开"), use.code, GBK("未删除任何记录。"));
    return false;
  }
  if (printed == 0) return true;
  if (printed < 0) {
    tellFailure(GBK("无法确认该明细的票据是否已打印（票据表无法读取）"), printed, GBK("未删除任何记录。"));
    return false;
  }
  tellMissing(GBK("删除已打印票据的收费明细"), GBK("该明细的票据已打印，未删除任何记录。"));
  return false;
}

namespace {

void disable(uint32_t windowId, uint32_t controlId) {
  if (QWidget* w = forms::controlWidget(windowId, controlId)) w->setEnabled(false);
}

}  // namespace

void disableRefused(uint32_t windowId) {
  const Rights& r = g_login;
  if (!r.limited) return;
  switch (windowId) {
    case ids::kStartWindow: {
      namespace s = ids::start;
      if (!r.drugWindow) disable(windowId, s::kTransLabel1);
      if (!r.inpatientWindow) disable(windowId, s::kTransLabel2);
      if (!r.medicationWindow) disable(windowId, s::kTransLabel3);
      if (!r.outpatientWindow) disable(windowId, s::kTransLabel4);
      if (!r.reportWindow) disable(windowId, s::kTransLabel6);
      break;
    }
    case ids::kMedicationWindow:
      if (r.deleting == Deleting::kNever) disable(windowId, ids::medication::kButton3);
      break;
    case ids::kOutpatientWindow:
      if (r.deleting == Deleting::kNever) disable(windowId, ids::outpatient::kButton4);
      break;
    case ids::kDrugWindow:
      if (!r.catalogue)
        for (uint32_t b : {ids::drug::kButton1, ids::drug::kButton4, ids::drug::kButton3}) disable(windowId, b);
      break;
    case ids::kReportWindow:
      if (!r.correct)
        for (uint32_t b : {ids::report::kButton5, ids::report::kButton6, ids::report::kButton7, ids::report::kButton10})
          disable(windowId, b);
      break;
    default:
      break;
  }
}

}  // namespace app::rights
