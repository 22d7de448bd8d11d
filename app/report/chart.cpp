#include "app/report/chart.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QDate>
#include <QDir>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QHorizontalBarSeries>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScatterSeries>
#include <QStackedBarSeries>
#include <QStandardPaths>
#include <QTabWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>

#include "app/figures/kept_figures.h"
#include "app/telling.h"
#include "app/report/sheet.h"
#include "forms/qtext.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace r = forms::ids::report;
using report::Case;
using report::Figure;
using report::FilledRow;
using report::ReportFigures;

// --- texts and faces ---------------------------------------------------------------

QString u(const char* utf8) { return QString::fromUtf8(utf8); }
// An amount as every report shows it: to the fen, no trailing zeros.
QString money(const Figure& f) { return forms::fromGbk(f.text()); }

// The Song face the forms and the printed reports use, in pixels: charts
// are painted into devices of very different resolutions (the screen, a
// PNG, a PDF, a 600-dpi printer) through one scaling, so no size may
// depend on the device's own resolution.
QFont song(int pixels, bool bold = false) {
  QFont f(forms::screenFamily(std::string()));
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

rt::DateTime dateOf(int year, int month) {
  return rt::DateTime{double(QDate(1899, 12, 30).daysTo(QDate(year, month, 15)))};
}

// --- the parts of the income -------------------------------------------------------------

// The business report's columns 西成 ... 其他, and the four categories
// without a column as one part: the parts of a month's (or the year's)
// 合计.
constexpr int kParts = report::kBusinessColumns;  // 12 columns + 其他收费
constexpr int kTotalColumn = report::kBusinessColumns - 1;

QString columnName(report::Report r, int column) {
  const report::Labels& labels = report::labelsOf(r);
  return column >= 0 && size_t(column) < labels.columns.size() ? u(labels.columns[size_t(column)]) : QString();
}

QString partName(int part) { return part < kTotalColumn ? columnName(report::Report::kYearly, part) : u("其他收费"); }

// A figure of a row as the report draws it; 0 where the row or the column
// is not there (a case without that row).
Figure figureOf(const FilledRow* row, int column) {
  return row && column >= 0 && size_t(column) < row->figures.size() ? row->figures[size_t(column)] : Figure();
}

// The 合计 row of a business report's case.
Figure totalOf(const ReportFigures& f) { return figureOf(f.row(report::kSumRow), kTotalColumn); }

Figure partFigure(const ReportFigures& f, int part) {
  return part < kTotalColumn ? figureOf(f.row(report::kSumRow), part) : f.withoutColumn;
}

// Colours that stay apart on a greyscale print: each part's grey level is
// its own (thirteen steps from dark to light, neighbours in the stack far
// apart), every other part hatched as well.
constexpr int kGreyStep[kParts] = {0, 6, 12, 3, 9, 1, 7, 10, 4, 11, 2, 8, 5};
constexpr int kHue[kParts] = {215, 25, 130, 280, 50, 190, 350, 95, 240, 15, 165, 310, 70};

QColor colourOfGrey(int hue, int grey) {
  // The HSL lightness that gives this grey level with this hue.
  int lo = 0, hi = 255;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (qGray(QColor::fromHsl(hue, 150, mid).rgb()) < grey)
      lo = mid + 1;
    else
      hi = mid;
  }
  return QColor::fromHsl(hue, 150, lo);
}

QBrush partBrush(int part) {
  const int grey = 40 + kGreyStep[part] * 16;  // 40 ... 232
  const QColor colour = colourOfGrey(kHue[part], grey);
  if (part % 2 == 0) return QBrush(colour);
  // Hatched: the colour with thin diagonal lines a little darker.
  QPixmap tile(12, 12);
  tile.fill(colour);
  QPainter p(&tile);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(colour.darker(grey > 120 ? 170 : 60), 1.5));
  p.drawLine(QPointF(-1, 13), QPointF(13, -1));
  p.drawLine(QPointF(-1, 1), QPointF(1, -1));
  p.drawLine(QPointF(11, 13), QPointF(13, 11));
  p.end();
  return QBrush(tile);
}

