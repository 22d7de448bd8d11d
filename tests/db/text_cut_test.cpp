// Texts written into a fixed-size text field: cut to the field without
// leaving half of a two-byte character behind.
#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

// The expected field bytes: the longest run of whole characters of `gbk`
// that fits `size` bytes, NUL-padded to `size`.
std::string expectedField(const std::string& gbk, size_t size) {
  size_t keep = 0;
  while (keep < gbk.size()) {
    size_t step = rt::isGbkLead(static_cast<unsigned char>(gbk[keep])) ? 2 : 1;
    if (keep + step > size) break;
    keep += step;
  }
  std::string out = gbk.substr(0, keep);
  out.resize(size, '\0');
  return out;
}

class TextCutTest : public DbTest {
 protected:
  // The stored bytes of field `t` of record `n` (1-based).
  std::string storedBytes(int32_t n) {
    db::Table& t = *db::currentTable();
    const db::Field& f = t.fields()[0];
    std::vector<uint8_t> rec(size_t(t.recordSize()));
    EXPECT_EQ(t.readRecord(n - 1, rec.data()), 0);
    return std::string(reinterpret_cast<const char*>(rec.data()) + f.offset, size_t(f.size));
  }
};

TEST_F(TextCutTest, MixedTextsAtEveryCutPositionKeepWholeCharacters) {
  // Chinese characters at odd and even offsets, ASCII between them, and a
  // second byte (0x40..0x7E) that looks like ASCII on its own.
  const std::string texts[] = {
      std::string("A") + GBK("阿莫西林胶囊一二三四五六七八九"),  // "A" + 15 characters
      GBK("葡萄糖注射液"),
      std::string(GBK("维")) + "C" + GBK("银翘") + "12" + GBK("片"),
      std::string("\x81\x40") + "x" + "\x81\x7E" + "yz" + GBK("中"),
  };
  for (int size = 1; size <= 31; ++size) {
    const std::string name = "c" + std::to_string(size);
    ASSERT_TRUE(cmd::CreateDatabase(name, {fi("t", 10, size)}));
    ASSERT_TRUE(cmd::OpenDatabase(name));
    int32_t n = 0;
    for (const std::string& text : texts) {
      ASSERT_TRUE(cmd::AppendRecord(text));
      ++n;
      EXPECT_EQ(storedBytes(n), expectedField(text, size_t(size)))
          << "size " << size << ", text " << rt::gbkToUtf8(text);
      // Read back, the text is whole: no replacement character.
      cmd::MoveTo(n);
      EXPECT_EQ(rt::gbkToUtf8(cmd::ReadText("t")).find("\xEF\xBF\xBD"), std::string::npos) << "size " << size;
    }
    cmd::CloseDatabase();
  }
}

TEST_F(TextCutTest, TextsThatFitAreStoredAsGiven) {
  ASSERT_TRUE(cmd::CreateDatabase("fit", {fi("t", 10, 30)}));
  ASSERT_TRUE(cmd::OpenDatabase("fit"));
  const std::string exact = std::string("A") + GBK("阿莫西林胶囊一二三四五六七八") + "B";  // 30 bytes
  ASSERT_EQ(exact.size(), 30u);
  ASSERT_TRUE(cmd::AppendRecord(exact));
  EXPECT_EQ(storedBytes(1), exact);
  ASSERT_TRUE(cmd::AppendRecord(std::string(GBK("盒"))));
  EXPECT_EQ(storedBytes(2), expectedField(GBK("盒"), 30));
}

}  // namespace
