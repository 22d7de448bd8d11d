// Where the report window draws a report: its draw panel or its printer.
// The figures come from period_reading.h; the files of each report hold its
// frame and where its figures go.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "app/figures/period_reading.h"
#include "forms/live_windows.h"

namespace app::report {

// --- where a report is drawn --------------------------------------------------------

enum class Where { kPanel, kPaper };

// The report window's draw panel `画板1` or its printer `打印机1`; the same
// drawing steps serve both, in panel pixels or in the printer's 0.1 mm.
class Sheet {
 public:
  explicit Sheet(Where where);
  bool onPaper() const { return where_ == Where::kPaper; }

  // Panel: clears it. Paper: nothing (a new job starts on a blank page).
  void clear() const;
  // Paper: BeginPrinting on A4, landscape, the rest omitted; false when the
  // print dialog was cancelled or the job could not be opened. Panel: true.
  bool begin() const;
  // Paper: EndPrinting.
  void end() const;

  // The font size in points for the texts that follow.
  void font(int points) const;
  void text(int x, int y, const char* gbk) const;
  void text(int x, int y, const std::string& gbk) const { text(x, y, gbk.c_str()); }
  // The text at (x, y) in the current font size, made to end before
  // `right`: drawn smaller down to the floor of the panel or the paper,
  // then cut at a whole character (fitText). The font size stays.
  // `left` is where the cell begins: a text too wide for the floor may
  // move left up to there before it is cut.
  void fitted(int x, int y, int left, int right, const std::string& gbk) const;
  void line(int x1, int y1, int x2, int y2) const;

 private:
  Where where_;
  forms::Control control_;
  mutable int points_ = 9;
};

// Where the figures of a row go: figure i at xs[i], inside its cell from
// lefts[i] to rights[i] (a little inside the rules around it).
struct Columns {
  std::span<const int> xs, lefts, rights;
};

// Writes one row of figures at y.
void drawRow(const Sheet& sheet, const Columns& columns, int y, std::span<const Figure> row);

// Draws a report: names the tables that could not be read, then on the
// panel (cleared before the figures were read) or on paper, inside one
// print job on A4 landscape, the frame and each filled row. A print dialog
// that is cancelled leaves nothing printed and says nothing.
void draw(const Sheet& sheet, const ReportFigures& figures, const std::function<void(const Sheet&)>& frame,
          const std::function<void(const Sheet&, const FilledRow&)>& row);

// The monthly business report of the month in `日期框1`.
void monthlyReport(Where where);
// The yearly business report of the year in `日期框2`.
void yearlyReport(Where where);
// The internal report per doctor: outpatient figures and titles of the
// month in `日期框1`, inpatient figures of the month in `日期框3`.
void internalReport(Where where);

// The date chosen in a date picker of the report window (stored name,
// UTF-8).
rt::DateTime chosenDate(const char* utf8Picker);

}  // namespace app::report
