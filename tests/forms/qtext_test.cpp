// The screen edge: any bytes a table holds must reach a widget intact or as
// a visible replacement, never as a crash or a silently shortened text.
#include <gtest/gtest.h>

#include <QString>

#include "forms/qtext.h"

namespace {

TEST(ScreenText, GbkRoundTripAndInvalidBytes) {
  const char* drug = "\xD2\xA9\xC6\xB7";  // 药品
  QString s = forms::fromGbk(drug);
  EXPECT_EQ(s, QString::fromUtf8("药品"));
  EXPECT_EQ(forms::toGbk(s), drug);
  EXPECT_TRUE(forms::fromGbk(nullptr).isEmpty());

  // Each unreadable byte shows as one replacement character and the text
  // after it survives.
  QString bad =
      forms::fromGbk(std::string_view("\xFF\xFF"
                                      "ab\xD2",
                                      5));
  EXPECT_EQ(bad, QString::fromUtf8("\xEF\xBF\xBD\xEF\xBF\xBD"
                                   "ab\xEF\xBF\xBD"));

  // Typed text GBK cannot hold becomes '?', not nothing.
  EXPECT_EQ(forms::toGbk(QString::fromUtf8("x\xF0\x9F\x98\x80y")), "x?y");
  EXPECT_EQ(forms::toGbk(QString::fromUtf8("１２３．５")), "\xA3\xB1\xA3\xB2\xA3\xB3\xA3\xAE\xA3\xB5");
}

}  // namespace
