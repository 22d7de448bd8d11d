#include "app/drug.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/charges/charging.h"
#include "app/expiry.h"
#include "app/figures/stored_amounts.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/telling.h"
#include "app/charges/pending.h"
#include "app/charges/charge_values.h"
#include "app/rights.h"
#include "app/shown_record.h"
#include "app/charges/stock_journal.h"
#include "app/tables.h"
#include "app/trail.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin(ids::kDrugWindow);
const std::string kCatalogue = kDrugCatalogueName;

// --- the sixteen boxes ------------------------------------------------------------

// In field order; showing a record writes the boxes in this order, so the
// stored totals (编辑框11, 编辑框13) land after the quantity and price
// boxes whose content-changed handlers recompute them. Amounts of money
// are shown to the fen; unit prices stay numbers (a price may carry more
// than the fen).
const std::vector<BoxField> kBoxes = {
    {"dm", "编辑框1", Shown::kText, "药品代码"}, {"mch", "编辑框2", Shown::kText, "药品名称"},
    {"bm", "编辑框3", Shown::kText, "药品别名"}, {"lb", "组合框1", Shown::kText, "药品类别"},
    {"bx", "组合框2", Shown::kText, "报销类别"}, {"ph", "编辑框4", Shown::kText, "批号"},
    {"gg", "编辑框5", Shown::kText, "药品规格"}, {"shch", "编辑框6", Shown::kDate, "生产日期"},
    {"yx", "编辑框7", Shown::kDate, "有效期限"}, {"chd", "编辑框8", Shown::kText, "药品产地"},
    {"dw", "组合框3", Shown::kText, "单位"},     {"shl", "编辑框9", Shown::kNumber, "药品数量"},
    {"jj", "编辑框10", Shown::kNumber, "进价"},  {"jh", "编辑框11", Shown::kMoney, "进价合计"},
    {"xj", "编辑框12", Shown::kNumber, "售价"},  {"xh", "编辑框13", Shown::kMoney, "售价合计"},
};

// The drug the boxes show: the one 修改 and 删除 act on.
ShownRecord& shown() {
  static ShownRecord record(kWin, kBoxes);
  return record;
}

// One catalogue record as read from the boxes, in field order.
struct DrugRecord {
  std::string dm, mch, bm, lb, bx, ph, gg;
  cmd::DateTime shch, yx;
  std::string chd, dw;
  double shl, jj, jh, xj, xh;
};

// Build a record: every box read as its field is shown.
DrugRecord readBoxes() {
  DrugRecord r;
  r.dm = kWin.text("编辑框1");
  r.mch = kWin.text("编辑框2");
  r.bm = kWin.text("编辑框3");
  r.lb = kWin.text("组合框1");
  r.bx = kWin.text("组合框2");
  r.ph = kWin.text("编辑框4");
  r.gg = kWin.text("编辑框5");
  r.shch = cmd::ToDateTime(kWin.text("编辑框6"));
  r.yx = cmd::ToDateTime(kWin.text("编辑框7"));
  r.chd = kWin.text("编辑框8");
  r.dw = kWin.text("组合框3");
  r.shl = kWin.number("编辑框9");
  r.jj = kWin.number("编辑框10");
  r.jh = kWin.number("编辑框11");
  r.xj = kWin.number("编辑框12");
  r.xh = kWin.number("编辑框13");
  return r;
}

// AppendRecord or ModifyRecord with the sixteen values in field order. The
// quantity goes as a double (the integer field cuts it to a whole number);
// prices and totals go as the floats their fields hold.
template <typename Command>
bool writeRecord(Command command, const DrugRecord& r) {
  return command(r.dm, r.mch, r.bm, r.lb, r.bx, r.ph, r.gg, r.shch, r.yx, r.chd, r.dw, r.shl, asStored(r.jj),
                 asStored(r.jh), asStored(r.xj), asStored(r.xh));
}
bool appendRecord(const DrugRecord& r) {
  return writeRecord([](const auto&... v) { return cmd::AppendRecord(v...); }, r);
}
bool modifyRecord(const DrugRecord& r) {
  return writeRecord([](const auto&... v) { return cmd::ModifyRecord(v...); }, r);
}

double fieldNumber(const char* field) { return cmd::ReadField(field).number(); }

// What the operator typed stays in the boxes until it is written.
const char* typedKeptText() { return GBK("输入的内容未清除，请稍后再试。"); }
const char* typedKept() { return typedKeptText(); }

