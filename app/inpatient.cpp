#include "app/inpatient.h"

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "app/fitted_text.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/shown_record.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "print/facade.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;
constexpr ModuleWindow kWin(ids::kInpatientWindow);
constexpr ModuleWindow kRange(ids::kPrintRangeWindow);
const std::string kRegister = kInpatientsName;

// The register current (created, when the window opens, if the folder has
// none): 0 or the engine's code.
int useRegister(bool createWhenMissing = false) {
  const TableUse use =
      useTable(kRegister, {.def = &kInpatients, .checkLayout = false, .createWhenMissing = createWhenMissing});
  return use.ok() ? 0 : use.code;
}

// A date-time on a scale that orders every date-time by time: clamped to
// 100-01-01 .. 9999-12-31 first; before the epoch the whole part counts
// days back but the fraction still counts forward (-1.25 is 1899-12-29
// 06:00), so such a value d with whole part w becomes 2w - d.
double linearDate(rt::DateTime d) {
  const double v = std::clamp(d.days, rt::kNoDate, rt::kMaxDate);
  if (v >= 0) return v;
  return 2 * std::trunc(v) - v;
}

// --- the eleven boxes ---------------------------------------------------------------

// One admission as typed, in stored field order, converted as it is stored:
// age and prepayment as numbers (the integer fields cut them), the
// admission time as a date-time.
struct Admission {
  std::string xm, xb;
  double nl;
  std::string zh;
  cmd::DateTime sj;
  std::string bz, zyh, ks, cwh, ys;
  double yfk;
};

Admission readBoxes() {
  Admission a;
  a.xm = kWin.text("编辑框1");
  a.xb = kWin.text("组合框1");
  a.nl = kWin.number("编辑框2");
  a.zh = kWin.text("编辑框12");
  a.sj = cmd::ToDateTime(kWin.text("编辑框3"));
  a.bz = kWin.text("编辑框4");
  a.zyh = kWin.text("编辑框5");
  a.ks = kWin.text("编辑框6");
  a.cwh = kWin.text("编辑框7");
  a.ys = kWin.text("编辑框8");
  a.yfk = kWin.number("编辑框9");
  return a;
}

// AppendRecord or ModifyRecord with the eleven values in field order.
template <typename Command>
bool writeAdmission(Command command, const Admission& a) {
  return command(a.xm, a.xb, a.nl, a.zh, a.sj, a.bz, a.zyh, a.ks, a.cwh, a.ys, a.yfk);
}
bool appendAdmission(const Admission& a) {
  return writeAdmission([](const auto&... v) { return cmd::AppendRecord(v...); }, a);
}

// The eleven boxes, in the order a record is shown: texts as stored, age,
// prepayment and admission time as ToText shows them.
const std::vector<BoxField> kBoxes = {
    {"xm", "编辑框1", Shown::kText, "姓名"},      {"xb", "组合框1", Shown::kText, "性别"},
    {"nl", "编辑框2", Shown::kNumber, "年龄"},    {"sj", "编辑框3", Shown::kDate, "住院时间"},
    {"bz", "编辑框4", Shown::kText, "病种"},      {"zyh", "编辑框5", Shown::kText, "住院号"},
    {"ks", "编辑框6", Shown::kText, "科室"},      {"cwh", "编辑框7", Shown::kText, "床位号"},
    {"ys", "编辑框8", Shown::kText, "主治医师"},  {"yfk", "编辑框9", Shown::kNumber, "预付款"},
    {"zh", "编辑框12", Shown::kText, "医保证号"},
};

// The patient brought up: the one 修改 and 删除 act on.
ShownRecord& shown() {
  static ShownRecord record(kWin, kBoxes);
  return record;
}

void clearBoxes() { shown().clear(); }

// Why a patient could not be brought up or acted on: another workstation
// changed or removed him, or he could not be read. No patient is brought
// up afterwards.
void tellNotShown(int code) {
  db::setLastError(code);
  shown().forget();
  if (!toldChangedElsewhere()) tellFailure(GBK("住院信息无法读取"), code, GBK("未显示任何患者。"));
}

