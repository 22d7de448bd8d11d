#include "app/charges/charging.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <tuple>

#include "app/expiry.h"
#include "app/listed_records.h"
#include "app/telling.h"
#include "app/charges/pending.h"
#include "app/charges/stock_journal.h"
#include "app/figures/stored_amounts.h"
#include "app/rights.h"
#include "app/trail.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "runtime/builtins.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app {
namespace {

const std::string kCatalogue = kDrugCatalogueName;

// "“name”" with the operator's text inside Chinese quotes.
std::string quoted(const std::string& gbk) { return GBK("“") + gbk + GBK("”"); }

// A numeric field of the current record as a double; a field of another
// kind is the runtime error of a value of the wrong kind.
double readNumber(const char* gbkField) {
  rt::Result r = cmd::ReadField(gbkField);
  double v = 0;
  if (!rt::numericValue(r.arg(), &v)) rt::raiseRuntimeError(5);
  return v;
}

}  // namespace

const char* nothingCharged() { return GBK("本次未记帐，库存未变动。"); }
const char* nothingDeleted() { return GBK("未删除任何记录，库存未变动。"); }

UseOptions chargeTable(bool createWhenMissing) {
  return {.def = &kChargeLines, .createWhenMissing = createWhenMissing, .reopenWhenGone = true};
}

NotUsedTexts chargeTableTexts(const std::string& name, const char* gbkNothingDone) {
  return {.notOpened = GBK("收费表") + quoted(name) + GBK("无法打开"),
          .notCreated = GBK("收费表") + quoted(name) + GBK("无法建立"),
          .otherLayout = quoted(name) + GBK("不是收费表（没有收费明细的十个字段）"),
          .nothingDone = gbkNothingDone};
}

bool useChargeTable(const std::string& name, const char* gbkNothingDone, bool createWhenMissing) {
  return useTableOrTell(name, chargeTable(createWhenMissing), chargeTableTexts(name, gbkNothingDone));
}

namespace {

// One reading of the current charge table (see ChargeFigures). With
// `prescription` the categories are summed over its lines only; with
// `byCode` the prescription-code sums of the monthly posting are made too.
int readLines(const std::string* prescription, bool byCode, ListRows* rows, ChargeFigures* out) {
  *out = ChargeFigures{};
  ChargeFigures f;
  auto step = [&] {
    if (rows) rows->addCurrent();
    rt::Result hj = cmd::ReadField("hj");
    double v = 0;
    // A line total that is not a number stops the program, as it stops
    // SumRecords.
    if (!rt::numericValue(hj.arg(), &v)) rt::raiseRuntimeError(11);
    const int64_t fen = fenOf(v);
    f.all += fen;
    const bool ofPrescription = prescription && db::fieldTextEquals("cf", *prescription);
    if (ofPrescription) {
      f.prescription += fen;
      ++f.prescriptionLines;
    }
    if (!prescription || ofPrescription) {
      for (int c = 0; c < kCategoryCount; ++c)
        if (db::fieldTextEquals("lb", categoryName(c))) {
          f.categories[size_t(c)] += fen;
          break;
        }
    }
    if (byCode) {
      // The first two bytes of the prescription number name the doctor's
      // service: "01".."07" regular (c1..c7), "11".."17" special (c9..c15).
      const std::string cf = cmd::ReadText("cf");
      if (cf.size() >= 2 && cf[1] >= '1' && cf[1] <= '7') {
        if (cf[0] == '0') f.byCode[size_t(cf[1] - '0')] += fen;
        if (cf[0] == '1') f.byCode[size_t(8 + cf[1] - '0')] += fen;
      }
    }
  };
  const int rc = db::forEachRecord(step, true);
  if (rc != db::kOk) return rc;
  if (byCode) {
    // c8 and c16 add up their seven codes; c16 is cut toward zero to
    // whole yuan (integer division cuts toward zero).
    for (int i = 1; i <= 7; ++i) {
      f.byCode[8] += f.byCode[size_t(i)];
      f.byCode[16] += f.byCode[size_t(8 + i)];
    }
    f.byCode[16] = f.byCode[16] / 100 * 100;
  }
  *out = f;
  return 0;
}

}  // namespace

int readPatientLines(ListRows* rows, ChargeFigures* out) { return readLines(nullptr, true, rows, out); }

