// kdbtool as the administrator runs it: a real process, UTF-8 on the
// terminal, the engine code on failure.
#include "backup_test.h"
#include "runtime/clock.h"

using namespace dbtest;

namespace {

class KdbtoolTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(toolPath())) << "kdbtool not built: " << toolPath();
  }
};

TEST_F(KdbtoolTest, InfoAndDump) {
  rt::setClock(40301.5);
  ASSERT_TRUE(cmd::CreateDatabase("t", {fi(GBK("名称"), 10, 6), fi("n", 3), fi("m", 12), fi("y", 11)}));
  rt::clearClock();
  ASSERT_TRUE(cmd::OpenDatabase("t"));
  uint8_t raw[2] = {0x0A, 0xFF};
  void* bs = rt::makeByteSet(raw, 2);
  ASSERT_TRUE(cmd::AppendRecord(GBK("西药"), 3, "a,\"b\"", rt::makePointer(bs, rt::kBytes)));
  rt::free(bs);
  ASSERT_TRUE(cmd::AppendRecord("x", -2));
  ASSERT_TRUE(cmd::DeleteRecords());
  db::closeAllDatabases();
  ToolRun r = kdbtool("info t");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "magic: WKDB\nversion: 65536\ncreated: 2010年5月3日12时\nrecords: 2\nnext serial: 3\n"
            "record size: 22\nfields: 4\nfield 1: 名称 kind 10 offset 4 size 6\n"
            "field 2: n kind 3 offset 10 size 4\nfield 3: m kind 12 offset 14 size 4\n"
            "field 4: y kind 11 offset 18 size 4\n");
  r = kdbtool("dump t");
  EXPECT_EQ(r.out, "1\t西药\t3\ta,\"b\"\t0aff\n-2\tx\t-2\t\t\n");
  r = kdbtool("dump --csv t.kdb");
  EXPECT_EQ(r.out, "serial,名称,n,m,y\r\n1,西药,3,\"a,\"\"b\"\"\",0aff\r\n-2,x,-2,,\r\n");
}

TEST_F(KdbtoolTest, CreateAppendSumFind) {
  ToolRun r = kdbtool("create c lb:10:6 hj:5 d:8 ok:7");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(kdbtool("append c 西药 1.25 2010-5-3 真").status, 0);
  EXPECT_EQ(kdbtool("append c 检查 10 2010-5-4 0").status, 0);
  EXPECT_EQ(kdbtool("append c 西药 2.5 2010-5-5 1").status, 0);
  r = kdbtool("append c 西药 1 2010-5-5 maybe");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "-72 所提供数据的类型与字段类型不匹配\n");
  // Amounts (float fields) are summed in fen and written to the fen.
  EXPECT_EQ(kdbtool("sum c hj").out, "13.75\n");
  EXPECT_EQ(kdbtool("sum c hj --where lb=西药").out, "3.75\n");
  EXPECT_EQ(kdbtool("sum c hj --where lb=无").out, "0.00\n");
  EXPECT_EQ(kdbtool("sum c hj --where ok=假").out, "10.00\n");  // ToText of the bool
  r = kdbtool("find c lb=检查");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2\n");
  r = kdbtool("find c lb=无");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  r = kdbtool("sum c nosuch");
  EXPECT_EQ(r.err, "-40 未找到指定字段\n");
  r = kdbtool("sum c lb");
  EXPECT_EQ(r.err, "-70 字段类型错误\n");

  // Stored amounts with float leftovers count, and are dumped, as their
  // nearest fen; --exact dumps the stored values.
  ASSERT_EQ(kdbtool("create f hj:5 n:3").status, 0);
  ASSERT_EQ(kdbtool("append f 95.100006 2").status, 0);
  ASSERT_EQ(kdbtool("append f 0.59999996 -3").status, 0);
  ASSERT_EQ(kdbtool("append f -0.049999997 1").status, 0);
  EXPECT_EQ(kdbtool("sum f hj").out, "95.65\n");
  EXPECT_EQ(kdbtool("sum f n").out, "0\n");
  EXPECT_EQ(kdbtool("dump f").out, "1\t95.10\t2\n2\t0.60\t-3\n3\t-0.05\t1\n");
  EXPECT_EQ(kdbtool("dump --exact f").out, "1\t95.100006\t2\n2\t0.59999996\t-3\n3\t-0.049999997\t1\n");
  EXPECT_EQ(kdbtool("dump --csv --exact f").out,
            "serial,hj,n\r\n1,95.100006,2\r\n2,0.59999996,-3\r\n3,-0.049999997,1\r\n");
}

