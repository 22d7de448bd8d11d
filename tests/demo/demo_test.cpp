// The demo year: the same scale always gives the same year, the year holds
// together (every line charged from a catalogue record, dates inside their
// month or stay, prescription codes of the seven doctors), and writing it
// makes exactly the application's tables or refuses a folder with tables.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/stored.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "demo/year.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

using demo::Scale;


// A prescription code is one of the seven doctors', regular or featured.
bool doctorCode(const std::string& cf) {
  return cf.size() >= 2 && (cf[0] == '0' || cf[0] == '1') && cf[1] >= '1' && cf[1] <= '7';
}

double day(int y, int m, int d) { return rt::makeDateTime(y, m, d, 0, 0, 0); }

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
    const double end = a.billed ? a.billed : day(y.year, 12, 31);
    EXPECT_LE(end, day(y.year, 12, 31));
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
    }
    lines += y.outpatient[size_t(m - 1)].size();
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
  for (int m = 1; m <= 12; ++m)
    EXPECT_EQ(count("m2010" + std::to_string(m)), y.outpatient[size_t(m - 1)].size());

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
  EXPECT_EQ(cmd::ReadField("xh").number(),
            double(float(double(y.catalogue[0].shl) * double(y.catalogue[0].xj))));

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
  const auto tool = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kdbtool";
  const int audit = std::system((tool.string() + " stock-audit " + dir_.string() + " >audit.txt 2>&1").c_str());
  std::ifstream report(dir_ / "audit.txt");
  const std::string said((std::istreambuf_iterator<char>(report)), {});
  EXPECT_EQ(audit, 0) << said;
  EXPECT_NE(said.find("库存与流水一致"), std::string::npos) << said;
  std::filesystem::remove(dir_ / "audit.txt");
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
  EXPECT_EQ(command({}), 2);
}

TEST_F(DemoFolder, TwoFoldersOfTheSameScaleAreTheSameBytes) {
  const std::filesystem::path a = dir_ / "a", b = dir_ / "b";
  EXPECT_EQ(command({a.string(), "--scale", "small"}), 0);
  EXPECT_EQ(command({b.string()}), 0);
  auto fa = files(a), fb = files(b);
  EXPECT_GT(fa.size(), 40u);
  EXPECT_TRUE(fa == fb);
}

}  // namespace
