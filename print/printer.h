// The printer object: the invisible control through which every bill,
// statement, list and report reaches paper or a PDF file.
//
// A document is printed in four steps: begin() opens a job and its first
// page after the print dialog, the font size is written into the font
// property, printTextAt()/drawLine() put texts and lines at absolute
// positions, end() closes page and job. Positions are in the printer's unit
// (0.1 mm by default) from the top-left corner of the printable area, y
// downward, each moved by the left and top margins.
//
// Lock-step states:
//   no job --begin() true--> job open, page open --end()/abort--> no job
// An output call in "no job" does nothing; an output call with the job open
// but no page open (after a page break failed) opens one first.
#pragma once

#include <QFont>
#include <cstdint>
#include <memory>
#include <string>

#include "print/surface.h"
#include "runtime/value.h"

namespace print {

class ProgressWindow;

// What the print dialog is set up with and what it hands back.
struct JobSettings {
  // Dialog options, from the properties.
  int copies = 1;
  bool collate = false;
  bool pageRangeEnabled = false;
  int minPage = 1, maxPage = 65535, fromPage = 1, toPage = 1;
  bool selectionEnabled = false, selectionChosen = false;
  // Device settings, applied before the dialog when asked for.
  bool applyPaper = false;
  int paperCode = 0;                      // device paper code (see paperCodeFor), 0 = unchanged
  std::string paperName;                  // a named paper form (GBK), when given as text
  int customWidth = 0, customHeight = 0;  // 0.1 mm, for paper -1
  bool applyOrientation = false;
  bool landscape = false;
  // Handed back by the dialog.
  bool printToFile = false;
  // The file the dialog's own file choice names (GBK; empty when the
  // dialog named none): it is the file written, without asking again.
  std::string dialogFile;
  bool pageRangeChosen = false;
};

// The seam between the printer object and the platform: the print dialog
// and the device. The Qt backend shows QPrintDialog and prints through
// QPrinter; tests answer the dialog themselves and print on a recording
// surface.
class Backend {
 public:
  virtual ~Backend() = default;
  // True when a default printer setup exists (the dialog may be skipped).
  virtual bool hasDefaultPrinter() = 0;
  // Shows the print dialog set up from `s`; false when cancelled. On OK it
  // writes back what the user chose.
  virtual bool showPrintDialog(JobSettings& s) = 0;
  // Takes over the device chosen by the last dialog (or the default one):
  // prints to `outputFile` (GBK) when not empty. Null when the device
  // cannot be had.
  virtual std::unique_ptr<Surface> openDevice(const JobSettings& s, const std::string& outputFile) = 0;
};

// The Qt backend (CUPS printers, PDF files).
Backend& qtBackend();
// The backend new printer objects use; tests replace it. Null restores Qt.
Backend* setBackend(Backend* b);

// Device paper code of a paper type: 1 A3, 2 A4, 3 A5, 4 B4, 5 B5,
// 6 Quarto, 7 16K, 8 32K, 9 Letter, 10 Legal, 11 Executive, 12 Statement,
// 13 Tabloid, 14 Note, 15 Ledger, 16 Folio; 1000 and above give
// value - 999; 0 and 17..999 leave the paper unchanged (0 returned).
int paperCodeFor(int paperType);

// Screen resolution the font sizes are stored at: fixed, so a stored size
// means the same on every workstation.
constexpr int kScreenDpi = 96;

// The thinnest line put on paper or into a PDF, in millimetres.
constexpr double kThinnestLineMm = 0.1;

class Printer {
 public:
  // Property numbers as module code addresses them (own index + 8).
  enum Prop {
    kUnit = 8,
    kPenStyle,
    kDrawMode,
    kPenWidth,
    kPenColor,
    kBrushStyle,
    kBrushColor,
    kTextColor,
    kBackColor,
    kFont,
    kDocName,
    kCopies,
    kCollate,
    kMinPage,
    kMaxPage,
    kFromPage,
    kToPage,
    kSelection,
    kLeftMargin,
    kTopMargin,
    kRightMargin,
    kBottomMargin,
    kPageNumber,
    kCopyNumber,
    kPrintableWidth,
    kPrintableHeight,
    kAborted,
  };
  static constexpr uint32_t kTransparent = 0xFF000000u;