TEST_F(KdbtoolTest, CheckRepairAndDamagedFiles) {
  writeFile("junk.kdb", {'h', 'e', 'l', 'l', 'o'});
  ToolRun r = kdbtool("check junk");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "-22 指定文件不是数据库文件\n");
  EXPECT_EQ(kdbtool("dump junk").status, 1);
  EXPECT_EQ(kdbtool("info missing").err, "-3 指定文件未找到\n");
  ASSERT_EQ(kdbtool("create s v:3").status, 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(kdbtool("append s " + std::to_string(i)).status, 0);
  auto b = readFile("s.kdb");
  b.resize(b.size() - 5);  // the last record half gone
  writeFile("s.kdb", b);
  r = kdbtool("check s");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "-48 数据库文件尺寸错误\n");
  r = kdbtool("repair s");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(kdbtool("check s").out, "ok\n");
  EXPECT_EQ(kdbtool("dump s").out, "1\t0\n2\t1\n");
  EXPECT_EQ(kdbtool("bogus s").status, 1);
}

TEST_F(KdbtoolTest, PasswordProtectedTables) {
  ASSERT_EQ(kdbtool("--password 秘密 create p v:3").status, 0);
  EXPECT_EQ(readFile("p.kdb")[1], 'C');  // "WCDB"
  EXPECT_EQ(kdbtool("check p").err, "-78 未提供数据库访问密码或提供了错误的密码\n");
  EXPECT_EQ(kdbtool("--password 错 check p").status, 1);
  EXPECT_EQ(kdbtool("--password 秘密 append p 5").status, 0);
  EXPECT_EQ(kdbtool("--password 秘密 dump p").out, "1\t5\n");
}

}  // namespace

namespace {

// A table of eight records with memos of one to three blocks, and the
// helpers to damage its chains by hand.
class KdbtoolChainsTest : public KdbtoolTest {
 protected:
  static constexpr size_t kHdr = 116 + 2 * 72, kRs = 12;
  static std::string memoOf(int i) { return std::string(size_t(300 + 350 * (i % 4)), char('a' + i)); }
  void SetUp() override {
    KdbtoolTest::SetUp();
    ASSERT_TRUE(cmd::CreateDatabase("c", {fi("id", 3), fi("m", 12)}));
    ASSERT_TRUE(cmd::OpenDatabase("c"));
    // Record 1 first holds a longer memo: its surplus blocks go on the free
    // list, in the middle of the file.
    ASSERT_TRUE(cmd::AppendRecord(1, std::string(2000, 'z')));
    for (int i = 2; i <= 8; ++i) ASSERT_TRUE(cmd::AppendRecord(i, memoOf(i)));
    ASSERT_TRUE(cmd::MoveTo(1));
    ASSERT_TRUE(cmd::ModifyRecord(1, memoOf(1)));
    db::closeAllDatabases();
    db_ = readFile("c.kdb");
    aux_ = readFile("c.kdt");
    ASSERT_GT(at32(aux_, 20), 0);  // blocks on the free list
  }
  int32_t first(int record) const { return at32(db_, kHdr + size_t(record - 1) * kRs + 8); }
  std::vector<int32_t> chain(int record) const {
    std::vector<int32_t> out;
    for (int32_t b = first(record); b != 0 && out.size() < 10; b = at32(aux_, size_t(b) * 512 + 4)) out.push_back(b);
    return out;
  }
  // Repairs, then checks that the file is sound again and that every
  // record other than `dropped` kept its bytes and its memo.
  void repairAndCompare(int dropped, const std::string& expectLine) {
    ToolRun r = kdbtool("repair c");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(expectLine), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("record " + std::to_string(dropped) + " field m: value dropped"), std::string::npos) << r.out;
    r = kdbtool("check c");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "ok\n");
    auto now = readFile("c.kdb");
    ASSERT_EQ(now.size(), db_.size());
    for (int rec = 1; rec <= 8; ++rec) {
      size_t at = kHdr + size_t(rec - 1) * kRs;
      bool same = std::equal(db_.begin() + long(at), db_.begin() + long(at + kRs), now.begin() + long(at));
      EXPECT_EQ(same, rec != dropped) << "record " << rec;
    }
    EXPECT_EQ(at32(now, kHdr + size_t(dropped - 1) * kRs + 8), 0);
    ASSERT_TRUE(cmd::OpenDatabase("c"));
    for (int rec = 1; rec <= 8; ++rec) {
      ASSERT_TRUE(cmd::MoveTo(rec));
      EXPECT_EQ(cmd::ReadText("m"), rec == dropped ? "" : memoOf(rec)) << "record " << rec;
    }
    // New values go only into free blocks.
    ASSERT_TRUE(cmd::AppendRecord(10, std::string(2000, 'n')));
    for (int rec = 1; rec <= 8; ++rec) {
      ASSERT_TRUE(cmd::MoveTo(rec));
      EXPECT_EQ(cmd::ReadText("m"), rec == dropped ? "" : memoOf(rec)) << "record " << rec << " after an append";
    }
    db::closeAllDatabases();
  }
  std::vector<uint8_t> db_, aux_;
};

