// kdbtool as the administrator runs it: a real process, UTF-8 on the
// terminal, the engine code on failure.
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "db_test_util.h"
#include "runtime/clock.h"

using namespace dbtest;

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

std::string toolPath() {
  // db_tests and kdbtool are built into the same bin directory.
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kdbtool").string();
}

ToolRun kdbtool(const std::string& args) {
  std::string cmd = toolPath() + " " + args + " 2>err.txt";
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  auto e = readFile("err.txt");
  r.err.assign(e.begin(), e.end());
  return r;
}

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
  EXPECT_EQ(kdbtool("sum c hj").out, "13.75\n");
  EXPECT_EQ(kdbtool("sum c hj --where lb=西药").out, "3.75\n");
  EXPECT_EQ(kdbtool("sum c hj --where lb=无").out, "0\n");
  EXPECT_EQ(kdbtool("sum c hj --where ok=假").out, "10\n");  // ToText of the bool
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