// --- what the pharmacist sees at a glance ------------------------------------------

// Drugs (西药, 中成, 中草) whose batch has expired, expires within 90 days,
// or has no stock; services carry no such mark.
enum class Mark { kNone, kExpired, kExpiring, kNoStock };
// The rows' backgrounds: red, amber, grey.
constexpr uint32_t kExpiredRow = 0xF4A6A6, kExpiringRow = 0xFFD27F, kNoStockRow = 0xCFCFCF;

struct Marks {
  int expired = 0, expiring = 0, noStock = 0;
  std::vector<Mark> ofRecord;  // in stored order
};

// The record being read is a drug's (compared where it lies, without a
// copy of the text: the catalogue is read whole at every refresh).
bool isDrugRecord() {
  return db::fieldTextEquals("lb", categoryName(kWestern)) || db::fieldTextEquals("lb", categoryName(kPatentChinese)) ||
         db::fieldTextEquals("lb", categoryName(kHerbal));
}

// The mark of the record being read, counted into `m`. An expired batch
// is marked so even without stock; a batch without an expiry date (none
// typed) never expires.
void markRecord(Marks& m, double today) {
  if (!isDrugRecord()) {
    m.ofRecord.push_back(Mark::kNone);
    return;
  }
  rt::Result yx = cmd::ReadField("yx");
  const double expiry = yx.kind() == rt::kDateTime ? yx.real() : 0;
  const Expiry standing = expiryOn(expiry, today);
  const bool expired = standing == Expiry::kExpired;
  const bool expiring = standing == Expiry::kExpiring;
  const bool noStock = fieldNumber("shl") <= 0;
  m.expired += expired;
  m.expiring += expiring;
  m.noStock += noStock;
  m.ofRecord.push_back(expired ? Mark::kExpired : noStock ? Mark::kNoStock : expiring ? Mark::kExpiring : Mark::kNone);
}

// The template's title, as the window was built with it.
std::string& baseTitle() {
  static std::string title;
  return title;
}

// The rows coloured (row r shows record n - 1 - r in stored order) and the
// counts in the title bar, where they need no dismissing.
void showMarks(const Marks& m) {
  const forms::Control list = kWin.control("超级列表框1");
  const int n = int(m.ofRecord.size());
  for (int i = 0; i < n; ++i) {
    const Mark mark = m.ofRecord[size_t(i)];
    if (mark == Mark::kNone) continue;
    const uint32_t rgb = mark == Mark::kExpired ? kExpiredRow : mark == Mark::kExpiring ? kExpiringRow : kNoStockRow;
    forms::setListRowBackground(kWin.id(), list.id(), n - 1 - i, rgb);
  }
  const std::string counts = cmd::ToText(int32_t(m.expired)) + GBK(" 种已过期，") + cmd::ToText(int32_t(m.expiring)) +
                             GBK(" 种 90 天内到期，") + cmd::ToText(int32_t(m.noStock)) + GBK(" 种无库存");
  forms::setWindowTitle(kWin.id(), baseTitle() + GBK("　　") + counts);
}

// --- shared steps -----------------------------------------------------------------

// After the window opens and after every add, modify and delete: one
// reading of the catalogue gives the list, the number of entries, both
// stock values and the marks. A catalogue that could not be read whole is
// named and the window keeps what it showed.
int refresh() {
  // Refreshed: no drug is shown any more (the boxes keep their text).
  shown().forget();
  double purchase = 0, sale = 0;
  int listed = 0;
  Marks marks;
  const double today = cmd::DateOnly(cmd::Now()).days;
  const int rc = refreshList(
      kWin.control("超级列表框1"), GBK("药品目录 ypjbxx"),
      [&] {
        purchase += fieldNumber("jh");
        sale += fieldNumber("xh");
        markRecord(marks, today);
      },
      &listed);
  if (rc != 0) return rc;
  kWin.setText("编辑框14", cmd::ToText(int32_t(listed)));
  kWin.setText("编辑框15", cmd::MoneyText(purchase));
  kWin.setText("编辑框16", cmd::MoneyText(sale));
  showMarks(marks);
  return 0;
}

// --- the stock journal of the drug window's own changes -------------------------------

// The batch and stock of the current catalogue record.
struct Batch {
  std::string dm, mch, ph;
  int32_t shl = 0;
};
// The batch of a record just written from `r`, as the catalogue holds it
// (texts cut to the same field sizes in the journal), without reading it
// back.
Batch writtenBatch(const DrugRecord& r) { return {r.dm, r.mch, r.ph, wholeQuantity(r.shl)}; }
Batch batchOf(const ReadRecord& r) {
  return {r.text("dm"), r.text("mch"), r.text("ph"), wholeQuantity(r.number("shl"))};
}

