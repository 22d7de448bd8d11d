// The drug catalogue window on the real window: typing into its boxes,
// pressing its buttons, double-clicking list rows, with the catalogue file
// read back through a handle of its own after every step.
#include <gtest/gtest.h>

#include "../db/forwarding_env.h"
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>
#include <filesystem>

#include "app_fixture.h"
#include "app/shell.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/table.h"
#include "forms/template.h"
#include "forms/window_ids.h"
#include "print/printer.h"

namespace {

namespace ids = forms::ids;
namespace d = ids::drug;
constexpr uint32_t kWin = ids::kDrugWindow;

// Field numbers of a stored record (0-based).
enum { dm, mch, bm, lb, bx, ph, gg, shch, yx, chd, dw, shl, jj, jh, xj, xh };
// A stored record: every field as ToText shows it, UTF-8.
using Stored = std::vector<std::string>;

// Boxes and texts to type, UTF-8, in this order.
using Typed = std::vector<std::pair<const char*, const char*>>;
const Typed kAspirin = {
    {"编辑框1", "A01"}, {"编辑框2", "阿司匹林"}, {"组合框1", "西药"},     {"组合框2", "甲类"},
    {"编辑框4", "B7"},  {"编辑框5", "0.1g"},     {"编辑框6", "2010-5-3"}, {"编辑框7", "2012年5月3日"},
    {"组合框3", "片"},  {"编辑框9", "10"},       {"编辑框10", "1.5"},     {"编辑框12", "2.5"},
};
Typed with(Typed t, const char* box, const char* text) {
  for (auto& [b, v] : t)
    if (std::string(b) == box) v = text;
  return t;
}
const char* const kBoxes[] = {"编辑框1",  "编辑框2",  "编辑框3",  "组合框1", "组合框2", "编辑框4",
                              "编辑框5",  "编辑框6",  "编辑框7",  "编辑框8", "组合框3", "编辑框9",
                              "编辑框10", "编辑框11", "编辑框12", "编辑框13"};

class DrugWindowTest : public apptest::AppTest {
 protected:
  void open() { ASSERT_TRUE(forms::loadWindow(kWin)); }
  void type(const char* box, const char* utf8) { forms::setText(kWin, rt::utf8ToGbk(box), rt::utf8ToGbk(utf8)); }
  void type(const Typed& t) {
    for (auto [box, text] : t) type(box, text);
  }
  std::string box(const char* name) { return rt::gbkToUtf8(forms::text(kWin, rt::utf8ToGbk(name))); }
  void press(uint32_t button) { forms::raiseEvent(kWin, button, forms::kEvFirst); }
  void doubleClick(int row) {
    forms::setProperty(kWin, d::kList1, forms::prop::kListSelected, -1, rt::makeInt(row));
    forms::raiseEvent(kWin, d::kList1, forms::kEvDoubleClick);
  }
  std::string cell(int row, int column) {
    return rt::gbkToUtf8(forms::listItem(kWin, d::kList1, row).texts.at(size_t(column)));
  }
  bool allBoxesEmpty() {
    for (const char* b : kBoxes)
      if (!box(b).empty()) return false;
    return true;
  }

  // The catalogue file as a second opener sees it; the window's handle and
  // its current record are left alone.
  std::vector<Stored> stored() {
    std::unique_ptr<db::Table> t;
    db::OpenOptions readOnly;
    readOnly.readOnly = true;
    EXPECT_EQ(db::Table::open((dir_ / "ypjbxx.kdb").string(), readOnly, &t), 0);
    int32_t count = 0;
    if (!t || t->readCount(&count) != 0) return {};
    std::vector<Stored> out(static_cast<size_t>(count));
    std::vector<uint8_t> rec(size_t(t->recordSize()));
    for (int32_t pos = 0; pos < count; ++pos) {
      EXPECT_EQ(t->readRecord(pos, rec.data()), 0);
      for (const db::Field& f : t->fields()) {
        rt::Arg a;
        EXPECT_EQ(t->loadValue(f, rec.data(), &a), 0);
        out[size_t(pos)].push_back(rt::gbkToUtf8(rt::valueToText(rt::Result(a).arg())));
      }
    }
    return out;
  }
};

// Opening the window on a catalogue whose totals are in step writes
// nothing (on a shared folder every record rewritten is a round trip);
// one whose totals are not is put right as before.
class CountingWrites : public dbtest::ForwardingEnv {
 public:
  // Writes into the catalogue's file.
  struct F : dbtest::ForwardingFile {
    long* writes;
    int write(int64_t o, const void* b, size_t n) override {
      if (writes) ++*writes;
      return in->write(o, b, n);
    }
  };
  std::unique_ptr<dbtest::ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->writes = std::filesystem::path(p).filename() == "ypjbxx.kdb" ? &writes : nullptr;
    return f;
  }
  long writes = 0;
};

