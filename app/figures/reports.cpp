// The figures of the three reports: which sums each reads from its two
// period tables, and the rows each case fills. The window draws these rows
// (app/report/business.cpp, app/report/doctors.cpp); clinic-report prints them.
#include <array>
#include <string>

#include "app/figures/period_reading.h"
#include "app/tables.h"
#include "db/facade.h"
#include "runtime/fatal.h"

namespace app::report {
namespace {

// Both period tables read, each with its reading step, and the case they
// make.
ReportFigures readTables(const std::string& first, const std::function<void(Sums&)>& readFirst,
                         const std::string& second, const std::function<void(Sums&)>& readSecond) {
  ReportFigures f;
  f.first = first;
  f.second = second;
  const bool firstRead = readPeriodTable(first, readFirst, &f.unreadable);
  const bool secondRead = readPeriodTable(second, readSecond, &f.unreadable);
  f.which = chooseCase(firstRead, secondRead);
  return f;
}

template <size_t N>
FilledRow filled(int place, const std::array<Figure, N>& figures) {
  return {place, std::vector<Figure>(figures.begin(), figures.end())};
}

// --- the business reports ----------------------------------------------------------

// Category positions in the fixed order of kCategories.
enum Category : int {
  kXiyao,
  kJiancha,
  kShoushu,
  kZhongcheng,
  kShuyang,
  kZhiliao,
  kHuayan,
  kQita,
  kZhongcao,
  kFangshe,
  kShuxue,
  kZhuyuan,
  kLengnuan,
  kJiesheng,
  kYinger,
  kYiliao,
  kJianhu,
};

// The takings of one period table: a single figure per category and the
// total.
struct Takings {
  std::array<Figure, kCategoryCount> category;
  Figure total;
};

using BusinessRow = std::array<Figure, kBusinessColumns>;

// Columns 2 to 12 (草药 ... 其他), each one category; 西成 is 西药 with
// 中成, 合计 the total. 冷暖, 接生, 婴儿 and 医疗 reach only 合计.
constexpr Category kColumnCategory[kBusinessColumns - 2] = {
    kZhongcao, kZhuyuan, kZhiliao, kHuayan, kJiancha, kFangshe, kShuyang, kShoushu, kShuxue, kJianhu, kQita,
};

// The four categories without a column of their own.
constexpr Category kWithoutColumn[] = {kLengnuan, kJiesheng, kYinger, kYiliao};

// Outpatient charge lines: `hj` summed per category word of `lb`, then
// over every line.
Takings chargeTakings(Sums& sums) {
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i)
    t.category[size_t(i)] = Figure::single(sums.where("hj", "lb", categoryName(i)));
  t.total = Figure::single(sums.of("hj"));
  return t;
}

// Bills: each category's amount field and the total, over every bill.
Takings billTakings(Sums& sums) {
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i) t.category[size_t(i)] = Figure::single(sums.of(billAmountField(i)));
  t.total = Figure::single(sums.of(kBillTotalField));
  return t;
}

// The bill being summed was printed in `month` (the table holds one year,
// so the year needs no test).
bool billOfMonth(int month) {
  rt::Result shj = cmd::ReadField("shj");
  if (shj.kind() != rt::kDateTime) rt::raiseRuntimeError(5);
  return cmd::MonthOf(rt::DateTime{shj.real()}) == month;
}

// Bills of one month of the year: as billTakings, over those bills only.
Takings billTakingsOfMonth(Sums& sums, int month) {
  const std::function<bool()> ofMonth = [month] { return billOfMonth(month); };
  const std::string condition = "shj month " + std::to_string(month);
  Takings t;
  for (int i = 0; i < kCategoryCount; ++i)
    t.category[size_t(i)] = Figure::single(sums.when(billAmountField(i), condition, ofMonth));
  t.total = Figure::single(sums.when(kBillTotalField, condition, ofMonth));
  return t;
}

// The row of one table: 西成 = 西药 + 中成 added in fen, then one figure
// per column, the total last.
BusinessRow rowOf(const Takings& t) {
  BusinessRow r;
  r[0] = Figure::combined({t.category[kXiyao], t.category[kZhongcheng]});
  for (size_t i = 0; i < std::size(kColumnCategory); ++i) r[i + 1] = t.category[kColumnCategory[i]];
  r[kBusinessColumns - 1] = t.total;
  return r;
}

