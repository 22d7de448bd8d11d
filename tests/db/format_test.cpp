// Byte layouts and the checks of creating and opening a table, against
// file images built by hand.
#include <sys/stat.h>

#include "db/aux.h"
#include "db/names.h"
#include "db/table.h"
#include "db_test_util.h"
#include "runtime/clock.h"
#include "runtime/dialogs.h"

using namespace dbtest;

namespace {

class FormatTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    rt::setClock(40000.5);
  }
  void TearDown() override {
    rt::clearClock();
    DbTest::TearDown();
  }
  int openCode(const std::string& path, bool readOnly = false, const std::string& pw = "") {
    db::OpenOptions o;
    o.readOnly = readOnly;
    o.password = pw;
    std::unique_ptr<db::Table> t;
    return db::Table::open(path, o, &t);
  }
};

int create(const std::vector<rt::FieldInf>& f, const char* name = "t") {
  cmd::CreateDatabase(name, f);
  return db::lastError();
}

TEST_F(FormatTest, CreatedFileMatchesHandBuiltImageByteForByte) {
  ASSERT_EQ(create({fi("dm", 10, 15), fi("shl", 3), fi("jj", 5), fi("shj", 8), fi("ok", 7)}), 0);
  auto want = handBuilt({{"dm", 10, 4, 15}, {"shl", 3, 19, 0}, {"jj", 5, 23, 0}, {"shj", 8, 27, 0}, {"ok", 7, 35, 0}},
                        0, 1, 36, {});
  EXPECT_EQ(readFile("t.kdb"), want);
  EXPECT_FALSE(std::filesystem::exists("t.kdt"));  // fixed kinds only: no auxiliary file
}

TEST_F(FormatTest, AppendedRecordsHaveTheDocumentedBytes) {
  ASSERT_EQ(create({fi("dm", 10, 4), fi("shl", 3), fi("jj", 5), fi("d", 6)}), 0);
  ASSERT_TRUE(cmd::OpenDatabase("t"));
  ASSERT_TRUE(cmd::AppendRecord("ab", 7, 1.5, -2));
  ASSERT_TRUE(cmd::AppendRecord("abcdefg", -1, rt::omitted, 0.25f));
  auto b = readFile("t.kdb");
  const size_t hdr = 116 + 4 * 72, rs = 4 + 4 + 4 + 4 + 8;
  ASSERT_EQ(b.size(), hdr + 2 * rs);
  EXPECT_EQ(at32(b, 16), 2);  // count
  EXPECT_EQ(at32(b, 20), 3);  // next serial
  std::vector<uint8_t> r1(b.begin() + long(hdr), b.begin() + long(hdr + rs));
  std::vector<uint8_t> e1;
  le32(e1, 1);
  raw(e1, "ab", 4);
  le32(e1, 7);
  float f = 1.5f;
  uint32_t fb;
  std::memcpy(&fb, &f, 4);
  le32(e1, int32_t(fb));
  leF64(e1, -2.0);
  EXPECT_EQ(r1, e1);
  std::vector<uint8_t> r2(b.begin() + long(hdr + rs), b.end());
  std::vector<uint8_t> e2;
  le32(e2, 2);
  raw(e2, "abcd", 4);  // cut to the field size, no terminator
  le32(e2, -1);
  le32(e2, 0);  // omitted value stays zero-filled
  leF64(e2, 0.25);
  EXPECT_EQ(r2, e2);
  EXPECT_EQ(cmd::ReadText("dm"), "abcd");
}

TEST_F(FormatTest, AuxiliaryFileIsOneHeaderBlock) {
  ASSERT_EQ(create({fi("m", 12), fi("b", 11)}, "MEMO"), 0);
  EXPECT_TRUE(std::filesystem::exists("MEMO.kdb"));
  auto a = readFile("MEMO.kdt");
  std::vector<uint8_t> want;
  raw(want, "WKDT", 4);
  le32(want, 0x00010000);
  leF64(want, 40000.5);
  le32(want, 1);
  le32(want, 0);
  le32(want, 0);
  raw(want, "", 4 + 480);
  EXPECT_EQ(a, want);
}

