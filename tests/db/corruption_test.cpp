// Damaged files: every opening of a damaged table ends in an engine code
// (or a sound table), never in a crash, a hang or a read out of bounds;
// damaged memo chains read as -59.
#include <random>

#include "db/table.h"
#include "db_test_util.h"

using namespace dbtest;

namespace {

class CorruptionTest : public DbTest {
 protected:
  void makeSample() {
    ASSERT_TRUE(cmd::CreateDatabase("s", {fi("id", 3), fi("t", 10, 9), fi("m", 12), fi("y", 11), fi("d", 8)}));
    ASSERT_TRUE(cmd::OpenDatabase("s"));
    for (int i = 0; i < 40; ++i) {
      std::string memo(size_t(i * 37 % 1300), char('a' + i % 26));
      uint8_t raw[3] = {uint8_t(i), 0, 7};
      void* bs = rt::makeByteSet(raw, size_t(i % 4));
      ASSERT_TRUE(cmd::AppendRecord(i, "r" + std::to_string(i), memo, rt::makePointer(bs, rt::kBytes),
                                    rt::DateTime{40000.0 + i}));
      rt::free(bs);
    }
    ASSERT_TRUE(cmd::MoveTo(7));
    ASSERT_TRUE(cmd::DeleteRecords());
    db::closeAllDatabases();
  }

  // Everything a module could do with the table once it opened.
  void exercise() {
    int n = cmd::RecordCount();
    int fields = cmd::FieldCount();
    for (int r = 1; r <= n && r <= 60; ++r) {
      cmd::MoveTo(r);
      for (int f = 1; f <= fields; ++f) cmd::ReadField(f);
    }
    auto any = [] { return rt::makeBool(cmd::ReadField(1).kind() == rt::kInt && cmd::ReadField(1).integer() == -5); };
    rt::Expr cond(any);
    cmd::MoveFirst();
    cmd::FindRecord(cond.arg());
    auto one = [] { return rt::makeDouble(1); };
    rt::Expr value(one);
    cmd::SumRecords(value.arg());
    cmd::AppendRecord(1, "x", "memo", rt::omitted, rt::DateTime{1});
    cmd::MoveTo(3);
    cmd::ModifyRecord(2, "y", std::string(700, 'q'));
    cmd::DeleteRecords();
    cmd::PackDatabase();
    cmd::CopyRecords("copy", rt::Arg{});
  }
};

TEST_F(CorruptionTest, RandomDamageGivesCodesNotCrashes) {
  makeSample();
  const auto goodDb = readFile("s.kdb"), goodAux = readFile("s.kdt");
  std::mt19937 rng(20100503);
  int opened = 0, refused = 0;
  for (int iter = 0; iter < 600; ++iter) {
    auto dbi = goodDb, aux = goodAux;
    auto& target = (iter % 3 == 2) ? aux : dbi;
    switch (rng() % 5) {
      case 0:  // flip bytes, mostly in the header and descriptors
        for (int k = 0, n = 1 + int(rng() % 6); k < n; ++k) {
          size_t at = rng() % 2 ? rng() % std::min<size_t>(target.size(), 600) : rng() % target.size();
          target[at] ^= uint8_t(1u << (rng() % 8));
        }
        break;
      case 1:  // truncate
        target.resize(rng() % target.size());
        break;
      case 2:  // random bytes
        for (auto& b : target) b = uint8_t(rng());
        break;
      case 3: {  // an extreme int32 into a header word or a block link
        static const int32_t extremes[] = {0, -1, 1, INT32_MAX, INT32_MIN, 0x7FFFFFF0, 100000};
        size_t words = target.size() / 4;
        size_t at = (rng() % 2 ? rng() % 40 : rng() % words) * 4;
        if (at + 4 <= target.size()) put32(target, at, extremes[rng() % 7]);
        break;
      }
      default:  // a link of a memo chain pointing back to itself or far away
        if (aux.size() >= 1024) {
          size_t block = 1 + rng() % (aux.size() / 512 - 1);
          put32(aux, block * 512 + 4, rng() % 2 ? int32_t(block) : int32_t(rng()));
          put32(aux, block * 512 + 8, int32_t(rng() % 700));
        }
        break;
    }
    writeFile("s.kdb", dbi);
    writeFile("s.kdt", aux);
    bool ro = iter % 2 == 0;
    if (rt::invoke(rt::Cmd::OpenDatabase, "s", rt::omitted, ro).boolean()) {
      ++opened;
      exercise();
    } else {
      ++refused;
      int e = db::lastError();
      EXPECT_LT(e, 0);
      EXPECT_GE(e, -80);
    }
    db::closeAllDatabases();
  }
  // The loop must have exercised both outcomes to mean anything.
  EXPECT_GT(opened, 50);
  EXPECT_GT(refused, 50);
}

TEST_F(CorruptionTest, LoopingAndDanglingChainsReadAsAuxErrors) {
  makeSample();
  ASSERT_TRUE(cmd::OpenDatabase("s"));
  ASSERT_TRUE(cmd::MoveTo(30));  // a memo of several blocks
  std::string memo = cmd::ReadText("m");
  ASSERT_GT(memo.size(), 500u);
  const size_t hdr = 116 + 5 * 72, rs = 4 + 4 + 9 + 4 + 4 + 8;
  int32_t first = at32(readFile("s.kdb"), hdr + 29 * rs + 17);
  db::closeAllDatabases();
  auto aux = readFile("s.kdt");
  put32(aux, size_t(first) * 512 + 4, first);  // next = itself
  writeFile("s.kdt", aux);
  ASSERT_TRUE(cmd::OpenDatabase("s"));
  ASSERT_TRUE(cmd::MoveTo(30));
  EXPECT_EQ(cmd::ReadText("m"), "");
  EXPECT_EQ(db::lastError(), db::kAuxAccess);
  db::closeAllDatabases();
  put32(aux, size_t(first) * 512 + 4, 1 << 30);  // past the end
  writeFile("s.kdt", aux);
  ASSERT_TRUE(cmd::OpenDatabase("s"));
  ASSERT_TRUE(cmd::MoveTo(30));
  EXPECT_EQ(cmd::ReadText("m"), "");
  EXPECT_EQ(db::lastError(), db::kAuxAccess);
  // Writing over a damaged chain does not follow it: the value is stored.
  ASSERT_TRUE(cmd::ModifyRecord(rt::omitted, rt::omitted, "fresh"));
  EXPECT_EQ(cmd::ReadText("m"), "fresh");
}

}  // namespace
