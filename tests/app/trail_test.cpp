// The trail: each trailed action leaves exactly one entry with its values
// before and after, also when the shared folder drops in the middle of it;
// two workstations appending at once number their entries without a gap
// or a double; a gap made by hand is named by the audit and kdbtool trail.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <set>

#include "app/charges/charging.h"
#include "app/charges/pending.h"
#include "app/charges/stock_journal.h"
#include "app/trail.h"
#include "charge_fixture.h"
#include "db/dialog/edit_records.h"
#include "db/dialog/record_dialog.h"
#include "flaky_share.h"
#include "worker_process.h"

namespace {

namespace ids = forms::ids;
namespace m = ids::medication;

// Fields of a trail entry as stored() gives them.
enum { xh, sj, czy, gzz, lx, bm, jlh, yz, xz, czh };

class TrailTest : public apptest::MedicationWindowTest {
 protected:
  void SetUp() override {
    app::trail::setNotesPath("");
    app::journal::setWorkstation("ws-a");
    MedicationWindowTest::SetUp();  // A01 阿莫西林 100 at 12.5, 1001, 张三 logged in
    query("1001");
  }
  void TearDown() override {
    db::setEditDialogHook({});
    app::trail::clearNotes();
    MedicationWindowTest::TearDown();
  }

  std::vector<apptest::Stored> entries() { return stored(app::kTrailName); }
  // The entries of one kind (UTF-8).
  std::vector<apptest::Stored> entriesOf(const char* kind) {
    std::vector<apptest::Stored> out;
    for (const auto& e : entries())
      if (e[lx] == kind) out.push_back(e);
    return out;
  }
  void deleteTopLine() {
    select(m::kList2, 0);
    dialogs.answers.assign(8, rt::kOk);
    press(m::kButton3);
  }
  // The serial of the newest line of 1001.
  int32_t newestSerial() {
    std::unique_ptr<db::Table> t;
    db::OpenOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_EQ(db::Table::open((dir_ / "1001.kdb").string(), readOnly, &t), 0);
    int32_t count = 0;
    EXPECT_EQ(t->readCount(&count), 0);
    std::vector<uint8_t> rec(size_t(t->recordSize()));
    EXPECT_EQ(t->readRecord(count - 1, rec.data()), 0);
    return std::abs(db::getI32(rec.data()));
  }
};

TEST_F(TrailTest, EachTrailedActionLeavesOneEntryWithItsValuesBeforeAndAfter) {
  // A charge line deleted.
  charge("A01", "2", "0312");
  const int32_t line = newestSerial();
  deleteTopLine();
  ASSERT_TRUE(stored("1001").empty());
  auto deleted = entriesOf("删除明细");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0][czy], "张三");
  EXPECT_EQ(deleted[0][gzz], "ws-a");
  EXPECT_EQ(deleted[0][bm], "1001");
  EXPECT_EQ(deleted[0][jlh], std::to_string(line));
  EXPECT_EQ(deleted[0][yz],
            "shj=2010年5月3日; mch=阿莫西林; lb=西药; bx=甲类; shl=2; dw=支; dj=12.5; hj=25; cf=0312; shf=张三");
  EXPECT_EQ(deleted[0][xz], "");
  EXPECT_EQ(deleted[0][sj], "2010年5月3日14时30分");

  // The catalogue: a price changed, a drug added, a drug deleted.
  ASSERT_TRUE(forms::loadWindow(ids::kDrugWindow));
  auto drugWin = [](const char* box, const char* utf8) { forms::setText(ids::kDrugWindow, g(box), g(utf8)); };
  auto drugPress = [](uint32_t b) { forms::raiseEvent(ids::kDrugWindow, b, forms::kEvFirst); };
  drugWin("编辑框1", "A01");
  drugPress(ids::drug::kButton2);
  drugWin("编辑框12", "13.8");
  drugPress(ids::drug::kButton4);
  auto changed = entriesOf("目录修改");
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0][bm], "ypjbxx");
  EXPECT_EQ(changed[0][yz], "xj=12.5; xh=1250");
  EXPECT_EQ(changed[0][xz], "xj=13.8; xh=1380");

  drugWin("编辑框1", "B01");
  drugWin("编辑框2", "维生素C");
  drugWin("组合框1", "西药");
  drugWin("编辑框9", "10");
  drugWin("编辑框12", "2");
  drugPress(ids::drug::kButton1);
  auto added = entriesOf("目录新增");
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0][yz], "");
  EXPECT_NE(added[0][xz].find("dm=B01; mch=维生素C; bm=; lb=西药"), std::string::npos) << added[0][xz];
  EXPECT_NE(added[0][jlh], "0");

  drugWin("编辑框1", "A01");
  drugPress(ids::drug::kButton2);
  dialogs.answers.assign(2, rt::kOk);
  drugPress(ids::drug::kButton3);
  auto gone = entriesOf("目录删除");
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_NE(gone[0][yz].find("dm=A01; mch=阿莫西林"), std::string::npos) << gone[0][yz];
  EXPECT_NE(gone[0][yz].find("xj=13.8"), std::string::npos) << gone[0][yz];

  // A posted figure corrected in the record-edit dialog.
  ASSERT_TRUE(app::createTable("bz2010", app::kBills));
  appendElsewhere("bz2010", rt::DateTime{rt::makeDateTime(2010, 5, 3, 0, 0, 0)}, std::string("1001"), 12.5f);
  ASSERT_TRUE(forms::loadWindow(ids::kReportWindow));
  qtest::ExpectModal modal;
  db::setEditDialogHook([](QDialog& d) {
    d.findChild<QLineEdit*>("field_3")->setText("10.2");  // ps
    d.findChild<QPushButton*>("close")->click();
  });
  forms::raiseEvent(ids::kReportWindow, ids::report::kButton7, forms::kEvFirst);
  auto corrected = entriesOf("更正记录");
  ASSERT_EQ(corrected.size(), 1u);
  EXPECT_EQ(corrected[0][bm], "bz2010");
  EXPECT_EQ(corrected[0][jlh], "1");
  EXPECT_EQ(corrected[0][yz], "ps=12.5");
  EXPECT_EQ(corrected[0][xz], "ps=10.2");

  // Numbered 1, 2, 3, ... from the login on, each action once.
  const auto all = entries();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0][lx], "登录");
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i][xh], std::to_string(i + 1));
  std::set<std::string> ops;
  for (const auto& e : all) ops.insert(e[czh]);
  EXPECT_EQ(ops.size(), all.size()) << "every entry has an operation of its own";

  // kdbtool reads the same, filtered.
  const apptest::ToolRun tool = apptest::kdbtool("trail " + dir_.string() + " --kind 目录修改");
  EXPECT_EQ(tool.status, 0) << tool.out;
  EXPECT_NE(tool.out.find("改前: xj=12.5; xh=1250"), std::string::npos) << tool.out;
  EXPECT_EQ(tool.out.find("删除明细"), std::string::npos) << tool.out;
  const apptest::ToolRun csv = apptest::kdbtool("trail " + dir_.string() + " --csv --user 张三 --from 2010-05-03");
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out.rfind("\xEF\xBB\xBF序号,时间,操作员,工作站,类别,数据表,记录序号,改前,改后\r\n", 0), 0u) << csv.out;
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 7);
  const apptest::ToolRun later = apptest::kdbtool("trail " + dir_.string() + " --csv --from 2010-05-04");
  EXPECT_EQ(std::count(later.out.begin(), later.out.end(), '\n'), 1) << later.out;
}