// The sum row: outpatient + inpatient column by column; 西成 adds the
// ward's 西药 and 中成, then the outpatient service's.
BusinessRow sumRow(const Takings& outpatient, const Takings& inpatient) {
  BusinessRow r;
  r[0] = Figure::combined({inpatient.category[kXiyao], inpatient.category[kZhongcheng], outpatient.category[kXiyao],
                           outpatient.category[kZhongcheng]});
  for (size_t i = 0; i < std::size(kColumnCategory); ++i)
    r[i + 1] = Figure::combined({outpatient.category[kColumnCategory[i]], inpatient.category[kColumnCategory[i]]});
  r[kBusinessColumns - 1] = Figure::combined({outpatient.total, inpatient.total});
  return r;
}

// The rows of each case, in drawing order. With one table only, the sum
// row repeats that table's row.
std::vector<FilledRow> businessRows(Case c, const Takings& outpatient, const Takings& inpatient) {
  switch (c) {
    case Case::kBoth:
      return {filled(kOutpatientRow, rowOf(outpatient)), filled(kInpatientRow, rowOf(inpatient)),
              filled(kSumRow, sumRow(outpatient, inpatient))};
    case Case::kNeither:
      break;
    case Case::kFirstOnly:
      return {filled(kOutpatientRow, rowOf(outpatient)), filled(kSumRow, rowOf(outpatient))};
    case Case::kSecondOnly:
      return {filled(kInpatientRow, rowOf(inpatient)), filled(kSumRow, rowOf(inpatient))};
  }
  return {};
}

// 冷暖, 接生, 婴儿 and 医疗 of the tables read, category by category,
// the outpatient figure before the ward's.
Figure withoutColumn(Case c, const Takings& outpatient, const Takings& inpatient) {
  const bool out = c == Case::kBoth || c == Case::kFirstOnly;
  const bool in = c == Case::kBoth || c == Case::kSecondOnly;
  std::vector<Figure> parts;
  for (Category k : kWithoutColumn) {
    if (out) parts.push_back(outpatient.category[k]);
    if (in) parts.push_back(inpatient.category[k]);
  }
  return Figure::sumOf(parts);
}

ReportFigures businessFigures(const std::string& first, const std::function<Takings(Sums&)>& readFirst,
                              const std::string& second, const std::function<Takings(Sums&)>& readSecond) {
  Takings outpatient, inpatient;
  ReportFigures f = readTables(
      first, [&](Sums& sums) { outpatient = readFirst(sums); }, second,
      [&](Sums& sums) { inpatient = readSecond(sums); });
  f.rows = businessRows(f.which, outpatient, inpatient);
  f.withoutColumn = withoutColumn(f.which, outpatient, inpatient);
  return f;
}

// --- the internal report per doctor ----------------------------------------------------

using DoctorRow = std::array<Figure, kDoctorColumns>;

// One table's figures: the regular service row and the featured row.
struct DoctorTakings {
  DoctorRow regular, featured;
};

// Outpatient charge lines: `hj` per doctor code, "01" ... "07" for the
// regular service and "11" ... "17" for the featured one. A charge belongs
// to the code its prescription number `cf` starts with (a shorter number
// matches no code). The featured figures of "15" and "16" are held as
// whole numbers (the month's sum cut once toward zero). Each 合计 is the
// seven figures added in fen.
DoctorTakings doctorChargeTakings(Sums& sums) {
  static constexpr const char* kRegular[kDoctors] = {"01", "02", "03", "04", "05", "06", "07"};
  static constexpr const char* kFeatured[kDoctors] = {"11", "12", "13", "14", "15", "16", "17"};
  DoctorTakings t;
  for (int k = 0; k < kDoctors; ++k) {
    const char* regular = kRegular[k];
    const char* featured = kFeatured[k];
    t.regular[size_t(k)] = Figure::single(sums.whereStarts("hj", "cf", regular));
    const double f = sums.whereStarts("hj", "cf", featured);
    const bool whole = k == 4 || k == 5;  // "15" and "16"
    t.featured[size_t(k)] = whole ? Figure::whole(f) : Figure::single(f);
  }
  t.regular[kDoctors] = Figure::sumOf(std::span(t.regular).first(kDoctors));
  t.featured[kDoctors] = Figure::sumOf(std::span(t.featured).first(kDoctors));
  return t;
}

// Inpatient postings: `c1` ... `c8` for the regular row and `c9` ... `c16`
// for the featured row, each over every posting; 合计 is the stored total
// field.
DoctorTakings postingTakings(Sums& sums) {
  DoctorTakings t;
  for (int k = 0; k < kDoctorColumns; ++k) {
    const std::string regular = std::to_string(k + 1).insert(0, 1, 'c');
    const std::string featured = std::to_string(k + 1 + kDoctorColumns).insert(0, 1, 'c');
    t.regular[size_t(k)] = Figure::single(sums.of(regular.c_str()));
    t.featured[size_t(k)] = Figure::single(sums.of(featured.c_str()));
  }
  return t;
}

