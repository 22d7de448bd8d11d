#include "app/drug.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/charging.h"
#include "app/module.h"
#include "app/pending_stock.h"
#include "app/program_values.h"
#include "app/stock_journal.h"
#include "app/tables.h"
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

// How a box shows its field and how its text is read back.
// kMoney: an amount of money, shown to the fen. Unit prices stay kNumber:
// a price may carry more than the fen, and a modify stores the box's text.
enum class Shown { kText, kDate, kNumber, kMoney };

struct BoxField {
  const char* field;   // field name in "ypjbxx"
  const char* box;     // stored control name, UTF-8
  Shown how;
};

// In field order; showing a record writes the boxes in this order, so the
// stored totals (编辑框11, 编辑框13) land after the quantity and price
// boxes whose content-changed handlers recompute them.
constexpr BoxField kBoxes[] = {
    {"dm", "编辑框1", Shown::kText},     {"mch", "编辑框2", Shown::kText},
    {"bm", "编辑框3", Shown::kText},     {"lb", "组合框1", Shown::kText},
    {"bx", "组合框2", Shown::kText},     {"ph", "编辑框4", Shown::kText},
    {"gg", "编辑框5", Shown::kText},     {"shch", "编辑框6", Shown::kDate},
    {"yx", "编辑框7", Shown::kDate},     {"chd", "编辑框8", Shown::kText},
    {"dw", "组合框3", Shown::kText},     {"shl", "编辑框9", Shown::kNumber},
    {"jj", "编辑框10", Shown::kNumber},  {"jh", "编辑框11", Shown::kMoney},
    {"xj", "编辑框12", Shown::kNumber},  {"xh", "编辑框13", Shown::kMoney},
};

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
  return command(r.dm, r.mch, r.bm, r.lb, r.bx, r.ph, r.gg, r.shch, r.yx, r.chd, r.dw, r.shl,
                 asStored(r.jj), asStored(r.jh), asStored(r.xj), asStored(r.xh));
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
constexpr int kExpiringDays = 90;
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
  const bool expired = expiry > 0 && expiry < today;
  const bool expiring = expiry > 0 && !expired && expiry < today + kExpiringDays;
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
  double purchase = 0, sale = 0;
  int listed = 0;
  Marks marks;
  const double today = cmd::DateOnly(cmd::Now()).days;
  const int rc = refreshList(kWin.control("超级列表框1"), GBK("药品目录 ypjbxx"), [&] {
    purchase += fieldNumber("jh");
    sale += fieldNumber("xh");
    markRecord(marks, today);
  }, &listed);
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
Batch writtenBatch(const DrugRecord& r) {
  return {r.dm, r.mch, r.ph, wholeQuantity(r.shl)};
}
Batch currentBatch(FieldReader& r) {
  Batch b;
  b.dm = r.text("dm");
  b.mch = r.text("mch");
  b.ph = r.text("ph");
  b.shl = wholeQuantity(r.number("shl"));
  return b;
}

