#include "app/charging.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>

#include "app/module.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "runtime/builtins.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app {
namespace {

const std::string kScratch = kDrugScratchName;
const std::string kCatalogue = kDrugCatalogueName;

// "“name”" with the operator's text inside Chinese quotes.
std::string quoted(const std::string& gbk) { return GBK("“") + gbk + GBK("”"); }

// Tells the operator a step failed: what, the engine's text, and what state
// things were left in.
void tellFailure(const std::string& gbkWhat, int code, const char* gbkState) {
  std::string text = gbkWhat + GBK("：") + db::errorText(code) + GBK("。") + gbkState;
  tell(text.c_str());
}

// A numeric field of the current record as a double; a field of another
// kind is the runtime error of a value of the wrong kind.
double readNumber(const char* gbkField) {
  rt::Result r = cmd::ReadField(gbkField);
  double v = 0;
  if (!rt::numericValue(r.arg(), &v)) rt::raiseRuntimeError(5);
  return v;
}

// The engine's code of a step that left a table other than `name` current.
int selectionFailure(int opened) {
  const int setCurrent = db::lastError();
  return opened != db::kOk && opened != db::kAlreadyOpen ? opened : setCurrent;
}

}  // namespace

const char* nothingCharged() { return GBK("本次未记帐，库存未变动。"); }
const char* nothingDeleted() { return GBK("未删除任何记录，库存未变动。"); }

int openChargeTable(const std::string& name) { return selectCheckedTable(name, kChargeLines); }

bool useChargeTable(const std::string& name, const char* gbkNothingDone) {
  const int why = openChargeTable(name);
  if (why == 0) return true;
  std::string text;
  if (why == kNotChargeLines) {
    text = quoted(name) + GBK("不是收费表（没有收费明细的十个字段）。") + gbkNothingDone;
  } else {
    text = GBK("收费表") + quoted(name) + GBK("无法打开：") + db::errorText(why) + GBK("。") +
           gbkNothingDone;
  }
  tell(text.c_str());
  return false;
}

CategoryTotals sumCategories() {
  CategoryTotals totals{};
  for (int c = 0; c < kCategoryCount; ++c)
    totals[size_t(c)] = float(sumFieldWhere("hj", "lb", categoryName(c)));
  return totals;
}

CategoryTotals sumCategories(const std::string& prescription) {
  return sumCharges(prescription).categories;
}

ChargeSums sumCharges(const std::string& prescription) {
  // One SumRecords over every line gives the whole sum; its value
  // expression adds the same line total into the prescription's sum and
  // its category's as the scan passes each line.
  double ofPrescription = 0;
  std::array<double, kCategoryCount> ofCategory{};
  auto lineTotal = [&] {
    rt::Result hj = cmd::ReadField("hj");
    double v = 0;
    if (db::fieldTextEquals("cf", prescription) && rt::numericValue(hj.arg(), &v)) {
      ofPrescription += v;
      for (int c = 0; c < kCategoryCount; ++c)
        if (db::fieldTextEquals("lb", categoryName(c))) {
          ofCategory[size_t(c)] += v;
          break;
        }
    }
    return hj.release();
  };
  rt::Expr value(lineTotal);
  ChargeSums sums;
  sums.all = cmd::SumRecords(value.arg());
  // A scan that failed part way sums to 0, as each separate sum would.
  if (db::lastError() != db::kOk) return ChargeSums{};
  sums.prescription = ofPrescription;
  for (int c = 0; c < kCategoryCount; ++c) sums.categories[size_t(c)] = float(ofCategory[size_t(c)]);
  return sums;
}

bool usePostingTable(const std::string& name, const TableDef& def) {
  if (!cmd::FileExists(name + ".kdb")) createTable(name, def);
  const int why = selectCheckedTable(name, def);
  if (why == 0) return true;
  const std::string text = GBK("票据数字未能记入“") + name + GBK("”：") +
                           (why == kWrongLayout ? std::string(GBK("该表的字段与结算表不符")) : db::errorText(why)) +
                           GBK("。请核对后重新打印本票据。");
  tell(text.c_str());
  return false;
}

