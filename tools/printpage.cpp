// printpage: prints a calibration page through the printer object, the
// same way the bills and reports do, so the centre can check a printer (or
// a PDF) against its pre-printed forms: a 10 mm grid from the top-left
// corner of the printable area, labelled in millimetres, and a 255 mm rule
// 35 mm down on landscape paper.
//
//   printpage [--landscape]
#include <QApplication>
#include <cstring>
#include <string>

#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/facade.h"
#include "runtime/gbk.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  bool landscape = argc > 1 && std::strcmp(argv[1], "--landscape") == 0;
  forms::initForms();
  print::registerPrintCommands();

  print::Printer printer;
  const rt::Arg self = rt::makeObject(rt::kPrinter, 0, 0);
  printer.setProperty(print::Printer::kDocName, -1, rt::makeTextRef(GBK("打印校准页")));
  // Dialog and progress window shown, A4, the orientation asked for.
  const rt::Arg begin[] = {self,      rt::Arg{}, rt::Arg{}, rt::makeInt(2), rt::makeInt(landscape ? 1 : 2),
                           rt::Arg{}, rt::Arg{}};
  if (!printer.begin(7, begin)) return 1;  // cancelled

  const int width = landscape ? 2970 : 2100, height = landscape ? 2100 : 2970;  // 0.1 mm
  auto line = [&](int x1, int y1, int x2, int y2) {
    const rt::Arg a[] = {self, rt::makeInt(x1), rt::makeInt(y1), rt::makeInt(x2), rt::makeInt(y2)};
    printer.drawLine(5, a);
  };
  auto text = [&](int x, int y, const std::string& gbk) {
    const rt::Arg a[] = {self, rt::makeInt(x), rt::makeInt(y), rt::makeTextRef(gbk.c_str())};
    printer.printTextAt(4, a);
  };
  printer.setProperty(print::Printer::kFont, 5, rt::makeInt(8));
  for (int x = 0; x <= width - 100; x += 100) {
    line(x, 0, x, x % 500 == 0 ? 80 : 40);
    if (x > 0 && x % 500 == 0) text(x + 10, 50, std::to_string(x / 10));
  }
  for (int y = 0; y <= height - 100; y += 100) {
    line(0, y, y % 500 == 0 ? 80 : 40, y);
    if (y > 0 && y % 500 == 0) text(50, y + 10, std::to_string(y / 10));
  }
  printer.setProperty(print::Printer::kFont, 5, rt::makeInt(12));
  text(300, 600, GBK("打印校准页：刻度每格 10 毫米，自可打印区域左上角量起。"));
  if (landscape) {
    line(200, 350, 2750, 350);
    text(200, 380, GBK("此线长 255 毫米，距可打印区域上沿 35 毫米。"));
  }
  printer.end();
  return 0;
}
