// The figures of the three reports of the report window, without the
// window: how a figure is held and written, how a period table is read,
// the four cases a report draws, one of them picked by which of its two
// period tables could be read, and the rows of each report's case. The
// window draws these rows on its panel or on paper (app/report/sheet.h);
// clinic-report prints the same rows as a table, and the chart window
// (app/report/chart.h) charts them.
//
// A report is built from a first and a second period table. Both are read
// first (opened, made current, every figure summed); then the rows of the
// case are formed from what was read. Period tables are named by bare
// name, relative to the working directory (the centre folder).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "runtime/facade.h"

namespace app::report {

// --- figures -----------------------------------------------------------------------

// A report figure as it is held and written: an amount of money, held in
// fen (a sum of stored amounts, each taken to its nearest fen, so a total
// is exactly the sum of what it totals), or a whole number (written in
// decimal; the internal report's featured total cut to whole yuan).
class Figure {
 public:
  Figure() = default;  // no money
  // A sum of money: its nearest fen.
  static Figure single(double sum);
  static Figure ofFen(int64_t fen);
  // Truncated toward zero; beyond the range of a whole number it stops at
  // the nearest end instead of wrapping.
  static Figure whole(double sum);
  // Added in fen, exactly.
  static Figure combined(std::initializer_list<Figure> parts);
  static Figure sumOf(std::span<const Figure> parts);

  double value() const;
  int64_t fen() const;
  rt::Arg arg() const;
  // As the report shows it: an amount of money, to the fen.
  std::string text() const;

 private:
  enum Kind { kMoney, kWhole };
  Kind kind_ = kMoney;
  int64_t fen_ = 0;
  int32_t whole_ = 0;
};

// --- period tables ------------------------------------------------------------------

// Sums over the period table being read (the current database), each the
// sum SumRecords gives over all its records. The figures a report needs
// from one table come from one reading of it (on a shared folder every
// pass over a table crosses the network): the report's reading step runs
// twice, first only naming the sums it needs (each call answers 0), then,
// after one pass over the table has computed them all, taking them in the
// same order. Each sum adds the nearest fen of every value (the fields
// summed are money), so it is exact whatever the order. Remembers the engine failure of the pass (a lock it
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
  // current) is true; `condition` says what it keeps ("month 3"), so that
  // figures kept on the workstation's disk (kept_figures.h) are told apart.
  double when(const char* gbkField, const std::string& condition, const std::function<bool()>& keep);

  // The one pass over the current table that computes every sum named;
  // afterwards the calls answer the sums, in the order they were named.
  void readAll();

  // The sums named, as one text: the same text names the same figures of
  // a table in the same state.
  std::string signature() const;
  // The sums computed, in fen, in the order named.
  std::vector<int64_t> fens() const;
  // Instead of readAll: the sums as kept from an earlier reading of the
  // same signature (one figure a sum named).
  void takeKept(const std::vector<int64_t>& fens);

  int failure() const { return failure_; }

 private:
  struct Wanted {
    std::string field;
    std::string textField, value;  // where(), whereStarts()
    bool prefix = false;           // whereStarts()
    std::function<bool()> keep;    // when()
    std::string condition;         // when(): what keep() keeps
    int64_t fen = 0;
  };
  double next(Wanted w);
  std::vector<Wanted> wanted_;
  bool read_ = false;
  size_t taken_ = 0;
  int failure_ = 0;
};

// A period table that exists but could not be read: its bare name and
// the engine's code.
struct Unreadable {
  std::string table;
  int code = 0;
};

// Reads a period table for a report: when its file exists, opens it read
// only (one open already is used as it is; one opened here is closed
// after, or by the ReadingRound, kept_figures.h), makes it current
// and runs `read` on it. Nothing is ever written to the folder. Where
// figures are kept on the workstation (kept_figures.h), a table in the
// state its figures were kept for is not read at all.
// True when the figures were read. A file that is missing is simply not
// there (the report draws the case without it). A file that exists but
// cannot be opened or read whole (damaged, locked by a pack at another
// workstation), or a folder that cannot be looked into, is counted as
// missing too and added to `unreadable` with the engine's code: the
// figures must never be summed from whatever other table happens to be
// current.
[[nodiscard]] bool readPeriodTable(const std::string& name, const std::function<void(Sums&)>& read,
                                   std::vector<Unreadable>* unreadable);

// --- the four cases -------------------------------------------------------------------

// Which of its two period tables a report draws rows from.
enum class Case { kBoth, kNeither, kFirstOnly, kSecondOnly };
Case chooseCase(bool firstRead, bool secondRead);

// --- the reports ------------------------------------------------------------------------

enum class Report { kMonthly, kYearly, kDoctor };

// The figures of a row: the business reports' thirteen columns (西成 ...
// 其他, 合计 last), the internal report's seven doctors and their 合计.
constexpr int kBusinessColumns = 13;
constexpr int kDoctors = 7;
constexpr int kDoctorColumns = kDoctors + 1;

// The places of the rows (FilledRow::place, an index into the report's
// row labels): the business reports' and the internal report's.
enum BusinessPlace : int { kOutpatientRow, kInpatientRow, kSumRow };
enum DoctorPlace : int {
  kOutpatient,
  kInpatient,
  kSum,
  kFeaturedOutpatient,
  kFeaturedInpatient,
  kFeaturedSum,
  kGrandTotal,
};

// One filled row of a report: its place (an index into the report's row
// labels) and its figures, column by column.
struct FilledRow {
  int place = 0;
  std::vector<Figure> figures;
};

// What a report shows: the rows of its case in the order they are drawn
// (a row of no table is absent), and the tables that could not be read.
struct ReportFigures {
  std::string first, second;  // the period tables, bare names
  Case which = Case::kNeither;
  std::vector<FilledRow> rows;
  std::vector<Unreadable> unreadable;
  // Business reports: 冷暖, 接生, 婴儿 and 医疗 of the tables read, added
  // together; they have no column and reach only 合计. 0 for the internal
  // report and when neither table was read.
  Figure withoutColumn;

  // The row drawn at `place`, or null when this case has none there.
  const FilledRow* row(int place) const;
};

// The column headings and row labels of a report (UTF-8), in the order
// of the figures of a row and of FilledRow::place.
struct Labels {
  const char* title;
  std::span<const char*const> columns, rows;
};
const Labels& labelsOf(Report report);

// The monthly business report of the month of `month`: its outpatient
// charges ("m" + year + month) and the bills of that month in the year's
// inpatient bill table ("bz" + year).
ReportFigures monthlyFigures(rt::DateTime month);
// The yearly business report of the year of `year` ("bm" and "bz" + year).
ReportFigures yearlyFigures(rt::DateTime year);
// The internal report per doctor: outpatient figures of the month of
// `outpatientMonth`, inpatient postings of the month of `inpatientMonth`.
ReportFigures doctorFigures(rt::DateTime outpatientMonth, rt::DateTime inpatientMonth);

}  // namespace app::report
