// Typed printer commands for module code, in namespace cmd. The printer is
// the window's printer control, passed as its argument record
// (forms::Control::arg()); registerPrintCommands() must have run.
//
//   if (cmd::BeginPrinting(printer, true, true, 2)) {   // dialog, progress, A4
//     cmd::SetPrinterFontSize(printer, 16);
//     cmd::PrintTextAt(printer, 850, 300, title);
//     cmd::DrawLine(printer, 200, 450, 2400, 450);
//     cmd::EndPrinting(printer);
//   }
#pragma once

#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/facade.h"

namespace cmd {

// printer, then the optional show-dialog flag, show-progress flag, paper
// type, orientation (1 landscape), custom width and height. True when the
// job and its first page are open.
template <typename... Ts>
bool BeginPrinting(const rt::Arg& printer, const Ts&... options) {
  return rt::invoke(rt::Cmd::BeginPrinting, printer, options...).boolean();
}
// Prints the values one after the other from (x, y), in the printer's unit.
template <typename... Ts>
void PrintTextAt(const rt::Arg& printer, int x, int y, const Ts&... values) {
  rt::invoke(rt::Cmd::PrintTextAt, printer, x, y, values...);
}
inline void DrawLine(const rt::Arg& printer, int x1, int y1, int x2, int y2) {
  rt::invoke(rt::Cmd::DrawLine, printer, x1, y1, x2, y2);
}
inline void EndPrinting(const rt::Arg& printer) { rt::invoke(rt::Cmd::EndPrinting, printer); }

// Ends the open job without printing it, as the progress window's
// "中止打印" does: module code that finds, after the print dialog, that it
// has nothing sound to print. Nothing happens when no job is open.
inline void AbortPrinting(const rt::Arg& printer) {
  if (printer.kind == rt::kPrinter) print::printerFor(printer.lo, printer.hi).abort();
}

// Starts a new page of the open job (module code that lays out more rows
// than one page holds). False when no job is open or the page cannot be had.
inline bool NewPage(const rt::Arg& printer) {
  return printer.kind == rt::kPrinter && print::printerFor(printer.lo, printer.hi).newPage();
}

// The width of one line of text in the printer's unit, in its current
// font; 0 when no job is open.
inline double PrinterTextWidth(const rt::Arg& printer, const std::string& gbk) {
  return printer.kind == rt::kPrinter ? print::printerFor(printer.lo, printer.hi).textWidth(gbk) : 0;
}

// The distance from the top of the page's coordinates to the sheet's
// bottom edge in the printer's unit; 0 when no job is open.
inline double SheetBottom(const rt::Arg& printer) {
  return printer.kind == rt::kPrinter ? print::printerFor(printer.lo, printer.hi).sheetBottom() : 0;
}

// The printable width of the open job's page in the printer's unit, less
// the left and right margins; 0 when no job is open.
inline int PrintableWidth(const rt::Arg& printer) {
  return rt::Result(forms::getProperty(printer.lo, printer.hi, print::Printer::kPrintableWidth)).integer();
}

// The printable height of the open job's page in the printer's unit, less
// the top and bottom margins; 0 when no job is open.
inline int PrintableHeight(const rt::Arg& printer) {
  return rt::Result(forms::getProperty(printer.lo, printer.hi, print::Printer::kPrintableHeight)).integer();
}

// The font size in points, written into the printer's font property
// (sub-field 5), as module code does before each group of texts.
inline void SetPrinterFontSize(const rt::Arg& printer, int points) {
  constexpr int kPrinterFont = 17;
  forms::setProperty(printer.lo, printer.hi, kPrinterFont, forms::kFontSize, rt::makeInt(points));
}

}  // namespace cmd