TEST_F(KdbtoolChainsTest, SoundTableChecksAndRepairsUnchanged) {
  ToolRun r = kdbtool("check c");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ok\n");
  EXPECT_EQ(kdbtool("repair c").out, "ok\n");
  EXPECT_EQ(readFile("c.kdb"), db_);
  EXPECT_EQ(readFile("c.kdt"), aux_);
}

TEST_F(KdbtoolChainsTest, LoopsAndLinksPastTheEnd) {
  ASSERT_EQ(chain(3).size(), 3u);
  auto aux = aux_;
  put32(aux, size_t(chain(3)[1]) * 512 + 4, chain(3)[0]);  // back to its first block
  writeFile("c.kdt", aux);
  ToolRun r = kdbtool("check c");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("record 3 field m: block " + std::to_string(chain(3)[0]) + " comes round again"),
            std::string::npos)
      << r.out;
  // dump prints every record it can read and names the one it cannot.
  r = kdbtool("dump c");
  EXPECT_EQ(r.status, 1);
  for (int rec : {1, 2, 4, 5, 6, 7, 8})
    EXPECT_NE(r.out.find(std::to_string(rec) + "\t" + memoOf(rec)), std::string::npos) << rec;
  EXPECT_EQ(r.out.find("3\t3\t"), std::string::npos);
  EXPECT_EQ(r.err, "record 3 field m: -59 访问数据库的辅助文件失败\n");
  repairAndCompare(3, "comes round again");

  writeFile("c.kdb", db_);
  aux = aux_;
  put32(aux, size_t(chain(5).front()) * 512 + 4, 4000);
  writeFile("c.kdt", aux);
  r = kdbtool("check c");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("record 5 field m: block 4000 is past the end of the file"), std::string::npos) << r.out;
  repairAndCompare(5, "past the end");

  writeFile("c.kdb", db_);
  aux = aux_;
  put32(aux, size_t(chain(2).front()) * 512 + 8, 501);
  writeFile("c.kdt", aux);
  r = kdbtool("check c");
  EXPECT_NE(r.out.find("record 2 field m: block " + std::to_string(chain(2).front()) + " has a used-byte count"),
            std::string::npos)
      << r.out;
  repairAndCompare(2, "used-byte count");
}