// Appends the entry of a stock change the window made (the catalogue's
// record still locked); one that cannot be appended waits on this
// workstation, and the operator is told. The catalogue is current again
// afterwards.
// The catalogue current again where it stood, after a step that made the
// journal current or a handler of another window that made its own table
// current. Reopened when it is not open any more. False, told, when it
// cannot be made current: nothing more is read from or written into the
// table that is current instead.
bool backToCatalogue() {
  const TableUse use = useTable(kCatalogue, {.moveFirst = false});
  if (!use.ok()) tellFailure(GBK("药品目录 ypjbxx 无法打开"), use.code, GBK("请关闭本窗口后再打开。"));
  return use.ok();
}

void journalChange(const Batch& b, int32_t change, int32_t after, const std::string& reason) {
  if (change == 0) return;
  journal::Entry e;
  e.dm = b.dm;
  e.mch = b.mch;
  e.ph = b.ph;
  e.change = change;
  e.after = after;
  e.why = {reason, "", ""};
  e.by.op = journal::newOperationId();
  const int rc = journal::append(e);
  // Within a hold of the catalogue, which this window keeps open: made
  // current again by name, which cannot fail while it is open; the handler
  // checks again once its hold has ended.
  static_cast<void>(cmd::SetCurrentDatabase(kCatalogue));
  if (rc == 0) return;
  const bool kept = pending::addJournalEntry(e);
  tellFailure(GBK("药品目录已改动，但库存流水暂未能记入"), rc,
              kept ? GBK("本机已记下这条流水，共享文件夹恢复后将自动补上。")
                   : GBK("本机也未能记下，请通知管理员核对库存流水。"));
}

// The stock entries of a change from `before` to `after` (the same batch:
// one entry of the difference; another batch: the old one's stock out and
// the new one's in).
void journalRewrite(const Batch& before, const Batch& after, const std::string& reason) {
  if (before.dm == after.dm && before.mch == after.mch && before.ph == after.ph) {
    journalChange(after, wholeQuantity(double(after.shl) - before.shl), after.shl, reason);
    return;
  }
  journalChange(before, wholeQuantity(-double(before.shl)), 0, reason);
  journalChange(after, after.shl, after.shl, reason);
}

// --- the trail of the drug window's changes -------------------------------------------

int32_t drugFieldKind(const std::string& field) {
  for (const FieldDef& f : kDrugCatalogue.fields)
    if (field == f.name) return f.kind;
  return 0;
}

// The sixteen values of a record as it is written, as the trail shows them.
std::vector<trail::FieldValue> drugValues(const DrugRecord& r) {
  const rt::Arg values[] = {
      rt::val(r.dm),
      rt::val(r.mch),
      rt::val(r.bm),
      rt::val(r.lb),
      rt::val(r.bx),
      rt::val(r.ph),
      rt::val(r.gg),
      rt::val(r.shch),
      rt::val(r.yx),
      rt::val(r.chd),
      rt::val(r.dw),
      rt::makeDouble(r.shl),
      rt::makeFloat(asStored(r.jj)),
      rt::makeFloat(asStored(r.jh)),
      rt::makeFloat(asStored(r.xj)),
      rt::makeFloat(asStored(r.xh)),
  };
  std::vector<trail::FieldValue> out;
  for (size_t i = 0; i < std::size(values) && i < kDrugCatalogue.fields.size(); ++i) {
    const FieldDef& f = kDrugCatalogue.fields[i];
    out.push_back({f.name, trail::valueText(f.kind, values[i])});
  }
  return out;
}

// An add or a delete: the record before (the catalogue's, read whole) and
// the one written.
trail::Entry catalogueEntry(const std::string& kind, const ReadRecord* before, const std::optional<DrugRecord>& after) {
  trail::Entry e;
  e.kind = kind;
  e.table = kCatalogue;
  e.serial = before ? before->serial() : 0;
  if (before) e.before = trail::joined(trail::recordValues(*before));
  if (after) e.after = trail::joined(drugValues(*after));
  return e;
}