// The current record into the boxes, read whole; one that could not be
// read is told and nobody is brought up.
bool showCurrentRecord() {
  const int rc = shown().showCurrent();
  if (rc != 0) tellNotShown(rc);
  return rc == 0;
}

// --- shared steps -------------------------------------------------------------------

// After every add, modify and delete: one reading of the register gives
// the list, the number of admissions and the sum of the prepayments. The
// refresh leaves no record current, so a modify or delete without a
// patient brought up fails. A register that could not be read whole is
// named and the window keeps what it showed.
int refresh() {
  // Refreshed: nobody is brought up any more (the boxes keep their text).
  shown().forget();
  double prepaid = 0;
  int listed = 0;
  const int rc = refreshList(
      kWin.control("超级列表框1"), GBK("住院信息文件 zyjbxx.kdb"),
      [&] {
        rt::Result yfk = cmd::ReadField("yfk");
        double v = 0;
        if (!rt::numericValue(yfk.arg(), &v)) rt::raiseRuntimeError(11);
        prepaid += v;
      },
      &listed);
  if (rc != 0) return rc;
  kWin.setText("编辑框10", cmd::ToText(int32_t(listed)));
  kWin.setText("编辑框11", cmd::MoneyText(prepaid));
  return 0;
}

// The register current with the same record it had: the handlers that act
// on the patient brought up make it current by name first, because another
// window may have made its own table current since.
bool selectRegister() { return cmd::SetCurrentDatabase(kRegister); }

// Add and modify refuse a number that cannot name the patient's charge
// table exactly (a path, a pattern, an extension, one too long for the
// register, or the name of one of the program's own tables): his charges
// would go into another file, or into one the next query does not find.
bool refuseUnusableNumber(const std::string& zyh) {
  if (usablePatientNumber(zyh)) return false;
  tell(unusablePatientNumberText(zyh).c_str());
  return true;
}

// --- handlers -----------------------------------------------------------------------

void openWindow() {
  // A register that exists but cannot be opened (damaged, or held by
  // another workstation) is reported and never listed: the list would
  // otherwise show whatever table is current.
  if (const int code = useRegister(true); code != 0) {
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法打开"), code, "");
    return;
  }
  refresh();
}

void findPatient() {
  if (const int code = useRegister(); code != 0) {
    shown().forget();
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法打开"), code, "");
    return;
  }
  bool searchFailed = false;
  const int found = shown().findAndShow("zyh", kWin.text("编辑框5"), &searchFailed);
  if (found == 1) return;
  if (found < 0) {
    // Not read is not "not there": the boxes stay for another try.
    if (searchFailed) {
      tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法读取"), found, GBK("未能查找，请稍后再试。"));
      moveAfterLast();
    } else {
      tellNotShown(found);
    }
    return;
  }
  tell(GBK("该记录不存在。"));
  clearBoxes();
  // The search leaves the first record current; a modify or delete pressed
  // now must not overwrite or remove that patient, whom nobody chose.
  moveAfterLast();
}

// What the operator typed stays in the boxes until it is written.
const char* typedKept() { return GBK("输入的内容未清除，请稍后再试。"); }

void addPatient() {
  const Admission typed = readBoxes();
  if (refuseUnusableNumber(typed.zyh)) return;
  // Without the register current the record would go into another
  // window's table.
  if (const int code = useRegister(); code != 0) {
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法打开"), code, typedKept());
    return;
  }
  // Searched, and appended when not there, while the register's count is
  // held: another workstation registering the same number at the same
  // moment comes before or after, never beside it with a second record.
  int found = 0;
  bool appended = false;
  const int held = db::holdHeader([&] {
    found = searchText("zyh", typed.zyh);
    if (found != 0) return found < 0 ? found : 0;
    appended = appendAdmission(typed);
    return appended ? 0 : db::lastErrorOr(db::kRecordWriteFailed);
  });
  selectRegister();
  if (found < 0) {
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法读取，未登记"), held, typedKept());
    return;
  }
  if (held != 0) {
    tellFailure(GBK("登记失败"), held, typedKept());
    refresh();
    return;
  }
  if (found == 1) tell(GBK("该住院号已经存在，请直接进入药品支出模块。"));
  refresh();
  clearBoxes();
}

