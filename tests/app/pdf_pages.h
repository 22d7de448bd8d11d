// Printing to a real PDF in module tests: a print backend that ticks "print
// to file" in the dialog (the Qt device writes the PDF), the save-file
// dialog answered with a path, and where each page's ink lies, read from
// the PDF as poppler renders it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../forms/qt_support.h"
#include "print/printer.h"
#include "print/surface.h"

namespace apptest {

// The Qt device with "print to file" ticked in the dialog.
class PdfPrinter : public print::Backend {
 public:
  bool hasDefaultPrinter() override { return false; }
  bool showPrintDialog(print::JobSettings& s) override {
    s.printToFile = true;
    return true;
  }
  std::unique_ptr<print::Surface> openDevice(const print::JobSettings& s, const std::string& f) override {
    return print::qtBackend().openDevice(s, f);
  }
};

// The save-file dialog answered with `path` (GBK); an empty path cancels it.
class SaveTo : public qtest::ScriptedDialogs {
 public:
  std::string path;
  int saveDialogs = 0;
  bool saveFile(const std::string&, const std::string&, std::string* p) override {
    ++saveDialogs;
    if (path.empty()) return false;
    *p = path;
    return true;
  }
};

// How far a page's ink lies from each edge of the sheet, in millimetres.
struct InkMargins {
  int page = 0;
  double left = 0, top = 0, right = 0, bottom = 0;
  bool blank = true;
};

// Every page of `pdf` rendered in grey at 100 dpi (pdftoppm); a pixel
// darker than light grey is ink. Empty when the file cannot be rendered.
inline std::vector<InkMargins> inkMargins(const std::string& pdf) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(pdf).parent_path() / "ink";
  const std::string command = "pdftoppm -gray -r 100 '" + pdf + "' '" + root.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  std::vector<fs::path> pages;
  for (const auto& e : fs::directory_iterator(root.parent_path()))
    if (e.path().filename().string().rfind("ink-", 0) == 0 && e.path().extension() == ".pgm") pages.push_back(e.path());
  std::sort(pages.begin(), pages.end());
  std::vector<InkMargins> out;
  constexpr double kMmPerPixel = 25.4 / 100;
  for (const fs::path& file : pages) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxValue = 0;
    in >> magic >> w >> h >> maxValue;
    in.get();
    std::vector<unsigned char> px(size_t(w) * size_t(h));
    in.read(reinterpret_cast<char*>(px.data()), std::streamsize(px.size()));
    InkMargins m;
    m.page = int(out.size()) + 1;
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (px[size_t(y) * size_t(w) + size_t(x)] < 200) {
          x0 = std::min(x0, x);
          y0 = std::min(y0, y);
          x1 = std::max(x1, x);
          y1 = std::max(y1, y);
        }
    m.blank = x1 < 0;
    if (!m.blank) {
      m.left = x0 * kMmPerPixel;
      m.top = y0 * kMmPerPixel;
      m.right = (w - 1 - x1) * kMmPerPixel;
      m.bottom = (h - 1 - y1) * kMmPerPixel;
    }
    out.push_back(m);
    fs::remove(file);
  }
  return out;
}

// The pages of `pdf` whose ink comes closer than `mm` to an edge of the
// sheet, described; a PDF that cannot be rendered is one such fault.
inline std::vector<std::string> inkNearTheEdges(const std::string& pdf, double mm = 5) {
  const std::vector<InkMargins> pages = inkMargins(pdf);
  if (pages.empty()) return {"no page rendered from " + pdf};
  std::vector<std::string> faults;
  for (const InkMargins& m : pages) {
    if (m.blank) continue;
    // A pixel of slack: the rendering rounds the ink's edge to a pixel.
    const double slack = 25.4 / 100;
    if (m.left + slack < mm || m.top + slack < mm || m.right + slack < mm || m.bottom + slack < mm) {
      char text[160];
      std::snprintf(text, sizeof text, "page %d: ink %.1f mm left, %.1f top, %.1f right, %.1f bottom", m.page, m.left,
                    m.top, m.right, m.bottom);
      faults.push_back(text);
    }
  }
  return faults;
}

}  // namespace apptest
