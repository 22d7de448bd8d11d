// The database commands through the command table, grouped by command.
#include <cmath>

#include "db/changes.h"
#include "db/table.h"
#include "db_test_util.h"
#include "forwarding_env.h"
#include "runtime/blocks.h"

using namespace dbtest;

namespace {

class CommandsTest : public DbTest {
 protected:
  // The charge-line table of the application.
  void makeCharges(const char* name = "m20105") {
    ASSERT_TRUE(
        cmd::CreateDatabase(name, {fi("shj", 8), fi("mch", 10, 30), fi("lb", 10, 6), fi("bx", 10, 6), fi("shl", 3),
                                   fi("dw", 10, 6), fi("dj", 5), fi("hj", 5), fi("cf", 10, 10), fi("shf", 10, 10)}));
    ASSERT_TRUE(cmd::OpenDatabase(name));
  }
  void addCharge(const char* lb, int shl, float dj) {
    ASSERT_TRUE(cmd::AppendRecord(rt::DateTime{40300}, "drug", lb, "x", shl, "u", dj, float(shl * dj), "0101", "op"));
  }
  void makeInts(int n, const char* name = "n") {
    ASSERT_TRUE(cmd::CreateDatabase(name, {fi("v", 3), fi("t", 10, 8)}));
    ASSERT_TRUE(cmd::OpenDatabase(name));
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(cmd::AppendRecord(i * 10, std::to_string(i)));
  }
  int pos() { return db::currentTable()->position; }
};

// Expressions over the record being examined.
auto readInt(const char* f) { return cmd::ReadField(f).integer(); }

TEST_F(CommandsTest, OpenCurrentAndClose) {
  makeInts(1, "a");
  EXPECT_FALSE(cmd::OpenDatabase("a"));
  EXPECT_EQ(db::lastError(), db::kAlreadyOpen);
  std::string other = "../" + std::filesystem::path(dir_).filename().string() + "/./A";
  EXPECT_FALSE(cmd::OpenDatabase(other));  // same full path, other spelling
  EXPECT_EQ(db::lastError(), db::kAlreadyOpen);
  EXPECT_FALSE(cmd::OpenDatabase(""));
  EXPECT_EQ(db::lastError(), db::kNotFound);
  EXPECT_FALSE(cmd::OpenDatabase("nothere"));
  EXPECT_EQ(db::lastError(), db::kNotFound);
  ASSERT_TRUE(cmd::CreateDatabase("b", {fi("w", 3)}));
  EXPECT_FALSE(cmd::OpenDatabase("b", "1bad"));
  EXPECT_EQ(db::lastError(), db::kBadAlias);
  ASSERT_TRUE(cmd::OpenDatabase("b", GBK("乙表")));
  EXPECT_EQ(cmd::FieldCount(), 1);  // newest is current

  // Lookup: alias, then title, then full path, ignoring case.
  EXPECT_TRUE(cmd::SetCurrentDatabase("A"));
  EXPECT_EQ(cmd::FieldCount(), 2);
  EXPECT_TRUE(cmd::SetCurrentDatabase(GBK("乙表")));
  EXPECT_EQ(cmd::FieldCount(), 1);
  EXPECT_TRUE(cmd::SetCurrentDatabase(dir_ + "/A.KDB"));
  EXPECT_EQ(cmd::FieldCount(), 2);
  EXPECT_FALSE(cmd::SetCurrentDatabase("zz"));
  EXPECT_EQ(db::lastError(), db::kNotOpened);
  EXPECT_FALSE(cmd::SetCurrentDatabase(""));

  // Closing one before the current keeps the same database current.
  EXPECT_TRUE(cmd::SetCurrentDatabase("b"));
  cmd::CloseDatabase("a");
  EXPECT_EQ(cmd::FieldCount(), 1);
  cmd::CloseDatabase("nomatch");
  EXPECT_EQ(db::lastError(), 0);
  EXPECT_EQ(cmd::FieldCount(), 1);
  cmd::CloseDatabase();
  EXPECT_EQ(cmd::FieldCount(), 0);
  EXPECT_EQ(db::lastError(), db::kNoCurrentDatabase);
  cmd::CloseDatabase();
  EXPECT_EQ(db::lastError(), db::kNoCurrentDatabase);
  EXPECT_TRUE(cmd::OpenDatabase("a"));  // closed files open again
}

TEST_F(CommandsTest, OpenArgumentPositions) {
  makeInts(2, "a");
  cmd::CloseDatabase();
  // An omitted record in the middle is a missing argument.
  rt::Arg ro = rt::makeBool(true);
  EXPECT_TRUE(rt::invoke(rt::Cmd::OpenDatabase, "a", rt::omitted, ro, 3).boolean());
  EXPECT_FALSE(cmd::AppendRecord(1, "x"));  // opened read-only
  EXPECT_NE(db::lastError(), 0);
  cmd::CloseDatabase();
  // Index files: none can be opened, more than ten are refused.
  EXPECT_FALSE(
      rt::invoke(rt::Cmd::OpenDatabase, "a", rt::omitted, rt::omitted, rt::omitted, rt::omitted, rt::omitted, "a.idx")
          .boolean());
  EXPECT_EQ(db::lastError(), db::kIndexOpenFailed);
  std::vector<const char*> names(11, "i");
  void* arr = rt::makeArray(11, sizeof(void*));
  for (int i = 0; i < 11; ++i) rt::setArrayPointer(arr, i, names[size_t(i)]);
  rt::Arg a[7] = {rt::val("a"), {}, {}, {}, {}, {}, rt::makePointer(arr, rt::kText | rt::kArrayFlag)};
  EXPECT_FALSE(rt::call(rt::Cmd::OpenDatabase, 7, a).lo);
  EXPECT_EQ(db::lastError(), db::kTooManyIndexes);
  rt::free(arr);
  EXPECT_TRUE(cmd::OpenDatabase("a"));
}

TEST_F(CommandsTest, NoCurrentDatabase) {
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_EQ(db::lastError(), db::kNoCurrentDatabase);
  EXPECT_FALSE(cmd::MoveTo(1));
  EXPECT_FALSE(cmd::Skip());
  EXPECT_FALSE(cmd::AppendRecord(1));
  EXPECT_FALSE(cmd::PackDatabase());
  EXPECT_EQ(db::lastError(), db::kNoCurrentDatabase);
}

TEST_F(CommandsTest, MoveToAndSkip) {
  makeInts(3);
  EXPECT_TRUE(cmd::MoveTo(0));
  EXPECT_EQ(pos(), 0);
  EXPECT_TRUE(cmd::MoveTo(-4));
  EXPECT_EQ(pos(), 0);
  EXPECT_TRUE(cmd::MoveTo(99));
  EXPECT_EQ(pos(), 2);
  EXPECT_TRUE(cmd::Skip());  // onto past-the-end
  EXPECT_EQ(pos(), 3);
  EXPECT_FALSE(cmd::Skip());
  EXPECT_EQ(db::lastError(), db::kPastLast);
  EXPECT_TRUE(cmd::Skip(0));
  EXPECT_EQ(db::lastError(), 0);
  EXPECT_TRUE(cmd::Skip(-100));
  EXPECT_EQ(pos(), -1);
  EXPECT_FALSE(cmd::Skip(-1));
  EXPECT_EQ(db::lastError(), db::kBeforeFirst);
  EXPECT_TRUE(cmd::Skip(2));
  EXPECT_EQ(pos(), 1);
  EXPECT_EQ(readInt("v"), 20);
  EXPECT_TRUE(cmd::Skip(50));
  EXPECT_EQ(pos(), 3);
  ASSERT_TRUE(cmd::ZapDatabase());
  EXPECT_TRUE(cmd::MoveTo(5));
  EXPECT_EQ(pos(), 0);
  EXPECT_FALSE(cmd::Skip(1));
  EXPECT_EQ(db::lastError(), db::kPastLast);
  EXPECT_FALSE(cmd::Skip(-1));
  EXPECT_EQ(db::lastError(), db::kBeforeFirst);
}

TEST_F(CommandsTest, ReadFieldKindsAndFailures) {
  ASSERT_TRUE(cmd::CreateDatabase("k", {fi("b", 1), fi("s", 2), fi("i", 3), fi("l", 4), fi("f", 5), fi("d", 6),
                                        fi("o", 7), fi("t", 8), fi("p", 9), fi("x", 10, 5), fi("y", 11), fi("m", 12)}));
  ASSERT_TRUE(cmd::OpenDatabase("k"));
  uint8_t bytes[3] = {1, 0, 2};
  void* bs = rt::makeByteSet(bytes, 3);
  rt::Arg sub;
  sub.kind = rt::kSubPtr;
  sub.lo = 77;
  ASSERT_TRUE(cmd::AppendRecord(300, 12.9, -12.9, int64_t(1) << 40, 0.1, 3, true, rt::DateTime{40300.25}, sub, "hello!",
                                rt::makePointer(bs, rt::kBytes), "memo text"));
  rt::free(bs);
  EXPECT_EQ(cmd::ReadField("b").arg().kind, rt::kByte);
  EXPECT_EQ(cmd::ReadField("b").arg().lo, 44u);  // 300 stores its low byte
  EXPECT_EQ(cmd::ReadField("s").integer(), 12);  // truncated toward zero
  EXPECT_EQ(cmd::ReadField("I").integer(), -12);
  EXPECT_EQ(rt::longValue(cmd::ReadField("l").arg()), int64_t(1) << 40);
  EXPECT_EQ(rt::floatValue(cmd::ReadField("f").arg()), 0.1f);  // rounded to single
  EXPECT_EQ(cmd::ReadField("d").real(), 3.0);
  EXPECT_TRUE(cmd::ReadField("o").boolean());
  EXPECT_EQ(cmd::ReadField("t").kind(), rt::kDateTime);
  EXPECT_EQ(cmd::ReadField("t").real(), 40300.25);
  EXPECT_EQ(cmd::ReadField("p").arg().kind, rt::kSubPtr);
  EXPECT_EQ(cmd::ReadField("p").arg().lo, 77u);
  EXPECT_EQ(cmd::ReadText("x"), "hello");  // cut at 5 bytes
  rt::Result y = cmd::ReadField("y");
  size_t n = 0;
  const uint8_t* p = rt::byteSetData(rt::pointerValue<void>(y.arg()), &n);
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(std::memcmp(p, bytes, 3), 0);
  EXPECT_EQ(cmd::ReadText("m"), "memo text");
  EXPECT_EQ(cmd::ReadField(10).text(), "hello");
  EXPECT_EQ(rt::invoke(rt::Cmd::ReadField, 10.7).text(), "hello");  // a double is cut to 10

  // Past the end: an error and a zero of the field's kind.
  ASSERT_TRUE(cmd::Skip());
  rt::Result z = cmd::ReadField("i");
  EXPECT_EQ(z.kind(), rt::kInt);
  EXPECT_EQ(z.integer(), 0);
  EXPECT_EQ(db::lastError(), db::kSeekFailed);
  ASSERT_TRUE(cmd::Skip(-2));
  EXPECT_EQ(cmd::ReadField("x").text(), "");
  EXPECT_EQ(db::lastError(), db::kNoCurrentRecord);
}

TEST_F(CommandsTest, ReadFieldFatalPaths) {
  EXPECT_EXIT(cmd::ReadField("a"), ::testing::ExitedWithCode(255), "未指定当前数据库或者指定数据库未打开");
  makeInts(1);
  EXPECT_EXIT(cmd::ReadField("nosuch"), ::testing::ExitedWithCode(255), "指定字段不存在");
  EXPECT_EXIT(cmd::ReadField(3), ::testing::ExitedWithCode(255), "指定字段不存在");
  EXPECT_EXIT(rt::invoke(rt::Cmd::ReadField, true), ::testing::ExitedWithCode(255), "所提供参数的数据类型不符合要求");
  EXPECT_EXIT(cmd::ReadText("v"), ::testing::ExitedWithCode(255), "数据或数组类型不匹配");
}

TEST_F(CommandsTest, AppendAndModifyKindRules) {
  makeInts(2);
  auto before = readFile("n.kdb");
  EXPECT_FALSE(cmd::AppendRecord("text into int", "x"));
  EXPECT_EQ(db::lastError(), db::kValueKindMismatch);
  EXPECT_FALSE(cmd::AppendRecord(rt::DateTime{1.0}, "x"));  // a date is not a number
  EXPECT_FALSE(cmd::AppendRecord(1, 2));                    // number into text
  EXPECT_EQ(readFile("n.kdb"), before);
  EXPECT_EQ(cmd::RecordCount(), 2);

  ASSERT_TRUE(cmd::MoveTo(1));
  EXPECT_FALSE(cmd::ModifyRecord(5, 6));
  EXPECT_EQ(readFile("n.kdb"), before);
  EXPECT_TRUE(cmd::ModifyRecord(rt::omitted, "new"));  // omitted keeps the old value
  EXPECT_EQ(readInt("v"), 10);
  EXPECT_EQ(cmd::ReadText("t"), "new");
  EXPECT_TRUE(cmd::ModifyRecord(7.9, "a", "surplus ignored"));
  EXPECT_EQ(readInt("v"), 7);
  ASSERT_TRUE(cmd::DeleteRecords());
  EXPECT_TRUE(cmd::ModifyRecord(8));  // header (the deleted mark) stays
  EXPECT_LT(at32(readFile("n.kdb"), 116 + 2 * 72), 0);
  EXPECT_TRUE(cmd::Skip(-1));
  EXPECT_FALSE(cmd::ModifyRecord(1));
  EXPECT_EQ(db::lastError(), db::kNoCurrentRecord);
  EXPECT_TRUE(cmd::MoveTo(2));
  EXPECT_TRUE(cmd::Skip());
  EXPECT_FALSE(cmd::ModifyRecord(1));
  EXPECT_EQ(db::lastError(), db::kNoCurrentRecord);

  // The appended record becomes current; serials count on.
  ASSERT_TRUE(cmd::AppendRecord(3, "c"));
  EXPECT_EQ(pos(), 2);
  auto b = readFile("n.kdb");
  EXPECT_EQ(at32(b, 116 + 2 * 72 + 2 * 16), 3);
}

TEST_F(CommandsTest, SerialsSurviveDeleteUndeleteAndPack) {
  makeInts(5);
  auto serial = [&](int p) { return at32(readFile("n.kdb"), size_t(116 + 2 * 72 + p * 16)); };
  EXPECT_EQ(serial(4), 5);
  ASSERT_TRUE(cmd::MoveTo(3));
  ASSERT_TRUE(cmd::DeleteRecords());
  EXPECT_EQ(serial(2), -3);
  ASSERT_TRUE(cmd::DeleteRecords());  // already marked: unchanged
  EXPECT_EQ(serial(2), -3);
  EXPECT_EQ(cmd::RecordCount(), 5);  // still counted and read
  EXPECT_EQ(readInt("v"), 30);
  ASSERT_TRUE(cmd::PackDatabase());
  EXPECT_EQ(cmd::RecordCount(), 4);
  EXPECT_EQ(pos(), 0);
  EXPECT_EQ(serial(2), 4);
  EXPECT_EQ(serial(3), 5);
  EXPECT_EQ(readFile("n.kdb").size(), size_t(116 + 2 * 72 + 4 * 16));
  ASSERT_TRUE(cmd::AppendRecord(60, "6"));
  EXPECT_EQ(serial(4), 6);  // not renumbered
}

TEST_F(CommandsTest, FindRecord) {
  makeInts(5);
  int want = 0;
  auto isWant = [&] { return rt::makeBool(readInt("v") == want); };
  rt::Expr cond(isWant);
  cmd::MoveFirst();
  want = 30;
  EXPECT_TRUE(cmd::FindRecord(cond.arg()));
  EXPECT_EQ(pos(), 2);
  EXPECT_TRUE(cmd::FindRecord(cond.arg()));  // the current record itself counts
  EXPECT_EQ(pos(), 2);
  want = 20;  // behind the current record: not found, position kept
  EXPECT_FALSE(cmd::FindRecord(cond.arg()));
  EXPECT_EQ(db::lastError(), 0);
  EXPECT_EQ(pos(), 2);
  ASSERT_TRUE(cmd::Skip(-10));
  EXPECT_TRUE(cmd::FindRecord(cond.arg()));  // a negative position starts at 0
  EXPECT_EQ(pos(), 1);
  ASSERT_TRUE(cmd::MoveTo(5));
  ASSERT_TRUE(cmd::Skip());
  want = 10;
  EXPECT_FALSE(cmd::FindRecord(cond.arg()));  // past the end: false at once
  EXPECT_EQ(db::lastError(), 0);

  // Fast text route inside a condition reads the scan buffer.
  auto isFour = [] { return rt::makeBool(db::fieldTextEquals("t", "4")); };
  rt::Expr four(isFour);
  cmd::MoveFirst();
  EXPECT_TRUE(cmd::FindRecord(four.arg()));
  EXPECT_EQ(pos(), 3);

  auto notBool = [] { return rt::makeInt(1); };
  rt::Expr bad(notBool);
  cmd::MoveFirst();
  EXPECT_EXIT(cmd::FindRecord(bad.arg()), ::testing::ExitedWithCode(255),
              "用作进行条件判断的子语句参数只能接受逻辑型数据");
}

TEST_F(CommandsTest, SumRecords) {
  makeCharges();
  double empty = cmd::SumRecords(rt::makeDouble(1));
  EXPECT_EQ(empty, 0);
  EXPECT_EQ(db::lastError(), 0);
  addCharge(GBK("西药"), 2, 1.25f);
  addCharge(GBK("检查"), 1, 10.0f);
  addCharge(GBK("西药"), 3, 0.5f);
  ASSERT_TRUE(cmd::MoveTo(2));
  auto hj = [] { return cmd::ReadField("hj").release(); };
  std::string xiyao = GBK("西药");
  auto west = [&] { return rt::makeBool(cmd::ReadText("lb") == xiyao); };
  rt::Expr value(hj);
  rt::Expr cond(west);
  EXPECT_DOUBLE_EQ(cmd::SumRecords(value.arg(), cond.arg()), 4.0);
  EXPECT_DOUBLE_EQ(cmd::SumRecords(value.arg()), 14.0);
  EXPECT_EQ(pos(), 1);  // restored
  ASSERT_TRUE(cmd::MoveTo(1));
  ASSERT_TRUE(cmd::DeleteRecords());
  EXPECT_DOUBLE_EQ(cmd::SumRecords(value.arg()), 14.0);  // deleted records take part
  auto text = [] { return cmd::ReadField("lb").release(); };
  rt::Expr bad(text);
  EXPECT_EXIT(cmd::SumRecords(bad.arg()), ::testing::ExitedWithCode(255), "所提供参数的数据类型不符合要求");
}

TEST_F(CommandsTest, DeleteRecordsWithCondition) {
  makeInts(6);
  auto even = [] { return rt::makeBool(readInt("v") % 20 == 0); };
  rt::Expr cond(even);
  ASSERT_TRUE(cmd::MoveTo(1));
  ASSERT_TRUE(cmd::DeleteRecords(cond.arg()));
  EXPECT_EQ(pos(), 0);
  ASSERT_TRUE(cmd::PackDatabase());
  EXPECT_EQ(cmd::RecordCount(), 3);
  std::vector<int> left;
  for (int i = 1; i <= 3; ++i) {
    cmd::MoveTo(i);
    left.push_back(readInt("v"));
  }
  EXPECT_EQ(left, (std::vector<int>{10, 30, 50}));
  cmd::MoveTo(1);
  EXPECT_TRUE(cmd::Skip(-1));
  EXPECT_FALSE(cmd::DeleteRecords());
  EXPECT_EQ(db::lastError(), db::kNoCurrentRecord);
}

TEST_F(CommandsTest, ReplaceFields) {
  makeInts(4);
  ASSERT_TRUE(cmd::MoveTo(2));
  EXPECT_TRUE(cmd::ReplaceFields(rt::Arg{}, "T", "two", "nosuch", 1));
  EXPECT_EQ(cmd::ReadText("t"), "two");
  EXPECT_FALSE(cmd::ReplaceFields(rt::Arg{}, "v", "bad"));
  EXPECT_EQ(db::lastError(), db::kValueKindMismatch);
  // With a condition, value expressions are run per record.
  auto big = [] { return rt::makeBool(readInt("v") >= 30); };
  auto doubled = [] { return rt::makeInt(readInt("v") * 2); };
  rt::Expr cond(big);
  rt::Expr value(doubled);
  ASSERT_TRUE(cmd::MoveTo(1));
  EXPECT_TRUE(cmd::ReplaceFields(cond.arg(), "v", value.arg(), "t", "big"));
  EXPECT_EQ(pos(), 0);
  std::vector<int> vs;
  for (int i = 1; i <= 4; ++i) {
    cmd::MoveTo(i);
    vs.push_back(readInt("v"));
  }
  EXPECT_EQ(vs, (std::vector<int>{10, 20, 60, 80}));
  EXPECT_EQ(cmd::ReadText("t"), "big");
  auto arr = [] {
    rt::Arg a;
    a.kind = rt::kInt | rt::kArrayFlag;
    return a;
  };
  rt::Expr notBasic(arr);
  EXPECT_FALSE(cmd::ReplaceFields(cond.arg(), "v", notBasic.arg()));
  EXPECT_EQ(db::lastError(), db::kExpressionKind);
  EXPECT_EXIT(cmd::ReplaceFields(rt::Arg{}, 5, 1), ::testing::ExitedWithCode(255), "所提供参数的数据类型不符合要求");
}

TEST_F(CommandsTest, ZapKeepsNextSerial) {
  makeInts(3);
  ASSERT_TRUE(cmd::ZapDatabase());
  EXPECT_EQ(cmd::RecordCount(), 0);
  auto b = readFile("n.kdb");
  EXPECT_EQ(b.size(), size_t(116 + 2 * 72));
  EXPECT_EQ(at32(b, 20), 4);
}

TEST_F(CommandsTest, CopyRecords) {
  makeInts(5, "src");
  ASSERT_TRUE(cmd::MoveTo(3));
  ASSERT_TRUE(cmd::DeleteRecords());
  auto odd = [] { return rt::makeBool(readInt("v") % 20 != 0); };
  rt::Expr cond(odd);
  ASSERT_TRUE(cmd::MoveTo(4));
  ASSERT_TRUE(cmd::CopyRecords("dst", cond.arg(), "T", "none", "v"));
  EXPECT_EQ(pos(), 3);
  auto b = readFile("dst.kdb");
  // Fields in the order named, offsets recomputed from 4.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[116]), 1), "t");
  EXPECT_EQ(at32(b, 116 + 24), 4);
  EXPECT_EQ(at32(b, 116 + 72 + 24), 12);
  EXPECT_EQ(at32(b, 16), 3);
  EXPECT_EQ(at32(b, 20), 4);
  const size_t hdr = 116 + 2 * 72, rs = 16;
  EXPECT_EQ(at32(b, hdr), 1);
  EXPECT_EQ(at32(b, hdr + rs), -2);  // was deleted in the source
  EXPECT_EQ(at32(b, hdr + rs + 12), 30);
  EXPECT_EQ(at32(b, hdr + 2 * rs), 3);

  auto none = [] { return rt::makeBool(false); };
  rt::Expr never(none);
  ASSERT_TRUE(cmd::CopyRecords("empty", never.arg()));
  ASSERT_TRUE(cmd::OpenDatabase("empty"));
  EXPECT_EQ(cmd::RecordCount(), 0);
  EXPECT_EQ(cmd::FieldCount(), 2);
  ASSERT_TRUE(cmd::SetCurrentDatabase("src"));
  EXPECT_FALSE(cmd::CopyRecords("SRC", rt::Arg{}));  // never over an open table
  EXPECT_EQ(db::lastError(), db::kAlreadyOpen);
  EXPECT_EQ(cmd::RecordCount(), 5);

  // A damaged source whose second field has no name: the copy is refused
  // instead of being laid out against fewer descriptors.
  std::vector<uint8_t> rec;
  le32(rec, 1);
  le32(rec, 7);
  le32(rec, 8);
  writeFile("nameless.kdb", handBuilt({{"a", 3, 4, 0}, {"", 3, 8, 0}}, 1, 2, 12, {rec}));
  ASSERT_TRUE(cmd::OpenDatabase("nameless"));
  EXPECT_FALSE(cmd::CopyRecords("fromnameless", rt::Arg{}));
  EXPECT_EQ(db::lastError(), db::kBadFieldName);
  EXPECT_FALSE(std::filesystem::exists("fromnameless.kdb"));
}

TEST_F(CommandsTest, MemoAndByteSetChains) {
  ASSERT_TRUE(cmd::CreateDatabase("memo", {fi("id", 3), fi("m", 12), fi("y", 11)}));
  ASSERT_TRUE(cmd::OpenDatabase("memo"));
  std::string longText(1234, 'x');
  for (size_t i = 0; i < longText.size(); ++i) longText[i] = char('a' + i % 26);
  ASSERT_TRUE(cmd::AppendRecord(1, longText, rt::omitted));
  EXPECT_EQ(cmd::ReadText("m"), longText);
  auto aux = readFile("memo.kdt");
  EXPECT_EQ(aux.size(), 4u * 512);  // 1235 bytes with the NUL: three blocks
  EXPECT_EQ(at32(aux, 16), 4);
  EXPECT_EQ(at32(aux, 512 + 8), 500);
  EXPECT_EQ(at32(aux, 512 + 4), 2);
  EXPECT_EQ(at32(aux, 3 * 512 + 8), 235);
  EXPECT_EQ(at32(aux, 3 * 512), 2);
  // The new value goes into a block of its own before the old chain is
  // given up: block 4 is written, then blocks 1..3 go on the free list.
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, "short"));
  EXPECT_EQ(cmd::ReadText("m"), "short");
  aux = readFile("memo.kdt");
  EXPECT_EQ(aux.size(), 5u * 512);
  EXPECT_EQ(at32(aux, 16), 5);
  EXPECT_EQ(at32(aux, 20), 3);
  ASSERT_TRUE(cmd::AppendRecord(2, longText, rt::omitted));
  EXPECT_EQ(at32(readFile("memo.kdt"), 20), 0);  // took the three free blocks
  ASSERT_TRUE(cmd::MoveTo(1));
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, ""));  // empty value: block 0, chain freed
  aux = readFile("memo.kdt");
  EXPECT_EQ(aux.size(), 4u * 512);  // block 4 was the last: cut off
  EXPECT_EQ(at32(aux, 16), 4);
  EXPECT_EQ(at32(aux, 20), 0);
  ASSERT_TRUE(cmd::AppendRecord(3, "reuse", rt::omitted));
  EXPECT_EQ(at32(readFile("memo.kdt"), 16), 5);  // a new block at the end
  ASSERT_TRUE(cmd::MoveTo(2));
  EXPECT_EQ(cmd::ReadText("m"), longText);
  ASSERT_TRUE(cmd::DeleteRecords());
  ASSERT_TRUE(cmd::PackDatabase());  // its chain goes back
  EXPECT_EQ(cmd::RecordCount(), 2);
  ASSERT_TRUE(cmd::MoveTo(2));
  EXPECT_EQ(cmd::ReadText("m"), "reuse");
  ASSERT_TRUE(cmd::CopyRecords("copy", rt::Arg{}));
  ASSERT_TRUE(cmd::OpenDatabase("copy"));
  ASSERT_TRUE(cmd::MoveTo(2));
  EXPECT_EQ(cmd::ReadText("m"), "reuse");
  ASSERT_TRUE(cmd::SetCurrentDatabase("memo"));
  ASSERT_TRUE(cmd::ZapDatabase());
  aux = readFile("memo.kdt");
  EXPECT_EQ(aux.size(), 512u);
  EXPECT_EQ(at32(aux, 16), 1);
}