int readPrescriptionLines(const std::string& prescription, ListRows* rows, ChargeFigures* out) {
  return readLines(&prescription, false, rows, out);
}

CategoryTotals sumCategories(const std::string& prescription) { return sumCharges(prescription).categories; }

ChargeFigures sumCharges(const std::string& prescription) {
  ChargeFigures f;
  readLines(&prescription, false, nullptr, &f);
  return f;
}

bool usePostingTable(const std::string& name, const TableDef& def) {
  const std::string what = GBK("票据数字未能记入“") + name + GBK("”");
  return useTableOrTell(name, {.def = &def, .createWhenMissing = true},
                        {.notOpened = what,
                         .otherLayout = what + GBK("：该表的字段与结算表不符"),
                         .nothingDone = GBK("请核对后重新打印本票据。")});
}

void tellPostingFailed(const std::string& table) {
  const std::string text =
      GBK("票据数字未能记入“") + table + GBK("”：") + causeText(db::lastError()) + GBK("。请核对后重新打印本票据。");
  tell(text.c_str());
}

bool postBill(const std::string& table, rt::DateTime today, const std::string& number, const CategoryTotals& totals) {
  if (!usePostingTable(table, kBills)) return false;
  int64_t sum = 0;
  for (int64_t amount : totals) sum += amount;
  const float phj = storedOf(sum);
  auto write = [&](auto command) {
    return std::apply([&](auto... amount) { return command(today, number, storedOf(amount)..., phj); }, totals);
  };
  // A table that could not be searched to the end gets no record: an
  // append could make a second record for the number.
  const int found = searchText("chf", number);
  const bool written = found == 1   ? write([](const auto&... v) { return cmd::ModifyRecord(v...); })
                       : found == 0 ? write([](const auto&... v) { return cmd::AppendRecord(v...); })
                                    : false;
  if (!written) tellPostingFailed(table);
  return written;
}

void lookUpCode(const std::string& code, const forms::Control& matches, Listing* listing) {
  // Nothing listed until the catalogue has been read.
  listing->clear();
  cmd::ListClear(matches.arg());
  // The catalogue's records with that code, read in one pass.
  if (const TableUse use = useTable(kCatalogue); !use.ok()) {
    tellFailure(GBK("药品目录 ypjbxx 无法打开"), use.code, "");
    return;
  }
  ListRows rows(cmd::FieldCount());
  Listing found;
  const int rc = db::forEachRecord(
      [&] {
        if (!db::fieldTextEquals("dm", code)) return;
        rows.addCurrent();
        ListedEntry e;
        e.name = cmd::ReadText("mch");
        e.category = cmd::ReadText("lb");
        e.reimbursement = cmd::ReadText("bx");
        e.unit = cmd::ReadText("dw");
        e.price = float(readNumber("xj"));
        found.push_back(std::move(e));
      },
      true);  // one reading of the catalogue, kept for the charge's stock search
  if (rc != db::kOk) {
    // Part of the catalogue unread: listing the rest would hide entries.
    tellFailure(GBK("药品目录 ypjbxx 无法读取"), rc, GBK("请稍后再查询。"));
    return;
  }
  // The matches listed, the last in stored order at the top; the
  // listing follows the rows top to bottom.
  rows.show(matches);
  listing->assign(found.rbegin(), found.rend());
}

int32_t wholeQuantity(double typed) {
  if (std::isnan(typed)) return 0;
  if (typed >= 2147483647.0) return INT32_MAX;
  if (typed <= -2147483648.0) return INT32_MIN;
  return int32_t(typed);  // toward zero
}

bool takeChosenEntry(const forms::Control& matches, const Listing& listing, const std::string& quantityText) {
  const int shown = forms::listRowCount(matches.window(), matches.id());
  if (shown == 0 || listing.empty()) return false;  // nothing listed to charge
  if (size_t(shown) != listing.size()) {
    std::string text = GBK("药品列表已变动，请重新查询药品代码。");
    text += nothingCharged();
    tell(text.c_str());
    return false;
  }
  // No row chosen: the top one, the entry a look-up lists first.
  const int row = std::clamp(matches.selectedRow(), 0, shown - 1);
  const ListedEntry& e = listing[size_t(row)];
  ChargeBeingRecorded& c = programValues().recorded;
  c.day = cmd::DateOnly(cmd::Now());
  c.name = e.name;
  c.category = e.category;
  c.reimbursement = e.reimbursement;
  c.unit = e.unit;
  c.price = e.price;
  c.quantity = wholeQuantity(cmd::ToNumber(quantityText));
  return true;
}

