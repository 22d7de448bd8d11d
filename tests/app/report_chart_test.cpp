// The chart window of the report window: its figures read back from the
// charts' series and compared with what the reports themselves draw on
// the panel for the demo year; a year with missing and damaged month
// tables; saving as PNG and PDF, and printing.
#include <gtest/gtest.h>

#include <QAbstractBarSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDate>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/report/chart.h"
#include "app/tables.h"
#include "app_fixture.h"
#include "db/facade.h"
#include "demo/year.h"
#include "forms/window_ids.h"
#include "pdf_pages.h"
#include "recording_printer.h"

namespace {

namespace r = forms::ids::report;
constexpr uint32_t kWin = r::kWindow;

double day(int y, int m, int d) { return double(QDate(1899, 12, 30).daysTo(QDate(y, m, d))); }
std::string g(const char* utf8) { return rt::utf8ToGbk(utf8); }
QString u(const char* utf8) { return QString::fromUtf8(utf8); }
std::string money(double v) { return rt::gbkToUtf8(cmd::MoneyText(v)); }

using apptest::SaveTo;

class ReportChartTest : public apptest::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    rt::setDialogs(&save);
    ASSERT_TRUE(forms::loadWindow(kWin));
  }

  void pick(uint32_t picker, int y, int m) {
    forms::setProperty(kWin, picker, forms::prop::kDateValue, -1, rt::makeDateTime(day(y, m, 15)));
  }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }

  // Clicks "图 表" and gives the chart window.
  QWidget* openCharts() {
    auto* b = forms::windowWidget(kWin)->findChild<QPushButton*>(app::kChartButtonName);
    if (!b) return nullptr;
    b->click();
    QCoreApplication::processEvents();
    return forms::windowWidget(kWin)->findChild<QWidget*>(app::kChartWindowName);
  }
  static QChart* chart(QWidget* w, const char* name) {
    auto* view = w->findChild<QChartView*>(name);
    return view ? view->chart() : nullptr;
  }
  static QAbstractBarSeries* bars(QChart* c) {
    for (QAbstractSeries* s : c->series())
      if (auto* b = qobject_cast<QAbstractBarSeries*>(s)) return b;
    return nullptr;
  }
  static QBarSet* set(QChart* c, const QString& label) {
    for (QBarSet* s : bars(c)->barSets())
      if (s->label() == label) return s;
    return nullptr;
  }
  static QStringList categories(QChart* c) {
    for (QAbstractAxis* a : c->axes())
      if (auto* cat = qobject_cast<QBarCategoryAxis*>(a)) return cat->categories();
    return {};
  }

  // The figures of the panel row at y (font 8), left to right, UTF-8.
  std::vector<std::string> panelRow(int y) const {
    std::map<int, std::string> byX;
    for (const forms::PanelDrawn& p : forms::panelDrawing(kWin, r::kPanel1))
      if (p.op == forms::PanelDrawn::Text && p.points <= 8 && p.y == y) byX[p.x] = rt::gbkToUtf8(p.text);
    std::vector<std::string> out;
    for (const auto& [x, text] : byX) out.push_back(text);
    return out;
  }

  SaveTo save;
};

// The business report's columns as the charts name them.
const char* const kColumns[] = {"西成", "草药", "床位", "治疗", "化验", "功能",
                                "放射", "吸氧", "手术", "输血", "监护", "其他"};

