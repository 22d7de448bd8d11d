// What the three reports of the report window share: where a report is
// drawn (the draw panel or the printer), how a figure is held and written,
// how a period table is read, and the four cases a report draws, one of
// them picked by which of its two period tables could be read.
//
// A report is built from a first and a second period table. Both are read
// first (opened, made current, every figure summed); then the panel is
// drawn, or the print job opened and the page drawn: the frame, and the
// rows of the case.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "app/tables.h"
#include "forms/windows_rt.h"
#include "runtime/facade.h"

namespace app::report {

// --- figures -----------------------------------------------------------------------

// A report figure as it is held and written: a single-precision figure
// (a sum as the float it is stored in, written with six significant
// digits), a whole number (written in decimal), or a combined figure (the
// sum of held figures computed in double, written with the double rule, so
// the single-precision rounding of its parts shows in the last digits).
class Figure {
 public:
  Figure() = default;  // a single-precision 0
  static Figure single(double sum);
  // Truncated toward zero; beyond the range of a whole number it stops at
  // the nearest end instead of wrapping.
  static Figure whole(double sum);
  // Added in double, in the order given.
  static Figure combined(std::initializer_list<Figure> parts);
  static Figure sumOf(std::span<const Figure> parts);

  double value() const;
  rt::Arg arg() const;
  // As the report shows it: an amount of money, to the fen.
  std::string text() const;

 private:
  enum Kind { kSingle, kWhole, kCombined };
  Kind kind_ = kSingle;
  float single_ = 0;
  int32_t whole_ = 0;
  double combined_ = 0;
};

// --- where a report is drawn --------------------------------------------------------

enum class Where { kPanel, kPaper };

// The report window's draw panel `画板1` or its printer `打印机1`; the same
// drawing steps serve both, in panel pixels or in the printer's 0.1 mm.
class Sheet {
 public:
  explicit Sheet(Where where);
  bool onPaper() const { return where_ == Where::kPaper; }

  // Panel: clears it. Paper: nothing (a new job starts on a blank page).
  void clear() const;
  // Paper: BeginPrinting on A4, landscape, the rest omitted; false when the
  // print dialog was cancelled or the job could not be opened. Panel: true.
  bool begin() const;
  // Paper: EndPrinting.
  void end() const;

  // The font size in points for the texts that follow.
  void font(int points) const;
  void text(int x, int y, const char* gbk) const;
  void text(int x, int y, const std::string& gbk) const { text(x, y, gbk.c_str()); }
  // The text at (x, y) in the current font size, made to end before
  // `right`: drawn smaller down to the floor of the panel or the paper,
  // then cut at a whole character (fitText). The font size stays.
  // `left` is where the cell begins: a text too wide for the floor may
  // move left up to there before it is cut.
  void fitted(int x, int y, int left, int right, const std::string& gbk) const;
  void line(int x1, int y1, int x2, int y2) const;

 private:
  Where where_;
  forms::Control control_;
  mutable int points_ = 9;
};

// Where the figures of a row go: figure i at xs[i], inside its cell from
// lefts[i] to rights[i] (a little inside the rules around it).
struct Columns {
  std::span<const int> xs, lefts, rights;
};

// Writes one row of figures at y.
void drawRow(const Sheet& sheet, const Columns& columns, int y, std::span<const Figure> row);

// --- period tables ------------------------------------------------------------------

// Sums over the period table being read (the current database), each the
// sum SumRecords gives over all its records. The figures a report needs
// from one table come from one reading of it (on a shared folder every
// pass over a table crosses the network): the report's reading step runs
// twice, first only naming the sums it needs (each call answers 0), then,
// after one pass over the table has computed them all, taking them in the
// same order. Each sum is added up in double in stored order, as
// SumRecords adds it. Remembers the engine failure of the pass (a lock it
// could not wait out, a damaged record), so that a table that could not be
// read whole is not drawn as figures of nothing.
class Sums {
 public:
  // The field summed over every record.
  double of(const char* gbkField);
  // Over the records whose text field equals `value` byte for byte.
  double where(const char* gbkField, const char* gbkTextField, const std::string& value);
  // Over the records whose text field starts with `prefix` byte for byte
  // (a shorter text does not); a record whose field is not a text stops
  // the program, as reading it with ReadText does.
  double whereStarts(const char* gbkField, const char* gbkTextField, const std::string& prefix);
  // Over the records for which `keep` (run with the record being summed
  // current) is true.
  double when(const char* gbkField, const std::function<bool()>& keep);

  // The one pass over the current table that computes every sum named;
  // afterwards the calls answer the sums, in the order they were named.
  void readAll();

  int failure() const { return failure_; }