void styleSet(QBarSet* set, const QBrush& brush) {
  set->setBrush(brush);
  set->setPen(QPen(Qt::black, 0.6));
  set->setLabelFont(song(11));
  set->setLabelColor(Qt::black);
}

// --- the charts -------------------------------------------------------------------------

enum class Kind { kMonths, kShare, kDoctors };

// A tool tip for each bar of a set, to the fen.
using Tips = std::vector<QString>;

void tipsOnHover(QBarSet* set, Tips tips) {
  QObject::connect(set, &QBarSet::hovered, set, [tips](bool on, int index) {
    if (on && index >= 0 && size_t(index) < tips.size())
      QToolTip::showText(QCursor::pos(), tips[size_t(index)]);
    else
      QToolTip::hideText();
  });
}

void styleChart(QChart* chart, const QString& title) {
  chart->setTitle(title);
  chart->setTitleFont(song(20, true));
  chart->setBackgroundBrush(Qt::white);
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->setFont(song(13));
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(8, 8, 8, 8));
}

void styleAxis(QAbstractAxis* axis, const QString& title = QString()) {
  axis->setLabelsFont(song(12));
  axis->setTitleFont(song(13));
  if (!title.isEmpty()) axis->setTitleText(title);
}

// A money axis from 0 (or below, when a correction left a figure negative)
// to a little above the highest bar, in whole steps.
QValueAxis* moneyAxis(double low, double high) {
  auto* axis = new QValueAxis;
  axis->setRange(std::min(0.0, low), high > 0 ? high * 1.08 : 1.0);
  axis->setLabelFormat("%.0f");
  axis->applyNiceNumbers();
  styleAxis(axis, u("元"));
  return axis;
}

QChart* monthChart(const YearFigures& f) {
  auto* chart = new QChart;
  styleChart(chart, u("康复中心%1年各月收入（门诊与住院合计）").arg(f.year));
  auto* bars = new QStackedBarSeries;
  double high = 0, low = 0;
  std::array<double, 12> up{}, down{};
  for (int part = 0; part < kParts; ++part) {
    auto* set = new QBarSet(partName(part));
    styleSet(set, partBrush(part));
    Tips tips;
    for (int m = 0; m < 12; ++m) {
      const Figure figure = partFigure(f.months[size_t(m)], part);
      const double v = f.monthRead(m) ? figure.value() : 0;
      set->append(v);
      (v >= 0 ? up : down)[size_t(m)] += v;
      tips.push_back(f.monthRead(m) ? u("%1年%2月 %3：%4元").arg(f.year).arg(m + 1).arg(partName(part), money(figure))
                                    : u("%1年%2月无数据").arg(f.year).arg(m + 1));
    }
    tipsOnHover(set, tips);
    bars->append(set);
  }
  QStringList months;
  for (int m = 0; m < 12; ++m) {
    high = std::max(high, up[size_t(m)]);
    low = std::min(low, down[size_t(m)]);
    // Each month's 合计 under its bar, to the fen; a month without tables
    // says so instead of showing 0.
    months << (f.monthRead(m) ? u("%1月<br>%2").arg(m + 1).arg(money(totalOf(f.months[size_t(m)])))
                              : u("%1月<br>无数据").arg(m + 1));
  }
  chart->addSeries(bars);
  auto* x = new QBarCategoryAxis;
  x->append(months);
  styleAxis(x);

  // The year before: its monthly 合计 as a line over the bars, broken
  // where a month has no tables.
  const QString lineName = u("%1年各月合计").arg(f.year - 1);
  const QPen linePen(Qt::black, 2.5, Qt::DashLine);
  std::vector<QXYSeries*> line;
  auto* points = new QScatterSeries;
  points->setMarkerSize(9);
  points->setColor(Qt::white);
  points->setBorderColor(Qt::black);
  QLineSeries* piece = nullptr;
  Tips pointTips;
  for (int m = 0; m < 12; ++m) {
    if (!f.previousMonthRead(m)) {
      piece = nullptr;
      continue;
    }
    const Figure total = totalOf(f.previousMonths[size_t(m)]);
    high = std::max(high, total.value());
    low = std::min(low, total.value());
    if (!piece) {
      piece = new QLineSeries;
      piece->setPen(linePen);
      piece->setName(lineName);
      line.push_back(piece);
    }
    piece->append(m, total.value());
    points->append(m, total.value());
    pointTips.push_back(u("%1年%2月合计：%3元").arg(f.year - 1).arg(m + 1).arg(money(total)));
  }
  auto* y = moneyAxis(low, high);
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  bars->attachAxis(x);
  bars->attachAxis(y);
  for (QXYSeries* s : line) {
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
  }
  if (points->count() > 0) {
    chart->addSeries(points);
    points->attachAxis(x);
    points->attachAxis(y);
    QObject::connect(points, &QScatterSeries::hovered, points, [pointTips, points](const QPointF& p, bool on) {
      const int i = int(std::lround(p.x()));
      for (int k = 0; on && k < points->count(); ++k)
        if (int(std::lround(points->at(k).x())) == i) return QToolTip::showText(QCursor::pos(), pointTips[size_t(k)]);
      QToolTip::hideText();
    });
  } else {
    delete points;
  }
  // One legend entry for the line, none for its dots.
  const auto markers = chart->legend()->markers();
  bool lineShown = false;
  for (QLegendMarker* marker : markers) {
    if (marker->series() == points) marker->setVisible(false);
    if (marker->type() == QLegendMarker::LegendMarkerTypeXY && marker->series() != points) {
      marker->setVisible(!lineShown);
      lineShown = true;
    }
  }
  return chart;
}