TEST_F(ReportChartTest, ChartedFiguresAreTheReportsFiguresOfTheDemoYear) {
  const demo::Year year = demo::makeYear(demo::Scale::kSmall);
  ASSERT_TRUE(demo::writeYear(year).ok);
  db::closeAllDatabases();
  pick(r::kDate2, 2010, 1);
  pick(r::kDate3, 2010, 5);
  QWidget* w = openCharts();
  ASSERT_NE(w, nullptr) << "the report window has no chart button or it opened nothing";

  // Share of the year: every column as the yearly report's 合计 row shows it.
  press(r::kButton4);
  const std::vector<std::string> yearly = panelRow(170);
  ASSERT_EQ(yearly.size(), 13u);
  QChart* share = chart(w, app::kShareChartName);
  ASSERT_NE(share, nullptr);
  QBarSet* y2010 = set(share, u("2010年"));
  ASSERT_NE(y2010, nullptr);
  const QStringList shareNames = categories(share);
  ASSERT_EQ(shareNames.size(), 13);
  for (int c = 0; c < 12; ++c) {
    SCOPED_TRACE(kColumns[c]);
    int at = -1;
    for (int i = 0; i < shareNames.size(); ++i)
      if (shareNames[i].startsWith(u(kColumns[c]) + " ")) at = i;
    ASSERT_GE(at, 0);
    EXPECT_EQ(money(y2010->at(at)), yearly[size_t(c)]);
    // The label carries the same amount, to the fen.
    EXPECT_TRUE(shareNames[at].contains(QString::fromStdString(yearly[size_t(c)]) + u("元")));
  }
  int64_t chartedFen = 0;
  for (int i = 0; i < y2010->count(); ++i) chartedFen += std::llround(y2010->at(i) * 100);
  // The parts add up to the year's 合计 to the fen.
  EXPECT_EQ(chartedFen, std::llround(std::stod(yearly[12]) * 100));
  // Sorted: the largest part on top (the last category of a horizontal chart).
  for (int i = 1; i < y2010->count(); ++i) EXPECT_LE(y2010->at(i - 1), y2010->at(i));

  // Months: each stack is the monthly report's 合计 row of that month.
  QChart* months = chart(w, app::kMonthChartName);
  ASSERT_NE(months, nullptr);
  const QStringList monthNames = categories(months);
  ASSERT_EQ(monthNames.size(), 12);
  for (int m : {1, 6, 12}) {
    SCOPED_TRACE(m);
    pick(r::kDate1, 2010, m);
    press(r::kButton1);
    const std::vector<std::string> monthly = panelRow(170);
    ASSERT_EQ(monthly.size(), 13u);
    for (int c = 0; c < 12; ++c) EXPECT_EQ(money(set(months, u(kColumns[c]))->at(m - 1)), monthly[size_t(c)]);
    EXPECT_EQ(monthNames[m - 1], u("%1月<br>%2").arg(m).arg(QString::fromStdString(monthly[12])));
  }

  // Doctors of May: the internal report's four rows, 总计 in the names.
  pick(r::kDate1, 2010, 5);
  press(r::kButton8);
  QChart* doctors = chart(w, app::kDoctorChartName);
  ASSERT_NE(doctors, nullptr);
  const std::pair<const char*, int> rows[] = {{"门诊", 79}, {"住院", 104}, {"特色门诊", 154}, {"特色住院", 179}};
  for (const auto& [name, y] : rows) {
    SCOPED_TRACE(name);
    const std::vector<std::string> figures = panelRow(y);
    ASSERT_EQ(figures.size(), 8u);
    for (int k = 0; k < 7; ++k) EXPECT_EQ(money(set(doctors, u(name))->at(k)), figures[size_t(k)]);
  }
  const std::vector<std::string> total = panelRow(229);
  ASSERT_EQ(total.size(), 8u);
  EXPECT_TRUE(categories(doctors)[2].endsWith(QString::fromStdString(total[2])));

  // No 2009 in the demo: named once, and no line for it.
  const QString notes = w->findChild<QLabel*>(app::kChartNotesName)->text();
  EXPECT_TRUE(notes.contains(u("2009年无数据"))) << notes.toStdString();
  EXPECT_EQ(months->series().size(), 1) << "a line drawn for a year without tables";
  EXPECT_TRUE(save.saveDialogs == 0 && save.asked.empty()) << "a dialog while opening";

  // The doctors' month chosen in another year (today's, say): the tab
  // shows that month of the year charted.
  pick(r::kDate3, 2026, 5);
  w = openCharts();
  ASSERT_NE(w, nullptr);
  doctors = chart(w, app::kDoctorChartName);
  ASSERT_NE(doctors, nullptr);
  EXPECT_TRUE(doctors->title().startsWith(u("2010年5月各医师收入"))) << doctors->title().toStdString();
  ASSERT_NE(set(doctors, u("门诊")), nullptr);
  const std::vector<std::string> outpatient = panelRow(79);
  ASSERT_EQ(outpatient.size(), 8u);
  EXPECT_EQ(money(set(doctors, u("门诊"))->at(0)), outpatient[0]);
}