TEST_F(FormatTest, CreateRejectsBadDescriptors) {
  EXPECT_EQ(create({}), db::kNoFields);
  EXPECT_EQ(create({fi("", 3), fi("a", 3)}), db::kNoFields);
  cmd::CreateDatabase("", {fi("a", 3)});
  EXPECT_EQ(db::lastError(), db::kNotFound);
  // Third name empty: two fields.
  ASSERT_EQ(create({fi("a", 3), fi("b", 3), fi("", 3), fi("c", 3)}, "two"), 0);
  ASSERT_TRUE(cmd::OpenDatabase("two"));
  EXPECT_EQ(cmd::FieldCount(), 2);

  EXPECT_EQ(create({fi("abcdefghijklmnop", 3)}), 0);  // 16 bytes
  EXPECT_EQ(create({fi("abcdefghijklmnopq", 3)}), db::kBadFieldName);
  EXPECT_EQ(create({fi("1a", 3)}), db::kBadFieldName);
  EXPECT_EQ(create({fi("a_b", 3)}), db::kBadFieldName);
  EXPECT_EQ(create({fi("a b", 3)}), db::kBadFieldName);
  EXPECT_EQ(create({fi(GBK("药品代码"), 3)}), 0);
  EXPECT_EQ(create({fi(GBK("Ａｂ１"), 3)}), 0);               // full-width letters and digit
  EXPECT_EQ(create({fi(GBK("１a"), 3)}), db::kBadFieldName);  // full-width digit first
  EXPECT_EQ(create({fi(GBK("a，"), 3)}), db::kBadFieldName);  // punctuation
  EXPECT_EQ(create({fi(GBK("八个汉字八个汉字"), 3)}), 0);     // 16 bytes
  EXPECT_EQ(create({fi(GBK("九个汉字九个汉字九"), 3)}), db::kBadFieldName);

  EXPECT_EQ(create({fi("a", 0)}), db::kBadFieldKind);
  EXPECT_EQ(create({fi("a", 13)}), db::kBadFieldKind);
  EXPECT_EQ(create({fi("a", 10, 0)}), db::kBadFieldSize);
  EXPECT_EQ(create({fi("a", 10, 1025)}), db::kBadFieldSize);
  EXPECT_EQ(create({fi("a", 10, 1024)}), 0);
  EXPECT_EQ(create({fi("a", 3, -5)}), 0);  // size ignored for other kinds
  EXPECT_EQ(create({fi("Ab", 3), fi("aB", 5)}), db::kDuplicateField);
}

TEST_F(FormatTest, OpenRefusesDamagedHeaders) {
  std::vector<HandField> f = {{"a", 3, 4, 0}};
  auto good = handBuilt(f, 0, 1, 8, {});
  writeFile("ok.kdb", good);
  EXPECT_EQ(openCode("ok.kdb"), 0);

  auto check = [&](std::vector<uint8_t> img, int want, const char* what) {
    writeFile("bad.kdb", img);
    EXPECT_EQ(openCode("bad.kdb"), want) << what;
  };
  check({}, db::kNotDatabase, "empty");
  check(std::vector<uint8_t>(good.begin(), good.begin() + 111), db::kNotDatabase, "short header");
  check(handBuilt(f, 0, 1, 8, {}, "WKDX"), db::kNotDatabase, "magic");
  check(handBuilt(f, 0, 1, 0, {}), db::kNotDatabase, "record size 0");
  check(handBuilt(f, 0, 1, -8, {}), db::kNotDatabase, "negative record size");
  check(handBuilt(f, -1, 1, 8, {}), db::kNotDatabase, "negative count");
  check(handBuilt(f, 0, 0, 8, {}), db::kNotDatabase, "serial 0");
  check(handBuilt(f, 0, 1, 8, {}, "WKDB", 0x00010001), db::kVersionTooHigh, "version");
  check(handBuilt({}, 0, 1, 8, {}), db::kNotDatabase, "no fields");
  auto huge = good;
  put32(huge, 112, 0x7FFFFFFF);
  check(huge, db::kNotDatabase, "huge field count");
  check(handBuilt({{"abcdefghijklmnopq", 3, 4, 0}}, 0, 1, 8, {}), db::kNotDatabase, "no NUL in 17 bytes");
  check(handBuilt({{"a", 13, 4, 0}}, 0, 1, 8, {}), db::kNotDatabase, "kind");
  check(handBuilt({{"a", 10, 4, 0}}, 0, 1, 8, {}), db::kNotDatabase, "text size 0");
  check(handBuilt({{"a", 3, -1, 0}}, 0, 1, 8, {}), db::kNotDatabase, "negative offset");
  check(handBuilt({{"a", 6, 4, 0}}, 0, 1, 8, {}), db::kNotDatabase, "field past the record");
  auto desc = good;
  desc.resize(116 + 40);
  check(desc, db::kNotDatabase, "descriptor cut");
  EXPECT_EQ(openCode("missing.kdb"), db::kNotFound);
  mkdir("dir.kdb", 0755);
  EXPECT_EQ(openCode("dir.kdb"), db::kAccessDenied);
}

