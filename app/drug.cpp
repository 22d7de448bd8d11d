#include "app/drug.h"

#include <cmath>
#include <string>

#include "app/module.h"
#include "app/tables.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin(ids::kDrugWindow);
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

// --- shared steps -----------------------------------------------------------------

void fillList() { fillListNewestFirst(kWin.control("超级列表框1")); }

void showSummary() {
  kWin.setText("编辑框14", cmd::ToText(cmd::RecordCount()));
  kWin.setText("编辑框15", cmd::ToText(sumField("jh")));
  kWin.setText("编辑框16", cmd::ToText(sumField("xh")));
}

void clearBoxes() {
  for (const BoxField& b : kBoxes) kWin.setText(b.box, "");
}

void showCurrentRecord() {
  for (const BoxField& b : kBoxes) {
    rt::Result value = cmd::ReadField(b.field);
    kWin.setText(b.box, b.how == Shown::kText ? value.text() : cmd::ToText(value.arg()));
  }
}

void focusCode() { kWin.focus("编辑框1"); }

// --- handlers ---------------------------------------------------------------------

void openWindow() {
  cmd::SetVisualStyle(3);
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
  selectTable(kCatalogue);
  if (findByText("dm", kWin.text("编辑框1"))) {
    showCurrentRecord();
    return;
  }
  tell(GBK("无该药品"));
  clearBoxes();
}

void addDrug() {
  selectTable(kCatalogue);
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
    if (!toldChangedElsewhere()) {
      tell(GBK("修改失败!"));
      return;
    }
    // The list the operator chose from is out of date: shown afresh.
    selectTable(kCatalogue);
    fillList();
    showSummary();
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
  if (confirm(GBK("你确定要删除此项吗？"))) {
    if (cmd::DeleteRecords()) cmd::PackDatabase();
    else toldChangedElsewhere();
    selectTable(kCatalogue);
    fillList();
    clearBoxes();
  }
  showSummary();
}

void closeWindow() { kWin.close(); }

// Row r from the top shows record n - r; no selection lands past the last
// record, which MoveTo clamps to the last one.
void showChosenRow() {
  cmd::SetCurrentDatabase(kCatalogue);
  cmd::MoveTo(chosenRecord(kWin.control("超级列表框1")));
  showCurrentRecord();
}

// --- line totals while typing ---------------------------------------------------------

void purchaseLineTotal() {
  kWin.setText("编辑框11", cmd::ToText(kWin.number("编辑框9") * kWin.number("编辑框10")));
}
void saleLineTotal() {
  kWin.setText("编辑框13", cmd::ToText(kWin.number("编辑框9") * kWin.number("编辑框12")));
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