// What a modify found under the record's lock.
constexpr int kChangedHereAndThere = 1;  // a field changed here was changed elsewhere too

// 修改: the patient brought up, by his serial, with only the fields whose
// box the operator changed, each checked under the record's lock against
// what it was shown with: another workstation's change of the same field is
// never written over.
void modifyPatient() {
  const Admission typed = readBoxes();
  if (refuseUnusableNumber(typed.zyh)) return;
  if (!selectRegister()) {
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法打开"), db::lastError(), typedKept());
    return;
  }
  ShownRecord& s = shown();
  // No patient brought up (after a refresh or a failed find or read):
  // nothing is written, as it always was.
  if (s.shown()) {
    std::vector<size_t> clashes;
    s.moveTo();
    const int held = db::holdCurrentRecord([&] {
      ReadRecord stored;
      if (const int rc = stored.read(); rc != 0) return rc;
      std::deque<std::string> keep;
      std::vector<std::pair<std::string, rt::Arg>> pairs;
      for (size_t i = 0; i < s.boxes().size(); ++i) {
        if (!s.changed(i)) continue;
        if (!s.unchangedSince(i, stored)) clashes.push_back(i);
        pairs.emplace_back(s.boxes()[i].field, s.typed(i, &keep));
      }
      if (!clashes.empty()) return kChangedHereAndThere;
      if (pairs.empty() || replaceCurrentFields(pairs)) return 0;
      return db::lastErrorOr(db::kRecordWriteFailed);
    });
    if (held == kChangedHereAndThere) {
      s.forget();
      const std::string text =
          s.labels(clashes) + GBK("已被其他工作站改动，本次未修改。请重新选择该患者，核对后再修改。");
      tell(text.c_str());
      selectRegister();
      refresh();
      return;
    }
    if (held == db::kNoRecord) {
      tellNotShown(held);
    } else if (held != 0) {
      // Anything else is told and what was typed stays.
      tellFailure(GBK("修改失败"), held, typedKept());
      return;
    }
  }
  selectRegister();
  refresh();
  clearBoxes();
}

// 删除: the patient brought up, by his serial, once confirmed, when he is
// still as the operator saw him.
void deletePatient() {
  if (!confirm(GBK("你确定要删除此条记录吗？"))) return;
  if (!selectRegister()) return;
  ShownRecord& s = shown();
  if (s.shown()) {
    s.moveTo();
    const int held = db::holdCurrentRecord([&] {
      ReadRecord stored;
      if (const int rc = stored.read(); rc != 0) return rc;
      for (size_t i = 0; i < s.boxes().size(); ++i)
        if (!s.unchangedSince(i, stored)) return int(db::kNoRecord);
      return cmd::DeleteRecords() ? 0 : db::lastErrorOr(db::kRecordWriteFailed);
    });
    selectRegister();
    // Marked and packed at once: no deleted admission stays in the file.
    if (held == 0) {
      if (!cmd::PackDatabase())
        tellFailure(GBK("该住院记录已标记删除，但住院信息文件未能压缩"), db::lastError(),
                    GBK("下一次删除时将一并压缩。"));
    } else if (held == db::kNoRecord) {
      tellNotShown(held);
    } else {
      tellFailure(GBK("删除失败"), held, GBK("未删除任何记录。"));
    }
  }
  selectRegister();
  refresh();
}

// The patient of the chosen row (no row chosen: the top one), found by the
// serial its row keeps, read whole and brought up.
void showChosenPatient() {
  if (!selectRegister()) return;
  ListedRecord row;
  if (!chosenListedRecord(kWin.control("超级列表框1"), &row)) return;  // nothing listed to show
  // Fails only without a current table, which the read below then tells.
  static_cast<void>(db::moveToRecord(row.serial, row.position));
  showCurrentRecord();
}