bool appendCharge(const std::string& prescription, bool tellFailed) {
  const ChargeBeingRecorded& c = programValues().recorded;
  // The total in double from the whole quantity and the single price,
  // stored as the float its field holds.
  const float total = asStored(double(c.quantity) * double(c.price));
  if (cmd::AppendRecord(c.day, c.name, c.category, c.reimbursement, c.quantity, c.unit, c.price, total, prescription,
                        cashier()))
    return true;
  if (tellFailed) tellFailure(GBK("记帐失败"), db::lastError(), nothingCharged());
  return false;
}

namespace {

// The catalogue current, by name, where it stood; 0 or the engine's code.
int useCatalogue() { return useTable(kCatalogue, {.moveFirst = false}).code; }

// The drugs whose stock is checked before a charge; services are not.
bool stockChecked(const std::string& category) {
  return category == categoryName(kWestern) || category == categoryName(kPatentChinese) ||
         category == categoryName(kHerbal);
}

// 是/否 with 否 the default answer.
bool askYesNo(const std::string& gbk) {
  return cmd::ShowMessage(gbk, int(rt::mb::kYesNo | rt::mb::kIconWarning | rt::mb::kDefButton2)) == rt::kYes;
}

bool askAboutStock(const ChargeBeingRecorded& c) {
  if (!stockChecked(c.category) || useCatalogue() != 0) return true;
  const double price = double(c.price);
  // The record's stock, expiry and batch taken while the search holds it
  // in hand (from the copy of the catalogue the look-up left, when nothing
  // has changed): no further reading of the file.
  double stock = 0, expiry = 0;
  std::string ph;
  auto sameDrug = [&] {
    const bool same = db::fieldTextEquals("mch", c.name) && db::fieldTextEquals("lb", c.category) &&
                      std::fabs(readNumber("xj") - price) <= 1e-7;
    if (same) {
      stock = readNumber("shl");
      rt::Result yx = cmd::ReadField("yx");
      expiry = yx.kind() == rt::kDateTime ? yx.real() : 0;
      ph = cmd::ReadText("ph");
    }
    return rt::makeBool(same);
  };
  rt::Expr condition(sameDrug);
  cmd::MoveFirst();
  if (!cmd::FindRecord(condition.arg())) return true;
  if (double(c.quantity) > stock) {
    // In the drug's own unit (盒, 支); a drug typed without one names none.
    const std::string text = GBK("库存不足：") + quoted(c.name) + GBK("现有 ") + cmd::ToText(stock) +
                             (c.unit.empty() ? std::string() : " " + c.unit) + GBK("，仍要记帐吗？");
    if (!askYesNo(text)) return false;
  }
  // A batch without an expiry date (none typed) has nothing to have passed.
  if (expiryOn(expiry, cmd::DateOnly(cmd::Now()).days) == Expiry::kExpired) {
    const std::string text = quoted(c.name) + GBK("（批号 ") + ph + GBK("）已于 ") +
                             cmd::ToText(cmd::DateOnly(rt::DateTime{expiry})) + GBK("过期，仍要记帐吗？");
    if (!askYesNo(text)) return false;
  }
  return true;
}

}  // namespace

bool confirmStockForCharge(const std::string& chargeTable) {
  const bool goOn = askAboutStock(programValues().recorded);
  // The line goes into the charge table, which the catalogue's reading
  // left current no longer; one that cannot be made current takes nothing
  // (the append would land in the catalogue).
  return goOn && useTableOrTell(chargeTable, {.def = &kChargeLines, .moveFirst = false},
                                chargeTableTexts(chargeTable, nothingCharged()));
}