QChart* shareChart(const YearFigures& f) {
  const ReportFigures& year = f.wholeYear;
  const ReportFigures& before = f.previousYear;
  const bool haveYear = year.which != Case::kNeither, haveBefore = before.which != Case::kNeither;
  const Figure total = totalOf(year);
  auto* chart = new QChart;
  styleChart(chart, haveYear ? u("%1年各项收入占全年的比例（年报表合计 %2元）").arg(f.year).arg(money(total))
                             : u("%1年各项收入占全年的比例（%1年无数据）").arg(f.year));
  // Largest first from the top: a horizontal bar chart draws its first
  // category at the bottom.
  std::vector<int> order(kParts);
  for (int i = 0; i < kParts; ++i) order[size_t(i)] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return partFigure(year, a).value() < partFigure(year, b).value(); });
  auto* series = new QHorizontalBarSeries;
  auto* now = new QBarSet(u("%1年").arg(f.year));
  styleSet(now, QBrush(colourOfGrey(215, 60)));
  auto* then = new QBarSet(u("%1年").arg(f.year - 1));
  styleSet(then, partBrush(7));
  QStringList names;
  Tips nowTips, thenTips;
  double high = 0, low = 0;
  for (int part : order) {
    const Figure amount = partFigure(year, part);
    const Figure earlier = partFigure(before, part);
    QString label = partName(part);
    if (haveYear) {
      label += u("  %1元").arg(money(amount));
      if (total.value() != 0) label += u("  %1%").arg(amount.value() / total.value() * 100, 0, 'f', 1);
    }
    names << label;
    now->append(haveYear ? amount.value() : 0);
    then->append(haveBefore ? earlier.value() : 0);
    nowTips.push_back(haveYear ? u("%1年 %2：%3元").arg(f.year).arg(partName(part), money(amount))
                               : u("%1年无数据").arg(f.year));
    thenTips.push_back(haveBefore ? u("%1年 %2：%3元").arg(f.year - 1).arg(partName(part), money(earlier))
                                  : u("%1年无数据").arg(f.year - 1));
    for (double v : {now->at(now->count() - 1), then->at(then->count() - 1)}) {
      high = std::max(high, v);
      low = std::min(low, v);
    }
  }
  tipsOnHover(now, nowTips);
  tipsOnHover(then, thenTips);
  // The year before beside this year's bar, lighter and hatched.
  series->append(now);
  if (haveBefore)
    series->append(then);
  else
    delete then;
  series->setBarWidth(0.8);
  chart->addSeries(series);
  auto* categories = new QBarCategoryAxis;
  categories->append(names);
  styleAxis(categories);
  auto* amounts = moneyAxis(low, high);
  chart->addAxis(categories, Qt::AlignLeft);
  chart->addAxis(amounts, Qt::AlignBottom);
  series->attachAxis(categories);
  series->attachAxis(amounts);
  return chart;
}