void tellPostingFailed(const std::string& table) {
  const std::string text = GBK("票据数字未能记入“") + table + GBK("”：") + db::errorText(db::lastError()) +
                           GBK("。请核对后重新打印本票据。");
  tell(text.c_str());
}

bool postBill(const std::string& table, rt::DateTime today, const std::string& number,
              const CategoryTotals& totals) {
  if (!usePostingTable(table, kBills)) return false;
  double sum = 0;
  for (float amount : totals) sum += double(amount);
  const float phj = asStored(sum);
  auto write = [&](auto command) {
    return std::apply([&](auto... amount) { return command(today, number, amount..., phj); }, totals);
  };
  const bool written = findByText("chf", number)
                           ? write([](const auto&... v) { return cmd::ModifyRecord(v...); })
                           : write([](const auto&... v) { return cmd::AppendRecord(v...); });
  if (!written) tellPostingFailed(table);
  return written;
}

void lookUpCode(const std::string& code, const forms::Control& matches) {
  // 1. The scratch table emptied and closed. Only when it is the current
  //    table: emptying whatever else is current would wipe that table.
  if (selectTable(kScratch)) {
    cmd::ZapDatabase();
    cmd::CloseDatabase(kScratch);
  }
  cmd::ListClear(matches.arg());
  // 2. The catalogue's records with that code copied into the scratch
  //    table.
  cmd::OpenDatabase(kCatalogue);
  const int opened = db::lastError();
  if (!cmd::SetCurrentDatabase(kCatalogue)) {
    tellFailure(GBK("药品目录 ypjbxx 无法打开"), selectionFailure(opened), "");
    return;
  }
  cmd::MoveFirst();
  auto sameCode = [&code] { return rt::makeBool(db::fieldTextEquals("dm", code)); };
  rt::Expr condition(sameCode);
  if (!cmd::CopyRecords(kScratch, condition.arg())) {
    // Another workstation may hold the scratch table: listing what it
    // holds now would offer entries of another code.
    tellFailure(GBK("药品查询暂存表 lshk 无法写入"), db::lastError(), GBK("请稍后再查询。"));
    return;
  }
  // 3. The matches listed, the last copied at the top.
  if (selectTable(kScratch)) fillListNewestFirst(matches);
}

int32_t wholeQuantity(double typed) {
  if (std::isnan(typed)) return 0;
  if (typed >= 2147483647.0) return INT32_MAX;
  if (typed <= -2147483648.0) return INT32_MIN;
  return int32_t(typed);  // toward zero
}

bool takeChosenEntry(const forms::Control& matches, const std::string& quantityText) {
  cmd::OpenDatabase(kScratch);
  const int opened = db::lastError();
  if (!cmd::SetCurrentDatabase(kScratch)) {
    tellFailure(GBK("药品查询暂存表 lshk 无法打开"), selectionFailure(opened), nothingCharged());
    return false;
  }
  cmd::MoveFirst();
  if (cmd::RecordCount() == 0) return false;  // nothing listed to charge
  cmd::MoveTo(chosenRecord(matches));
  ChargeBeingRecorded& c = programValues().recorded;
  c.day = cmd::DateOnly(cmd::Now());
  c.name = cmd::ReadText("mch");
  c.category = cmd::ReadText("lb");
  c.reimbursement = cmd::ReadText("bx");
  c.unit = cmd::ReadText("dw");
  c.price = float(readNumber("xj"));
  c.quantity = wholeQuantity(cmd::ToNumber(quantityText));
  cmd::ZapDatabase();
  cmd::CloseDatabase(kScratch);
  return true;
}