StockStep changeStock(const std::string& name, const std::string& category, float price, int32_t delta,
                      const journal::Movement& why, const journal::Operation& by) {
  // No stock moves without its entry: a journal that cannot be opened now
  // leaves the change to be made later, both together.
  if (const int code = journal::prepare(); code != 0) return StockStep::failed(code);
  if (const int code = useCatalogue(); code != 0) return StockStep::failed(code);
  auto sameDrug = [&] {
    return db::fieldTextEquals("mch", name) && db::fieldTextEquals("lb", category) &&
           std::fabs(readNumber("xj") - double(price)) <= 1e-7;
  };
  auto matches = [&sameDrug] { return rt::makeBool(sameDrug()); };
  rt::Expr condition(matches);
  // The record found may have moved by the time it is written (another
  // workstation packing the catalogue): it is read again under its lock,
  // and a record that is no longer the drug is left as it was and the
  // search made again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    cmd::MoveFirst();
    if (!cmd::FindRecord(condition.arg())) {
      const int code = db::lastError();
      return code != db::kOk ? StockStep::failed(code) : StockStep::noMatch();
    }
    bool stillTheDrug = false;
    journal::Entry entry;
    entry.why = why;
    entry.by = by;
    auto newQuantity = [&] { return rt::makeDouble(double(entry.after)); };
    rt::Expr value(newQuantity);
    bool journalled = false;
    // Under the record's lock: the record as it is now, then its entry,
    // then the stock. The entry goes first, so that after any failure the
    // journal says whether the step began, and the record read against it
    // whether the stock was written (settleLineAction); another
    // workstation's change of the same batch comes after both.
    const int rc = db::holdCurrentRecord([&] {
      ReadRecord now;
      if (const int read = now.read(); read != 0) return read;
      stillTheDrug =
          now.text("mch") == name && now.text("lb") == category && std::fabs(now.number("xj") - double(price)) <= 1e-7;
      if (!stillTheDrug) return 0;
      const double stock = now.number("shl");
      entry.dm = now.text("dm");
      entry.mch = name;
      entry.ph = now.text("ph");
      // The quantity as its integer field will hold it.
      entry.after = wholeQuantity(stock + double(delta));
      entry.change = wholeQuantity(double(entry.after) - stock);
      const int appended = journal::append(entry);
      // Back to the catalogue before its stock is written: a write with the
      // journal current would land in the journal.
      const bool back = cmd::SetCurrentDatabase(kCatalogue);
      if (appended != 0) return appended;
      journalled = true;
      if (!back) return db::lastErrorOr(db::kNotOpened);
      if (!cmd::ReplaceFields(rt::Arg{}, "shl", value.arg())) return db::lastErrorOr(db::kRecordWriteFailed);
      return 0;
    });
    // The next attempt searches the catalogue again.
    const int back = useCatalogue();
    if (rc == db::kNoRecord && !journalled) {  // packed away meanwhile: found again
      if (back != 0) return StockStep::failed(back);
      continue;
    }
    if (rc != 0) return StockStep::failed(rc);
    if (!stillTheDrug) {
      if (back != 0) return StockStep::failed(back);
      continue;
    }
    return StockStep::made();
  }
  return StockStep::noMatch();
}

