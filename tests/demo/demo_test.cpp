// The demo year: the same scale always gives the same year, the year holds
// together (every line charged from a catalogue record, dates inside their
// month or stay, prescription codes of the seven doctors), and writing it
// makes exactly the application's tables or refuses a folder with tables.
// A year made as of a day stops on that day, and the drug window flags some
// of its batches as expired and some as expiring on that day.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/expiry.h"
#include "app/charges/charge_values.h"
#include "app/figures/stored_amounts.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "demo/year.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

using demo::Scale;

// A prescription code is one of the seven doctors', regular or featured.
bool doctorCode(const std::string& cf) {
  return cf.size() >= 2 && (cf[0] == '0' || cf[0] == '1') && cf[1] >= '1' && cf[1] <= '7';
}

double day(int y, int m, int d) { return rt::makeDateTime(y, m, d, 0, 0, 0); }

// The categories the drug window marks: drugs, not services.
bool isDrug(const std::string& lb) {
  return lb == app::categoryName(app::kWestern) || lb == app::categoryName(app::kPatentChinese) ||
         lb == app::categoryName(app::kHerbal);
}

// Everything about a year that must hold at either scale.
void expectConsistent(const demo::Year& y) {
  // Text values fit their fields, so the tables hold them uncut.
  std::set<std::string> categories;
  std::map<std::string, int> recordsOfCode;
  for (const demo::Item& it : y.catalogue) {
    EXPECT_LE(it.dm.size(), 15u);
    EXPECT_LE(it.mch.size(), 30u) << rt::gbkToUtf8(it.mch);
    EXPECT_LE(it.lb.size(), 6u);
    EXPECT_LE(it.gg.size(), 10u);
    EXPECT_LE(it.dw.size(), 6u);
    EXPECT_GT(it.xj, 0.0f);
    EXPECT_GE(it.shl, 0);
    EXPECT_LT(it.shch, it.yx);
    categories.insert(it.lb);
    ++recordsOfCode[it.dm];
  }
  EXPECT_EQ(categories.size(), 17u) << "every charge category has items";
  int twoBatches = 0;
  for (const auto& [code, n] : recordsOfCode) twoBatches += n == 2;
  EXPECT_GE(twoBatches, 2) << "several drugs with two batches";

  for (const demo::User& u : y.users) {
    EXPECT_LE(u.name.size(), 10u);
    EXPECT_LE(u.password.size(), 10u);
  }

  std::set<std::string> numbers;
  for (const demo::Admission& a : y.admissions) {
    EXPECT_TRUE(numbers.insert(a.zyh).second) << "inpatient numbers are unique: " << a.zyh;
    EXPECT_TRUE(app::usablePatientNumber(a.zyh)) << a.zyh;
    EXPECT_LE(a.xm.size(), 6u);
    const double admitted = rt::dateOnly(a.sj);
    EXPECT_GE(admitted, day(y.year, 1, 1));
    const double end = a.billed ? a.billed : y.lastDay();
    EXPECT_LE(end, y.lastDay());
    EXPECT_FALSE(a.lines.empty());
    for (const demo::Line& l : a.lines) {
      ASSERT_LT(size_t(l.item), y.catalogue.size());
      EXPECT_GE(l.shj, admitted);
      EXPECT_LE(l.shj, end);
      EXPECT_TRUE(l.cf.empty() || doctorCode(l.cf)) << l.cf;
      EXPECT_LE(l.cf.size(), 10u);
    }
  }

  std::set<std::string> prescriptionNumbers;
  for (const demo::Prescription& p : y.prescriptions) {
    EXPECT_TRUE(prescriptionNumbers.insert(p.cf).second) << "prescription numbers are unique: " << p.cf;
    EXPECT_TRUE(doctorCode(p.cf)) << p.cf;
    const auto& month = y.outpatient[size_t(p.month - 1)];
    ASSERT_LE(p.first + p.count, month.size());
    for (size_t i = p.first; i < p.first + p.count; ++i) {
      EXPECT_EQ(month[i].cf, p.cf);
      EXPECT_EQ(month[i].shj, p.day);
    }
  }
  size_t lines = 0;
  for (int m = 1; m <= 12; ++m) {
    for (const demo::Line& l : y.outpatient[size_t(m - 1)]) {
      ASSERT_LT(size_t(l.item), y.catalogue.size());
      EXPECT_EQ(rt::splitDateTime(l.shj).month, m);
      EXPECT_EQ(rt::splitDateTime(l.shj).year, y.year);
      EXPECT_LE(l.shj, y.lastDay());
    }
    lines += y.outpatient[size_t(m - 1)].size();
    EXPECT_EQ(y.outpatient[size_t(m - 1)].empty(), m > y.months()) << m;
  }
  size_t inPrescriptions = 0;
  for (const demo::Prescription& p : y.prescriptions) inPrescriptions += p.count;
  EXPECT_EQ(inPrescriptions, lines) << "every outpatient line belongs to one prescription";
}