// Appends the entry of a stock change the window made (the catalogue's
// record still locked); one that cannot be appended waits on this
// workstation, and the operator is told. The catalogue is current again
// afterwards.
void journalChange(const Batch& b, int32_t change, int32_t after, const std::string& reason) {
  if (change == 0) return;
  journal::Entry e;
  e.dm = b.dm;
  e.mch = b.mch;
  e.ph = b.ph;
  e.change = change;
  e.after = after;
  e.why = {reason, "", ""};
  const int rc = journal::append(e);
  cmd::SetCurrentDatabase(kCatalogue);
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

// The journal made ready before the catalogue changes; false (told) when
// it cannot be: nothing is written then.
bool journalReady(const char* gbkWhat) {
  const int rc = journal::prepare();
  cmd::SetCurrentDatabase(kCatalogue);
  if (rc == 0) return true;
  tellFailure(std::string(gbkWhat) + GBK("：库存流水 kcls 无法打开"), rc, typedKeptText());
  return false;
}

void clearBoxes() {
  for (const BoxField& b : kBoxes) kWin.setText(b.box, "");
}

// The current record into the boxes; one that could not be read is
// reported and the boxes keep what they held.
bool showCurrentRecord() {
  FieldReader r;
  std::vector<std::string> shown;
  for (const BoxField& b : kBoxes) {
    rt::Result value = r.value(b.field);
    shown.push_back(b.how == Shown::kText    ? value.text()
                    : b.how == Shown::kMoney ? cmd::MoneyText(value.arg())
                                             : cmd::ToText(value.arg()));
  }
  if (r.failure() != 0) {
    tellFailure(GBK("药品信息无法读取"), r.failure(), "");
    return false;
  }
  for (size_t i = 0; i < std::size(kBoxes); ++i) kWin.setText(kBoxes[i].box, shown[i]);
  return true;
}


void focusCode() { kWin.focus("编辑框1"); }

// --- handlers ---------------------------------------------------------------------

void viewJournal();

void openWindow() {
  cmd::SetVisualStyle(3);
  baseTitle() = forms::windowTitle(kWin.id());
  // Beside the row of buttons: the chosen drug's stock journal.
  forms::addExtraButton(kWin.id(), GBK("库存流水"), 667, 240, 80, 24, viewJournal);
  openTable(kCatalogue, kDrugCatalogue);
  cmd::MoveFirst();
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
  if (const int code = openAndSelect(kCatalogue); code != 0) {
    tellFailure(GBK("药品目录 ypjbxx 无法打开"), code, "");
    return;
  }
  const int found = searchText("dm", kWin.text("编辑框1"));
  if (found == 1) {
    showCurrentRecord();
    return;
  }
  if (found < 0) {
    // Not read is not "not there": the boxes stay for another try.
    tellFailure(GBK("药品目录 ypjbxx 无法读取"), found, GBK("未能查找，请稍后再试。"));
    moveAfterLast();
    return;
  }
  tell(GBK("无该药品"));
  clearBoxes();
}

void addDrug() {
  if (const int code = openAndSelect(kCatalogue); code != 0) {
    tellFailure(GBK("药品目录 ypjbxx 无法打开，未添加"), code, typedKept());
    return;
  }
  DrugRecord typed = readBoxes();
  // The sale price is compared as its field holds it: a price typed again
  // exactly as before matches the stored single-precision value.
  const double salePrice = asStored(typed.xj);
  auto sameBatch = [&typed, salePrice] {
    bool same = db::fieldTextEquals("dm", typed.dm) && db::fieldTextEquals("lb", typed.lb) &&
                db::fieldTextEquals("bx", typed.bx) && db::fieldTextEquals("ph", typed.ph) &&
                db::fieldTextEquals("gg", typed.gg) &&
                std::fabs(fieldNumber("xj") - salePrice) <= 0.0000001;
    return rt::makeBool(same);
  };
  rt::Expr condition(sameBatch);
  if (!journalReady(GBK("未添加"))) return;
  bool written = false;
  int code = 0;
  if (cmd::FindRecord(condition.arg())) {
    // The same drug, batch and sale price is in stock: the typed quantity
    // and totals are added to it, everything else takes the typed values.
    // Read, rewritten and journalled under the record's lock, so a charge
    // of it at another workstation comes before or after all of it.
    code = db::holdCurrentRecord([&] {
      FieldReader stored;
      const Batch before = currentBatch(stored);
      typed.shl += stored.number("shl");
      typed.jh += stored.number("jh");
      typed.xh += stored.number("xh");
      written = stored.failure() == 0 && modifyRecord(typed);
      if (!written) return db::lastError() != db::kOk ? db::lastError() : int(db::kRecordWriteFailed);
      journalRewrite(before, writtenBatch(typed), journal::catalogueAdd());
      return 0;
    });
  } else if (db::lastError() != db::kOk) {
    // The catalogue was not read to the end: appending could make a second
    // record of a batch that is there.
    code = db::lastError();
  } else {
    // Appended and journalled while the catalogue's count is held: no
    // other workstation reaches the new record before its entry is in.
    code = db::holdHeader([&] {
      written = appendRecord(typed);
      if (!written) return db::lastError() != db::kOk ? db::lastError() : int(db::kRecordWriteFailed);
      const Batch added = writtenBatch(typed);
      journalChange(added, added.shl, added.shl, journal::catalogueAdd());
      return 0;
    });
  }
  cmd::SetCurrentDatabase(kCatalogue);
  if (!written) {
    tellFailure(GBK("添加失败"), code != 0 ? code : db::lastError(), typedKept());
    return;
  }
  clearBoxes();
  refresh();
  focusCode();
}

void modifyDrug() {
  // The catalogue is made current first: another window may have made its
  // own table current since the drug was shown, and the record written must
  // be the catalogue's.
  cmd::SetCurrentDatabase(kCatalogue);
  if (!journalReady(GBK("未修改"))) return;
  const DrugRecord typed = readBoxes();
  // The record as it was, rewritten and its stock change journalled under
  // its lock.
  const int held = db::holdCurrentRecord([&] {
    FieldReader stored;
    const Batch before = currentBatch(stored);
    if (stored.failure() != 0) return stored.failure();
    if (!modifyRecord(typed)) return db::lastError() != db::kOk ? db::lastError() : int(db::kRecordWriteFailed);
    journalRewrite(before, writtenBatch(typed), journal::catalogueModify());
    return 0;
  });
  cmd::SetCurrentDatabase(kCatalogue);
  if (held != 0) {
    const int code = held;
    db::setLastError(code);
    if (toldChangedElsewhere()) {
      // The list the operator chose from is out of date: shown afresh.
      selectTable(kCatalogue);
      refresh();
    } else if (code == db::kNoCurrentRecord) {
      tell(GBK("修改失败!"));
    } else {
      tellFailure(GBK("修改失败"), code, typedKept());
    }
    return;
  }
  clearBoxes();
  refresh();
  focusCode();
}

void deleteDrug() {
  // As in modify: the record marked and the table packed are the catalogue's.
  cmd::SetCurrentDatabase(kCatalogue);
  // Cancelled: nothing changes, and the drug shown stays the one a delete
  // or a modify acts on.
  if (!confirm(GBK("你确定要删除此项吗？"))) return;
  if (!journalReady(GBK("未删除"))) return;
  // Marked deleted and its stock journalled out under the record's lock.
  const int held = db::holdCurrentRecord([&] {
    FieldReader stored;
    const Batch gone = currentBatch(stored);
    if (stored.failure() != 0) return stored.failure();
    if (!cmd::DeleteRecords()) return db::lastError() != db::kOk ? db::lastError() : int(db::kRecordWriteFailed);
    journalChange(gone, wholeQuantity(-double(gone.shl)), 0, journal::catalogueDelete());
    return 0;
  });
  cmd::SetCurrentDatabase(kCatalogue);
  if (held != 0) {
    const int code = held;
    db::setLastError(code);
    if (!toldChangedElsewhere() && code != db::kNoCurrentRecord)
      tellFailure(GBK("删除失败"), code, GBK("未删除任何药品。"));
    selectTable(kCatalogue);
    refresh();
    return;
  }
  if (!cmd::PackDatabase())
    tellFailure(GBK("该药品已标记删除，但药品目录未能压缩"), db::lastError(), GBK("下一次删除时将一并压缩。"));
  selectTable(kCatalogue);
  clearBoxes();
  refresh();
}

void closeWindow() { kWin.close(); }

// "库存流水": the stock journal of the drug chosen in the list (or, with
// no row chosen, of the drug shown in the boxes), newest first, to read.
void viewJournal() {
  const forms::Control list = kWin.control("超级列表框1");
  std::string dm, mch, ph;
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
  const int rc = journal::entriesOf(dm, mch, ph, &rows);
  // The drug a modify or delete acts on stays the one it was.
  cmd::SetCurrentDatabase(kCatalogue);
  if (rc != 0) {
    tellFailure(GBK("库存流水 kcls 无法读取"), rc, "");
    return;
  }
  const std::string note = GBK("药品代码 ") + dm + GBK("　名称 ") + mch + GBK("　批号 ") + ph + GBK("　共 ") +
                           cmd::ToText(int32_t(rows.size())) + GBK(" 条，最新的在上");
  const std::vector<std::string> headings = {GBK("时间"), GBK("变动"), GBK("变动后库存"), GBK("原因"),
                                             GBK("住院号/处方"), GBK("操作员"), GBK("工作站")};
  rt::dialogs().showRows(GBK("库存流水"), note, headings, rows);
}

// Row r from the top shows record n - r; no selection lands past the last
// record, which MoveTo clamps to the last one.
void showChosenRow() {
  cmd::SetCurrentDatabase(kCatalogue);
  if (cmd::RecordCount() == 0) return;  // nothing listed to show
  cmd::MoveTo(chosenRecord(kWin.control("超级列表框1")));
  showCurrentRecord();
}

// --- line totals while typing ---------------------------------------------------------

void purchaseLineTotal() {
  kWin.setText("编辑框11", cmd::MoneyText(kWin.number("编辑框9") * kWin.number("编辑框10")));
}
void saleLineTotal() {
  kWin.setText("编辑框13", cmd::MoneyText(kWin.number("编辑框9") * kWin.number("编辑框12")));
}
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
