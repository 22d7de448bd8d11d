// The drawing surface every print job goes through. The printer object
// works in device pixels on it; a Qt surface sends them to a QPrinter (a
// real printer or a PDF file), a recording surface keeps a list of what
// was drawn where so tests can check positions without a printer.
//
// Coordinates are device pixels from the top-left corner of the printable
// area, y downward. Texts are GBK.
#pragma once

#include <QColor>
#include <QFont>
#include <QSizeF>

class QPainter;
#include <QRectF>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace print {

// What the device tells about its page, in device pixels.
struct PageGeometry {
  double dpiX = 600, dpiY = 600;
  double paperWidth = 0, paperHeight = 0;  // physical page
  double offsetLeft = 0, offsetTop = 0;    // physical offsets of the printable area
  double printableWidth = 0, printableHeight = 0;
  // Nothing is drawn within this of the sheet's right and bottom edges,
  // even on a device that says it can print to the edge (a PDF file):
  // printed, its page could still meet a printer's unprintable margin.
  static constexpr double kLeastMarginMm = 5;
  // The strips kept clear at the right and the bottom: the device's
  // unprintable strip, or kLeastMarginMm when that is narrower.
  double rightStrip() const;
  double bottomStrip() const;
};

struct TextStyle {
  QFont font;
  QColor color = Qt::black;
  bool opaque = false;  // fill the text background
  QColor background = Qt::white;
};

struct PenStyle {
  int style = 1;     // 0 alternate, 1 solid, 2 dash, 3 dot, 4 dash-dot, 5 dash-dot-dot, 6 inside frame
  double width = 0;  // device pixels; 0 = one device pixel
  QColor color = Qt::black;
};

class Surface {
 public:
  virtual ~Surface() = default;

  virtual PageGeometry geometry() const = 0;
  // Opens the job (and with it the first page). False when the device
  // refuses.
  virtual bool beginJob(const std::string& gbkDocName) = 0;
  // Starts a page after the first; false when the device refuses.
  virtual bool newPage() = 0;
  virtual void endJob() = 0;
  // Ends the job at once, dropping what the device has not printed yet.
  virtual void abortJob() = 0;

  // Text with its top-left corner at (x, y).
  virtual void drawText(double x, double y, const std::string& gbk, const TextStyle& style) = 0;
  virtual void drawLine(double x1, double y1, double x2, double y2, const PenStyle& pen) = 0;
  // Width and height of the text as drawText would draw it.
  virtual QSizeF measure(const std::string& gbk, const QFont& font) const = 0;

  // A picture Qt paints itself (a chart): `paint` draws with the device's
  // painter into `target`, in device pixels.
  using Painting = std::function<void(QPainter& painter, const QRectF& target)>;
  virtual void drawPainting(const QRectF& target, const Painting& paint) = 0;

  // The device's name and port for the progress window.
  virtual std::string deviceName() const { return std::string(); }
  virtual std::string devicePort() const { return std::string(); }
};

// One thing a recording surface saw.
struct Recorded {
  enum Op { BeginJob, NewPage, EndJob, AbortJob, Text, Line, Painting };
  explicit Recorded(Op o) : op(o) {}
  Op op;
  double x = 0, y = 0, x2 = 0, y2 = 0;  // device pixels (a painting: its target's corners)
  std::string text;                     // GBK text, or the document name
  int fontPixels = 0;                   // text: the font's pixel height
  double width = 0, height = 0;         // text: its measured size
  int penStyle = 0;
  double penWidth = 0;
};

// Records instead of printing. Measures with the real fonts at the
// surface's resolution, so widths and heights are those a printer of that
// resolution would use.
class RecordingSurface final : public Surface {
 public:
  // `log` receives what is drawn and outlives the surface (the printer
  // object drops its surface when the job ends).
  using Log = std::shared_ptr<std::vector<Recorded>>;
  RecordingSurface(PageGeometry g, Log log, bool refuseJob = false, int refusePageAfter = -1);

  PageGeometry geometry() const override { return geometry_; }
  bool beginJob(const std::string& gbkDocName) override;
  bool newPage() override;
  void endJob() override;
  void abortJob() override;
  void drawText(double x, double y, const std::string& gbk, const TextStyle& style) override;
  void drawLine(double x1, double y1, double x2, double y2, const PenStyle& pen) override;
  QSizeF measure(const std::string& gbk, const QFont& font) const override;
  // Records the target and has the picture painted into a QPicture of
  // the surface's resolution.
  void drawPainting(const QRectF& target, const Painting& paint) override;
  std::string deviceName() const override { return "Recorder"; }
  std::string devicePort() const override { return "REC:"; }

  const std::vector<Recorded>& log() const { return *log_; }

 private:
  PageGeometry geometry_;
  bool refuseJob_;
  int refusePageAfter_;  // newPage() fails once this many pages exist (-1 never)
  int pages_ = 0;
  Log log_;
};

// The texts (or lines) of a recording.
std::vector<Recorded> recordedOf(const std::vector<Recorded>& log, Recorded::Op op);

// A4 portrait at 600 dpi with a 1/6-inch unprintable border: the page a
// test job prints on.
PageGeometry testPage(bool landscape = false);

}  // namespace print