TEST(DemoYear, SmallYearIsQuietAndHoldsTogether) {
  const demo::Year y = demo::makeYear(Scale::kSmall);
  EXPECT_EQ(y.year, 2010);
  EXPECT_GE(y.catalogue.size(), 290u);
  EXPECT_LE(y.catalogue.size(), 330u);
  for (const auto& month : y.outpatient) {
    EXPECT_GE(month.size(), 250u);
    EXPECT_LE(month.size(), 400u);
  }
  EXPECT_EQ(y.doctors.size(), 7u);
  bool someBilled = false, someStillIn = false, regular = false, featured = false;
  for (const demo::Admission& a : y.admissions) (a.billed ? someBilled : someStillIn) = true;
  for (const demo::Prescription& p : y.prescriptions) (p.cf[0] == '0' ? regular : featured) = true;
  EXPECT_TRUE(someBilled);
  EXPECT_TRUE(regular && featured);
  expectConsistent(y);
}

TEST(DemoYear, BusyYearHasTheBenchmarksSizes) {
  const demo::Year y = demo::makeYear(Scale::kBusy);
  std::set<std::string> codes;
  for (const demo::Item& it : y.catalogue) codes.insert(it.dm);
  EXPECT_EQ(codes.size(), 5000u) << "5,000 items, second batches besides";
  for (const auto& month : y.outpatient) EXPECT_EQ(month.size(), 20000u);
  ASSERT_FALSE(y.admissions.empty());
  EXPECT_EQ(y.admissions[0].lines.size(), 3000u) << "the long stay of the inpatient benchmark";
  EXPECT_EQ(y.admissions[0].billed, 0.0) << "still in hospital at the end of the year";
  expectConsistent(y);
}

TEST(DemoYear, SameScaleSameYear) {
  const demo::Year a = demo::makeYear(Scale::kSmall), b = demo::makeYear(Scale::kSmall);
  ASSERT_EQ(a.catalogue.size(), b.catalogue.size());
  for (size_t i = 0; i < a.catalogue.size(); ++i) {
    EXPECT_EQ(a.catalogue[i].mch, b.catalogue[i].mch);
    EXPECT_EQ(a.catalogue[i].xj, b.catalogue[i].xj);
    EXPECT_EQ(a.catalogue[i].shl, b.catalogue[i].shl);
  }
  ASSERT_EQ(a.prescriptions.size(), b.prescriptions.size());
  for (size_t i = 0; i < a.prescriptions.size(); ++i) EXPECT_EQ(a.prescriptions[i].cf, b.prescriptions[i].cf);
  for (int m = 0; m < 12; ++m) {
    ASSERT_EQ(a.outpatient[size_t(m)].size(), b.outpatient[size_t(m)].size());
    for (size_t i = 0; i < a.outpatient[size_t(m)].size(); ++i) {
      EXPECT_EQ(a.outpatient[size_t(m)][i].item, b.outpatient[size_t(m)][i].item);
      EXPECT_EQ(a.outpatient[size_t(m)][i].shl, b.outpatient[size_t(m)][i].shl);
    }
  }
}