std::vector<uint8_t> rec8(int32_t serial, int32_t v) {
  std::vector<uint8_t> r;
  le32(r, serial);
  le32(r, v);
  return r;
}

TEST_F(FormatTest, ShortFileIsRepairedReadWriteAndRefusedReadOnly) {
  std::vector<std::vector<uint8_t>> recs;
  for (int i = 1; i <= 9; ++i) recs.push_back(rec8(i, i * 10));
  recs.push_back({0x0A, 0, 0, 0});  // half of a tenth record
  auto img = handBuilt({{"a", 3, 4, 0}}, 10, 11, 8, recs);
  writeFile("r.kdb", img);
  EXPECT_EQ(openCode("r.kdb", true), db::kFileSizeWrong);
  EXPECT_EQ(readFile("r.kdb"), img);  // read-only leaves it alone
  EXPECT_EQ(openCode("r.kdb"), 0);
  auto b = readFile("r.kdb");
  EXPECT_EQ(b.size(), 116u + 72 + 9 * 8);
  EXPECT_EQ(at32(b, 16), 9);
  EXPECT_EQ(at32(b, 20), 11);  // next serial untouched
}

TEST_F(FormatTest, TrailingBytesAreCutOnlyReadWrite) {
  // At most one record behind the count: an append cut short.
  for (auto tail : {std::vector<uint8_t>{1, 2, 3}, rec8(2, 6)}) {
    auto img = handBuilt({{"a", 3, 4, 0}}, 1, 2, 8, {rec8(1, 5), tail});
    writeFile("x.kdb", img);
    EXPECT_EQ(openCode("x.kdb", true), 0);
    EXPECT_EQ(readFile("x.kdb").size(), img.size());
    EXPECT_EQ(openCode("x.kdb"), 0);
    EXPECT_EQ(readFile("x.kdb").size(), 116u + 72 + 8);
  }
}

TEST_F(FormatTest, PasswordDigestAndProtectedFiles) {
  EXPECT_EQ(db::passwordDigest("abc"), "727fe1287d3f96d6b04fd23c98500190");
  EXPECT_EQ(db::passwordDigest(""), "7e42f8ec980980e904b2008fd98c1dd4");
  auto img = handBuilt({{"a", 3, 4, 0}}, 0, 1, 8, {}, "WCDB");
  const char* stored = "727FE1287D3F96D6B04FD23C98500190";  // case is ignored
  std::memcpy(img.data() + 28, stored, 32);
  writeFile("p.kdb", img);
  EXPECT_EQ(openCode("p.kdb", false, "abc"), 0);
  EXPECT_EQ(openCode("p.kdb", false, "abd"), db::kBadPassword);
  EXPECT_EQ(openCode("p.kdb", false, ""), db::kBadPassword);
  writeFile("plain.kdb", handBuilt({{"a", 3, 4, 0}}, 0, 1, 8, {}));
  EXPECT_EQ(openCode("plain.kdb", false, "abc"), db::kBadPassword);
  EXPECT_EQ(openCode("plain.kdb", false, ""), 0);
}

// Answers password prompts from a script and records the prompts.
class ScriptedDialogs : public rt::Dialogs {
 public:
  std::vector<std::string> answers;  // "" entry = cancel
  std::vector<std::string> prompts;
  int message(const std::string&, const std::string&, uint32_t) override { return rt::kOk; }
  bool askText(const std::string& prompt, const std::string&, std::string* value, bool password) override {
    EXPECT_TRUE(password);
    prompts.push_back(prompt);
    if (prompts.size() > answers.size() || answers[prompts.size() - 1].empty()) return false;
    *value = answers[prompts.size() - 1];
    return true;
  }
  bool saveFile(const std::string&, const std::string&, std::string*) override { return false; }
};