QChart* doctorChart(const YearFigures& f) {
  const ReportFigures& d = f.doctors;
  const FilledRow* grand = d.row(report::kGrandTotal);
  auto* chart = new QChart;
  styleChart(chart, d.which == Case::kNeither
                        ? u("%1年%2月各医师收入（%1年%2月无数据）").arg(f.doctorYear).arg(f.doctorMonth)
                        : u("%1年%2月各医师收入（内部报表，总计 %3元）")
                              .arg(f.doctorYear)
                              .arg(f.doctorMonth)
                              .arg(money(figureOf(grand, report::kDoctors))));
  // The internal report's four rows of the tables read; a row the case
  // does not draw (its table missing) is drawn empty.
  struct Row {
    const char* name;
    const FilledRow* figures;
  };
  const Row rows[] = {{"门诊", d.row(report::kOutpatient)},
                      {"住院", d.row(report::kInpatient)},
                      {"特色门诊", d.row(report::kFeaturedOutpatient)},
                      {"特色住院", d.row(report::kFeaturedInpatient)}};
  auto* series = new QStackedBarSeries;
  std::array<double, report::kDoctors> up{}, down{};
  // Grey levels far apart from one part of a bar to the next.
  const int brushOf[] = {0, 4, 8, 2};
  for (size_t i = 0; i < std::size(rows); ++i) {
    auto* set = new QBarSet(u(rows[i].name));
    styleSet(set, partBrush(brushOf[i]));
    Tips tips;
    for (int k = 0; k < report::kDoctors; ++k) {
      const bool shown = rows[i].figures != nullptr;
      const Figure figure = figureOf(rows[i].figures, k);
      const double v = shown ? figure.value() : 0;
      set->append(v);
      (v >= 0 ? up : down)[size_t(k)] += v;
      const QString doctor = columnName(report::Report::kDoctor, k);
      tips.push_back(shown ? u("%1 %2：%3元").arg(doctor, u(rows[i].name), money(figure))
                           : u("%1 %2：无数据").arg(doctor, u(rows[i].name)));
    }
    tipsOnHover(set, tips);
    series->append(set);
  }
  chart->addSeries(series);
  QStringList doctors;
  for (int k = 0; k < report::kDoctors; ++k) {
    const QString doctor = columnName(report::Report::kDoctor, k);
    doctors << (d.which == Case::kNeither ? u("%1<br>无数据").arg(doctor)
                                          : u("%1<br>%2").arg(doctor, money(figureOf(grand, k))));
  }
  auto* x = new QBarCategoryAxis;
  x->append(doctors);
  styleAxis(x);
  auto* y = moneyAxis(*std::min_element(down.begin(), down.end()), *std::max_element(up.begin(), up.end()));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(x);
  series->attachAxis(y);
  return chart;
}

QChart* makeChart(Kind kind, const YearFigures& f) {
  switch (kind) {
    case Kind::kShare:
      return shareChart(f);
    case Kind::kDoctors:
      return doctorChart(f);
    case Kind::kMonths:
      break;
  }
  return monthChart(f);
}

// The size a chart is laid out in for paper, PDF and PNG: A4 landscape in
// pixels of 96 per inch, so that the fonts keep their size relative to
// the sheet whatever the device.
const QSizeF kSheet(1123, 794);