// --- a year as of a day ---------------------------------------------------------------

// How the drug window marks a year's drug batches on `today`.
struct Marks {
  int expired = 0, expiring = 0, valid = 0;
};
Marks marksOn(const demo::Year& y, double today) {
  Marks m;
  for (const demo::Item& it : y.catalogue) {
    const app::Expiry e = app::expiryOn(it.yx, today);
    if (!isDrug(it.lb)) {
      EXPECT_EQ(e, app::Expiry::kValid) << it.dm << ": services carry no mark";
      continue;
    }
    (e == app::Expiry::kExpired ? m.expired : e == app::Expiry::kExpiring ? m.expiring : m.valid) += 1;
  }
  return m;
}

// Batches made before they are charged, their numbers the day they were
// made (yymmdd), and a handful flagged on `today` among many still good.
void expectBatchesAround(const demo::Year& y, double today) {
  for (const demo::Item& it : y.catalogue) {
    EXPECT_LE(it.shch, today) << it.dm;
    if (!isDrug(it.lb)) continue;
    const rt::DateParts made = rt::splitDateTime(it.shch);
    char yymmdd[8];
    std::snprintf(yymmdd, sizeof yymmdd, "%02d%02d%02d", made.year % 100, made.month, made.day);
    EXPECT_TRUE(it.ph.starts_with(yymmdd)) << it.dm << " " << it.ph;
  }
  auto madeBefore = [&](const demo::Line& l) { EXPECT_LE(y.catalogue[size_t(l.item)].shch, l.shj); };
  for (const demo::Admission& a : y.admissions) std::for_each(a.lines.begin(), a.lines.end(), madeBefore);
  for (const auto& month : y.outpatient) std::for_each(month.begin(), month.end(), madeBefore);
  const Marks m = marksOn(y, today);
  EXPECT_GE(m.expired, 3);
  EXPECT_GE(m.expiring, 3);
  EXPECT_GT(m.valid, 5 * (m.expired + m.expiring));
}

TEST(DemoYear, AYearAsOfADayStopsThatDay) {
  const double today = day(2026, 6, 15);
  const demo::Year y = demo::makeYear(Scale::kSmall, 2026, today);
  EXPECT_EQ(y.year, 2026);
  EXPECT_EQ(y.lastDay(), today);
  EXPECT_EQ(y.months(), 6);
  expectConsistent(y);
  expectBatchesAround(y, today);
  bool billed = false, stillIn = false;
  for (const demo::Admission& a : y.admissions) (a.billed ? billed : stillIn) = true;
  EXPECT_TRUE(billed && stillIn) << "some patients went home, some are still in hospital today";

  // The same day gives the same year; the whole year 2026 is another.
  const demo::Year again = demo::makeYear(Scale::kSmall, 2026, rt::makeDateTime(2026, 6, 15, 17, 0, 0));
  ASSERT_EQ(again.catalogue.size(), y.catalogue.size());
  for (size_t i = 0; i < y.catalogue.size(); ++i) {
    EXPECT_EQ(again.catalogue[i].ph, y.catalogue[i].ph);
    EXPECT_EQ(again.catalogue[i].yx, y.catalogue[i].yx);
  }
  ASSERT_EQ(again.prescriptions.size(), y.prescriptions.size());
  for (size_t i = 0; i < y.prescriptions.size(); ++i) EXPECT_EQ(again.prescriptions[i].day, y.prescriptions[i].day);
  const demo::Year whole = demo::makeYear(Scale::kSmall, 2026);
  EXPECT_EQ(whole.months(), 12);
  expectConsistent(whole);

  // The busy scale's long stay keeps its 3,000 lines in a short year.
  const demo::Year busy = demo::makeYear(Scale::kBusy, 2026, day(2026, 2, 20));
  ASSERT_FALSE(busy.admissions.empty());
  EXPECT_EQ(busy.admissions[0].lines.size(), 3000u);
  EXPECT_EQ(busy.admissions[0].billed, 0.0);
  expectConsistent(busy);
  expectBatchesAround(busy, day(2026, 2, 20));
}