// A modify: the fields written, each with what the record held.
std::vector<trail::FieldValue> pairValues(const std::vector<std::pair<std::string, rt::Arg>>& pairs) {
  std::vector<trail::FieldValue> out;
  for (const auto& [field, value] : pairs) out.push_back({field, trail::valueText(drugFieldKind(field), value)});
  return out;
}
trail::Entry changeEntry(const ReadRecord& stored, const std::vector<std::pair<std::string, rt::Arg>>& pairs) {
  std::vector<trail::FieldValue> before;
  for (const auto& pair : pairs) {
    const std::string& field = pair.first;
    before.push_back({field, trail::valueText(drugFieldKind(field), stored.value(field.c_str()))});
  }
  trail::Entry e;
  e.kind = trail::catalogueChanged();
  e.table = kCatalogue;
  e.serial = stored.serial();
  e.before = trail::joined(before);
  e.after = trail::joined(pairValues(pairs));
  return e;
}

// The journal made ready before the catalogue changes; false (told) when
// it cannot be: nothing is written then.
bool journalReady(const char* gbkWhat) {
  const int rc = journal::prepare();
  if (!backToCatalogue()) return false;
  if (rc == 0) return true;
  tellFailure(std::string(gbkWhat) + GBK("：库存流水 kcls 无法打开"), rc, typedKeptText());
  return false;
}

void clearBoxes() { shown().clear(); }

// The catalogue current at its first record and checked to be one: a file
// that cannot be opened, or holds another table, is named with what was
// not done (`gbkState`), and nothing is read from or written into it.
bool useCatalogue(const char* gbkState, bool createWhenMissing = false) {
  return useTableOrTell(kCatalogue, {.def = &kDrugCatalogue, .createWhenMissing = createWhenMissing},
                        {.notOpened = GBK("药品目录 ypjbxx 无法打开"),
                         .otherLayout = GBK("药品目录 ypjbxx 无法打开：该文件不是药品目录（字段不符）"),
                         .nothingDone = gbkState});
}

// The list and summary shown afresh, when the catalogue can be made current
// as one (a file that cannot be opened, or holds another table, leaves
// them as they were: nothing is listed from another table).
void showListAfresh() {
  if (useTable(kCatalogue, {.def = &kDrugCatalogue}).ok()) refresh();
}

// Tells why a drug could not be shown or acted on: another workstation
// changed or removed it (the list is shown afresh), or it could not be read
// (nothing is shown). Either way no drug is shown any more.
void tellNotShown(int code, const char* gbkState) {
  db::setLastError(code);
  shown().forget();
  if (toldChangedElsewhere()) {
    showListAfresh();
    return;
  }
  tellFailure(GBK("药品信息无法读取"), code, gbkState);
}

// The current record into the boxes, read whole; one that could not be
// read is told, and no drug is shown (the boxes are emptied).
bool showCurrentRecord() {
  const int rc = shown().showCurrent();
  if (rc == 0) return true;
  tellNotShown(rc, GBK("未显示任何药品。"));
  return false;
}

void focusCode() { kWin.focus("编辑框1"); }

// --- handlers ---------------------------------------------------------------------

void viewJournal();

void openWindow() {
  cmd::SetVisualStyle(3);
  baseTitle() = forms::windowTitle(kWin.id());
  // Beside the row of buttons: the chosen drug's stock journal.
  forms::addExtraButton(kWin.id(), GBK("库存流水"), 667, 240, 80, 24, viewJournal);
  // A catalogue that cannot be opened (the folder away for a moment, a
  // damaged file) or is not a catalogue is named, and the window stays
  // empty: nothing is read from, or written into, another table.
  if (!useCatalogue(GBK("列表未显示，请稍后关闭本窗口再打开。"), true)) return;
  // The stock values follow quantity and prices: each record's products,
  // in double precision, stored as floats. Only the records whose stored
  // values differ are written (compared as the bits the field holds): the
  // file ends as if every record had been rewritten, and a catalogue that
  // is up to date costs no write at all on a shared folder.
  auto purchase = [] { return asStored(fieldNumber("shl") * fieldNumber("jj")); };
  auto sale = [] { return asStored(fieldNumber("shl") * fieldNumber("xj")); };
  auto sameBits = [](float a, const char* field) {
    rt::Result value = cmd::ReadField(field);
    if (value.kind() != rt::kFloat) return false;  // rewritten, as before
    const float stored = rt::floatValue(value.arg());
    return std::memcmp(&a, &stored, sizeof a) == 0;
  };
  auto outOfStep = [&] { return rt::makeBool(!sameBits(purchase(), "jh") || !sameBits(sale(), "xh")); };
  auto purchaseTotal = [&] { return rt::makeFloat(purchase()); };
  auto saleTotal = [&] { return rt::makeFloat(sale()); };
  rt::Expr stale(outOfStep);
  rt::Expr jh(purchaseTotal);
  rt::Expr xh(saleTotal);
  cmd::ReplaceFields(stale.arg(), "jh", jh.arg(), "xh", xh.arg());
  refresh();
}

