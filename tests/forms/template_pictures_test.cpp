// The background picture and the icon stored in every window decode with
// Qt, have their sizes, and the background stays light enough for black
// text on top of it.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include "forms/template.h"

namespace forms {
namespace {

QImage decode(const std::string& bytes, const char* format) {
  return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), int(bytes.size()), format);
}

TEST(TemplatePictures, BackgroundAndIconDecode) {
  const TemplateData& t = templates();
  const std::string& picture = t.windows.front().window().picture;
  std::string icon;
  for (const WindowTemplate& w : t.windows) {
    EXPECT_EQ(w.window().picture, picture);  // one picture for all windows
    if (!w.window().icon.empty()) {
      if (icon.empty()) icon = w.window().icon;
      EXPECT_EQ(w.window().icon, icon);
    }
  }
  ASSERT_EQ(picture.compare(0, 6, "GIF89a"), 0);
  QImage gif = decode(picture, "GIF");
  ASSERT_FALSE(gif.isNull());
  EXPECT_EQ(gif.width(), 256);
  EXPECT_EQ(gif.height(), 211);

  // Light everywhere: black text needs a pale ground.
  int darkest = 255;
  for (int y = 0; y < gif.height(); y += 3)
    for (int x = 0; x < gif.width(); x += 3) darkest = std::min(darkest, qGray(gif.pixel(x, y)));
  EXPECT_GE(darkest, 200);

  ASSERT_FALSE(icon.empty());
  QImage ico = decode(icon, "ICO");
  ASSERT_FALSE(ico.isNull());
  EXPECT_EQ(ico.width(), 32);
  EXPECT_EQ(ico.height(), 32);
  EXPECT_EQ(qAlpha(ico.pixel(0, 0)), 0);      // transparent corner
  EXPECT_EQ(qAlpha(ico.pixel(16, 16)), 255);  // the cross in the middle
  EXPECT_GT(qGreen(ico.pixel(16, 16)), qRed(ico.pixel(16, 16)));
}

}  // namespace
}  // namespace forms