  Printer();
  ~Printer();
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;

  // Property read: numbers as integers, the document name as a new heap
  // text (caller frees), the font as a 60-byte byte-set.
  rt::Arg property(int prop) const;
  // Property write; values outside a range are clamped to its nearest end.
  // subField -1 writes a whole value; 0..6 a font sub-field (0 angle in
  // tenths of a degree, 1 bold, 2 italic, 3 underline, 4 strike-out,
  // 5 size in points, 6 face name).
  void setProperty(int prop, int subField, const rt::Arg& v);

  // The commands; argv[0] is the printer control itself.
  bool begin(int argc, const rt::Arg* argv);
  void printTextAt(int argc, const rt::Arg* argv);
  // Each piece on a line of its own, with a page break before a piece that
  // would pass the bottom of the page.
  void printTextLines(int argc, const rt::Arg* argv);
  void drawLine(int argc, const rt::Arg* argv);
  // A picture Qt paints itself (a chart) into the rectangle at (x, y) of
  // width w and height h, in the current unit like texts and lines.
  void drawPainting(double x, double y, double w, double h, const Surface::Painting& paint);
  void end();

  // Closes the page and opens the next one, as the text-lines member does
  // before a piece that would pass the bottom: the page counter and the
  // progress window follow. False when no job is open, and when the device
  // refuses the page (the job is then ended).
  bool newPage();

  // The progress window's "中止打印": ends the job at once.
  void abort();

  bool jobOpen() const { return surface_ != nullptr; }

  // The width of one line of text in the current unit as printTextAt would
  // print it in the current font on the open job's device; 0 when no job is
  // open.
  double textWidth(const std::string& gbk) const;
  // Where the sheet's bottom edge lies in the coordinates texts and lines
  // are placed in (the current unit, below the top margin); 0 when no job
  // is open. The printable height may reach closer to the edge than a row
  // should.
  double sheetBottom() const;
  Surface* surface() const { return surface_.get(); }
  ProgressWindow* progressWindow() const { return progress_.get(); }

  // The font's height in the current unit, as the device font is built:
  // negative, truncated.
  int deviceFontHeight() const;
  // The font texts are drawn with on the open job's device.
  QFont deviceFont() const;

 private:
  struct FontRecord {
    int32_t height = -12;  // pixels at kScreenDpi, negative: 9 points
    int32_t escapement = 0;
    int32_t weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    std::string face;  // GBK; empty means the default face
  };

  double unitToPixelsX(double v) const;
  double unitToPixelsY(double v) const;
  double pixelsToUnitY(double px) const;
  TextStyle textStyle() const;
  PenStyle penStyle() const;
  bool ensurePage();
  bool prepareOutput();
  void output(int argc, const rt::Arg* argv, bool lines);
  void closeJob(bool aborted);
  void refreshProgress();

  // Properties (own index order).
  int unit_ = 1;
  int penStyle_ = 1;
  int drawMode_ = 12;
  int penWidth_ = 0;
  uint32_t penColor_ = 0, brushColor_ = 0xFFFFFF, textColor_ = 0;
  int brushStyle_ = 1;
  uint32_t backColor_ = kTransparent;
  FontRecord font_;
  std::string docName_;
  int copies_ = 1;
  int collate_ = 0;
  int minPage_ = -1, maxPage_ = -1, fromPage_ = 1, toPage_ = -1;
  int selection_ = -1;
  int marginLeft_ = 0, marginTop_ = 0, marginRight_ = 0, marginBottom_ = 0;

  // The job.
  std::unique_ptr<Surface> surface_;
  std::unique_ptr<ProgressWindow> progress_;
  PageGeometry page_;
  bool pageOpen_ = false;
  double posX_ = 0, posY_ = 0;  // current output position, device pixels
  int pageNumber_ = 1, copyNumber_ = 1;
  bool aborted_ = false;
  std::string jobName_, destination_;
};

// The printer object of a printer control (created on first use, kept for
// the run). Window and control identifiers as in the control argument.
Printer& printerFor(uint32_t windowId, uint32_t controlId);

// Installs BeginPrinting, PrintTextAt, DrawLine and EndPrinting in the
// command table.
void registerPrintCommands();

}  // namespace print