// Column by column: the figures of a and b added in fen.
DoctorRow added(const DoctorRow& a, const DoctorRow& b) {
  DoctorRow r;
  for (size_t k = 0; k < r.size(); ++k) r[k] = Figure::combined({a[k], b[k]});
  return r;
}

// The grand total: inpatient + outpatient + featured inpatient + featured
// outpatient, added in that order.
DoctorRow grandTotal(const DoctorTakings& outpatient, const DoctorTakings& inpatient) {
  DoctorRow r;
  for (size_t k = 0; k < r.size(); ++k)
    r[k] =
        Figure::combined({inpatient.regular[k], outpatient.regular[k], inpatient.featured[k], outpatient.featured[k]});
  return r;
}

// The rows of each case, in drawing order. With one table only, the sum
// rows repeat that table's rows and the grand total adds its two rows.
std::vector<FilledRow> doctorRows(Case c, const DoctorTakings& out, const DoctorTakings& in) {
  switch (c) {
    case Case::kBoth:
      return {filled(kOutpatient, out.regular),
              filled(kFeaturedOutpatient, out.featured),
              filled(kInpatient, in.regular),
              filled(kFeaturedInpatient, in.featured),
              filled(kSum, added(out.regular, in.regular)),
              filled(kFeaturedSum, added(out.featured, in.featured)),
              filled(kGrandTotal, grandTotal(out, in))};
    case Case::kNeither:
      break;
    case Case::kFirstOnly:
      return {filled(kOutpatient, out.regular), filled(kFeaturedOutpatient, out.featured), filled(kSum, out.regular),
              filled(kFeaturedSum, out.featured), filled(kGrandTotal, added(out.regular, out.featured))};
    case Case::kSecondOnly:
      return {filled(kInpatient, in.regular), filled(kFeaturedInpatient, in.featured), filled(kSum, in.regular),
              filled(kFeaturedSum, in.featured), filled(kGrandTotal, added(in.regular, in.featured))};
  }
  return {};
}

// --- labels ----------------------------------------------------------------------------

constexpr const char* kBusinessColumnNames[kBusinessColumns] = {"西成", "草药", "床位", "治疗", "化验", "功能", "放射",
                                                                "吸氧", "手术", "输血", "监护", "其他", "合计"};
constexpr const char* kBusinessRowNames[] = {"门诊", "住院", "合计"};
constexpr const char* kDoctorColumnNames[kDoctorColumns] = {"医师甲", "医师乙", "医师丙", "医师丁",
                                                            "医师戊", "医师己", "医师庚", "合计"};
constexpr const char* kDoctorRowNames[] = {"门诊", "住院", "合计", "特色门诊", "特色住院", "特色合计", "总计"};

}  // namespace

const FilledRow* ReportFigures::row(int place) const {
  for (const FilledRow& r : rows)
    if (r.place == place) return &r;
  return nullptr;
}

const Labels& labelsOf(Report report) {
  static const Labels kMonthly{"康复中心业务月报表", kBusinessColumnNames, kBusinessRowNames};
  static const Labels kYearly{"康复中心业务年报表", kBusinessColumnNames, kBusinessRowNames};
  static const Labels kDoctor{"康复中心业务月报表(内部)", kDoctorColumnNames, kDoctorRowNames};
  switch (report) {
    case Report::kMonthly:
      return kMonthly;
    case Report::kYearly:
      return kYearly;
    case Report::kDoctor:
      break;
  }
  return kDoctor;
}

ReportFigures monthlyFigures(rt::DateTime when) {
  const int month = cmd::MonthOf(when);
  // The month's outpatient charges, and the ward's bills printed in that
  // month of the year's bill table.
  return businessFigures(monthlyOutpatientTable(when), chargeTakings, yearlyInpatientBills(when),
                         [month](Sums& sums) { return billTakingsOfMonth(sums, month); });
}

ReportFigures yearlyFigures(rt::DateTime when) {
  // The year's outpatient bills and the year's inpatient bills.
  return businessFigures(yearlyOutpatientBills(when), billTakings, yearlyInpatientBills(when), billTakings);
}

ReportFigures doctorFigures(rt::DateTime outpatientMonth, rt::DateTime inpatientMonth) {
  DoctorTakings outpatient, inpatient;
  ReportFigures f = readTables(
      monthlyOutpatientTable(outpatientMonth), [&](Sums& sums) { outpatient = doctorChargeTakings(sums); },
      monthlyPostingTable(inpatientMonth), [&](Sums& sums) { inpatient = postingTakings(sums); });
  f.rows = doctorRows(f.which, outpatient, inpatient);
  return f;
}

}  // namespace app::report
