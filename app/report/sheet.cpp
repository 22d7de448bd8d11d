#include "app/report/sheet.h"

#include <cmath>

#include "app/fitted_text.h"
#include "app/module_window.h"
#include "app/telling.h"
#include "forms/facade.h"
#include "forms/window_ids.h"
#include "print/facade.h"
#include "runtime/gbk.h"

namespace app::report {
namespace {

const ModuleWindow kWindow(forms::ids::kReportWindow);

// Paper type A4 and landscape orientation for BeginPrinting.
constexpr int kA4 = 2;
constexpr int kLandscape = 1;

// "数据表 m20105.kdb 无法读取：<engine text>" and what the report does about it.
void tellUnreadable(const std::string& name, int code) {
  std::string text = GBK("数据表 ");
  text += name;
  text += GBK(".kdb 无法读取：");
  text += causeText(code);
  text += GBK("\r\n报表中按该表不存在处理。");
  tell(text.c_str());
}

}  // namespace

// --- where a report is drawn --------------------------------------------------------

Sheet::Sheet(Where where) : where_(where), control_(kWindow.control(where == Where::kPaper ? "打印机1" : "画板1")) {}

void Sheet::clear() const {
  if (!onPaper()) cmd::ClearPanel(control_.arg());
}

bool Sheet::begin() const {
  if (!onPaper()) return true;
  return cmd::BeginPrinting(control_.arg(), rt::omitted, rt::omitted, kA4, kLandscape, rt::omitted, rt::omitted);
}

void Sheet::end() const {
  if (onPaper()) cmd::EndPrinting(control_.arg());
}

void Sheet::font(int points) const {
  points_ = points;
  if (onPaper())
    cmd::SetPrinterFontSize(control_.arg(), points);
  else
    control_.setFontSize(points);
}

void Sheet::text(int x, int y, const char* gbk) const {
  if (onPaper())
    cmd::PrintTextAt(control_.arg(), x, y, gbk);
  else
    cmd::PanelTextAt(control_.arg(), x, y, gbk);
}

void Sheet::fitted(int x, int y, int left, int right, const std::string& gbk) const {
  if (onPaper()) {
    printFitted(control_.arg(), x, y, left, right, gbk, points_);
    return;
  }
  const rt::Arg panel = control_.arg();
  const FittedText f = fitText(
      gbk, right - x, points_, kPanelFloorPoints,
      [this, &panel](const std::string& t, int size) {
        control_.setFontSize(size);
        return double(cmd::PanelTextWidth(panel, t));
      },
      x - left);
  control_.setFontSize(f.points);
  if (!f.text.empty()) cmd::PanelTextAt(panel, x - int(std::ceil(f.shift)), y, f.text);
  control_.setFontSize(points_);
}

void Sheet::line(int x1, int y1, int x2, int y2) const {
  if (onPaper())
    cmd::DrawLine(control_.arg(), x1, y1, x2, y2);
  else
    cmd::PanelLine(control_.arg(), x1, y1, x2, y2);
}

void drawRow(const Sheet& sheet, const Columns& c, int y, std::span<const Figure> row) {
  for (size_t i = 0; i < row.size() && i < c.xs.size() && i < c.lefts.size() && i < c.rights.size(); ++i)
    sheet.fitted(c.xs[i], y, c.lefts[i], c.rights[i], row[i].text());
}

void draw(const Sheet& sheet, const ReportFigures& figures, const std::function<void(const Sheet&)>& frame,
          const std::function<void(const Sheet&, const FilledRow&)>& row) {
  for (const Unreadable& u : figures.unreadable) tellUnreadable(u.table, u.code);
  // Paper: one job on A4 landscape; a cancelled dialog ends it here.
  if (!sheet.begin()) return;
  frame(sheet);
  for (const FilledRow& r : figures.rows) row(sheet, r);
  sheet.end();
}

rt::DateTime chosenDate(const char* utf8Picker) { return kWindow.control(utf8Picker).date(); }

}  // namespace app::report