void findDrug() {
  if (!useCatalogue(GBK("未能查找，请稍后再试。"))) {
    shown().forget();
    return;
  }
  bool searchFailed = false;
  const int found = shown().findAndShow("dm", kWin.text("编辑框1"), &searchFailed);
  if (found == 1) return;
  if (found < 0) {
    // Not read is not "not there": the code typed stays for another try.
    if (searchFailed) {
      tellFailure(GBK("药品目录 ypjbxx 无法读取"), found, GBK("未能查找，请稍后再试。"));
      moveAfterLast();
    } else {
      tellNotShown(found, GBK("未能查找，请稍后再试。"));
    }
    return;
  }
  tell(GBK("无该药品"));
  clearBoxes();
}

void addDrug() {
  if (!rights::require(rights::Right::kCatalogue, GBK("未添加。"))) return;
  if (!useCatalogue((GBK("未添加。") + std::string(typedKept())).c_str())) return;
  DrugRecord typed = readBoxes();
  // The sale price is compared as its field holds it: a price typed again
  // exactly as before matches the stored single-precision value.
  const double salePrice = asStored(typed.xj);
  auto sameBatch = [&typed, salePrice] {
    bool same = db::fieldTextEquals("dm", typed.dm) && db::fieldTextEquals("lb", typed.lb) &&
                db::fieldTextEquals("bx", typed.bx) && db::fieldTextEquals("ph", typed.ph) &&
                db::fieldTextEquals("gg", typed.gg) && std::fabs(fieldNumber("xj") - salePrice) <= 0.0000001;
    return rt::makeBool(same);
  };
  rt::Expr condition(sameBatch);
  if (!journalReady(GBK("未添加"))) return;
  // The batch the search found must still be that batch under its lock
  // (another workstation's pack or change may have put another record at
  // its place): otherwise the search is made again.
  constexpr int kSearchAgain = 1;
  auto stillSameBatch = [&typed, salePrice](const ReadRecord& r) {
    return r.text("dm") == typed.dm && r.text("lb") == typed.lb && r.text("bx") == typed.bx &&
           r.text("ph") == typed.ph && r.text("gg") == typed.gg && std::fabs(r.number("xj") - salePrice) <= 0.0000001;
  };
  bool written = false;
  int code = kSearchAgain;
  trail::Noted trailed;
  // The search is made while the catalogue's count is held: a batch found
  // nowhere is appended and journalled before the count is let go, so no
  // other workstation adds it meanwhile or reaches the new record before
  // its entry is in. A batch found is merged under its own lock once the
  // count is let go.
  constexpr int kFound = 2;
  for (int attempt = 0; attempt < 3 && code == kSearchAgain; ++attempt) {
    code = db::holdHeader([&] {
      cmd::MoveFirst();
      if (cmd::FindRecord(condition.arg())) return kFound;
      // The catalogue was not read to the end: appending could make a
      // second record of a batch that is there.
      if (db::lastError() != db::kOk) return db::lastError();
      if (!trailed.begin(catalogueEntry(trail::catalogueAdded(), nullptr, typed), trail::Landing::kThere))
        return int(db::kRecordWriteFailed);
      {
        db::SerialWatch watch([&trailed](int32_t serial) { return trailed.setSerial(serial); });
        written = appendRecord(typed);
      }
      if (!written) return db::lastErrorOr(db::kRecordWriteFailed);
      // Kept noted and told when it cannot be appended now.
      static_cast<void>(trailed.landed());
      // Back from the trail to the catalogue, open for the window's life (as
      // after a journal entry, journalChange).
      static_cast<void>(cmd::SetCurrentDatabase(kCatalogue));
      const Batch added = writtenBatch(typed);
      journalChange(added, added.shl, added.shl, journal::catalogueAdd());
      return 0;
    });
    if (code != kFound) continue;
    // The same drug, batch and sale price is in stock: the typed quantity
    // and totals are added to it, everything else takes the typed values.
    // Read, rewritten and journalled under the record's lock, so a charge
    // of it at another workstation comes before or after all of it.
    code = db::holdCurrentRecord([&] {
      ReadRecord stored;
      if (const int rc = stored.read(); rc != 0) return rc == db::kNoRecord ? kSearchAgain : rc;
      if (!stillSameBatch(stored)) return kSearchAgain;
      const Batch before = batchOf(stored);
      DrugRecord merged = typed;
      merged.shl += stored.number("shl");
      merged.jh += stored.number("jh");
      merged.xh += stored.number("xh");
      if (!trailed.begin(catalogueEntry(trail::catalogueAdded(), &stored, merged), trail::Landing::kHolds,
                         drugValues(merged)))
        return int(db::kRecordWriteFailed);
      written = modifyRecord(merged);
      if (!written) return db::lastErrorOr(db::kRecordWriteFailed);
      // Kept noted and told when it cannot be appended now.
      static_cast<void>(trailed.landed());
      // Back from the trail to the catalogue, open for the window's life (as
      // after a journal entry, journalChange).
      static_cast<void>(cmd::SetCurrentDatabase(kCatalogue));
      journalRewrite(before, writtenBatch(merged), journal::catalogueAdd());
      return 0;
    });
    if (code == db::kNoRecord) code = kSearchAgain;  // gone before its lock was taken
  }
  if (code == kSearchAgain) code = db::kLockViolation;  // the catalogue kept changing under the search
  if (!backToCatalogue()) return;
  if (!written) {
    tellFailure(GBK("添加失败"), code != 0 ? code : db::lastError(), typedKept());
    return;
  }
  clearBoxes();
  refresh();
  focusCode();
}