namespace {

// A stock step whose operation may have begun before (its entry appended,
// its stock perhaps written): made once. The entry's batch is held while
// the journal is read again, so no other workstation's entry of it comes
// in between; its stock was written when the next entry of the batch
// started from the stock after it or, with none, when the record holds
// that stock now: made (or found made), no catalogue record matches,
// or failed with the engine's code.
StockStep finishStockStep(const journal::OperationFound& seen, const journal::Operation& by) {
  const journal::Entry& e = seen.entry;
  if (const int code = useCatalogue(); code != 0) return StockStep::failed(code);
  auto sameBatch = [&] {
    return rt::makeBool(db::fieldTextEquals("dm", e.dm) && db::fieldTextEquals("mch", e.mch) &&
                        db::fieldTextEquals("ph", e.ph));
  };
  rt::Expr condition(sameBatch);
  cmd::MoveFirst();
  if (!cmd::FindRecord(condition.arg())) {
    const int code = db::lastError();
    return code != db::kOk ? StockStep::failed(code) : StockStep::noMatch();
  }
  int32_t after = 0;
  auto newQuantity = [&] { return rt::makeDouble(double(after)); };
  rt::Expr value(newQuantity);
  const int rc = db::holdCurrentRecord([&] {
    ReadRecord now;
    if (const int read = now.read(); read != 0) return read;
    const double stock = now.number("shl");
    journal::OperationFound again;
    const int scanned = journal::findOperation(by.op, by.lineTable, by.lineSerial, &again);
    // Back to the catalogue before its stock is written (see changeStock).
    const bool back = cmd::SetCurrentDatabase(kCatalogue);
    if (scanned != 0) return scanned;
    if (!back) return db::lastErrorOr(db::kNotOpened);
    const bool written = again.laterInBatch ? again.laterBefore == e.after : stock == double(e.after);
    if (written) return 0;
    after = wholeQuantity(stock + double(e.change));
    return cmd::ReplaceFields(rt::Arg{}, "shl", value.arg()) ? 0 : db::lastErrorOr(db::kRecordWriteFailed);
  });
  // The step is over whatever this says: every caller makes its own table
  // current by name before it reads or writes again.
  static_cast<void>(useCatalogue());
  return rc == 0 ? StockStep::made() : StockStep::failed(rc);
}

// The stock step of a line action, made once whatever happened to an
// earlier try: made, no catalogue record matches, or failed (still to do).
// `mayHaveBegun`: an earlier try of this action may have written its
// entry (a retry, after a kill or an uncertain write), so the journal is
// searched for its operation first. The first try, in the handler that
// took the operation's new id, has nothing to find and reads no journal.
StockStep stockStepOnce(const pending::LineAction& a, bool mayHaveBegun) {
  const journal::Operation by{a.op, a.table, a.serial};
  const int32_t delta = a.kind == pending::LineAction::kCharge ? -a.quantity : a.quantity;
  if (const int code = journal::prepare(); code != 0) return StockStep::failed(code);
  if (!mayHaveBegun || !journal::carriesOperations()) return changeStock(a.name, a.category, a.price, delta, a.why, by);
  journal::OperationFound seen;
  if (const int code = journal::findOperation(a.op, a.table, a.serial, &seen); code != 0)
    return StockStep::failed(code);
  if (seen.found) return finishStockStep(seen, by);
  // A line another workstation's deletion gave back already (the two
  // deleted it at once, one of them not knowing it had) gets nothing more.
  if (a.kind == pending::LineAction::kDeletion && seen.lineReturned) return StockStep::made();
  return changeStock(a.name, a.category, a.price, delta, a.why, by);
}

// Whether the line of a charge is in its table by its serial with the
// values charged: 1 yes, 0 no, or the engine's code when it could not be
// told.
int chargeLineLanded(const pending::LineAction& a) {
  if (a.serial <= 0) return 0;  // the append never took a serial
  if (const int rc = useTable(a.table, chargeTable()).failure(); rc != 0) return rc;
  if (const int rc = db::moveToRecord(a.serial, 0); rc != 0) return rc;
  ReadRecord line;
  const int rc = line.read();
  if (rc == db::kNoRecord) return 0;
  if (rc != 0) return rc;
  // Another program's append after this one failed takes the same serial:
  // the values tell the two apart.
  return line.text("mch") == a.name && line.text("lb") == a.category &&
                 wholeQuantity(line.number("shl")) == a.quantity && float(line.number("dj")) == a.price &&
                 line.text("cf") == a.prescription && line.text("shf") == a.cashier
             ? 1
             : 0;
}

// Whether the line of a deletion is gone or marked deleted: 1 yes, 0 no
// (still there), or the engine's code.
int deletedLineGone(const pending::LineAction& a) {
  if (const int rc = useTable(a.table, chargeTable()).failure(); rc != 0) return rc;
  if (const int rc = db::moveToRecord(a.serial, 0); rc != 0) return rc;
  ReadRecord line;
  const int rc = line.read();
  if (rc == 0) return 0;
  return rc == db::kNoRecord ? 1 : rc;
}

}  // namespace