TEST_F(KdbtoolChainsTest, CrossLinksAndTheFreeList) {
  // Record 6's chain runs into record 7's second block: record 7 keeps it
  // (its own link matches the block's "previous" field).
  ASSERT_GE(chain(7).size(), 2u);
  auto aux = aux_;
  put32(aux, size_t(chain(6).back()) * 512 + 4, chain(7)[1]);
  writeFile("c.kdt", aux);
  ToolRun r = kdbtool("check c");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("record 6 field m: block " + std::to_string(chain(7)[1]) + " also belongs to record 7 field m"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("record 7 field m:"), std::string::npos) << r.out;
  repairAndCompare(6, "also belongs to");

  // A free list that starts at a block record 4 uses: the next value
  // written would overwrite record 4's memo. Repair keeps the memo and
  // rebuilds the free list.
  writeFile("c.kdb", db_);
  aux = aux_;
  put32(aux, 24, chain(4).front());
  writeFile("c.kdt", aux);
  r = kdbtool("check c");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("record 4 field m: block " + std::to_string(chain(4).front()) + " is on the free list"),
            std::string::npos)
      << r.out;
  r = kdbtool("repair c");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("value dropped"), std::string::npos) << r.out;
  EXPECT_EQ(readFile("c.kdb"), db_);
  EXPECT_EQ(kdbtool("check c").out, "ok\n");
  ASSERT_TRUE(cmd::OpenDatabase("c"));
  ASSERT_TRUE(cmd::AppendRecord(10, std::string(2000, 'n')));
  ASSERT_TRUE(cmd::MoveTo(4));
  EXPECT_EQ(cmd::ReadText("m"), memoOf(4));
  db::closeAllDatabases();

  // A free list that loops, and one that runs past the end.
  writeFile("c.kdb", db_);
  aux = aux_;
  int32_t head = at32(aux_, 24);
  put32(aux, size_t(head) * 512 + 4, head);
  put32(aux, 20, 2);
  writeFile("c.kdt", aux);
  r = kdbtool("check c");
  EXPECT_NE(r.out.find("free list: block " + std::to_string(head) + " comes round again"), std::string::npos) << r.out;
  put32(aux, size_t(head) * 512 + 4, 7777);
  writeFile("c.kdt", aux);
  r = kdbtool("check c");
  EXPECT_NE(r.out.find("free list: block 7777 is past the end"), std::string::npos) << r.out;
  EXPECT_EQ(kdbtool("repair c").status, 0);
  EXPECT_EQ(kdbtool("check c").out, "ok\n");
  EXPECT_EQ(readFile("c.kdb"), db_);
}

TEST_F(KdbtoolTest, DeleteAndPack) {
  ASSERT_EQ(kdbtool("create d lb:10:6 n:3").status, 0);
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(kdbtool(std::string("append d ") + (i % 2 ? "西药" : "检查") + " " + std::to_string(i)).status, 0);
  ToolRun r = kdbtool("delete d --where lb=西药");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2 records marked deleted\n");
  EXPECT_EQ(kdbtool("delete d --where lb=西药").out, "0 records marked deleted\n");
  EXPECT_EQ(kdbtool("dump d").out, "1\t检查\t0\n-2\t西药\t1\n3\t检查\t2\n-4\t西药\t3\n5\t检查\t4\n");
  r = kdbtool("pack d");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "kept 3 of 5 records\n");
  EXPECT_EQ(kdbtool("dump d").out, "1\t检查\t0\n3\t检查\t2\n5\t检查\t4\n");
  EXPECT_EQ(kdbtool("delete d --where nosuch=1").err, "-40 未找到指定字段\n");
  EXPECT_EQ(kdbtool("delete d").status, 1);  // usage: the condition is required
}

}  // namespace