// What a modify found when it looked at the record under its lock.
constexpr int kChangedHereAndThere = 1;  // a field the operator changed was changed elsewhere too

// 修改: the drug shown, by its serial, with only the fields whose box the
// operator changed. Under the record's lock each of them must still hold
// what the box was shown with (otherwise nothing is written: another
// workstation changed the same field meanwhile). Steps:
//   1. A drug shown from a whole reading, or "修改失败!".
//   2. The journal ready (no stock moves without its entry).
//   3. Under the record's lock: the record read whole, the changed fields
//      checked, only they written; the totals follow a stock that moved
//      elsewhere since it was shown.
//   4. The stock typed by hand journalled as 手工调整; a changed code, name
//      or batch number moves the stock from the old batch to the new one
//      (目录修改, out and in).
//   5. Done: boxes cleared, list shown afresh. Refused: told, and the list
//      shown afresh so the operator can choose again.
void modifyDrug() {
  if (!rights::require(rights::Right::kCatalogue, GBK("未修改。"))) return;
  // The catalogue is made current first: another window may have made its
  // own table current since the drug was shown.
  if (!backToCatalogue()) return;
  // 1.
  ShownRecord& s = shown();
  if (!s.shown()) {
    tell(GBK("修改失败!"));
    return;
  }
  // 2.
  if (!journalReady(GBK("未修改"))) return;
  const size_t iShl = s.find("shl"), iJj = s.find("jj"), iJh = s.find("jh"), iXj = s.find("xj"), iXh = s.find("xh");
  std::vector<size_t> edits;
  for (size_t i = 0; i < s.boxes().size(); ++i)
    if (s.changed(i)) edits.push_back(i);
  std::vector<size_t> clashes;
  trail::Noted trailed;
  // 3.
  s.moveTo();
  const int held = db::holdCurrentRecord([&] {
    ReadRecord stored;
    if (const int rc = stored.read(); rc != 0) return rc;
    // The totals are the stock's values, put right at every opening of the
    // window: not compared.
    for (size_t i : edits)
      if (i != iJh && i != iXh && !s.unchangedSince(i, stored)) clashes.push_back(i);
    if (!clashes.empty()) return kChangedHereAndThere;
    std::deque<std::string> keep;
    std::vector<std::pair<std::string, rt::Arg>> pairs;
    for (size_t i : edits) pairs.emplace_back(s.boxes()[i].field, s.typed(i, &keep));
    // A stock another workstation moved since the drug was shown (a
    // charge), with a price or total changed here: the totals written are
    // the stored stock's.
    if (!s.changed(iShl) && !s.unchangedSince(iShl, stored)) {
      for (auto [total, price] : {std::pair{iJh, iJj}, {iXh, iXj}}) {
        if (!s.changed(total) && !s.changed(price)) continue;
        const double p = s.changed(price) ? kWin.number(s.boxes()[price].box) : stored.number(s.boxes()[price].field);
        const rt::Arg value = rt::makeDouble(double(asStored(stored.number("shl") * p)));
        bool replaced = false;
        for (auto& pair : pairs)
          if (pair.first == s.boxes()[total].field) pair.second = value, replaced = true;
        if (!replaced) pairs.emplace_back(s.boxes()[total].field, value);
      }
    }
    if (pairs.empty()) return 0;
    if (!trailed.begin(changeEntry(stored, pairs), trail::Landing::kHolds, pairValues(pairs)))
      return int(db::kRecordWriteFailed);
    if (!replaceCurrentFields(pairs)) return db::lastErrorOr(db::kRecordWriteFailed);
    // Kept noted and told when it cannot be appended now.
    static_cast<void>(trailed.landed());
    // Back from the trail to the catalogue, open for the window's life (as
    // after a journal entry, journalChange).
    static_cast<void>(cmd::SetCurrentDatabase(kCatalogue));
    // 4. The batch before and after, as written (no reading back).
    const Batch before = batchOf(stored);
    Batch after = before;
    if (s.changed(s.find("dm"))) after.dm = kWin.text("编辑框1");
    if (s.changed(s.find("mch"))) after.mch = kWin.text("编辑框2");
    if (s.changed(s.find("ph"))) after.ph = kWin.text("编辑框4");
    if (s.changed(iShl)) after.shl = wholeQuantity(kWin.number("编辑框9"));
    Batch adjusted = before;
    adjusted.shl = after.shl;
    journalChange(before, wholeQuantity(double(after.shl) - before.shl), after.shl, journal::handAdjustment());
    journalRewrite(adjusted, after, journal::catalogueModify());
    return 0;
  });
  if (!backToCatalogue()) return;
  // 5.
  if (held == kChangedHereAndThere) {
    s.forget();
    const std::string text =
        s.labels(clashes) + GBK("已被其他工作站改动，本次未修改。请重新选择该药品，核对后再修改。");
    tell(text.c_str());
    showListAfresh();
    return;
  }
  if (held != 0) {
    if (held == db::kNoRecord) {
      tellNotShown(held, "");
    } else {
      tellFailure(GBK("修改失败"), held, typedKept());
    }
    return;
  }
  clearBoxes();
  refresh();
  focusCode();
}

