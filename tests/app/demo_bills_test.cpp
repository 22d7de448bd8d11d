// The demo year's postings are what the real windows post: a copy of a
// small demo folder without its postings, a sample of discharged patients
// and of prescriptions billed through the inpatient and outpatient windows
// (printed on a recording printer, the clock on the day each was billed),
// and every record they posted compared field by field with the demo's.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "charge_fixture.h"
#include "demo/year.h"
#include "recording_printer.h"

namespace {

namespace ids = forms::ids;

class DemoBillsTest : public apptest::ChargeTest {
 protected:
  void SetUp() override {
    ChargeTest::SetUp();
    // The demo year in its own folder, then its tables but the postings
    // copied into the working folder, where the windows will work.
    year_ = demo::makeYear(demo::Scale::kSmall);
    std::filesystem::create_directory(dir_ / "demo");
    std::filesystem::current_path(dir_ / "demo");
    const demo::WriteResult r = demo::writeYear(year_);
    db::closeAllDatabases();
    std::filesystem::current_path(dir_);
    ASSERT_TRUE(r.ok) << r.error;
    for (const auto& e : std::filesystem::directory_iterator(dir_ / "demo")) {
      const std::string name = e.path().filename().string();
      if (postingTable(name)) continue;
      std::filesystem::copy_file(e.path(), dir_ / name);
    }
    rt::setClock(rt::makeDateTime(year_.year, 1, 1, 9, 0, 0));
    logIn("张三");
  }

  static bool postingTable(const std::string& file) {
    return file.rfind("bz", 0) == 0 || file.rfind("bm", 0) == 0 ||
           (file.size() > 1 && file[0] == 'n' && file[1] >= '0' && file[1] <= '9');
  }

  // The record of `table` whose field `key` (0-based) shows `value`, in the
  // working folder or in the demo's.
  apptest::Stored record(const std::string& table, size_t key, const std::string& value, bool demo) {
    for (const apptest::Stored& r : stored(demo ? "demo/" + table : table))
      if (r.at(key) == value) return r;
    return {};
  }

  demo::Year year_;
};

TEST_F(DemoBillsTest, TheWindowsPostWhatTheDemoPosted) {
  apptest::RecordingPrinter printer;

  // Discharged patients: the first, the last and one between.
  std::vector<const demo::Admission*> billed;
  for (const demo::Admission& a : year_.admissions)
    if (a.billed != 0) billed.push_back(&a);
  ASSERT_GE(billed.size(), 3u);
  const std::vector<const demo::Admission*> patients = {billed.front(), billed[billed.size() / 2], billed.back()};
  namespace m = ids::medication;
  ASSERT_TRUE(forms::loadWindow(ids::kMedicationWindow));
  for (const demo::Admission* a : patients) {
    rt::setClock(a->billed + 16.0 / 24);
    forms::setText(ids::kMedicationWindow, g("编辑框1"), a->zyh);
    forms::raiseEvent(ids::kMedicationWindow, m::kButton1, forms::kEvFirst);
    forms::raiseEvent(ids::kMedicationWindow, m::kButton4, forms::kEvFirst);

    const std::string month = "n" + std::to_string(year_.year) + std::to_string(rt::splitDateTime(a->billed).month);
    const apptest::Stored posted = record("bz2010", 1, a->zyh, false);
    ASSERT_FALSE(posted.empty()) << a->zyh;
    EXPECT_EQ(posted, record("bz2010", 1, a->zyh, true)) << a->zyh;
    const apptest::Stored monthly = record(month, 16, a->zyh, false);
    ASSERT_FALSE(monthly.empty()) << a->zyh;
    EXPECT_EQ(monthly, record(month, 16, a->zyh, true)) << a->zyh;
  }

  // Prescriptions: regular and featured, early and late in the year.
  std::vector<const demo::Prescription*> sample = {&year_.prescriptions.front(), &year_.prescriptions.back()};
  for (const demo::Prescription& p : year_.prescriptions)
    if (p.cf[0] == '1' && p.count > 1) {
      sample.push_back(&p);
      break;
    }
  sample.push_back(&year_.prescriptions[year_.prescriptions.size() / 2]);
  namespace o = ids::outpatient;
  ASSERT_TRUE(forms::loadWindow(ids::kOutpatientWindow));
  for (const demo::Prescription* p : sample) {
    rt::setClock(p->day + 16.0 / 24);
    forms::setText(ids::kOutpatientWindow, g("编辑框4"), p->cf);
    forms::raiseEvent(ids::kOutpatientWindow, o::kButton1, forms::kEvFirst);

    const apptest::Stored posted = record("bm2010", 1, p->cf, false);
    ASSERT_FALSE(posted.empty()) << p->cf;
    EXPECT_EQ(posted, record("bm2010", 1, p->cf, true)) << p->cf;
    EXPECT_NE(posted.back(), "0") << "a prescription with lines has a total";
  }
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(printer.count(print::Recorded::BeginJob), int(patients.size() + sample.size()));
  EXPECT_EQ(stored("bz2010").size(), patients.size());
  EXPECT_EQ(stored("bm2010").size(), sample.size());
}

}  // namespace