TEST_F(FormatTest, QuestionMarkAsksUpToThreeTimes) {
  auto img = handBuilt({{"a", 3, 4, 0}}, 0, 1, 8, {}, "WCDB");
  std::memcpy(img.data() + 28, "727fe1287d3f96d6b04fd23c98500190", 32);
  writeFile("p.kdb", img);
  ScriptedDialogs d;
  rt::Dialogs* old = rt::setDialogs(&d);
  d.answers = {"x", "y", "abc"};
  EXPECT_EQ(openCode("p.kdb", false, "?"), 0);
  ASSERT_EQ(d.prompts.size(), 3u);
  EXPECT_EQ(d.prompts[1], GBK("密码错误，您还有 2 次重新输入的机会。"));
  EXPECT_EQ(d.prompts[2], GBK("密码错误，您还有 1 次重新输入的机会。"));
  d.prompts.clear();
  d.answers = {"x", "y", "z", "abc"};
  EXPECT_EQ(openCode("p.kdb", false, "?"), db::kBadPassword);
  EXPECT_EQ(d.prompts.size(), 3u);
  d.prompts.clear();
  d.answers = {"x", ""};
  EXPECT_EQ(openCode("p.kdb", false, "?"), db::kBadPassword);
  EXPECT_EQ(d.prompts.size(), 2u);
  rt::setDialogs(old);
}

TEST_F(FormatTest, AuxiliaryHeaderChecks) {
  ASSERT_EQ(create({fi("m", 12)}, "m"), 0);
  auto good = readFile("m.kdt");
  auto with = [&](size_t off, int32_t v) {
    auto b = good;
    for (int i = 0; i < 4; ++i) b[off + size_t(i)] = uint8_t(uint32_t(v) >> (8 * i));
    writeFile("m.kdt", b);
  };
  with(0, 0x54444B58);
  EXPECT_EQ(openCode("m.kdb"), db::kAuxDamaged);
  with(16, 0);
  EXPECT_EQ(openCode("m.kdb"), db::kAuxDamaged);
  with(20, 1);  // free count not below block count
  EXPECT_EQ(openCode("m.kdb"), db::kAuxDamaged);
  with(24, 5);
  EXPECT_EQ(openCode("m.kdb"), db::kAuxDamaged);
  with(4, 0x00020000);
  EXPECT_EQ(openCode("m.kdb"), db::kAuxVersion);
  with(16, 3);  // says 3 blocks, holds 1: values may be gone, new blocks would overlap
  const auto shortAux = readFile("m.kdt");
  EXPECT_EQ(openCode("m.kdb", true), db::kAuxReadFailed);
  EXPECT_EQ(openCode("m.kdb"), db::kAuxReadFailed);
  EXPECT_EQ(readFile("m.kdt"), shortAux);
  {
    db::OpenOptions mend;
    mend.repairing = true;
    std::unique_ptr<db::Table> t;
    EXPECT_EQ(db::Table::open("m.kdb", mend, &t), 0);
  }
  EXPECT_EQ(at32(readFile("m.kdt"), 16), 1);
  EXPECT_EQ(openCode("m.kdb"), 0);
  writeFile("m.kdt", std::vector<uint8_t>(good.begin(), good.begin() + 20));
  EXPECT_EQ(openCode("m.kdb"), db::kAuxDamaged);
  std::filesystem::remove("m.kdt");
  EXPECT_EQ(openCode("m.kdb"), db::kNotFound);
}

TEST_F(FormatTest, FileNameRules) {
  EXPECT_EQ(db::withDefaultExtension("ypjbxx"), "ypjbxx.kdb");
  EXPECT_EQ(db::withDefaultExtension("a."), "a.kdb");
  EXPECT_EQ(db::withDefaultExtension("a.dat"), "a.dat");
  EXPECT_EQ(db::withDefaultExtension("dir.x/a"), "dir.x/a.kdb");
  EXPECT_EQ(db::auxNameFor("a.dat"), "a.kdt");
  EXPECT_EQ(db::auxNameFor("dir.x/a"), "dir.x/a.kdt");
  EXPECT_EQ(db::fileTitle("/x/y/m20105.kdb"), "m20105");
  EXPECT_TRUE(db::wildcardMatch("*.KDB", "ypjbxx.kdb"));
  EXPECT_TRUE(db::wildcardMatch("m2010?.kdb", "M20105.KDB"));
  EXPECT_FALSE(db::wildcardMatch("m2010?.kdb", "m201012.kdb"));
  EXPECT_TRUE(db::wildcardMatch(GBK("?表.kdb"), GBK("药表.kdb")));  // ? is one character
  EXPECT_FALSE(db::wildcardMatch("a*b", "acbd"));
  // Case folding does not touch the trail byte of a GBK character:
  // 0xB0 0x41 and 0xB0 0x61 are different characters.
  EXPECT_FALSE(db::equalsNoCase("\xB0\x41", "\xB0\x61"));
  EXPECT_TRUE(db::equalsNoCase("AbC", "aBc"));
}

}  // namespace