// The folder fails at each file call of a deletion in turn (all calls
// after it, that call alone, or its reply lost). Once the folder is back
// and what was noted is settled, the line is gone with exactly one entry,
// or still there with none.
TEST_F(TrailTest, ADeletionAndItsEntryEndTogetherWhereverTheFolderDrops) {
  apptest::FlakyShare share;
  charge("A01", "1", "0312");
  share.arm(0);
  deleteTopLine();
  share.recover();
  const int calls = share.calls();
  ASSERT_GT(calls, 0);
  using Mode = apptest::FlakyShare::Mode;
  for (Mode mode : {Mode::kDrop, Mode::kOnce, Mode::kLostReply, Mode::kLostThenDrop}) {
    for (int n = 1; n <= calls; ++n) {
      SCOPED_TRACE("mode " + std::to_string(int(mode)) + ", file call " + std::to_string(n));
      charge("A01", "1", "0312");
      const int32_t line = newestSerial();
      share.arm(mode, n);
      deleteTopLine();
      share.recover();
      dialogs.answers.assign(8, rt::kOk);
      app::applyParked();
      EXPECT_EQ(app::trail::settle(), 0);
      int found = 0;
      for (const auto& e : entriesOf("删除明细")) found += e[jlh] == std::to_string(line);
      const bool lineThere = !stored("1001").empty();
      EXPECT_EQ(found, lineThere ? 0 : 1) << "the line is " << (lineThere ? "there" : "gone");
      // Nothing left behind for the next round.
      if (lineThere) deleteTopLine();
      ASSERT_TRUE(stored("1001").empty());
      if (HasFailure()) return;
    }
  }
  // Numbered without a gap through it all.
  const auto all = entries();
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i][xh], std::to_string(i + 1));
}

