// How a text is made to fit its cell: smaller first, down to the floor,
// then moved left into its cell's free part, then cut after a whole
// character; measured here by a rule of thumb (an ASCII character is half
// the size wide, a two-byte character the size), so each step is exact.
#include <gtest/gtest.h>

#include <string>

#include "app/fitted_text.h"
#include "runtime/gbk.h"

namespace {

double widthAt(const std::string& gbk, int points) {
  double w = 0;
  for (size_t i = 0; i < gbk.size(); ++i) {
    if (rt::isGbkLead(static_cast<unsigned char>(gbk[i])) && i + 1 < gbk.size()) {
      w += points;
      ++i;
    } else {
      w += points / 2.0;
    }
  }
  return w;
}

TEST(FitText, SmallerThenMovedLeftThenCutAtAWholeCharacter) {
  // "1234567.88" is 10 half-width characters: 5 × size wide.
  const std::string figure = "1234567.88";
  // Fits as it is.
  auto f = app::fitText(figure, 50, 9, 6, widthAt);
  EXPECT_EQ(f.points, 9);
  EXPECT_EQ(f.text, figure);
  EXPECT_EQ(f.shift, 0);
  // The largest size that fits: 8 (40 wide) in 42.
  f = app::fitText(figure, 42, 9, 6, widthAt);
  EXPECT_EQ(f.points, 8);
  EXPECT_EQ(f.text, figure);
  // Exactly at the floor.
  f = app::fitText(figure, 30, 9, 6, widthAt);
  EXPECT_EQ(f.points, 6);
  EXPECT_EQ(f.text, figure);
  // Too wide at the floor by 5: moved left by 5 when the cell has room,
  // whole.
  f = app::fitText(figure, 25, 9, 6, widthAt, 8);
  EXPECT_EQ(f.points, 6);
  EXPECT_EQ(f.text, figure);
  EXPECT_EQ(f.shift, 5);
  // Not room enough on the left either: cut at the floor where it starts.
  f = app::fitText(figure, 25, 9, 6, widthAt, 4);
  EXPECT_EQ(f.points, 6);
  EXPECT_EQ(f.text, "1234567.");
  EXPECT_EQ(f.shift, 0);

  // A two-byte character is never halved: 儿童康复科 at the floor 6 is 30
  // wide; in 27 four characters (24) stay, in 23 three.
  const std::string ward = GBK("儿童康复科");
  f = app::fitText(ward, 27, 10, 6, widthAt);
  EXPECT_EQ(f.points, 6);
  EXPECT_EQ(f.text, GBK("儿童康复"));
  f = app::fitText(ward, 23, 10, 6, widthAt);
  EXPECT_EQ(f.text, GBK("儿童康"));
  // Mixed: "A-" (6) + 儿童 (12) in 17: "A-儿".
  f = app::fitText(std::string("A-") + GBK("儿童"), 17, 6, 6, widthAt);
  EXPECT_EQ(f.text, std::string("A-") + GBK("儿"));
  // A cell narrower than the first character gets nothing.
  f = app::fitText(ward, 5, 10, 6, widthAt);
  EXPECT_EQ(f.text, "");
  // A text already smaller than the floor is not enlarged to it.
  f = app::fitText(figure, 100, 5, 6, widthAt);
  EXPECT_EQ(f.points, 5);
  EXPECT_EQ(f.text, figure);
  // An empty text fits anywhere.
  f = app::fitText("", 0, 9, 6, widthAt);
  EXPECT_EQ(f.points, 9);
  EXPECT_EQ(f.text, "");
}

}  // namespace