// A look at the folder that fails once is never "no such file": the
// caller reads the failure, and the next look sees the file.
TEST_F(CommandsTest, AFailedLookIsAFailureNotAMissingFile) {
  ASSERT_TRUE(cmd::CreateDatabase("m20105", {fi("dm", 10, 15)}));
  struct FailingLooks : dbtest::ForwardingEnv {
    int failures = 0;
    int stat(const std::string& p) override { return failures-- > 0 ? int(db::kHardware) : base().stat(p); }
    int listDir(const std::string& d, std::vector<std::string>* n) override {
      return failures-- > 0 ? int(db::kHardware) : base().listDir(d, n);
    }
  } env;
  db::os::Env* previous = db::os::setEnv(&env);
  for (const char* pattern : {"m20105.kdb", "m2010*.kdb"}) {
    SCOPED_TRACE(pattern);
    env.failures = 1;
    EXPECT_FALSE(cmd::FileExists(pattern));
    EXPECT_EQ(db::lastError(), db::kHardware);
    EXPECT_TRUE(cmd::FileExists(pattern));
    EXPECT_EQ(db::lastError(), db::kOk);
  }
  db::os::setEnv(previous);
}

TEST_F(CommandsTest, OneFileWhateverTheCase) {
  ASSERT_FALSE(cmd::FileExists("ypjbxx.kdb"));
  ASSERT_TRUE(cmd::CreateDatabase("ypjbxx", {fi("dm", 10, 15)}));
  EXPECT_TRUE(std::filesystem::exists("ypjbxx.kdb"));
  EXPECT_TRUE(cmd::FileExists("ypjbxx.kdb"));
  EXPECT_TRUE(cmd::FileExists("YPJBXX.KDB"));
  EXPECT_TRUE(cmd::FileExists("yp*.k?b"));
  EXPECT_FALSE(cmd::FileExists("zz*"));
  EXPECT_FALSE(cmd::FileExists(""));
  ASSERT_TRUE(cmd::OpenDatabase("YPJBXX"));
  ASSERT_TRUE(cmd::AppendRecord("A1"));
  EXPECT_FALSE(cmd::OpenDatabase("ypjbxx"));
  EXPECT_EQ(db::lastError(), db::kAlreadyOpen);
  EXPECT_TRUE(cmd::SetCurrentDatabase("YpJbXx"));
  cmd::CloseDatabase();
  EXPECT_FALSE(cmd::CreateDatabase("Ypjbxx", {}));                 // fails before touching anything
  ASSERT_TRUE(cmd::CreateDatabase("Ypjbxx", {fi("dm", 10, 15)}));  // replaces the one file
  size_t files = 0;
  // (The folder's change counters are no table.)
  for (auto& e : std::filesystem::directory_iterator("."))
    files += e.is_regular_file() && e.path().filename() != db::kChangeFileName;
  EXPECT_EQ(files, 1u);
  // A table copied from another machine in capitals opens too.
  std::filesystem::rename("ypjbxx.kdb", "YPJBXX.KDB");
  ASSERT_TRUE(cmd::OpenDatabase("ypjbxx"));
  EXPECT_EQ(cmd::RecordCount(), 0);
}

}  // namespace