// An entry noted on this workstation's disk outlives the program: a
// process killed after its deletion's mark and before the entry is written
// leaves the note, and the next start writes the entry once.
TEST_F(TrailTest, AnEntryNotedBeforeAKillIsWrittenOnceAtTheNextStart) {
  const std::string notes = (dir_ / "local" / "pending-trail").string();
  app::trail::setNotesPath(notes);
  charge("A01", "1", "0312");
  const int32_t line = newestSerial();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    app::trail::Noted noted;
    const bool begun =
        noted.begin({app::trail::lineDeleted(), "1001", line, "mch=x", "", ""}, app::trail::Landing::kGone);
    cmd::OpenDatabase("1001");
    cmd::SetCurrentDatabase("1001");
    const bool moved = db::moveToRecord(line, 0) == 0;
    const bool marked = cmd::DeleteRecords();
    _exit(begun && moved && marked ? 0 : 1);  // killed: no destructor, no entry
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(entriesOf("删除明细").empty());
  db::closeAllDatabases();
  app::trail::setNotesPath(notes);  // started again
  EXPECT_EQ(app::trail::waiting(), 1);
  EXPECT_EQ(app::trail::settle(), 0);
  EXPECT_EQ(app::trail::settle(), 0);
  const auto found = entriesOf("删除明细");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0][jlh], std::to_string(line));
  EXPECT_EQ(found[0][czy], "张三");
  app::trail::setNotesPath("");
}

TEST_F(TrailTest, TwoWorkstationsAppendingAtOnceNumberEveryEntryOnce) {
  constexpr int kEach = 40;
  db::closeAllDatabases();
  auto appendMany = [](const char* ws) {
    app::journal::setWorkstation(ws);
    for (int i = 0; i < kEach; ++i)
      app::trail::record({app::trail::loginFailed(), app::kUsersName, 0, "", "", std::to_string(i)});
    return true;
  };
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    db::closeAllDatabases();
    _exit(appendMany("ws-b") ? 0 : 1);
  }
  appendMany("ws-a");
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const auto all = entries();
  ASSERT_EQ(all.size(), size_t(1 + 2 * kEach));  // the login, then both
  int fromB = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i][xh], std::to_string(i + 1));
    fromB += all[i][gzz] == "ws-b";
  }
  EXPECT_EQ(fromB, kEach);
  const apptest::ToolRun audit = apptest::kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(audit.status, 0) << audit.out;
}

// The next number is known from this program's own last entry only while
// nobody else has appended since: an entry another workstation wrote in
// between is counted, and an entry this program's next one follows.
TEST_F(TrailTest, AnEntryAnotherWorkstationAppendedInBetweenIsNumberedOn) {
  auto record = [] { app::trail::record({app::trail::loginFailed(), app::kUsersName, 0, "", "", "x"}); };
  record();
  record();
  {
    std::unique_ptr<db::Table> other;
    ASSERT_EQ(db::Table::open((dir_ / (std::string(app::kTrailName) + ".kdb")).string(), db::OpenOptions{}, &other), 0);
    const int32_t count = int32_t(entries().size());
    const rt::Arg number = rt::makeInt(count + 1);
    const rt::Arg* values[] = {&number};
    ASSERT_EQ(other->append(values, 1), 0);
  }
  record();
  const auto all = entries();
  ASSERT_GE(all.size(), 4u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i][xh], std::to_string(i + 1));
}