TEST_F(DrugWindowTest, OpeningWritesOnlyTotalsOutOfStep) {
  apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
  for (const char* code : {"D1", "D2", "D3"})
    ASSERT_TRUE(cmd::AppendRecord(code, "n", "", "", "", "", "", rt::DateTime{40000}, rt::DateTime{40400}, "", "", 3,
                                  0.1f, float(3 * double(0.1f)), 1.25f, 3.75f));
  ASSERT_TRUE(cmd::MoveTo(2));
  ASSERT_TRUE(cmd::ReplaceFields(rt::Arg{}, "xh", 99.0f));  // D2 out of step
  db::closeAllDatabases();
  CountingWrites counting;
  db::os::Env* previous = db::os::setEnv(&counting);
  open();
  const long firstOpen = counting.writes;
  EXPECT_EQ(firstOpen, 1) << "only D2 is written";
  EXPECT_EQ(stored()[1][xh], "3.75");
  forms::closeWindow(kWin);
  db::closeAllDatabases();
  counting.writes = 0;
  open();
  EXPECT_EQ(counting.writes, 0);
  db::os::setEnv(previous);
}

TEST_F(DrugWindowTest, OpeningRecomputesTotalsAndListsNewestFirst) {
  // Records whose totals do not match their products.
  apptest::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
  for (const char* code : {"D1", "D2", "D3"})
    ASSERT_TRUE(cmd::AppendRecord(code, "n", "", "", "", "", "", rt::DateTime{40000}, rt::DateTime{40400}, "", "", 3,
                                  0.1f, 99.0f, 1.25f, 99.0f));
  db::closeAllDatabases();
  open();
  auto s = stored();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[2][jh], "0.3");  // 3 × 0.1f in double, stored as a float
  EXPECT_EQ(s[2][xh], "3.75");
  ASSERT_EQ(forms::listRowCount(kWin, d::kList1), 3);
  EXPECT_EQ(forms::listItem(kWin, d::kList1, 0).texts.size(), 16u);
  EXPECT_EQ(cell(0, 0), "D3");
  EXPECT_EQ(cell(2, 0), "D1");
  EXPECT_EQ(cell(0, shch), "2009年7月6日");
  EXPECT_EQ(cell(0, jj), "0.1");
  EXPECT_EQ(box("编辑框14"), "3");
  // A sum of doubles (0.9000000357628 as ToText writes it), shown to the fen.
  EXPECT_EQ(box("编辑框15"), "0.9");
  EXPECT_EQ(box("编辑框16"), "11.25");

  // Row r shows record n - r; no selection reaches the top row.
  for (auto [row, code] : {std::pair{2, "D1"}, {0, "D3"}, {1, "D2"}, {-1, "D3"}}) {
    doubleClick(row);
    EXPECT_EQ(box("编辑框1"), code) << row;
  }
  EXPECT_EQ(box("编辑框6"), "2009年7月6日");
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(DrugWindowTest, AddMergesTheSameBatchAndAppendsAnyOther) {
  open();
  EXPECT_TRUE(std::filesystem::exists("ypjbxx.kdb"));
  type(kAspirin);
  EXPECT_EQ(box("编辑框11"), "15");
  type("编辑框11", "14");  // a total typed by hand is kept
  press(d::kButton1);
  auto s = stored();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0], (Stored{"A01", "阿司匹林", "", "西药", "甲类", "B7", "0.1g", "2010年5月3日", "2012年5月3日", "", "片",
                          "10", "1.5", "14", "2.5", "25"}));
  EXPECT_TRUE(allBoxesEmpty());
  EXPECT_EQ(box("编辑框14"), "1");
  EXPECT_EQ(box("编辑框15"), "14");

  // The same batch and sale price at another purchase price: merged.
  type(with(with(kAspirin, "编辑框10", "2"), "编辑框9", "4"));
  press(d::kButton1);
  s = stored();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ((std::vector{s[0][shl], s[0][jj], s[0][jh], s[0][xh]}), (std::vector<std::string>{"14", "2", "22", "35"}));
  // Showing it writes the stored totals last: 22, not 14 × 2.
  doubleClick(0);
  EXPECT_EQ(box("编辑框9"), "14");
  EXPECT_EQ(box("编辑框11"), "22");
  EXPECT_EQ(box("编辑框13"), "35");

  // Another sale price, batch number or gg: a record of its own.
  for (auto [b, text] : {std::pair{"编辑框12", "2.500001"}, {"编辑框4", "B8"}, {"编辑框5", "0.2g"}}) {
    type(with(kAspirin, b, text));
    press(d::kButton1);
  }
  s = stored();
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[1][xj], "2.5");  // 2.500001 as a float, shown with six digits
  EXPECT_EQ(cell(0, gg), "0.2g");

  // A price single precision cannot hold exactly still finds its batch.
  type(with(kAspirin, "编辑框12", "12.3"));
  press(d::kButton1);
  type(with(kAspirin, "编辑框12", "12.3"));
  press(d::kButton1);
  s = stored();
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[4][shl], "20");
  EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(DrugWindowTest, FindShowsTheFirstBatchOrSaysItIsMissing) {
  open();
  type(with(kAspirin, "编辑框2", "first"));
  press(d::kButton1);
  type(with(with(kAspirin, "编辑框2", "second"), "编辑框4", "B9"));
  press(d::kButton1);
  type("编辑框1", "A01");
  press(d::kButton2);
  EXPECT_EQ(box("编辑框2"), "first");
  EXPECT_EQ(box("编辑框7"), "2012年5月3日");
  // Codes compare byte for byte.
  for (const char* code : {"a01", "A01 ", ""}) {
    dialogs.answers.push_back(rt::kOk);
    type("编辑框2", "left over");
    type("编辑框1", code);
    press(d::kButton2);
    EXPECT_TRUE(allBoxesEmpty()) << code;
  }
  EXPECT_EQ(messages(), std::vector<std::string>(3, "无该药品"));
  EXPECT_EQ(forms::listRowCount(kWin, d::kList1), 2);
  EXPECT_EQ(stored().size(), 2u);
}