TEST(DemoYear, EarlyJanuaryShowsThePreviousYearWithBatchesAroundToday) {
  EXPECT_EQ(demo::yearShownOn(rt::makeDateTime(2026, 1, 1, 9, 0, 0)), 2025);
  EXPECT_EQ(demo::yearShownOn(rt::makeDateTime(2026, 1, demo::kEarlyJanuaryDays, 23, 0, 0)), 2025);
  EXPECT_EQ(demo::yearShownOn(day(2026, 1, demo::kEarlyJanuaryDays + 1)), 2026);
  EXPECT_EQ(demo::yearShownOn(day(2026, 12, 31)), 2026);

  const double today = day(2026, 1, 5);
  const demo::Year y = demo::makeYear(Scale::kSmall, 2025, today);
  EXPECT_EQ(y.lastDay(), day(2025, 12, 31));
  EXPECT_EQ(y.months(), 12);
  expectConsistent(y);
  expectBatchesAround(y, today);
}

// --- writing ------------------------------------------------------------------------

class DemoFolder : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/demotest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    db::registerDatabaseCommands();
  }
  void TearDown() override {
    db::closeAllDatabases();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  int command(std::vector<std::string> args) {
    args.insert(args.begin(), "clinic-demo");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = demo::commandMain(int(args.size()), argv.data());
    db::closeAllDatabases();
    std::filesystem::current_path(old_);
    return status;
  }
  // kdbtool's audit finds the catalogue of `folder` where its stock
  // journal leaves it.
  void expectAuditsClean(const std::filesystem::path& folder) {
    const auto tool = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kdbtool";
    const std::filesystem::path out = dir_ / "audit.txt";
    const int audit =
        std::system((tool.string() + " stock-audit '" + folder.string() + "' >'" + out.string() + "' 2>&1").c_str());
    std::ifstream report(out);
    const std::string said((std::istreambuf_iterator<char>(report)), {});
    EXPECT_EQ(audit, 0) << said;
    EXPECT_NE(said.find("库存与流水一致"), std::string::npos) << said;
    std::filesystem::remove(out);
  }
  // The bytes of every table file, by name.
  std::map<std::string, std::string> files(const std::filesystem::path& d) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(d)) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      out[e.path().filename().string()] = s.str();
    }
    return out;
  }
  std::filesystem::path dir_, old_;
};