Settled settleLineAction(const pending::LineAction& a, bool tellFound) {
  const bool charge = a.kind == pending::LineAction::kCharge;
  int landed = 0;
  if (a.lineKnown) {
    landed = 1;
  } else if (charge) {
    landed = chargeLineLanded(a);
  } else {
    landed = deletedLineGone(a);
    // Marked but perhaps not packed away yet: packed when the folder
    // allows. Not noted (this disk cannot be written either): the next
    // deletion in that table packs it, and the line's stock is settled
    // either way, so the settling goes on.
    if (landed == 1) static_cast<void>(pending::addPack(a.table));
  }
  if (landed < 0) return Settled::kUnknown;
  if (landed == 0) {
    if (tellFound) {
      const std::string text =
          (charge ? GBK("未能确认的记帐“") : GBK("未能确认的删除“")) + a.name +
          (charge ? GBK("”已核实未记入，本次未记帐，库存未变动。") : GBK("”已核实未删除，该明细仍在，库存未变动。"));
      tell(text.c_str());
    }
    return Settled::kNotLanded;
  }
  const StockStep stock = stockStepOnce(a, true);
  if (stock.outcome == StockStep::Outcome::kFailed) {
    pending::noteLineKnown(a.op);
    db::setLastError(stock.code);
    return Settled::kStockWaits;
  }
  if (stock.outcome == StockStep::Outcome::kNoMatch) {
    const std::string text = GBK("补记库存时，药品目录中已没有“") + a.name + GBK("”，库存未变动。");
    tell(text.c_str());
  } else if (tellFound && !a.lineKnown) {
    const std::string text = (charge ? GBK("未能确认的记帐“") : GBK("未能确认的删除“")) + a.name +
                             (charge ? GBK("”已核实已记入，库存已相应扣减。") : GBK("”已核实已删除，库存已相应退回。"));
    tell(text.c_str());
  }
  return Settled::kDone;
}

int applyParked() {
  return pending::makeEach([](const pending::Parked& c) {
    using Kind = pending::Parked::Kind;
    using pending::Making;
    switch (c.kind) {
      case Kind::kAction: {
        const Settled settled = settleLineAction(c.action, true);
        // A stock step still waiting was noted as such by the settling.
        return settled == Settled::kStockWaits || settled == Settled::kUnknown ? Making::kWaits : Making::kMade;
      }
      case Kind::kPack:
        // Only a table of charge lines is packed: the name came from one.
        return useTable(c.name, chargeTable()).ok() && cmd::PackDatabase() ? Making::kMade : Making::kWaits;
      case Kind::kEntry: {
        // An append whose reply was lost may be there already: looked for
        // by its operation first.
        journal::OperationFound seen;
        const bool done = journal::prepare() == 0 &&
                          (c.entry.by.op.empty() || journal::findOperation(c.entry.by.op, "", 0, &seen) == 0) &&
                          (seen.found || journal::append(c.entry) == 0);
        return done ? Making::kMade : Making::kWaits;
      }
    }
    return Making::kWaits;
  });
}

namespace {

// The stock step right after the line's own: made, or left noted (with
// the line known) for applyParked, and the operator told.
void stockAfterLine(const pending::LineAction& a, const char* gbkDone, const char* gbkPending) {
  const StockStep step = stockStepOnce(a, false);
  if (step.outcome == StockStep::Outcome::kMade) {
    pending::finish(a.op);
    return;
  }
  if (step.outcome == StockStep::Outcome::kNoMatch) {
    pending::finish(a.op);
    const std::string text = GBK("药品目录中已没有") + quoted(a.name) + GBK("，库存未变动。");
    tell(text.c_str());
    return;
  }
  pending::noteLineKnown(a.op);
  tellFailure(gbkDone + quoted(a.name) + gbkPending, step.code,
              GBK("本机已记下这笔库存变动，共享文件夹恢复后将自动补上，无需手工更正。"));
}

}  // namespace