namespace {

// A damaged record count: five whole records, the count set lower. Every
// checker names it, no writer cuts the records, repair takes them back.
TEST_F(KdbtoolTest, DamagedCountIsReportedAndRestoredNeverCut) {
  ASSERT_EQ(kdbtool("create y v:3 t:10:8").status, 0);
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(kdbtool("append y " + std::to_string(i) + " r" + std::to_string(i)).status, 0);
  const auto whole = readFile("y.kdb");
  for (int count : {0, 1, 2, 4}) {
    auto b = whole;
    put32(b, 16, count);
    writeFile("y.kdb", b);
    std::string what = "count " + std::to_string(count);
    ToolRun r = kdbtool("check y");
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_NE(r.err.find("记录数已损坏"), std::string::npos) << what << r.err;
    // The program itself: a writing open and an append are refused, the
    // file is left as it was.
    EXPECT_FALSE(cmd::OpenDatabase("y")) << what;
    EXPECT_EQ(db::lastError(), db::kFileSizeWrong) << what;
    EXPECT_FALSE(cmd::OpenDatabase("y", "", true)) << what;
    EXPECT_EQ(kdbtool("append y 9 x").status, 1) << what;
    EXPECT_EQ(readFile("y.kdb"), b) << what;
    r = kdbtool("verify .");
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_NE(r.out.find("damaged"), std::string::npos) << what << r.out;
    r = kdbtool("repair y");
    EXPECT_EQ(r.status, 0) << what << r.err;
    EXPECT_NE(r.out.find("record count restored from " + std::to_string(count) + " to 5"), std::string::npos)
        << what << r.out;
    EXPECT_EQ(readFile("y.kdb"), whole) << what;
    EXPECT_EQ(kdbtool("dump y").out, "1\t1\tr1\n2\t2\tr2\n3\t3\tr3\n4\t4\tr4\n5\t5\tr5\n") << what;
  }
  // A writer that had the table open before the count was damaged does
  // not append over a record either.
  ASSERT_TRUE(cmd::OpenDatabase("y"));
  auto b = whole;
  put32(b, 16, 2);
  std::vector<uint8_t> counted(b.begin() + 16, b.begin() + 20);
  {
    std::FILE* f = std::fopen("y.kdb", "r+b");
    ASSERT_TRUE(f);
    std::fseek(f, 16, SEEK_SET);
    std::fwrite(counted.data(), 1, 4, f);
    std::fclose(f);
  }
  EXPECT_FALSE(cmd::AppendRecord(6, "r6"));
  EXPECT_EQ(db::lastError(), db::kFileSizeWrong);
  db::closeAllDatabases();
  EXPECT_EQ(readFile("y.kdb"), b);
}

// A pack stopped half-way is not damage: read-only tools say so with
// their own exit status, repair completes it.
TEST_F(KdbtoolTest, InterruptedPackIsNamedAsSuchAndCompletedByRepair) {
  ASSERT_EQ(kdbtool("create p v:3").status, 0);
  ASSERT_TRUE(cmd::OpenDatabase("p"));
  for (int i = 1; i <= 6; ++i) ASSERT_TRUE(cmd::AppendRecord(i));
  ASSERT_TRUE(cmd::MoveTo(2));
  ASSERT_TRUE(cmd::DeleteRecords());
  db::closeAllDatabases();
  // What a pack killed after its first step leaves: the serial negated and
  // the redo record saying nothing has moved yet.
  auto b = readFile("p.kdb");
  put32(b, 20, -7);
  writeFile("p.kdb", b);
  std::vector<uint8_t> log(128 + 8, 0);
  std::memcpy(log.data(), "WKDP", 4);
  put32(log, 4, 1);
  put32(log, 8, 8);
  put32(log, 12, 6);
  put32(log, 16, 7);
  put32(log, 20, 1);
  put32(log, 24, 1);
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < 36; ++i) h = (h ^ log[i]) * 16777619u;
  put32(log, 36, int32_t(h));
  writeFile("p.kdb.pack", log);

  for (const char* tool : {"check p", "dump p", "info p"}) {
    ToolRun r = kdbtool(tool);
    EXPECT_EQ(r.status, 3) << tool;
    EXPECT_NE(r.err.find("压缩未完成：下一次写入打开或 kdbtool repair 将完成它，数据完整"), std::string::npos)
        << tool << r.err;
  }
  ToolRun v = kdbtool("verify .");
  EXPECT_EQ(v.status, 3);
  EXPECT_EQ(v.out.find("damaged"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("1 with a pack still to complete"), std::string::npos) << v.out;
  EXPECT_EQ(readFile("p.kdb"), b);  // read-only: untouched

  ToolRun r = kdbtool("repair p");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("completed an interrupted pack: 5 records"), std::string::npos) << r.out;
  EXPECT_EQ(kdbtool("dump p").out, "1\t1\n3\t3\n4\t4\n5\t5\n6\t6\n");
  EXPECT_EQ(kdbtool("verify .").status, 0);
}

}  // namespace
