// Printing in module tests: a print backend whose dialog answers OK (or
// Cancel) and whose device is a recording surface on the A4 test page, so a
// test reads back every text and line a window printed, in the printer's
// unit. Installed for the life of the object.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "print/printer.h"
#include "print/surface.h"
#include "runtime/gbk.h"

namespace apptest {

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

  bool hasDefaultPrinter() override { return true; }
  bool showPrintDialog(print::JobSettings& s) override {
    ++dialogs;
    seen = s;
    return !cancel;
  }
  std::unique_ptr<print::Surface> openDevice(const print::JobSettings& s, const std::string&) override {
    return std::make_unique<print::RecordingSurface>(print::testPage(s.applyOrientation && s.landscape), log);
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
