// Whether what a window drew or printed can be read: texts as boxes (their
// measured width, their font's em height), rules as segments, and the
// three ways a figure becomes unreadable: two texts on top of each other,
// a figure running over the rule that closes its cell, a text leaving the
// panel or the sheet. Each check returns a description per fault, so that
// EXPECT_EQ(..., none) names them.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "forms/live_windows.h"
#include "print/surface.h"
#include "runtime/gbk.h"

namespace apptest {

struct TextBox {
  int page = 1;
  double x = 0, y = 0, w = 0, h = 0;
  std::string text;  // UTF-8
};
struct Rule {
  int page = 1;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

const std::vector<std::string> none;

// Leading and trailing spaces carry no ink: the box starts after and ends
// before them (the faces used draw a space half an em wide).
inline void trimSpaces(TextBox* b) {
  size_t lead = 0, trail = 0;
  while (lead < b->text.size() && b->text[lead] == ' ') ++lead;
  while (trail < b->text.size() - lead && b->text[b->text.size() - 1 - trail] == ' ') ++trail;
  b->x += lead * b->h / 2;
  b->w = std::max(0.0, b->w - (lead + trail) * b->h / 2);
}

// A recording on the 600 dpi test page, in 0.1 mm.
inline void printedLayout(const std::vector<print::Recorded>& log, std::vector<TextBox>* texts,
                          std::vector<Rule>* rules) {
  constexpr double kPxPerUnit = 600.0 / 254.0;
  int page = 0;
  for (const print::Recorded& r : log) {
    if (r.op == print::Recorded::BeginJob || r.op == print::Recorded::NewPage) ++page;
    if (r.op == print::Recorded::Text) {
      texts->push_back({page, r.x / kPxPerUnit, r.y / kPxPerUnit, r.width / kPxPerUnit, r.fontPixels / kPxPerUnit,
                        rt::gbkToUtf8(r.text)});
      trimSpaces(&texts->back());
    } else if (r.op == print::Recorded::Line)
      rules->push_back({page, r.x / kPxPerUnit, r.y / kPxPerUnit, r.x2 / kPxPerUnit, r.y2 / kPxPerUnit});
  }
}

// A draw panel's drawing, in panel pixels (96 dpi: a point is 4/3 pixel).
inline void panelLayout(const std::vector<forms::PanelDrawn>& drawn, std::vector<TextBox>* texts,
                        std::vector<Rule>* rules) {
  for (const forms::PanelDrawn& d : drawn) {
    if (d.op == forms::PanelDrawn::Text) {
      texts->push_back({1, double(d.x), double(d.y), double(d.width), d.points * 96.0 / 72.0, rt::gbkToUtf8(d.text)});
      trimSpaces(&texts->back());
    } else
      rules->push_back({1, double(d.x), double(d.y), double(d.x2), double(d.y2)});
  }
}

inline std::string describe(const TextBox& b) {
  return "\"" + b.text + "\" p" + std::to_string(b.page) + " (" + std::to_string(int(std::lround(b.x))) + "," +
         std::to_string(int(std::lround(b.y))) + ") w" + std::to_string(int(std::lround(b.w)));
}

// Texts whose boxes share more than `slack` in both directions (an em box
// is taller than the ink: a pixel or two of it shared is not seen).
inline std::vector<std::string> overlaps(const std::vector<TextBox>& texts, double slack = 1.5) {
  std::vector<std::string> out;
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j) {
      const TextBox& a = texts[i];
      const TextBox& b = texts[j];
      if (a.page != b.page || a.w <= 0 || b.w <= 0) continue;
      const double across = std::min(a.x + a.w, b.x + b.w) - std::max(a.x, b.x);
      const double down = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
      if (across > slack && down > slack) out.push_back(describe(a) + " over " + describe(b));
    }
  return out;
}

inline bool isFigure(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-')) return false;
  return true;
}

// Figures that reach past the first vertical rule right of their start
// (among the rules whose span covers the figure's top).
inline std::vector<std::string> figuresOverRules(const std::vector<TextBox>& texts, const std::vector<Rule>& rules) {
  std::vector<std::string> out;
  for (const TextBox& t : texts) {
    if (!isFigure(t.text)) continue;
    double closing = 1e18;
    for (const Rule& r : rules) {
      if (r.page != t.page || std::fabs(r.x1 - r.x2) > 0.5) continue;
      const double top = std::min(r.y1, r.y2), bottom = std::max(r.y1, r.y2);
      if (r.x1 > t.x + 0.5 && top <= t.y && t.y <= bottom) closing = std::min(closing, r.x1);
    }
    if (t.x + t.w > closing + 0.5) out.push_back(describe(t) + " over the rule at " + std::to_string(int(closing)));
  }
  return out;
}

// Texts not wholly inside [0, right] x [0, bottom].
inline std::vector<std::string> outside(const std::vector<TextBox>& texts, double right, double bottom) {
  std::vector<std::string> out;
  for (const TextBox& t : texts)
    if (t.x < -0.5 || t.y < -0.5 || t.x + t.w > right + 0.5 || t.y + t.h > bottom + 0.5) out.push_back(describe(t));
  return out;
}

}  // namespace apptest