// Paints a fresh copy of the chart, laid out on kSheet, into `target`.
void paintChart(Kind kind, const YearFigures& f, QPainter& painter, const QRectF& target) {
  QGraphicsScene scene;
  QChart* chart = makeChart(kind, f);
  scene.addItem(chart);  // the scene deletes it
  chart->resize(kSheet);
  if (chart->layout()) chart->layout()->activate();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  scene.render(&painter, target, QRectF(QPointF(0, 0), kSheet), Qt::KeepAspectRatio);
}

// --- reading the year --------------------------------------------------------------------

std::string gbk(const QString& s) { return forms::toGbk(s); }

// One line per thing without data, per table that could not be read.
std::vector<std::string> notesOf(const YearFigures& f) {
  std::vector<QString> lines;
  const int y = f.year, before = f.year - 1;
  auto outRead = [](const ReportFigures& t) { return t.which == Case::kBoth || t.which == Case::kFirstOnly; };
  auto inRead = [](const ReportFigures& t) { return t.which == Case::kBoth || t.which == Case::kSecondOnly; };
  // Per year: what has no tables at all, then which half is missing.
  auto yearNotes = [&](int year, const std::array<ReportFigures, 12>& months) {
    int read = 0, outpatient = 0, inpatient = 0;
    for (const ReportFigures& t : months) {
      read += t.which != Case::kNeither;
      outpatient += outRead(t);
      inpatient += inRead(t);
    }
    if (read == 0) return lines.push_back(u("%1年无数据").arg(year));
    for (int m = 0; m < 12; ++m)
      if (months[size_t(m)].which == Case::kNeither) lines.push_back(u("%1年%2月无数据").arg(year).arg(m + 1));
    if (outpatient == 0)
      lines.push_back(u("%1年门诊无数据").arg(year));
    else
      for (int m = 0; m < 12; ++m)
        if (months[size_t(m)].which == Case::kSecondOnly) lines.push_back(u("%1年%2月门诊无数据").arg(year).arg(m + 1));
    if (inpatient == 0) lines.push_back(u("%1年住院票据无数据").arg(year));
  };
  yearNotes(y, f.months);
  yearNotes(before, f.previousMonths);
  if (f.wholeYear.which == Case::kNeither)
    lines.push_back(u("%1年年报表无数据").arg(y));
  else if (!outRead(f.wholeYear))
    lines.push_back(u("%1年门诊票据无数据").arg(y));
  const ReportFigures& d = f.doctors;
  if (d.which == Case::kNeither)
    lines.push_back(u("%1年%2月内部报表无数据").arg(f.doctorYear).arg(f.doctorMonth));
  else if (d.which == Case::kFirstOnly)
    lines.push_back(u("%1年%2月住院记账无数据").arg(f.doctorYear).arg(f.doctorMonth));
  else if (d.which == Case::kSecondOnly)
    lines.push_back(u("%1年%2月门诊处方无数据").arg(f.doctorYear).arg(f.doctorMonth));
  std::vector<std::string> out;
  for (const QString& l : lines) out.push_back(gbk(l));
  // A table read for several charts (the year's bills, once a month) is
  // named once.
  std::set<std::string> named;
  auto unreadable = [&](const ReportFigures& r) {
    for (const report::Unreadable& t : r.unreadable) {
      if (!named.insert(t.table).second) continue;
      out.push_back(t.table + GBK(".kdb 无法读取：") + causeText(t.code));
    }
  };
  for (int m = 0; m < 12; ++m) {
    unreadable(f.months[size_t(m)]);
    unreadable(f.previousMonths[size_t(m)]);
  }
  for (const ReportFigures* r : {&f.wholeYear, &f.previousYear, &f.doctors}) unreadable(*r);
  return out;
}

// --- the window ------------------------------------------------------------------------------

QPushButton* button(QWidget* parent, const char* utf8, const char* name) {
  auto* b = new QPushButton(u(utf8), parent);
  b->setObjectName(name);
  b->setFont(song(13));
  return b;
}