TEST_F(DrugWindowTest, ModifyRewritesTheShownDrugOnly) {
  open();
  // An empty catalogue: nothing to show, nothing to modify.
  doubleClick(-1);
  dialogs.answers = {rt::kOk, rt::kOk};
  type(kAspirin);
  press(d::kButton4);
  EXPECT_TRUE(stored().empty());
  press(d::kButton1);
  type(with(kAspirin, "编辑框1", "B02"));
  press(d::kButton1);
  // After the add no drug is current.
  type(with(kAspirin, "编辑框2", "changed"));
  press(d::kButton4);
  EXPECT_EQ(messages(), std::vector<std::string>(2, "修改失败!"));
  EXPECT_EQ(stored()[0][mch], "阿司匹林");

  type("编辑框1", "A01");
  press(d::kButton2);
  apptest::makeCurrent(app::kInpatientsName, app::kInpatients);  // another window's table current
  type("编辑框2", "changed");
  type("编辑框9", "7");  // quantities replace, they are not added
  press(d::kButton4);
  auto s = stored();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ((std::vector{s[0][mch], s[0][shl], s[0][jh]}), (std::vector<std::string>{"changed", "7", "10.5"}));
  EXPECT_EQ(s[1][mch], "阿司匹林");
  EXPECT_TRUE(allBoxesEmpty());
  cmd::SetCurrentDatabase(app::kInpatientsName);
  EXPECT_EQ(cmd::RecordCount(), 0);

  // Current no more: the next modify fails again.
  dialogs.answers = {rt::kOk};
  type(kAspirin);
  press(d::kButton4);
  EXPECT_EQ(messages().back(), "修改失败!");
  EXPECT_EQ(stored()[0][mch], "changed");
}

TEST_F(DrugWindowTest, DeleteAsksAndRemovesTheShownDrug) {
  open();
  for (const char* code : {"X1", "X2", "X3"}) {
    type(with(kAspirin, "编辑框1", code));
    press(d::kButton1);
  }
  doubleClick(1);  // record 2
  dialogs.answers = {rt::kCancel};
  press(d::kButton3);
  EXPECT_EQ(stored().size(), 3u);
  EXPECT_EQ(box("编辑框1"), "X2");
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(messages()[0], "你确定要删除此项吗？");
  EXPECT_EQ(dialogs.asked[0].style & rt::mb::kButtonMask, rt::mb::kOkCancel);

  dialogs.answers = {rt::kOk};
  apptest::makeCurrent(app::kInpatientsName, app::kInpatients);  // another window's table current
  press(d::kButton3);
  auto s = stored();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0][dm] + s[1][dm], "X1X3");
  EXPECT_TRUE(allBoxesEmpty());
  EXPECT_EQ(forms::listRowCount(kWin, d::kList1), 2);
  EXPECT_EQ(cell(0, 0), "X3");
  EXPECT_EQ(box("编辑框14"), "2");
  // With no drug shown the delete removes nothing.
  dialogs.answers = {rt::kOk};
  press(d::kButton3);
  EXPECT_EQ(stored().size(), 2u);
}