TEST_F(TrailTest, AGapInTheNumbersIsNamedByTheAuditAndByKdbtoolTrail) {
  for (int i = 0; i < 6; ++i) app::trail::record({app::trail::loginFailed(), app::kUsersName, 0, "", "", "x"});
  // Entries 3 and 4 removed by hand.
  cmd::OpenDatabase(app::kTrailName);
  cmd::SetCurrentDatabase(app::kTrailName);
  for (int number : {3, 4}) {
    cmd::MoveTo(number);
    ASSERT_TRUE(cmd::DeleteRecords());
  }
  ASSERT_TRUE(cmd::PackDatabase());
  db::closeAllDatabases();
  const apptest::ToolRun audit = apptest::kdbtool("stock-audit " + dir_.string());
  EXPECT_EQ(audit.status, 1);
  EXPECT_NE(audit.out.find("操作记录 czjl 不连续：缺少序号 3-4"), std::string::npos) << audit.out;
  const apptest::ToolRun trail = apptest::kdbtool("trail " + dir_.string());
  EXPECT_EQ(trail.status, 1);
  EXPECT_NE(trail.out.find("缺少序号 3-4"), std::string::npos) << trail.out;
  // The program's view says so too.
  std::vector<app::trail::Row> rows;
  std::vector<int32_t> gaps;
  ASSERT_EQ(app::trail::entries({}, &rows, &gaps), 0);
  EXPECT_EQ(rows.size(), 5u);
  EXPECT_EQ(gaps, (std::vector<int32_t>{3, 4}));
  // The next entry goes on from the last number, not from the count.
  app::trail::record({app::trail::loggedIn(), app::kUsersName, 0, "", "", "x"});
  EXPECT_EQ(entries().back()[xh], "8");
}

// The report window's view: the filters typed into its prompt, the entries
// newest first, read only.
TEST_F(TrailTest, TheReportWindowListsTheEntriesTheFiltersLeave) {
  app::trail::record({app::trail::loginFailed(), app::kUsersName, 0, "", "", g("李四")});
  rt::setClock(rt::makeDateTime(2010, 5, 4, 9, 0, 0));
  app::trail::record({app::trail::loginFailed(), app::kUsersName, 0, "", "", g("李四")});
  struct Shown : qtest::ScriptedDialogs {
    std::string typed, note;
    std::vector<std::vector<std::string>> rows;
    bool askText(const std::string&, const std::string&, std::string* value, bool) override {
      *value = typed;
      return true;
    }
    void showRows(const std::string&, const std::string& n, const std::vector<std::string>&,
                  const std::vector<std::vector<std::string>>& r) override {
      note = n;
      rows = r;
    }
  } shown;
  rt::setDialogs(&shown);
  ASSERT_TRUE(forms::loadWindow(ids::kReportWindow));
  auto* button = forms::windowWidget(ids::kReportWindow)->findChild<QPushButton*>("trailButton");
  ASSERT_NE(button, nullptr);
  shown.typed = "* * " + g("李四");
  button->click();
  ASSERT_EQ(shown.rows.size(), 2u);
  EXPECT_EQ(shown.rows[0][0], "3");  // newest first
  EXPECT_EQ(u(shown.rows[0][4]), "登录失败");
  shown.typed = "2010-5-3 2010-5-3";
  button->click();
  ASSERT_EQ(shown.rows.size(), 2u);  // the login and the first failure
  EXPECT_EQ(u(shown.rows[1][2]), "张三");
  EXPECT_EQ(u(shown.note), "共 2 条，最新的在上");
  shown.typed = "* * * " + g("登录");
  button->click();
  ASSERT_EQ(shown.rows.size(), 1u);
  shown.typed = g("五月");
  shown.answers.assign(1, rt::kOk);
  button->click();
  rt::setDialogs(&dialogs);
  EXPECT_EQ(shown.asked.size(), 1u);
  EXPECT_EQ(u(shown.asked[0].text), "“五月”不是日期，请按 2010-5-3 的样子输入。");
}

}  // namespace