Charged chargeLine(const std::string& table, const std::string& prescription, const journal::Movement& why) {
  // The charge table current again afterwards, whatever the steps left.
  struct CurrentAgain {
    const std::string& table;
    // The window's next handler makes its charge table current by name
    // (useChargeTable) before it reads or writes: one that cannot be made
    // current here is told there.
    ~CurrentAgain() { static_cast<void>(cmd::SetCurrentDatabase(table)); }
  } again{table};
  const ChargeBeingRecorded& c = programValues().recorded;
  pending::LineAction a;
  a.kind = pending::LineAction::kCharge;
  a.op = journal::newOperationId();
  a.table = table;
  a.name = c.name;
  a.category = c.category;
  a.price = c.price;
  a.quantity = c.quantity;
  a.prescription = prescription;
  a.cashier = cashier();
  a.why = why;
  if (a.why.user.empty()) a.why.user = a.cashier;
  // Noted on this disk before anything is written to the folder.
  if (!pending::begin(a)) {
    std::string text = GBK("本机无法记下这笔记帐（本机磁盘不可写），为免记帐与库存不符，");
    text += nothingCharged();
    tell(text.c_str());
    return Charged::kNotWritten;
  }
  // The line, its serial noted as the append takes it.
  bool appended = false;
  const uint64_t uncertainBefore = db::uncertainWrites();
  {
    db::SerialWatch watch([&a](int32_t serial) {
      a.serial = serial;
      return pending::noteSerial(a.op, serial);
    });
    appended = appendCharge(prescription, false);
  }
  if (!appended) {
    const int code = db::lastError();
    // Failed, but a reply lost on the way may hide a line that landed:
    // the table says, once it can be read.
    const Settled settled = db::uncertainWrites() == uncertainBefore ? Settled::kNotLanded : settleLineAction(a, false);
    if (settled == Settled::kNotLanded) {
      pending::finish(a.op);
      tellFailure(GBK("记帐失败"), code, nothingCharged());
      return Charged::kNotWritten;
    }
    if (settled == Settled::kStockWaits) {
      tellFailure(GBK("已记帐，但药品") + quoted(a.name) + GBK("的库存暂未能扣减"), db::lastError(),
                  GBK("本机已记下这笔库存变动，共享文件夹恢复后将自动补上，无需手工更正。"));
      return Charged::kWritten;
    }
    if (settled == Settled::kUnknown) {
      tellFailure(
          GBK("记帐结果暂无法确认"), code,
          GBK("本机已记下这笔记帐，共享文件夹恢复后将自动核对：已记入的补扣库存，未记入的不记帐。请勿重复记帐。"));
      return Charged::kUnknown;
    }
    pending::finish(a.op);
    return Charged::kWritten;
  }
  // The stock follows the line.
  a.lineKnown = true;
  stockAfterLine(a, GBK("已记帐，但药品"), GBK("的库存暂未能扣减"));
  return Charged::kWritten;
}

namespace {

// Step 3 of deleteChosenLine: the deletion as an action, from the line read.
pending::LineAction deletionOf(const ReadRecord& line, const ChargeBeingDeleted& d, const std::string& table,
                               const journal::Movement& why) {
  pending::LineAction a;
  a.kind = pending::LineAction::kDeletion;
  a.op = journal::newOperationId();
  a.table = table;
  a.serial = line.serial();
  a.name = d.name;
  a.category = d.category;
  a.price = d.price;
  a.quantity = d.quantity;
  a.prescription = d.prescription;
  a.cashier = line.text("shf");
  a.why = why;
  if (a.why.reference.empty()) a.why.reference = d.prescription;
  if (a.why.user.empty()) a.why.user = cashier();
  return a;
}

// Step 5 of deleteChosenLine: a mark that failed (`held`). A mark whose
// reply was lost may have landed: the table says, once it can be read.
// Another workstation that changed or removed the line first is told as
// such; anything else with its cause.
Deletion settleFailedMark(int held, bool uncertain, const pending::LineAction& a, trail::Noted& trailed) {
  const Settled settled = held == db::kNoRecord || !uncertain ? Settled::kNotLanded : settleLineAction(a, false);
  if (settled == Settled::kStockWaits) {
    const int code = db::lastError();
    // Kept noted and told when it cannot be appended now.
    static_cast<void>(trailed.landed());
    tellFailure(GBK("已删除，但药品") + quoted(a.name) + GBK("的库存暂未能退回"), code,
                GBK("本机已记下这笔库存变动，共享文件夹恢复后将自动补上，无需手工更正。"));
    return Deletion::kDeleted;
  }
  if (settled == Settled::kUnknown) {
    tellFailure(GBK("删除结果暂无法确认"), held,
                GBK("本机已记下这次删除，共享文件夹恢复后将自动核对：已删除的退回库存，未删除的保留。请勿重复删除。"));
    return Deletion::kFailed;
  }
  pending::finish(a.op);
  if (settled == Settled::kDone) {
    // Kept noted and told when it cannot be appended now.
    static_cast<void>(trailed.landed());
    return Deletion::kDeleted;
  }
  trailed.dropped();
  db::setLastError(held);
  if (!toldChangedElsewhere()) tellFailure(GBK("删除失败"), held, nothingDeleted());
  return Deletion::kFailed;
}

// Step 6 of deleteChosenLine. The line is marked deleted: any later pack
// of the table (this workstation's pending one, another's, or the
// completion of this one) takes it away, so it is deleted and its stock
// comes back now. Until the pack it is still listed and counted, which
// the operator is told.
void packAfterMark(const std::string& table) {
  if (cmd::PackDatabase()) return;
  const int code = db::lastError();
  const bool noted = pending::addPack(table);
  tellFailure(GBK("该明细已标记删除，库存将退回；但收费表暂未能压缩"), code,
              noted ? GBK("本机已记下，共享文件夹恢复后将自动完成压缩；在此之前该明细仍显示在列表中并计入合计。")
                    : GBK("本机也未能记下，请在共享文件夹恢复后再删除一次任意一条明细以完成压缩；在此之前该明细仍显示在"
                          "列表中并计入合计。"));
}

}  // namespace