 private:
  struct Wanted {
    std::string field;
    std::string textField, value;  // where(), whereStarts()
    bool prefix = false;           // whereStarts()
    std::function<bool()> keep;    // when()
    double sum = 0;
  };
  double next(Wanted w);
  std::vector<Wanted> wanted_;
  bool read_ = false;
  size_t taken_ = 0;
  int failure_ = 0;
};

// Opens a period table under its name (one opened earlier in the run is
// used as it is) and makes it current. 0, or the engine code of the step
// that failed.
int openPeriodTable(const std::string& name);

// A period table that exists but could not be read (the engine's code),
// for a caller that names such tables itself instead of a message box per
// table.
struct Unreadable {
  std::string table;  // bare name
  int code = 0;
};
using UnreadableTables = std::vector<Unreadable>;

// Reads a period table for a report: when its file exists, opens it read
// only (one open already is used as it is; one opened here is closed
// after), makes it current and runs `read` on it. Nothing is ever written. True when
// the figures were read. A file that is missing is simply not there (the
// report draws the case without it). A file that exists but cannot be
// opened or read whole (damaged, locked by a pack at another workstation)
// is counted as missing too, and the user is told which table it is with
// the engine's text: the figures must never be summed from whatever other
// table happens to be current.
// With `quiet`, such a table is added there instead of told.
bool readPeriodTable(const std::string& name, const std::function<void(Sums&)>& read,
                     UnreadableTables* quiet = nullptr);

// --- the four cases -------------------------------------------------------------------

// Which of its two period tables a report draws rows from.
enum class Case { kBoth, kNeither, kFirstOnly, kSecondOnly };
Case chooseCase(bool firstRead, bool secondRead);

// One report: its two period tables (bare names), how the figures of each
// are read while it is current, its frame, and the rows of a case.
struct Plan {
  std::string first, second;
  std::function<void(Sums&)> readFirst, readSecond;
  std::function<void(const Sheet&)> frame;
  std::function<void(const Sheet&, Case)> rows;
};

// Reads both tables of a plan (readFirst and readSecond run on the tables
// that could be read) and picks the case from what was read. Unreadable
// tables are told, or added to `quiet`.
Case readTables(const Plan& plan, UnreadableTables* quiet = nullptr);

// Produces a report: clears the panel (for the panel), reads both tables
// (readTables), and draws the frame and the case's rows, on paper inside
// one print job on A4 landscape. A print dialog that is cancelled leaves
// nothing printed and says nothing.
void produce(const Plan& plan, Where where);

// --- the business reports' figures --------------------------------------------------

// The thirteen value columns of the monthly and yearly business report:
// 西成 (西药 with 中成), then one category each (草药 ... 其他), 合计 last.
constexpr int kBusinessColumns = 13;
using BusinessRow = std::array<Figure, kBusinessColumns>;
// A column's heading, "西成" ... "其他", "合计" (UTF-8).
const char* businessColumnName(int column);

// The takings of one period table: one figure per charge category (in the
// fixed order of kCategories) and the total.
struct Takings {
  std::array<Figure, kCategoryCount> category;
  Figure total;
};

// A business report's two tables as read: the outpatient (first) and the
// inpatient (second) takings, and the case that what was read gives.
struct BusinessTakings {
  std::string first, second;  // the tables' bare names
  Case which = Case::kNeither;
  Takings outpatient, inpatient;

  // The 合计 row as the report draws it: both rows added, or the row of
  // the one table read; all zero when neither was read.
  BusinessRow sumRow() const;
  // 冷暖, 接生, 婴儿 and 医疗, which have no column and reach only 合计,
  // taken together as the 合计 row takes them.
  Figure otherChargesSum() const;
};

// The figures of the monthly business report of the month of `when` (the
// month's outpatient charges, the ward's bills of that month) and of the
// yearly one of its year (the year's outpatient and inpatient bills),
// read exactly as the reports read them.
BusinessTakings monthlyTakings(rt::DateTime when, UnreadableTables* quiet = nullptr);
BusinessTakings yearlyTakings(rt::DateTime when, UnreadableTables* quiet = nullptr);

// --- the internal report's figures --------------------------------------------------

constexpr int kDoctors = 7;
constexpr int kDoctorColumns = kDoctors + 1;  // the seven doctors and 合计
using DoctorRow = std::array<Figure, kDoctorColumns>;
// The k-th doctor's heading name, "医师甲" ... "医师庚" (UTF-8).
const char* doctorName(int k);

// One table's figures per doctor: the regular service row and the
// featured (特色) row.
struct DoctorTakings {
  DoctorRow regular, featured;
};

// The internal report's two tables as read.
struct DoctorReading {
  std::string first, second;  // the tables' bare names
  Case which = Case::kNeither;
  DoctorTakings outpatient, inpatient;

  // The 总计 row as the report draws it in this case.
  DoctorRow grandTotal() const;
};

// The figures of the internal report: outpatient figures of the month of
// `outpatientMonth`, inpatient ones of the month of `inpatientMonth`,
// read exactly as the report reads them.
DoctorReading doctorTakings(rt::DateTime outpatientMonth, rt::DateTime inpatientMonth,
                            UnreadableTables* quiet = nullptr);

// --- the reports ------------------------------------------------------------------------

// The monthly business report of the month in `日期框1`.
void monthlyReport(Where where);
// The yearly business report of the year in `日期框2`.
void yearlyReport(Where where);
// The internal report per doctor: outpatient figures and titles of the
// month in `日期框1`, inpatient figures of the month in `日期框3`.
void internalReport(Where where);

// The date chosen in a date picker of the report window (stored name,
// UTF-8).
rt::DateTime chosenDate(const char* utf8Picker);

}  // namespace app::report