void clockTick() { showClock(kWin.control("标签14")); }
void ageLeft() { kWin.focus("编辑框12"); }
void insuranceLeft() { kWin.focus("编辑框3"); }
void openPrintRange() { cmd::LoadWindow(kRange.arg(), rt::Arg{}, true); }
void closeWindow() { kWin.close(); }

// --- the printed inpatient list -------------------------------------------------------

// Row positions: row k of a page (from 1) at 470 + 50k; the closing line
// 80 and the print time 110 below the last row.
constexpr int kRowPitch = 50;
constexpr int kFirstRow = 470;

// The rules run from 200 to 2700: wider than A4 portrait (2100), so the
// list is printed on A4 landscape, its columns wide enough for what the
// register holds (a date-time to the minute, a five-character department).
constexpr int kRuleRight = 2700;
constexpr int kPortraitWidth = 2100;
constexpr int kColumnGap = 10;
// Each page's number, "第 k 页 共 n 页", at the top right.
constexpr int kPageNumberX = 2350;
constexpr int kPageNumberY = 320;

// The fields of a printed row, in stored order, at their x positions, and
// each column's heading.
struct Column {
  const char* field;
  int x;
  const char* heading;  // UTF-8
};
constexpr Column kColumns[] = {
    {"xm", 200, "姓名"},     {"xb", 340, "性别"},      {"nl", 420, "年龄"},     {"zh", 510, "医保证号"},
    {"sj", 730, "住院时间"}, {"bz", 1120, "病种"},     {"zyh", 1810, "住院号"}, {"ks", 2000, "科室"},
    {"cwh", 2200, "床位号"}, {"ys", 2320, "主治医师"}, {"yfk", 2480, "预付款"},
};

void printHeadings(const rt::Arg& p) {
  static const std::vector<std::string> headings = [] {
    std::vector<std::string> gbk;
    for (const Column& c : kColumns) gbk.push_back(rt::utf8ToGbk(c.heading));
    return gbk;
  }();
  for (size_t i = 0; i < std::size(kColumns); ++i) cmd::PrintTextAt(p, kColumns[i].x, 400, headings[i]);
  cmd::DrawLine(p, 200, 450, kRuleRight, 450);
}

// Each field inside its column: one wider than the column is drawn smaller,
// then cut, rather than over the next one.
void printRow(const rt::Arg& p, int y, const std::vector<std::string>& row) {
  for (size_t i = 0; i < std::size(kColumns) && i < row.size(); ++i) {
    const int right = i + 1 < std::size(kColumns) ? kColumns[i + 1].x - kColumnGap : kRuleRight;
    printFitted(p, kColumns[i].x, y, right, row[i], 10);
  }
}

// The admissions of the range, each row its eleven fields as text, in
// stored order.
using ListedRows = std::vector<std::vector<std::string>>;

// Where the rows go: how many on each page, so that every page can say
// how many there are before the first is printed. A page holds the rows
// whose next pitch still ends above `bottom`; the closing line and the
// print time follow the last row, on a page of their own when they would
// not fit. A `bottom` of 0 (no job open) puts everything on one page.
std::vector<int> rowsPerPage(size_t rows, int bottom) {
  auto fits = [bottom](int rowsAbove, int below) {
    return bottom <= 0 || kFirstRow + kRowPitch * rowsAbove + below + kRowPitch <= bottom;
  };
  std::vector<int> pages{0};
  for (size_t r = 0; r < rows; ++r) {
    if (pages.back() > 0 && !fits(pages.back() + 1, 0)) pages.push_back(0);
    ++pages.back();
  }
  if (pages.back() > 0 && !fits(pages.back(), 110)) pages.push_back(0);
  return pages;
}