// Steps:
//   1. the chosen row's line, by its serial, as it is now;
//   2. the login's right to delete it, and the operator's yes;
//   3. its trail entry and the deletion noted on this disk, before the
//      line is touched;
//   4. marked deleted under the line's lock, checked again under it;
//   5. a mark that failed settled (it may have landed);
//   6. the table packed, or the pack noted for later;
//   7. the stock back.
Deletion deleteChosenLine(const forms::Control& usage, const std::string& table, const journal::Movement& why) {
  struct CurrentAgain {
    const std::string& table;
    // The window's next handler makes its charge table current by name
    // (useChargeTable) before it reads or writes: one that cannot be made
    // current here is told there.
    ~CurrentAgain() { static_cast<void>(cmd::SetCurrentDatabase(table)); }
  } again{table};
  // 1. One another workstation removed or changed since it was listed is
  //    not offered.
  ListedRecord row;
  if (!chosenListedRecord(usage, &row)) return Deletion::kKept;  // no line listed
  ReadRecord line;
  if (const int rc = readListedRecord(row, &line); rc != 0) {
    if (!toldChangedElsewhere()) tellFailure(GBK("收费明细无法读取"), rc, nothingDeleted());
    return Deletion::kFailed;
  }
  ChargeBeingDeleted d;
  d.quantity = wholeQuantity(line.number("shl"));
  d.price = float(line.number("dj"));
  d.name = line.text("mch");
  d.category = line.text("lb");
  d.prescription = line.text("cf");
  programValues().deleted = d;
  // 2. Refused: nothing is asked or written.
  const rt::Arg& day = line.value("shj");
  if (!rights::mayDeleteLine(table, rt::DateTime{day.kind == rt::kDateTime ? rt::doubleValue(day) : 0}, d.prescription))
    return Deletion::kKept;
  if (!confirm(GBK("你确定要删除吗？"))) return Deletion::kKept;
  // 3. The trail entry is written once the line is gone, whatever happens
  //    in between.
  trail::Noted trailed;
  if (!trailed.begin({trail::lineDeleted(), table, line.serial(), trail::joined(trail::recordValues(line)), "", ""},
                     trail::Landing::kGone)) {
    std::string text = GBK("本机无法记下这次删除的操作记录（本机磁盘不可写），");
    text += nothingDeleted();
    tell(text.c_str());
    return Deletion::kFailed;
  }
  pending::LineAction a = deletionOf(line, d, table, why);
  if (!pending::begin(a)) {
    trailed.dropped();
    std::string text = GBK("本机无法记下这次删除（本机磁盘不可写），为免明细与库存不符，");
    text += nothingDeleted();
    tell(text.c_str());
    return Deletion::kFailed;
  }
  // 4. What is deleted is the line confirmed.
  const uint64_t uncertainBefore = db::uncertainWrites();
  const int held = db::holdCurrentRecord([&] {
    ReadRecord now;
    if (const int rc = readListedRecord(row, &now); rc != 0) return rc;
    return cmd::DeleteRecords() ? 0 : db::lastErrorOr(db::kRecordWriteFailed);
  });
  // Settling makes each table it needs current by name, and CurrentAgain
  // ends with the charge table current.
  static_cast<void>(cmd::SetCurrentDatabase(table));
  // 5.
  if (held != 0) return settleFailedMark(held, db::uncertainWrites() != uncertainBefore, a, trailed);
  // Marked: the line is deleted, and its entry written before anything
  // more is done or said. The entry's append makes the trail current.
  // Kept noted and told when it cannot be appended now.
  static_cast<void>(trailed.landed());
  static_cast<void>(cmd::SetCurrentDatabase(table));
  // 6.
  packAfterMark(table);
  // 7.
  a.lineKnown = true;
  stockAfterLine(a, GBK("已删除，但药品"), GBK("的库存暂未能退回"));
  return Deletion::kDeleted;
}

}  // namespace app