TEST_F(DemoFolder, WritesTheYearsTablesWithTheBillsPostings) {
  const demo::Year y = demo::makeYear(Scale::kSmall);
  std::filesystem::current_path(dir_);
  const demo::WriteResult r = demo::writeYear(y);
  ASSERT_TRUE(r.ok) << r.error;

  // Every other table, read back through the engine.
  auto count = [](const std::string& table) {
    EXPECT_TRUE(cmd::OpenDatabase(table)) << table;
    cmd::SetCurrentDatabase(table);
    return size_t(cmd::RecordCount());
  };
  EXPECT_EQ(count("ypjbxx"), y.catalogue.size());
  EXPECT_EQ(count("user"), y.users.size());
  EXPECT_EQ(count("zyjbxx"), y.admissions.size());
  for (const demo::Admission& a : y.admissions) EXPECT_EQ(count(a.zyh), a.lines.size()) << a.zyh;
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(count("m2010" + std::to_string(m)), y.outpatient[size_t(m - 1)].size());

  // A charge line as the charge windows write it: the catalogue record's
  // name, category and price, the total in single precision.
  const demo::Prescription& p = y.prescriptions[y.prescriptions.size() / 2];
  const demo::Line& l = y.outpatient[size_t(p.month - 1)][p.first];
  const demo::Item& it = y.catalogue[size_t(l.item)];
  cmd::SetCurrentDatabase("m2010" + std::to_string(p.month));
  cmd::MoveTo(int(p.first) + 1);
  EXPECT_EQ(cmd::ReadText("mch"), it.mch);
  EXPECT_EQ(cmd::ReadText("lb"), it.lb);
  EXPECT_EQ(cmd::ReadText("cf"), p.cf);
  EXPECT_EQ(cmd::ReadField("dj").number(), double(it.xj));
  EXPECT_EQ(cmd::ReadField("hj").number(), double(float(double(l.shl) * double(it.xj))));
  EXPECT_EQ(cmd::ReadField("shj").real(), p.day);

  // The stock values as the drug window computes them.
  cmd::SetCurrentDatabase("ypjbxx");
  cmd::MoveTo(1);
  EXPECT_EQ(cmd::ReadField("xh").number(), double(float(double(y.catalogue[0].shl) * double(y.catalogue[0].xj))));

  // One yearly outpatient record per prescription, in the order they were
  // billed, dated the day and holding its category totals: the sums of its
  // lines' totals, each to the fen, added exactly and kept as floats.
  EXPECT_EQ(count("bm2010"), y.prescriptions.size());
  const size_t index = size_t(&p - y.prescriptions.data());
  cmd::SetCurrentDatabase("bm2010");
  cmd::MoveTo(int(index) + 1);
  EXPECT_EQ(cmd::ReadText("chf"), p.cf);
  EXPECT_EQ(cmd::ReadField("shj").real(), p.day);
  int64_t sums[app::kCategoryCount] = {}, all = 0;
  for (size_t i = p.first; i < p.first + p.count; ++i) {
    const demo::Line& line = y.outpatient[size_t(p.month - 1)][i];
    const demo::Item& item = y.catalogue[size_t(line.item)];
    for (int c = 0; c < app::kCategoryCount; ++c)
      if (item.lb == app::categoryName(c)) sums[c] += app::fenOf(float(double(line.shl) * double(item.xj)));
  }
  for (int c = 0; c < app::kCategoryCount; ++c) {
    EXPECT_EQ(cmd::ReadField(app::billAmountField(c)).number(), double(app::storedOf(sums[c]))) << c;
    all += sums[c];
  }
  EXPECT_EQ(cmd::ReadField("phj").number(), double(app::storedOf(all)));

  // The inpatient bills of the discharged, one yearly record each, and one
  // monthly record per patient billed in that month.
  size_t discharged = 0;
  std::map<int, size_t> billedInMonth;
  for (const demo::Admission& a : y.admissions)
    if (a.billed != 0) {
      ++discharged;
      ++billedInMonth[rt::splitDateTime(a.billed).month];
    }
  ASSERT_GT(discharged, 0u);
  EXPECT_EQ(count("bz2010"), discharged);
  for (const auto& [month, n] : billedInMonth) EXPECT_EQ(count("n2010" + std::to_string(month)), n) << month;
  // The stock journal: every charge of the year after the catalogue's
  // opening stock, and kdbtool's audit finds the catalogue where the
  // journal leaves it.
  size_t charges = 0;
  for (const demo::Admission& a : y.admissions) charges += a.lines.size();
  for (const auto& month : y.outpatient) charges += month.size();
  const size_t entries = count(app::kStockJournalName);
  EXPECT_GT(entries, charges);
  EXPECT_LE(entries, charges + y.catalogue.size());
  db::closeAllDatabases();
  expectAuditsClean(dir_);
  // Nothing but the application's tables is left behind.
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(e.path().stem().string().find("demo"), std::string::npos) << e.path();
}

TEST_F(DemoFolder, RefusesAFolderThatHoldsTablesAndLeavesItAlone) {
  { std::ofstream(dir_ / "YPJBXX.KDB") << "someone's catalogue"; }
  EXPECT_EQ(command({dir_.string()}), 1);
  auto after = files(dir_);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after["YPJBXX.KDB"], "someone's catalogue");
  EXPECT_EQ(command({dir_.string(), "--scale", "huge"}), 2);
  for (const char* year : {"1999", "2100", "10", "2010x"})
    EXPECT_EQ(command({dir_.string(), "--year", year}), 2) << year;
  EXPECT_EQ(command({dir_.string(), "--year"}), 2);
  EXPECT_EQ(command({}), 2);
  EXPECT_EQ(files(dir_).size(), 1u);
}