// The list: the title on the first page, the headings and their line and
// the page's number on every page, then the rows laid out by rowsPerPage.
void printList(const rt::Arg& p, const ListedRows& rows) {
  const std::vector<int> pages = rowsPerPage(rows.size(), cmd::PrintableHeight(p));
  const int count = int(pages.size());
  auto top = [&p, count](int page) {
    cmd::SetPrinterFontSize(p, 10);
    printHeadings(p);
    cmd::PrintTextAt(p, kPageNumberX, kPageNumberY,
                     GBK("第 ") + std::to_string(page) + GBK(" 页 共 ") + std::to_string(count) + GBK(" 页"));
  };
  cmd::SetPrinterFontSize(p, 16);
  cmd::PrintTextAt(p, 1250, 300, GBK("住院病人一览表"));
  top(1);
  size_t next = 0;
  for (int page = 1; page <= count; ++page) {
    if (page > 1) {
      cmd::NewPage(p);
      top(page);
    }
    for (int k = 1; k <= pages[size_t(page - 1)]; ++k) printRow(p, kFirstRow + kRowPitch * k, rows[next++]);
  }
  const int last = kFirstRow + kRowPitch * pages.back();
  cmd::DrawLine(p, 200, last + 80, kRuleRight, last + 80);
  cmd::PrintTextAt(p, 1300, last + 110, GBK("打印时间："), cmd::Now());
}

// The admission time of the record being examined; a register whose `sj`
// is not a date-time is a damaged one, and the program stops.
double admissionOrder() {
  rt::Result sj = cmd::ReadField("sj");
  if (sj.kind() != rt::kDateTime) rt::raiseRuntimeError(5);
  return linearDate({sj.real()});
}

void printInpatientList() {
  const double start = linearDate(cmd::ToDateTime(kRange.text("编辑框1")));
  const double end = linearDate(cmd::ToDateTime(kRange.text("编辑框2")));
  // Without the register current the rows would be of another table.
  if (const int code = useRegister(); code != 0) {
    tellFailure(GBK("住院信息文件 zyjbxx.kdb 无法打开"), code, GBK("未打印。"));
    kRange.close();
    return;
  }
  // The range's admissions, read in one pass and kept here: the list is
  // this workstation's own, whatever another prints at the same time.
  ListedRows rows;
  const int rc = db::forEachRecord([&rows, start, end] {
    const double t = admissionOrder();
    if (t < start || t > end) return;
    std::vector<std::string> row;
    for (const Column& c : kColumns) {
      rt::Result value = cmd::ReadField(c.field);
      // The prepayment is an amount of money.
      row.push_back(std::string_view(c.field) == "yfk" ? cmd::MoneyText(value.arg()) : cmd::ToText(value.arg()));
    }
    rows.push_back(std::move(row));
  });
  // No patient is brought up after printing.
  moveAfterLast();
  if (rc != db::kOk) {
    std::string text = GBK("住院信息文件 zyjbxx.kdb 无法读取：");
    text += causeText(rc);
    text += GBK("。未打印。");
    tell(text.c_str());
    kRange.close();
    return;
  }
  const rt::Arg printer = kRange.control("打印机1").arg();
  cmd::BeginPrinting(printer, rt::omitted, rt::omitted, 2, kRuleRight > kPortraitWidth ? 1 : 0, rt::omitted,
                     rt::omitted);
  printList(printer, rows);
  cmd::EndPrinting(printer);
  kRange.close();
}

void cancelPrint() { kRange.close(); }

}  // namespace

void setInpatientHandlers(std::vector<forms::Handler>& table) {
  namespace i = ids::inpatient;
  if (table.size() < size_t(i::kHandlerCount)) table.resize(size_t(i::kHandlerCount), nullptr);
  table[i::kCreated] = openWindow;
  table[i::kInsuranceLeft] = insuranceLeft;
  table[i::kOpenPrintRange] = openPrintRange;
  table[i::kClockTick] = clockTick;
  table[i::kShowPatient] = showChosenPatient;
  table[i::kClose] = closeWindow;
  table[i::kDelete] = deletePatient;
  table[i::kModify] = modifyPatient;
  table[i::kFind] = findPatient;
  table[i::kAdd] = addPatient;
  table[i::kAgeLeft] = ageLeft;
}

void setPrintRangeHandlers(std::vector<forms::Handler>& table) {
  namespace r = ids::printRange;
  if (table.size() < size_t(r::kHandlerCount)) table.resize(size_t(r::kHandlerCount), nullptr);
  table[r::kPrint] = printInpatientList;
  table[r::kCancel] = cancelPrint;
}

}  // namespace app
