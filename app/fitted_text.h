// Texts drawn into cells, on the draw panel and on paper: a text that does
// not fit is drawn smaller down to a floor size, then moved left into the
// free part of its cell, and only then cut after its last whole character.
#pragma once

#include <functional>
#include <string>

#include "runtime/facade.h"

namespace app {

// The smallest sizes a text is drawn at to fit its cell: below them it is
// cut instead.
constexpr int kPaperFloorPoints = 6;
constexpr int kPanelFloorPoints = 7;

// How a text is drawn into a cell `width` wide from where it starts: at
// `points` when it fits; otherwise at the largest smaller size, down to
// `floorPoints`, at which it fits; otherwise at `floorPoints`, moved left by
// `shift` into the free part of its cell (at most `roomLeft`) so that it
// ends at the cell's end; and when it does not fit even so, at
// `floorPoints` where it starts, cut after the last whole character that
// fits. `widthAt(text, points)` measures a text at a size.
struct FittedText {
  int points = 0;
  std::string text;  // GBK
  double shift = 0;
};
FittedText fitText(const std::string& gbk, double width, int points, int floorPoints,
                   const std::function<double(const std::string&, int)>& widthAt, double roomLeft = 0);

// Prints a text at (x, y) on the open job of `printer` so that it ends
// before `right` (printer units), fitted as fitText does from `points` down
// to kPaperFloorPoints. The printer's font size is `points` afterwards.
// `left` is where its cell begins (x when the text may not move left).
void printFitted(const rt::Arg& printer, int x, int y, int right, const std::string& gbk, int points);
void printFitted(const rt::Arg& printer, int x, int y, int left, int right, const std::string& gbk, int points);

}  // namespace app
