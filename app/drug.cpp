#include "app/drug.h"

#include <cmath>
#include <limits>
#include <string>

#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "forms/window_ids.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr uint32_t kWindow = ids::kDrugWindow;
const std::string kCatalogue = kDrugCatalogueName;

// --- the sixteen boxes ------------------------------------------------------------

// How a box shows its field and how its text is read back.
enum class Shown { kText, kDate, kNumber };

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
    {"jj", "编辑框10", Shown::kNumber},  {"jh", "编辑框11", Shown::kNumber},
    {"xj", "编辑框12", Shown::kNumber},  {"xh", "编辑框13", Shown::kNumber},
};

forms::Control box(const char* utf8Name) { return forms::control(kWindow, rt::utf8ToGbk(utf8Name)); }
std::string boxText(const char* utf8Name) { return box(utf8Name).text(); }
void setBox(const char* utf8Name, const std::string& gbk) { box(utf8Name).setText(gbk); }
double boxNumber(const char* utf8Name) { return cmd::ToNumber(boxText(utf8Name)); }

// A float field holds what single precision can: a product beyond its range
// is stored as an infinity of the same sign rather than converted out of
// range.
float asStored(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return float(v);
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
  r.dm = boxText("编辑框1");
  r.mch = boxText("编辑框2");
  r.bm = boxText("编辑框3");
  r.lb = boxText("组合框1");
  r.bx = boxText("组合框2");
  r.ph = boxText("编辑框4");
  r.gg = boxText("编辑框5");
  r.shch = cmd::ToDateTime(boxText("编辑框6"));
  r.yx = cmd::ToDateTime(boxText("编辑框7"));
  r.chd = boxText("编辑框8");
  r.dw = boxText("组合框3");
  r.shl = boxNumber("编辑框9");
  r.jj = boxNumber("编辑框10");
  r.jh = boxNumber("编辑框11");
  r.xj = boxNumber("编辑框12");
  r.xh = boxNumber("编辑框13");
  return r;
}

// The quantity goes as a double (the integer field cuts it to a whole
// number); prices and totals go as the floats their fields hold.
// AppendRecord or ModifyRecord with the sixteen values in field order.
bool writeRecord(rt::Cmd command, const DrugRecord& r) {
  return rt::invoke(command, r.dm, r.mch, r.bm, r.lb, r.bx, r.ph, r.gg, r.shch, r.yx, r.chd, r.dw,
                    r.shl, asStored(r.jj), asStored(r.jh), asStored(r.xj), asStored(r.xh))
      .boolean();
}
bool appendRecord(const DrugRecord& r) { return writeRecord(rt::Cmd::AppendRecord, r); }
bool modifyRecord(const DrugRecord& r) { return writeRecord(rt::Cmd::ModifyRecord, r); }

double fieldNumber(const char* field) { return cmd::ReadField(field).number(); }

// --- shared steps -----------------------------------------------------------------

void showMessage(const char* gbk) { rt::invoke(rt::Cmd::ShowMessage, gbk); }

// OpenDatabase fails once the catalogue is open; that is expected.
void selectCatalogue() {
  cmd::OpenDatabase(kCatalogue);
  cmd::SetCurrentDatabase(kCatalogue);
  cmd::MoveFirst();
}

// Every record, the last record of the file as the top row.
void fillList() {
  const rt::Arg list = box("超级列表框1").arg();
  rt::invoke(rt::Cmd::ListClear, list);
  cmd::MoveFirst();
  const int n = cmd::RecordCount();
  const int fields = cmd::FieldCount();
  for (int i = 0; i < n; ++i) {
    rt::invoke(rt::Cmd::ListInsertItem, list, 0, cmd::ToText(cmd::ReadField(1).arg()));
    for (int column = 1; column < fields; ++column)
      rt::invoke(rt::Cmd::ListSetItemText, list, 0, column,
                 cmd::ToText(cmd::ReadField(column + 1).arg()));
    cmd::Skip(1);
  }
}

void showSummary() {
  setBox("编辑框14", cmd::ToText(cmd::RecordCount()));
  auto purchase = [] { return cmd::ReadField("jh").release(); };
  auto sale = [] { return cmd::ReadField("xh").release(); };
  rt::Expr purchaseValue(purchase);
  rt::Expr saleValue(sale);
  setBox("编辑框15", cmd::ToText(cmd::SumRecords(purchaseValue.arg())));
  setBox("编辑框16", cmd::ToText(cmd::SumRecords(saleValue.arg())));
}