bool appendCharge(const std::string& prescription) {
  const ChargeBeingRecorded& c = programValues().recorded;
  // The total in double from the whole quantity and the single price,
  // stored as the float its field holds.
  const float total = asStored(double(c.quantity) * double(c.price));
  if (cmd::AppendRecord(c.day, c.name, c.category, c.reimbursement, c.quantity, c.unit, c.price,
                        total, prescription, cashier()))
    return true;
  tellFailure(GBK("记帐失败"), db::lastError(), nothingCharged());
  return false;
}

int changeStock(const std::string& name, const std::string& category, float price,
                int32_t delta) {
  cmd::OpenDatabase(kCatalogue);
  const int opened = db::lastError();
  if (!cmd::SetCurrentDatabase(kCatalogue)) {
    const int code = selectionFailure(opened);
    return code != db::kOk ? code : db::kNotOpened;
  }
  auto sameDrug = [&] {
    return db::fieldTextEquals("mch", name) && db::fieldTextEquals("lb", category) &&
           std::fabs(readNumber("xj") - double(price)) <= 1e-7;
  };
  auto matches = [&sameDrug] { return rt::makeBool(sameDrug()); };
  rt::Expr condition(matches);
  // The record found may have moved by the time it is written (another
  // workstation packing the catalogue): the new quantity is computed under
  // the record's lock from the record as it is then, and a record that is
  // no longer the drug is left as it was and the search made again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    cmd::MoveFirst();
    if (!cmd::FindRecord(condition.arg())) {
      const int code = db::lastError();
      return code != db::kOk ? code : kNoCatalogueMatch;
    }
    bool stillTheDrug = false;
    auto newQuantity = [&] {
      stillTheDrug = sameDrug();
      const double stock = readNumber("shl");
      return rt::makeDouble(stillTheDrug ? stock + double(delta) : stock);
    };
    rt::Expr value(newQuantity);
    if (!cmd::ReplaceFields(rt::Arg{}, "shl", value.arg())) return db::lastError();
    if (stillTheDrug) return 0;
  }
  return kNoCatalogueMatch;
}

namespace {

// A stock change that failed: the line is as written, the catalogue is not.
void reportStock(int result, const char* gbkDone, const std::string& name, const char* gbkNotDone) {
  if (result == 0 || result == kNoCatalogueMatch) return;
  tellFailure(gbkDone + quoted(name) + gbkNotDone, result, GBK("请在药品库存中核对其数量。"));
}

}  // namespace

void takeStockForCharge() {
  const ChargeBeingRecorded& c = programValues().recorded;
  reportStock(changeStock(c.name, c.category, c.price, -c.quantity), GBK("已记帐，但药品"), c.name,
              GBK("的库存未能扣减"));
}

void giveStockForDeletion() {
  const ChargeBeingDeleted& d = programValues().deleted;
  reportStock(changeStock(d.name, d.category, d.price, d.quantity), GBK("已删除，但药品"), d.name,
              GBK("的库存未能退回"));
}

Deletion deleteChosenLine(const forms::Control& usage) {
  if (cmd::RecordCount() == 0) return Deletion::kKept;  // no line to delete
  cmd::MoveTo(chosenRecord(usage));
  ChargeBeingDeleted& d = programValues().deleted;
  d.quantity = wholeQuantity(readNumber("shl"));
  d.price = float(readNumber("dj"));
  d.name = cmd::ReadText("mch");
  d.category = cmd::ReadText("lb");
  if (!confirm(GBK("你确定要删除吗？"))) return Deletion::kKept;
  if (!cmd::DeleteRecords()) {
    tellFailure(GBK("删除失败"), db::lastError(), nothingDeleted());
    return Deletion::kFailed;
  }
  if (!cmd::PackDatabase()) {
    // The line is marked but still in the file and still counted. Its
    // stock comes back when a later deletion of it packs the table.
    tellFailure(GBK("该记录已标记删除，但收费表未能压缩"), db::lastError(),
                GBK("记录仍在表中，库存未退回；请稍后再删除一次。"));
    return Deletion::kFailed;
  }
  return Deletion::kDeleted;
}

}  // namespace app