class ChartWindow final : public QWidget {
 public:
  explicit ChartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(kChartWindowName);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(song(13));
    resize(1100, 760);
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(kChartTabsName);
    tabs_->setFont(song(14));
    const std::pair<const char*, const char*> pages[] = {
        {kMonthChartName, "月 收 入"}, {kShareChartName, "收 入 构 成"}, {kDoctorChartName, "医 师"}};
    for (const auto& [name, title] : pages) {
      auto* view = new QChartView(tabs_);
      view->setObjectName(name);
      view->setRenderHint(QPainter::Antialiasing);
      tabs_->addTab(view, u(title));
    }
    layout->addWidget(tabs_, 1);
    notes_ = new QLabel(this);
    notes_->setObjectName(kChartNotesName);
    notes_->setWordWrap(true);
    notes_->setFont(song(13));
    notes_->setStyleSheet("color: #a00000");
    layout->addWidget(notes_);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton* png = button(this, "存为PNG", kSavePngName);
    QPushButton* pdf = button(this, "存为PDF", kSavePdfName);
    QPushButton* paper = button(this, "打 印", kPrintChartName);
    QPushButton* close = button(this, "关 闭", "closeChartButton");
    for (QPushButton* b : {png, pdf, paper, close}) row->addWidget(b);
    layout->addLayout(row);
    connect(png, &QPushButton::clicked, this, [this] { save(false); });
    connect(pdf, &QPushButton::clicked, this, [this] { save(true); });
    connect(paper, &QPushButton::clicked, this, [this] { printChart(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
  }

  void showFigures(YearFigures f) {
    figures_ = std::move(f);
    setWindowTitle(u("收入图表 — %1年").arg(figures_.year));
    for (int i = 0; i < tabs_->count(); ++i) {
      auto* view = static_cast<QChartView*>(tabs_->widget(i));
      QChart* old = view->chart();
      view->setChart(makeChart(Kind(i), figures_));
      delete old;
    }
    QStringList lines;
    for (const std::string& n : figures_.notes) lines << forms::fromGbk(n);
    notes_->setText(lines.join(u("；")));
    notes_->setVisible(!lines.isEmpty());
  }

 private:
  Kind shown() const { return Kind(std::max(tabs_->currentIndex(), 0)); }

  QString chartTitle() const {
    const QString names[] = {u("各月收入"), u("收入构成"), u("医师收入")};
    return u("康复中心%1年%2").arg(figures_.year).arg(names[int(shown())]);
  }

  // A save dialog through the program's dialog seam, in the user's
  // documents folder under the chart's name.
  void save(bool pdf) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    std::string path = gbk(folder + "/" + chartTitle() + (pdf ? ".pdf" : ".png"));
    const std::string filter = pdf ? GBK("PDF 文件 (*.pdf)") : GBK("PNG 图片 (*.png)");
    if (!rt::dialogs().saveFile(GBK("保存图表"), filter, &path) || path.empty()) return;
    QString file = forms::fromGbk(path);
    const QString extension = pdf ? ".pdf" : ".png";
    if (!file.endsWith(extension, Qt::CaseInsensitive)) file += extension;
    const bool saved = pdf ? savePdf(file) : savePng(file);
    if (!saved) tell(gbk(u("图表未能保存到 %1（文件夹不存在或不可写）。").arg(file)).c_str());
  }

  bool savePng(const QString& file) const {
    // Twice the sheet: sharp enough to print or to put into a document.
    QImage image((kSheet * 2).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintChart(shown(), figures_, painter, QRectF(QPointF(0, 0), kSheet * 2));
    painter.end();
    return image.save(file, "PNG");
  }

  bool savePdf(const QString& file) const {
    QPdfWriter writer(file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    writer.setTitle(chartTitle());
    writer.setCreator(u("医院管理系统"));
    QPainter painter;
    if (!painter.begin(&writer)) return false;
    paintChart(shown(), figures_, painter, QRectF(0, 0, writer.width(), writer.height()));
    return painter.end();
  }

  // The printer object's own path: the print dialog, A4 landscape, the
  // chart over the printable area; a cancelled dialog prints nothing.
  void printChart() {
    print::Printer& printer = printer_;
    const std::string name = gbk(chartTitle());
    printer.setProperty(print::Printer::kDocName, -1, rt::makeTextRef(name.c_str()));
    constexpr int kA4 = 2, kLandscape = 1;
    const rt::Arg argv[] = {rt::Arg{}, rt::Arg{}, rt::Arg{}, rt::makeInt(kA4), rt::makeInt(kLandscape)};
    if (!printer.begin(int(std::size(argv)), argv)) return;
    const double width = printer.property(print::Printer::kPrintableWidth).lo;
    const double height = printer.property(print::Printer::kPrintableHeight).lo;
    const Kind kind = shown();
    printer.drawPainting(0, 0, width, height, [this, kind](QPainter& painter, const QRectF& target) {
      paintChart(kind, figures_, painter, target);
    });
    printer.end();
  }

  QTabWidget* tabs_ = nullptr;
  QLabel* notes_ = nullptr;
  YearFigures figures_;
  print::Printer printer_;
};

QPointer<ChartWindow> g_window;

}  // namespace

YearFigures readYearFigures(rt::DateTime year, rt::DateTime doctorMonth) {
  YearFigures f;
  f.year = cmd::YearOf(year);
  f.doctorYear = cmd::YearOf(doctorMonth);
  f.doctorMonth = cmd::MonthOf(doctorMonth);
  // One round: each table looked at once, and the year's bill tables,
  // which every month's report reads, read from the folder once. The
  // doctors' month is read beside the same month's business report, while
  // its table is still open.
  report::ReadingRound round;
  bool doctorsRead = false;
  for (int m = 0; m < 12; ++m) {
    f.months[size_t(m)] = report::monthlyFigures(dateOf(f.year, m + 1));
    if (f.doctorYear == f.year && f.doctorMonth == m + 1) {
      f.doctors = report::doctorFigures(doctorMonth, doctorMonth);
      doctorsRead = true;
    }
    f.previousMonths[size_t(m)] = report::monthlyFigures(dateOf(f.year - 1, m + 1));
  }
  f.wholeYear = report::yearlyFigures(dateOf(f.year, 6));
  f.previousYear = report::yearlyFigures(dateOf(f.year - 1, 6));
  if (!doctorsRead) f.doctors = report::doctorFigures(doctorMonth, doctorMonth);
  f.notes = notesOf(f);
  return f;
}

void openReportChart() {
  QWidget* reportWindow = forms::windowWidget(r::kWindow);
  if (!reportWindow) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The doctors' tab shows the month of 日期框3 in the year charted (the
  // year of 日期框2), so that every tab is of the year chosen.
  const rt::DateTime year = report::chosenDate("日期框2");
  const rt::DateTime doctorMonth = dateOf(cmd::YearOf(year), cmd::MonthOf(report::chosenDate("日期框3")));
  YearFigures figures = readYearFigures(year, doctorMonth);
  if (!g_window) g_window = new ChartWindow(reportWindow);
  g_window->showFigures(std::move(figures));
  QApplication::restoreOverrideCursor();
  g_window->show();
  g_window->raise();
  g_window->activateWindow();
}

void addChartButton(uint32_t windowId) {
  if (windowId != r::kWindow) return;
  // Right of the yearly report's last edit button (按钮7), in the same
  // row, where the template has no control.
  QWidget* neighbour = forms::controlWidget(r::kWindow, r::kButton7);
  QWidget* area = neighbour ? neighbour->parentWidget() : nullptr;
  if (!area || area->findChild<QPushButton*>(kChartButtonName, Qt::FindDirectChildrenOnly)) return;
  auto* b = new QPushButton(u("图 表"), area);
  b->setObjectName(kChartButtonName);
  b->setFont(neighbour->font());
  const QRect n = neighbour->geometry();
  b->setGeometry(n.right() + 3, n.top(), 48, n.height());
  b->setToolTip(u("日期框中年份的各月收入、收入构成和各医师收入图表"));
  QObject::connect(b, &QPushButton::clicked, b, [] { openReportChart(); });
  b->show();
}

}  // namespace app