void clearBoxes() {
  for (const BoxField& b : kBoxes) setBox(b.box, "");
}

void showCurrentRecord() {
  for (const BoxField& b : kBoxes) {
    rt::Result value = cmd::ReadField(b.field);
    setBox(b.box, b.how == Shown::kText ? value.text() : cmd::ToText(value.arg()));
  }
}

void focusCode() { box("编辑框1").focus(); }

// --- handlers ---------------------------------------------------------------------

void openWindow() {
  rt::invoke(rt::Cmd::SetVisualStyle, 3);
  openTable(kCatalogue, kDrugCatalogue);
  cmd::MoveFirst();
  // The stock values follow quantity and prices: each record's products,
  // in double precision, stored as floats.
  auto always = [] { return rt::makeBool(true); };
  auto purchaseTotal = [] { return rt::makeFloat(asStored(fieldNumber("shl") * fieldNumber("jj"))); };
  auto saleTotal = [] { return rt::makeFloat(asStored(fieldNumber("shl") * fieldNumber("xj"))); };
  rt::Expr everyRecord(always);
  rt::Expr jh(purchaseTotal);
  rt::Expr xh(saleTotal);
  cmd::ReplaceFields(everyRecord.arg(), "jh", jh.arg(), "xh", xh.arg());
  fillList();
  showSummary();
}

void findDrug() {
  selectCatalogue();
  const std::string code = boxText("编辑框1");
  auto sameCode = [&code] { return rt::makeBool(db::fieldTextEquals("dm", code)); };
  rt::Expr condition(sameCode);
  if (cmd::FindRecord(condition.arg())) {
    showCurrentRecord();
    return;
  }
  showMessage(GBK("无该药品"));
  clearBoxes();
}

void addDrug() {
  selectCatalogue();
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
  if (cmd::FindRecord(condition.arg())) {
    // The same drug, batch and sale price is in stock: the typed quantity
    // and totals are added to it, everything else takes the typed values.
    typed.shl += fieldNumber("shl");
    typed.jh += fieldNumber("jh");
    typed.xh += fieldNumber("xh");
    modifyRecord(typed);
  } else {
    appendRecord(typed);
  }
  clearBoxes();
  fillList();
  showSummary();
  focusCode();
}

void modifyDrug() {
  // The catalogue is made current first: another window may have made its
  // own table current since the drug was shown, and the record written must
  // be the catalogue's.
  cmd::SetCurrentDatabase(kCatalogue);
  if (!modifyRecord(readBoxes())) {
    showMessage(GBK("修改失败!"));
    return;
  }
  fillList();
  clearBoxes();
  showSummary();
  focusCode();
}

void deleteDrug() {
  // As in modify: the record marked and the table packed are the catalogue's.
  cmd::SetCurrentDatabase(kCatalogue);
  const int answer =
      rt::invoke(rt::Cmd::ShowMessage, GBK("你确定要删除此项吗？"), int(rt::mb::kOkCancel)).integer();
  if (answer == rt::kOk) {
    cmd::DeleteRecords();
    cmd::PackDatabase();
    cmd::OpenDatabase(kCatalogue);
    cmd::SetCurrentDatabase(kCatalogue);
    fillList();
    clearBoxes();
  }
  showSummary();
}

void closeWindow() { rt::invoke(rt::Cmd::CloseWindow, forms::windowArg(kWindow)); }

// Row r from the top shows record n - r; no selection (-1) lands past the
// last record, which MoveTo clamps to the last one.
void showChosenRow() {
  cmd::SetCurrentDatabase(kCatalogue);
  const int row = box("超级列表框1").selectedRow();
  const int n = cmd::RecordCount();
  cmd::MoveTo(n - row);
  showCurrentRecord();
}

// --- line totals while typing ---------------------------------------------------------

void purchaseLineTotal() {
  setBox("编辑框11", cmd::ToText(boxNumber("编辑框9") * boxNumber("编辑框10")));
}
void saleLineTotal() {
  setBox("编辑框13", cmd::ToText(boxNumber("编辑框9") * boxNumber("编辑框12")));
}
void quantityChanged() {
  saleLineTotal();
  purchaseLineTotal();
}
void purchasePriceLeft() { box("编辑框12").focus(); }

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