// 删除: the drug shown, by its serial, once the operator confirmed; one
// another workstation removed, or whose code, names, batch, prices or dates
// changed since it was shown, is not deleted. Its stock leaves the journal
// as 目录删除 under the same lock.
void deleteDrug() {
  if (!rights::require(rights::Right::kCatalogue, GBK("未删除任何药品。"))) return;
  // As in modify: the record marked and the table packed are the catalogue's.
  if (!backToCatalogue()) return;
  // Cancelled: nothing changes, and the drug shown stays the one a delete
  // or a modify acts on.
  if (!confirm(GBK("你确定要删除此项吗？"))) return;
  ShownRecord& s = shown();
  if (!s.shown()) {
    // No drug shown: nothing to delete; the list and summary as usual.
    showListAfresh();
    return;
  }
  if (!journalReady(GBK("未删除"))) return;
  trail::Noted trailed;
  s.moveTo();
  const int held = db::holdCurrentRecord([&] {
    ReadRecord stored;
    if (const int rc = stored.read(); rc != 0) return rc;
    // The stock and its values move with every charge: the rest must be
    // what the operator saw.
    for (size_t i = 0; i < s.boxes().size(); ++i) {
      const std::string field = s.boxes()[i].field;
      if (field != "shl" && field != "jh" && field != "xh" && !s.unchangedSince(i, stored)) return int(db::kNoRecord);
    }
    const Batch gone = batchOf(stored);
    if (!trailed.begin(catalogueEntry(trail::catalogueDeleted(), &stored, std::nullopt), trail::Landing::kGone))
      return int(db::kRecordWriteFailed);
    if (!cmd::DeleteRecords()) return db::lastErrorOr(db::kRecordWriteFailed);
    // Kept noted and told when it cannot be appended now.
    static_cast<void>(trailed.landed());
    // Back from the trail to the catalogue, open for the window's life (as
    // after a journal entry, journalChange).
    static_cast<void>(cmd::SetCurrentDatabase(kCatalogue));
    journalChange(gone, wholeQuantity(-double(gone.shl)), 0, journal::catalogueDelete());
    return 0;
  });
  if (!backToCatalogue()) return;
  if (held != 0) {
    if (held == db::kNoRecord) {
      tellNotShown(held, "");
      return;
    }
    tellFailure(GBK("删除失败"), held, GBK("未删除任何药品。"));
    showListAfresh();
    return;
  }
  if (!cmd::PackDatabase())
    tellFailure(GBK("该药品已标记删除，但药品目录未能压缩"), db::lastError(), GBK("下一次删除时将一并压缩。"));
  clearBoxes();
  showListAfresh();
}

