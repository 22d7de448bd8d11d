#include "app/fitted_text.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "print/facade.h"
#include "runtime/gbk.h"

namespace app {

FittedText fitText(const std::string& gbk, double width, int points, int floorPoints,
                   const std::function<double(const std::string&, int)>& widthAt, double roomLeft) {
  floorPoints = std::min(floorPoints, points);
  for (int size = points; size >= floorPoints; --size)
    if (widthAt(gbk, size) <= width) return {size, gbk, 0};
  // At the floor, the free part of the cell left of the text's place.
  if (const double over = widthAt(gbk, floorPoints) - width; roomLeft > 0 && over <= roomLeft)
    return {floorPoints, gbk, over};
  // Too wide even at the floor: whole characters from the left while they fit.
  std::string kept;
  for (size_t i = 0; i < gbk.size();) {
    const size_t n = rt::isGbkLead(static_cast<unsigned char>(gbk[i])) && i + 1 < gbk.size() ? 2 : 1;
    std::string longer = kept + gbk.substr(i, n);
    if (widthAt(longer, floorPoints) > width) break;
    kept = std::move(longer);
    i += n;
  }
  return {floorPoints, kept, 0};
}

void printFitted(const rt::Arg& printer, int x, int y, int right, const std::string& gbk, int points) {
  printFitted(printer, x, y, x, right, gbk, points);
}

void printFitted(const rt::Arg& printer, int x, int y, int left, int right, const std::string& gbk, int points) {
  const FittedText f = fitText(
      gbk, right - x, points, kPaperFloorPoints,
      [&printer](const std::string& t, int size) {
        cmd::SetPrinterFontSize(printer, size);
        return cmd::PrinterTextWidth(printer, t);
      },
      x - left);
  cmd::SetPrinterFontSize(printer, f.points);
  if (!f.text.empty()) cmd::PrintTextAt(printer, x - int(std::ceil(f.shift)), y, f.text);
  cmd::SetPrinterFontSize(printer, points);
}

}  // namespace app