// The charge table of a month, a bill of the year and one of the year
// before, and damaged tables: what has no data is named, never drawn as
// a zero that looks real, and nothing stops the window.
TEST_F(ReportChartTest, MissingAndDamagedMonthsAreNamed) {
  auto table = [](const std::string& name, const app::TableDef& def) {
    ASSERT_TRUE(app::createTable(name, def));
    ASSERT_TRUE(cmd::OpenDatabase(name));
    ASSERT_TRUE(cmd::SetCurrentDatabase(name));
  };
  table("m20101", app::kChargeLines);
  EXPECT_TRUE(cmd::AppendRecord(rt::DateTime{day(2010, 1, 5)}, g("药"), g("中草"), g("甲类"), int32_t(1), g("片"),
                                12.5f, 12.5f, std::string("0100001"), g("张三")));
  cmd::CloseDatabase("m20101");
  table("bz2009", app::kBills);
  std::vector<rt::Arg> v = {rt::makeDateTime(day(2009, 4, 2)), rt::makeTextRef("B1")};
  for (int i = 0; i < app::kCategoryCount; ++i) v.push_back(rt::makeFloat(i == 0 ? 80.25f : 0.0f));
  v.push_back(rt::makeFloat(80.25f));
  EXPECT_TRUE(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean());
  cmd::CloseDatabase("bz2009");
  for (const char* damaged : {"m20103.kdb", "bz2010.kdb"}) {
    std::ofstream bad(damaged, std::ios::binary);
    bad << "this is not a table";
  }
  pick(r::kDate2, 2010, 8);
  pick(r::kDate3, 2010, 3);
  QWidget* w = openCharts();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(save.asked.empty()) << "damaged tables are named in the window, not in boxes";

  const QString notes = w->findChild<QLabel*>(app::kChartNotesName)->text();
  for (const char* named : {"2010年2月无数据", "2010年3月无数据", "m20103.kdb 无法读取", "bz2010.kdb 无法读取",
                            "2010年住院票据无数据", "2009年门诊无数据", "2010年3月内部报表无数据"})
    EXPECT_TRUE(notes.contains(u(named))) << named << " not in: " << notes.toStdString();
  EXPECT_FALSE(notes.contains(u("2010年1月无数据")));
  EXPECT_FALSE(notes.contains(u("2009年4月无数据")));

  QChart* months = chart(w, app::kMonthChartName);
  const QStringList names = categories(months);
  ASSERT_EQ(names.size(), 12);
  EXPECT_EQ(names[0], u("1月<br>12.5"));
  EXPECT_EQ(names[2], u("3月<br>无数据"));
  EXPECT_EQ(set(months, u("草药"))->at(0), 12.5);
  // 2009 from its bills alone, as the monthly reports show it (合计 = 住院):
  // April's bill, the other months' 0 beside the note that their
  // outpatient tables are missing.
  std::map<double, double> line;
  for (QAbstractSeries* s : months->series())
    if (auto* xy = qobject_cast<QLineSeries*>(s))
      for (const QPointF& p : xy->points()) line[p.x()] = p.y();
  ASSERT_EQ(line.size(), 12u);
  EXPECT_EQ(line[3], 80.25);
  EXPECT_EQ(line[4], 0);
  EXPECT_TRUE(chart(w, app::kDoctorChartName)->title().contains(u("无数据")));
}