TEST_F(DemoFolder, AGivenYearIsTheSameBytesWhateverTheDay) {
  const std::filesystem::path a = dir_ / "a", b = dir_ / "b";
  rt::setClock(rt::makeDateTime(2026, 6, 15, 10, 30, 0));
  EXPECT_EQ(command({a.string(), "--scale", "small", "--year", "2010"}), 0);
  rt::setClock(rt::makeDateTime(2031, 1, 3, 9, 0, 0));
  EXPECT_EQ(command({b.string(), "--year", "2010"}), 0);
  rt::clearClock();
  auto fa = files(a), fb = files(b);
  EXPECT_GT(fa.size(), 40u);
  EXPECT_TRUE(fa == fb);
  EXPECT_EQ(fa.count("m201012.kdb"), 1u) << "the whole year, December too";
}

// A folder made today, as the operator finds it: work up to today and not
// after, the drug window's marks on some batches, the stock journal
// audited clean; the same day gives the same bytes, and the writing leaves
// the clock as it found it.
TEST_F(DemoFolder, TodaysFolderStopsTodayWithSomeBatchesFlagged) {
  const double now = rt::makeDateTime(2026, 6, 15, 10, 30, 0), today = day(2026, 6, 15);
  const std::filesystem::path a = dir_ / "a", b = dir_ / "b";
  rt::setClock(now);
  EXPECT_EQ(command({a.string()}), 0);
  EXPECT_EQ(rt::frozenClock(), now);
  EXPECT_EQ(command({b.string()}), 0);
  rt::clearClock();
  const auto fa = files(a);
  EXPECT_TRUE(fa == files(b));
  EXPECT_EQ(fa.count("m20266.kdb"), 1u);
  EXPECT_EQ(fa.count("m20267.kdb"), 0u) << "no table for a month still to come";

  std::filesystem::current_path(a);
  auto open = [](const std::string& table) {
    EXPECT_TRUE(cmd::OpenDatabase(table)) << table;
    cmd::SetCurrentDatabase(table);
    return int(cmd::RecordCount());
  };
  // The earliest and latest date of a table's records, read back.
  auto span = [&](const std::string& table, const char* field) {
    double first = 1e9, last = 0;
    for (int n = open(table), i = 1; i <= n; ++i) {
      cmd::MoveTo(i);
      first = std::min(first, cmd::ReadField(field).real());
      last = std::max(last, cmd::ReadField(field).real());
    }
    return std::pair{first, last};
  };
  EXPECT_LT(span("zyjbxx", "sj").second, today + 1);
  EXPECT_LE(span("bm2026", "shj").second, today);
  EXPECT_LE(span("bz2026", "shj").second, today);
  const auto [june, lastCharged] = span("m20266", "shj");
  EXPECT_GE(june, day(2026, 6, 1));
  EXPECT_LE(lastCharged, today);
  for (const auto& [name, bytes] : fa) {
    if (name.starts_with("n2026")) {
      EXPECT_LE(std::stoi(name.substr(5)), 6) << name;
    }
  }

  // The drug window's marks as it computes them on today.
  int expired = 0, expiring = 0, drugs = 0;
  for (int n = open("ypjbxx"), i = 1; i <= n; ++i) {
    cmd::MoveTo(i);
    const app::Expiry e = app::expiryOn(cmd::ReadField("yx").real(), today);
    if (!isDrug(cmd::ReadText("lb"))) {
      EXPECT_EQ(e, app::Expiry::kValid) << cmd::ReadText("dm");
      continue;
    }
    ++drugs;
    expired += e == app::Expiry::kExpired;
    expiring += e == app::Expiry::kExpiring;
  }
  EXPECT_GE(expired, 3);
  EXPECT_GE(expiring, 3);
  EXPECT_LT((expired + expiring) * 5, drugs) << "most batches are good for months yet";
  db::closeAllDatabases();
  std::filesystem::current_path(old_);
  expectAuditsClean(a);
}

}  // namespace
