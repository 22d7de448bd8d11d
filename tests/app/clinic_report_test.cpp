// clinic-report against the report window: on the small demo year, the
// figures the program prints as CSV for a month are the figures the
// window's previews draw on the panel for the same month, row by row.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "demo/year.h"
#include "forms/window_ids.h"
#include "runtime/convert.h"

namespace {

namespace r = forms::ids::report;
using Table = std::vector<std::vector<std::string>>;

// The panel's figures: the texts in the values' size (drawn smaller when
// wide), grouped by row from top to bottom, left to right.
Table panelRows() {
  std::map<int, std::map<int, std::string>> byRow;
  for (const forms::PanelDrawn& p : forms::panelDrawing(r::kWindow, r::kPanel1))
    if (p.op == forms::PanelDrawn::Text && p.points <= 8) byRow[p.y][p.x] = rt::gbkToUtf8(p.text);
  Table t;
  for (const auto& [y, cells] : byRow) {
    t.emplace_back();
    for (const auto& [x, text] : cells) t.back().push_back(text);
  }
  return t;
}

// clinic-report's CSV: the byte-order mark, then the header, then one row
// per label (the label first). Figures hold no comma or quote.
Table reportCsv(const std::string& args, int* status) {
  const std::string tool =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "clinic-report").string();
  FILE* p = popen((tool + " " + args + " --csv").c_str(), "r");
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int st = pclose(p);
  *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  EXPECT_EQ(out.rfind("\xEF\xBB\xBF", 0), 0u);
  Table t;
  size_t at = 3;
  while (at < out.size()) {
    const size_t end = out.find("\r\n", at);
    if (end == std::string::npos) break;
    const std::string line = out.substr(at, end - at);
    at = end + 2;
    t.emplace_back();
    for (size_t from = 0;;) {
      const size_t comma = line.find(',', from);
      t.back().push_back(line.substr(from, comma - from));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  return t;
}

class ClinicReportTest : public apptest::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    const demo::WriteResult w = demo::writeYear(demo::makeYear(demo::Scale::kSmall));
    db::closeAllDatabases();
    ASSERT_TRUE(w.ok) << w.error;
    ASSERT_TRUE(forms::loadWindow(r::kWindow));
  }
  void pick(uint32_t picker, int year, int month) {
    forms::setProperty(r::kWindow, picker, forms::prop::kDateValue, -1,
                       rt::makeDateTime(rt::makeDateTime(year, month, 15, 0, 0, 0)));
  }
  // The report's rows from clinic-report, without the header and labels,
  // and with the rows the panel leaves empty left out.
  Table figures(const std::string& args) {
    int status = -1;
    Table csv = reportCsv(args + " " + dir_.string(), &status);
    EXPECT_EQ(status, 0);
    Table rows;
    for (size_t i = 1; i < csv.size(); ++i) {
      std::vector<std::string> row(csv[i].begin() + 1, csv[i].end());
      if (!row.empty() && !row[0].empty()) rows.push_back(row);
    }
    return rows;
  }
};

TEST_F(ClinicReportTest, TheFiguresAreThoseThePanelShowsForTheSameMonth) {
  pick(r::kDate1, 2010, 5);
  pick(r::kDate2, 2010, 5);
  pick(r::kDate3, 2010, 5);

  forms::raiseEvent(r::kWindow, r::kButton1, forms::kEvFirst);  // monthly preview
  const Table monthly = panelRows();
  ASSERT_EQ(monthly.size(), 3u);  // 门诊, 住院 and 合计 all filled
  ASSERT_EQ(monthly[0].size(), 13u);
  EXPECT_EQ(figures("monthly 2010-05"), monthly);

  forms::raiseEvent(r::kWindow, r::kButton4, forms::kEvFirst);  // yearly preview
  const Table yearly = panelRows();
  ASSERT_EQ(yearly.size(), 3u);
  EXPECT_EQ(figures("yearly 2010"), yearly);

  forms::raiseEvent(r::kWindow, r::kButton8, forms::kEvFirst);  // per doctor
  const Table doctor = panelRows();
  ASSERT_EQ(doctor.size(), 7u);
  ASSERT_EQ(doctor[0].size(), 8u);
  EXPECT_EQ(figures("doctor 2010-05"), doctor);

  // A month with no tables: every row empty, as the panel's frame alone.
  EXPECT_EQ(figures("monthly 2011-01"), Table{});
  EXPECT_TRUE(dialogs.asked.empty());
}

}  // namespace