TEST_F(ReportChartTest, SavesPngAndPdfAndPrintsOnA4Landscape) {
  {
    ASSERT_TRUE(app::createTable("bm2010", app::kBills));
    ASSERT_TRUE(cmd::OpenDatabase("bm2010"));
    ASSERT_TRUE(cmd::SetCurrentDatabase("bm2010"));
    std::vector<rt::Arg> v = {rt::makeDateTime(day(2010, 2, 2)), rt::makeTextRef("B1")};
    for (int i = 0; i < app::kCategoryCount; ++i) v.push_back(rt::makeFloat(i == 8 ? 300.5f : 0.0f));
    v.push_back(rt::makeFloat(300.5f));
    EXPECT_TRUE(rt::Result(rt::call(rt::Cmd::AppendRecord, int(v.size()), v.data())).boolean());
    cmd::CloseDatabase("bm2010");
  }
  pick(r::kDate2, 2010, 2);
  pick(r::kDate3, 2010, 2);
  QWidget* w = openCharts();
  ASSERT_NE(w, nullptr);
  auto click = [w](const char* name) { w->findChild<QPushButton*>(name)->click(); };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());

  // PNG, named without its extension: the extension is added.
  save.path = (dir.path() + "/months").toStdString();
  click(app::kSavePngName);
  QImage png(dir.path() + "/months.png");
  ASSERT_FALSE(png.isNull());
  EXPECT_NEAR(double(png.width()) / png.height(), 297.0 / 210, 0.01);

  // PDF of the share chart: A4 landscape, the title as text.
  w->findChild<QTabWidget*>(app::kChartTabsName)->setCurrentIndex(1);
  save.path = (dir.path() + "/share.pdf").toStdString();
  click(app::kSavePdfName);
  QProcess text;
  text.start("pdftotext", {dir.path() + "/share.pdf", "-"});
  ASSERT_TRUE(text.waitForFinished(30000));
  const QString words = QString::fromUtf8(text.readAllStandardOutput()).normalized(QString::NormalizationForm_KC);
  EXPECT_TRUE(words.contains(u("2010年各项收入占全年的比例"))) << words.toStdString();
  EXPECT_TRUE(words.contains(u("300.5元"))) << words.toStdString();
  EXPECT_EQ(apptest::inkNearTheEdges(dir.path().toStdString() + "/share.pdf"), std::vector<std::string>{});
  QProcess info;
  info.start("pdfinfo", {dir.path() + "/share.pdf"});
  ASSERT_TRUE(info.waitForFinished(30000));
  const QString pdfInfo = QString::fromUtf8(info.readAllStandardOutput());
  EXPECT_TRUE(pdfInfo.contains(QRegularExpression("Page size: +84[12][.0-9]* x 595"))) << pdfInfo.toStdString();

  // A folder that is not there: said, not taken for saved.
  save.path = (dir.path() + "/gone/x.png").toStdString();
  save.answers = {rt::kOk};
  click(app::kSavePngName);
  ASSERT_EQ(save.asked.size(), 1u);
  EXPECT_NE(rt::gbkToUtf8(save.asked[0].text).find("未能保存"), std::string::npos);

  // Printing: the print dialog once, A4 landscape, the chart over the
  // printable area, 5 mm clear of the sheet's right and bottom edges; a
  // cancelled dialog prints nothing.
  apptest::RecordingPrinter printer;
  click(app::kPrintChartName);
  EXPECT_EQ(printer.dialogs, 1);
  EXPECT_TRUE(printer.seen.applyOrientation && printer.seen.landscape);
  EXPECT_EQ(printer.seen.paperCode, print::paperCodeFor(2));
  const std::vector<print::Recorded> painted = print::recordedOf(*printer.log, print::Recorded::Painting);
  ASSERT_EQ(painted.size(), 1u);
  const print::PageGeometry page = print::testPage(true);
  EXPECT_NEAR(painted[0].x2 - painted[0].x, page.paperWidth - page.offsetLeft - page.rightStrip(), 3);
  EXPECT_NEAR(painted[0].y2 - painted[0].y, page.paperHeight - page.offsetTop - page.bottomStrip(), 3);
  EXPECT_NEAR(page.rightStrip(), 5 / 25.4 * 600, 0.1);  // wider than the test page's own 100 pixels
  EXPECT_EQ(printer.count(print::Recorded::EndJob), 1);
  printer.cancel = true;
  click(app::kPrintChartName);
  EXPECT_EQ(printer.count(print::Recorded::Painting), 1);
}

}  // namespace