void closeWindow() { kWin.close(); }

// "库存流水": the stock journal of the drug chosen in the list (or, with
// no row chosen, of the drug shown in the boxes), newest first, to read.
void viewJournal() {
  const forms::Control list = kWin.control("超级列表框1");
  std::string dm, mch, ph;
  const bool chosen = list.selectedRow() >= 0;
  if (const int row = list.selectedRow(); row >= 0) {
    const forms::ListItemInfo item = forms::listItem(kWin.id(), list.id(), row);
    dm = item.texts.at(0);
    mch = item.texts.at(1);
    ph = item.texts.at(5);
  } else {
    dm = kWin.text("编辑框1");
    mch = kWin.text("编辑框2");
    ph = kWin.text("编辑框4");
  }
  if (dm.empty() && mch.empty()) {
    tell(GBK("请先在列表中选择药品，再查看库存流水。"));
    return;
  }
  std::vector<std::vector<std::string>> rows;
  // A row chosen names its batch exactly; boxes typed in part (the code
  // alone, say) match on what was typed.
  const int rc = journal::entriesOf(dm, mch, ph, !chosen, &rows);
  // The drug a modify or delete acts on stays the one it was.
  if (!backToCatalogue()) return;
  if (rc != 0) {
    tellFailure(GBK("库存流水 kcls 无法读取"), rc, "");
    return;
  }
  std::string note;
  for (const auto& [label, value] : {std::pair{GBK("药品代码 "), &dm}, {GBK("名称 "), &mch}, {GBK("批号 "), &ph}})
    if (chosen || !value->empty()) note += (note.empty() ? "" : GBK("　")) + std::string(label) + *value;
  if (!chosen && (dm.empty() || mch.empty() || ph.empty())) note += GBK("（未填的项不限）");
  note += GBK("　共 ") + cmd::ToText(int32_t(rows.size())) + GBK(" 条，最新的在上");
  const std::vector<std::string> headings = {GBK("时间"),        GBK("变动"),   GBK("变动后库存"), GBK("原因"),
                                             GBK("住院号/处方"), GBK("操作员"), GBK("工作站")};
  rt::dialogs().showRows(GBK("库存流水"), note, headings, rows);
}

// The drug of the chosen row (no row chosen: the top one), found by the
// serial its row keeps, read whole and shown: the drug 修改 and 删除 act on.
void showChosenRow() {
  if (!backToCatalogue()) return;
  ListedRecord row;
  if (!chosenListedRecord(kWin.control("超级列表框1"), &row)) return;  // nothing listed to show
  // Fails only without a current table, which the read below then tells.
  static_cast<void>(db::moveToRecord(row.serial, row.position));
  showCurrentRecord();
}

// --- line totals while typing ---------------------------------------------------------

void purchaseLineTotal() { kWin.setText("编辑框11", cmd::MoneyText(kWin.number("编辑框9") * kWin.number("编辑框10"))); }
void saleLineTotal() { kWin.setText("编辑框13", cmd::MoneyText(kWin.number("编辑框9") * kWin.number("编辑框12"))); }
void quantityChanged() {
  saleLineTotal();
  purchaseLineTotal();
}
void purchasePriceLeft() { kWin.focus("编辑框12"); }

}  // namespace

void setDrugHandlers(std::vector<forms::Handler>& table) {
  namespace d = ids::drug;
  if (table.size() < size_t(d::kHandlerCount)) table.resize(size_t(d::kHandlerCount), nullptr);
  table[d::kCreated] = openWindow;
  table[d::kShowDrug] = showChosenRow;
  table[d::kCloseWindow] = closeWindow;
  table[d::kModify] = modifyDrug;
  table[d::kDelete] = deleteDrug;
  table[d::kFind] = findDrug;
  table[d::kAdd] = addDrug;
  table[d::kSalePriceChanged] = saleLineTotal;
  table[d::kPurchasePriceChanged] = purchaseLineTotal;
  table[d::kPurchasePriceLeft] = purchasePriceLeft;
  table[d::kQuantityChanged] = quantityChanged;
}

}  // namespace app