TEST_F(DrugWindowTest, LineTotalsFollowTheTypingAndFocusMovesOn) {
  open();
  // Each step: box, text typed, then 编辑框11 and 编辑框13.
  const struct {
    const char *box, *text, *purchase, *sale;
  } steps[] = {
      {"编辑框9", "3", "0", "0"},     {"编辑框10", "1.1", "3.3", "0"}, {"编辑框12", "2", "3.3", "6"},
      {"编辑框9", "4盒", "4.4", "8"}, {"编辑框10", "abc", "0", "8"},
  };
  for (const auto& st : steps) {
    type(st.box, st.text);
    EXPECT_EQ(box("编辑框11"), st.purchase) << st.box << " " << st.text;
    EXPECT_EQ(box("编辑框13"), st.sale) << st.box << " " << st.text;
  }
  forms::raiseEvent(kWin, d::kEdit10, forms::kEvLostFocus);
  EXPECT_EQ(forms::windowWidget(kWin)->focusWidget(), forms::controlWidget(kWin, d::kEdit12));
}

// Tab runs through the window in reading order, rows top to bottom, each
// from left to right, starting where the window opens with the focus; the
// purchase price box still sends the focus on to the sale price.
TEST_F(DrugWindowTest, TabFollowsReadingOrderFromTheFirstBox) {
  open();
  QWidget* w = forms::windowWidget(kWin);
  w->activateWindow();
  QApplication::setActiveWindow(w);
  QCoreApplication::processEvents();
  auto nameOf = [this](QWidget* focused) -> std::string {
    for (const forms::Item& it : forms::templates().findWindow(kWin)->items) {
      QWidget* c = forms::controlWidget(kWin, it.id);
      if (c && (c == focused || c->isAncestorOf(focused))) return rt::gbkToUtf8(it.name);
    }
    // The button beside the template's row of buttons.
    if (auto* b = qobject_cast<QPushButton*>(focused)) return b->text().toStdString();
    return "(none)";
  };
  std::vector<std::string> seen = {nameOf(QApplication::focusWidget())};
  for (int i = 0; i < 25; ++i) {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(QApplication::focusWidget(), &tab);
    QCoreApplication::processEvents();  // the lost-focus handler runs queued
    QCoreApplication::processEvents();
    seen.push_back(nameOf(QApplication::focusWidget()));
  }
  const std::vector<std::string> expected = {
      "编辑框1",  "编辑框2",     "编辑框3",                           // 药品代码, 名称, 别名
      "组合框1",  "组合框2",     "编辑框4",                           // 类别, 报销类别, 批号
      "编辑框5",  "编辑框6",     "编辑框7",                           // 规格, 生产日期, 有效期限
      "编辑框8",  "组合框3",     "编辑框9",                           // 产地, 单位, 数量
      "编辑框10", "编辑框12",    "编辑框13",                          // 进价 (on to 售价), 售价合计
      "按钮1",    "按钮2",       "按钮3",    "按钮4",    "按钮5",     // 添加 … 退出
      "库存流水", "超级列表框1", "编辑框14", "编辑框15", "编辑框16",  // 种类, 进价累计, 应售累计
      "编辑框1",                                                      // and round again
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(DrugWindowTest, BadInputIsStoredAsItConverts) {
  open();
  const std::string longName(40, 'n');
  type({{"编辑框2", longName.c_str()}, {"编辑框6", "2010-2-30"}, {"编辑框9", "12.9"}, {"编辑框10", "x"}});
  press(d::kButton1);  // the other boxes empty
  auto s = stored();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0], (Stored{"", longName.substr(0, 30), "", "", "", "", "", "100年1月1日", "100年1月1日", "", "", "12",
                          "0", "0", "0", "0"}));
  press(d::kButton5);
  QCoreApplication::processEvents();
  EXPECT_FALSE(forms::isLoaded(kWin));
  EXPECT_TRUE(dialogs.asked.empty());
}

}  // namespace
