// clinic-report against the report window: on the small demo year, the
// figures the program prints as CSV for a month are the figures the
// window's previews draw on the panel for the same month, row by row.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "db/each.h"
#include "db/facade.h"
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
  const std::string tool = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "clinic-report").string();
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

// A figure as clinic-report prints it ("279788.2", "-3", "0.05") in fen.
int64_t fenOfText(const std::string& text) {
  const size_t dot = text.find('.');
  const bool negative = !text.empty() && text[0] == '-';
  const std::string whole =
      text.substr(negative ? 1 : 0, dot == std::string::npos ? std::string::npos : dot - (negative ? 1 : 0));
  std::string cents = dot == std::string::npos ? "" : text.substr(dot + 1);
  EXPECT_LE(cents.size(), 2u) << text;
  cents.resize(2, '0');
  const int64_t fen = std::stoll(whole.empty() ? "0" : whole) * 100 + std::stoll(cents);
  return negative ? -fen : fen;
}

// One month's outpatient lines read with the engine and added up in
// integers, independently of the program's sums: every line's `hj` to its
// nearest fen, in all, per category word and per prescription prefix.
struct LineSums {
  int64_t all = 0;
  std::map<std::string, int64_t> byCategory;  // UTF-8 category word
  std::map<std::string, int64_t> byPrefix;    // the first two bytes of `cf`
};
LineSums linesOf(const std::string& table) {
  LineSums s;
  EXPECT_TRUE(cmd::OpenDatabase(table, "", true));
  EXPECT_TRUE(cmd::SetCurrentDatabase(table));
  cmd::MoveFirst();
  EXPECT_EQ(db::forEachRecord([&] {
              const int64_t fen = std::llround(double(rt::floatValue(cmd::ReadField("hj").arg())) * 100.0);
              s.all += fen;
              s.byCategory[rt::gbkToUtf8(cmd::ReadText("lb"))] += fen;
              s.byPrefix[cmd::ReadText("cf").substr(0, 2)] += fen;
            }),
            db::kOk);
  db::closeAllDatabases();
  return s;
}

// Every figure of the demo year, as clinic-report prints it (and so as the
// panel, the paper and the charts show it), is the exact sum of what it
// totals: a month's outpatient figures are its lines to the fen, each row's
// 合计 its columns, the yearly report the sum of the twelve monthly ones,
// and the doctors' figures their prescriptions' lines.
TEST_F(ClinicReportTest, EveryFigureIsTheSumOfWhatItTotalsToTheFen) {
  // The category word of each column from 草药 to 其他.
  const char* kColumns[] = {"中草", "住院", "治疗", "化验", "检查", "放射", "输氧", "手术", "输血", "监护", "其它"};
  Table year(3, std::vector<std::string>(13, "0"));
  std::vector<std::vector<int64_t>> monthsAdded(3, std::vector<int64_t>(13, 0));
  int64_t yearOfLines = 0;
  for (int month = 1; month <= 12; ++month) {
    const std::string m = "2010-" + std::string(month < 10 ? "0" : "") + std::to_string(month);
    const Table monthly = figures("monthly " + m);
    ASSERT_EQ(monthly.size(), 3u) << m;
    const LineSums lines = linesOf("m2010" + std::to_string(month));
    yearOfLines += lines.all;
    auto of = [&](const char* word) {
      auto it = lines.byCategory.find(word);
      return it == lines.byCategory.end() ? int64_t(0) : it->second;
    };
    // 门诊: 西成 is 西药 with 中成, then a column per category, 合计 all lines.
    EXPECT_EQ(fenOfText(monthly[0][0]), of("西药") + of("中成")) << m;
    for (size_t c = 0; c < std::size(kColumns); ++c)
      EXPECT_EQ(fenOfText(monthly[0][c + 1]), of(kColumns[c])) << m << " " << kColumns[c];
    EXPECT_EQ(fenOfText(monthly[0][12]), lines.all) << m;
    for (size_t c = 0; c < 13; ++c) {
      for (size_t row = 0; row < 3; ++row) monthsAdded[row][c] += fenOfText(monthly[row][c]);
      // 合计 (the last row) is 门诊 + 住院 column by column.
      EXPECT_EQ(fenOfText(monthly[2][c]), fenOfText(monthly[0][c]) + fenOfText(monthly[1][c])) << m;
    }

    // Per doctor: 门诊 is the month's lines of "01".."07", 特色门诊 of
    // "11".."17" (医师戊 and 医师己 cut to whole yuan); each 合计 its seven.
    const Table doctor = figures("doctor " + m);
    ASSERT_EQ(doctor.size(), 7u) << m;
    for (int k = 1; k <= 7; ++k) {
      auto prefix = [&](char first) {
        auto it = lines.byPrefix.find(std::string{first, char('0' + k)});
        return it == lines.byPrefix.end() ? int64_t(0) : it->second;
      };
      EXPECT_EQ(fenOfText(doctor[0][size_t(k - 1)]), prefix('0')) << m << " " << k;
      const int64_t featured = k == 5 || k == 6 ? prefix('1') / 100 * 100 : prefix('1');
      EXPECT_EQ(fenOfText(doctor[3][size_t(k - 1)]), featured) << m << " " << k;
    }
    // 门诊, 住院 and 特色门诊 total their seven; 特色住院's 合计 is the
    // postings' own whole-yuan total. 合计 rows add their two rows, 总计 all
    // four, column by column.
    for (size_t row : {0, 1, 3}) {
      int64_t seven = 0;
      for (size_t k = 0; k < 7; ++k) seven += fenOfText(doctor[row][k]);
      EXPECT_EQ(fenOfText(doctor[row][7]), seven) << m << " " << row;
    }
    for (size_t k = 0; k < 8; ++k) {
      const int64_t in = fenOfText(doctor[1][k]), out = fenOfText(doctor[0][k]);
      const int64_t featuredIn = fenOfText(doctor[4][k]), featuredOut = fenOfText(doctor[3][k]);
      EXPECT_EQ(fenOfText(doctor[2][k]), in + out) << m << " " << k;
      EXPECT_EQ(fenOfText(doctor[5][k]), featuredIn + featuredOut) << m << " " << k;
      EXPECT_EQ(fenOfText(doctor[6][k]), in + out + featuredIn + featuredOut) << m << " " << k;
    }
  }
  // The year: every figure the twelve months' figures added, and its
  // outpatient total every line of the year (each prescription is billed).
  const Table yearly = figures("yearly 2010");
  ASSERT_EQ(yearly.size(), 3u);
  for (size_t row = 0; row < 3; ++row)
    for (size_t c = 0; c < 13; ++c) EXPECT_EQ(fenOfText(yearly[row][c]), monthsAdded[row][c]) << row << " " << c;
  EXPECT_EQ(fenOfText(yearly[0][12]), yearOfLines);
}

}  // namespace
