// Printing in module tests: a print backend whose dialog answers OK (or
// Cancel) and whose device is a recording surface on the A4 test page, so a
// test reads back every text and line a window printed, in the printer's
// unit. Installed for the life of the object.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/printer.h"
#include "print/surface.h"
#include "runtime/gbk.h"

namespace apptest {

// A recording surface that runs `atEnd` when its job ends.
class EndingSurface : public print::Surface {
 public:
  EndingSurface(std::unique_ptr<print::Surface> in, std::function<void()> atEnd)
      : in_(std::move(in)), atEnd_(std::move(atEnd)) {}
  print::PageGeometry geometry() const override { return in_->geometry(); }
  bool beginJob(const std::string& name) override { return in_->beginJob(name); }
  bool newPage() override { return in_->newPage(); }
  void endJob() override {
    in_->endJob();
    if (atEnd_) atEnd_();
  }
  void abortJob() override { in_->abortJob(); }
  void drawText(double x, double y, const std::string& t, const print::TextStyle& s) override {
    in_->drawText(x, y, t, s);
  }
  void drawLine(double x1, double y1, double x2, double y2, const print::PenStyle& p) override {
    in_->drawLine(x1, y1, x2, y2, p);
  }
  QSizeF measure(const std::string& t, const QFont& f) const override { return in_->measure(t, f); }
  void drawPainting(const QRectF& r, const Painting& p) override { in_->drawPainting(r, p); }

 private:
  std::unique_ptr<print::Surface> in_;
  std::function<void()> atEnd_;
};

class RecordingPrinter : public print::Backend {
 public:
  RecordingPrinter() { print::setBackend(this); }
  ~RecordingPrinter() override { print::setBackend(nullptr); }
  RecordingPrinter(const RecordingPrinter&) = delete;
  RecordingPrinter& operator=(const RecordingPrinter&) = delete;

  bool cancel = false;  // the print dialog's answer
  int dialogs = 0;      // how often it was shown
  print::JobSettings seen;
  print::RecordingSurface::Log log = std::make_shared<std::vector<print::Recorded>>();

  // What happens elsewhere while the dialog is open (another workstation
  // charging, say).
  std::function<void()> whileOpen;

  bool hasDefaultPrinter() override { return true; }
  bool showPrintDialog(print::JobSettings& s) override {
    ++dialogs;
    seen = s;
    if (whileOpen) whileOpen();
    return !cancel;
  }
  // What happens elsewhere as the job ends: after the form is printed,
  // before what module code does next (a posting, say).
  std::function<void()> atEndOfJob;

  std::unique_ptr<print::Surface> openDevice(const print::JobSettings& s, const std::string&) override {
    auto surface = std::make_unique<print::RecordingSurface>(print::testPage(s.applyOrientation && s.landscape), log);
    if (!atEndOfJob) return surface;
    return std::make_unique<EndingSurface>(std::move(surface), atEndOfJob);
  }

  // What was printed, positions in 0.1 mm (the printers' default unit),
  // texts in UTF-8; `page` counts from 1.
  struct Item {
    int page;
    bool line;
    int x, y, x2, y2;
    std::string text;
    int fontUnits;  // texts: the font height in 0.1 mm
  };
  std::vector<Item> items() const {
    std::vector<Item> out;
    int page = 0;
    for (const print::Recorded& r : *log) {
      if (r.op == print::Recorded::BeginJob || r.op == print::Recorded::NewPage) ++page;
      if (r.op != print::Recorded::Text && r.op != print::Recorded::Line) continue;
      const bool line = r.op == print::Recorded::Line;
      out.push_back({page, line, units(r.x), units(r.y), units(r.x2), units(r.y2),
                     line ? std::string() : rt::gbkToUtf8(r.text), line ? 0 : units(r.fontPixels)});
    }
    return out;
  }
  int count(print::Recorded::Op op) const {
    int n = 0;
    for (const print::Recorded& r : *log) n += r.op == op;
    return n;
  }

  static int units(double px) { return int(std::lround(px * 254.0 / 600.0)); }
};

}  // namespace apptest
