// The control kinds: their properties, their events and the list, combo,
// panel and message commands.
#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QValidator>
#include <cmath>
#include <functional>

#include "forms/qt/live_p.h"
#include "qt_support.h"
#include "runtime/clock.h"
#include "runtime/commands.h"
#include "runtime/facade.h"

namespace {

using namespace qtest;

constexpr uint32_t kWin = 0x52010001;
enum : uint32_t {
  kEdit = 0x16010001,
  kPassword,
  kInteger,
  kDateBox,
  kSimpleCombo,
  kCombo,
  kListCombo,
  kSortedCombo,
  kLabel,
  kTrans,
  kButton,
  kDefault,
  kDate,
  kList,
  kBareList,
  kPanel,
};

std::vector<std::pair<uint32_t, int>> g_events;  // (control, event) in order
template <int N>
void record() {
  g_events.push_back({forms::eventSource().control, N});
}

forms::Font songti(int height) {
  forms::Font f;
  f.present = true;
  f.height = -height;
  f.face = gbk("宋体");
  return f;
}

forms::TemplateData sample() {
  forms::TemplateData d;
  forms::WindowTemplate w = window(kWin, "控件", 800, 500);
  auto add = [&](forms::Item it) { w.items.push_back(std::move(it)); };
  // Handler k of the table records (control, k); bindings use the event's
  // own magnitude so the record says which event ran.
  forms::Item edit = item(kEdit, forms::kEditBoxKind, "编辑框1", 10, 10, 100, 24);
  edit.font = songti(19);
  on(edit, forms::kEvFirst, 0);
  add(on(edit, forms::kEvLostFocus, 8));
  forms::Item pw = item(kPassword, forms::kEditBoxKind, "编辑框2", 10, 40, 100, 24);
  pw.inputMode = forms::kInputPassword;
  add(pw);
  forms::Item integer = item(kInteger, forms::kEditBoxKind, "编辑框3", 10, 70, 100, 24);
  integer.inputMode = forms::kInputInteger;
  add(integer);
  forms::Item date = item(kDateBox, forms::kEditBoxKind, "编辑框4", 10, 100, 100, 24);
  date.inputMode = forms::kInputDateTime;
  add(date);
  forms::Item simple = item(kSimpleCombo, forms::kComboBoxKind, "组合框1", 200, 10, 120, 24);
  simple.comboType = 0;
  add(simple);
  forms::Item combo = item(kCombo, forms::kComboBoxKind, "组合框2", 200, 40, 120, 24);
  combo.comboItems = {gbk("甲类"), gbk("乙类"), gbk("非类")};
  add(combo);
  forms::Item listCombo = item(kListCombo, forms::kComboBoxKind, "组合框3", 200, 70, 120, 24);
  listCombo.comboType = 2;
  listCombo.comboItems = {gbk("男"), gbk("女")};
  add(listCombo);
  forms::Item sorted = item(kSortedCombo, forms::kComboBoxKind, "组合框4", 200, 100, 120, 24);
  sorted.comboSorted = true;
  add(sorted);
  add(item(kLabel, forms::kLabelKind, "标签1", 350, 10, 100, 24));
  forms::Item trans = item(kTrans, forms::kTransLabelKind, "透明标签1", 350, 40, 100, 24);
  trans.text = gbk("药品管理");
  add(on(trans, forms::kEvLeftUp, 2));
  forms::Item button = item(kButton, forms::kButtonKind, "按钮1", 350, 70, 60, 24);
  button.text = gbk("查找");
  add(on(button, forms::kEvFirst, 0));
  forms::Item def = item(kDefault, forms::kButtonKind, "按钮2", 420, 70, 60, 24);
  def.text = gbk("确定");
  def.buttonType = 1;
  add(on(def, forms::kEvFirst, 1));
  add(item(kDate, forms::kDatePickerKind, "日期框1", 350, 100, 208, 24));
  forms::Item list = item(kList, forms::kListViewKind, "超级列表框1", 10, 140, 500, 150);
  forms::ListColumn c0, c1;
  c0.caption = gbk("药品代码");
  c0.width = 80;
  c1.caption = gbk("药品名称");
  c1.alignment = 1;
  c1.width = 100;
  list.columns = {c0, c1};
  add(on(list, forms::kEvDoubleClick, 3));
  add(item(kBareList, forms::kListViewKind, "超级列表框2", 520, 140, 200, 150));
  add(item(kPanel, forms::kDrawPanelKind, "画板1", 10, 300, 300, 150));
  d.windows.push_back(w);
  return d;
}

class Controls : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    use(sample());
    forms::setHandlers(
        kWin, {record<0>, record<1>, record<2>, record<3>, record<4>, record<5>, record<6>, record<7>, record<8>});
    g_events.clear();
    ASSERT_TRUE(forms::loadWindow(kWin));
    g_events.clear();
  }
  template <typename W = QWidget>
  W* widget(uint32_t id) {
    return dynamic_cast<W*>(forms::controlWidget(kWin, id));
  }
  rt::Arg obj(uint32_t kind, uint32_t id) { return rt::makeObject(kind, kWin, id); }
  forms::Control ctl(const char* utf8) { return forms::control(kWin, gbk(utf8)); }
  void key(QWidget* w, int k, const QString& text = QString(), Qt::KeyboardModifiers m = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, k, m, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, m, text);
    QCoreApplication::sendEvent(w, &release);
  }
};

TEST_F(Controls, EditBoxContentChangedOnUserAndProgramWritesAndLostFocus) {
  forms::Control e = ctl("编辑框1");
  e.setText(gbk("甲"));
  e.setText(gbk("甲"));  // the same text again still notifies
  EXPECT_EQ(e.text(), gbk("甲"));
  key(widget(kEdit), Qt::Key_A, "a");
  EXPECT_EQ(e.text(), gbk("甲a"));
  std::vector<std::pair<uint32_t, int>> want = {{kEdit, 0}, {kEdit, 0}, {kEdit, 0}};
  EXPECT_EQ(g_events, want);

  g_events.clear();
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(widget(kEdit), &out);
  QCoreApplication::processEvents();
  want = {{kEdit, 8}};
  EXPECT_EQ(g_events, want);

  // A box without bindings raises nothing; the content property is text.
  g_events.clear();
  forms::setProperty(kWin, kPassword, forms::prop::kEditContent, -1, rt::makeInt(42));
  rt::Result r(forms::getProperty(kWin, kPassword, forms::prop::kEditContent));
  EXPECT_EQ(r.kind(), rt::kText);
  EXPECT_EQ(r.text(), "42");
  EXPECT_TRUE(g_events.empty());
}

TEST_F(Controls, EditBoxInputModes) {
  auto* pw = widget<QLineEdit>(kPassword);
  pw->setText("abc");
  EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
  pw->ensurePolished();
  EXPECT_EQ(pw->displayText(), "***");

  auto* integer = widget<QLineEdit>(kInteger);
  key(integer, Qt::Key_Minus, "-");
  key(integer, Qt::Key_1, "1");
  key(integer, Qt::Key_X, "x");
  key(integer, Qt::Key_2, "2");
  key(integer, Qt::Key_Minus, "-");
  EXPECT_EQ(integer->text(), "-12");

  auto* date = widget<QLineEdit>(kDateBox);
  for (QChar ch : QString::fromUtf8("2010-12-1a 9:30")) key(date, 0, QString(ch));
  EXPECT_EQ(date->text(), "2010-12-1 9:30");
  EXPECT_FALSE(widget<QLineEdit>(kEdit)->isReadOnly());
}

TEST_F(Controls, TextsOfAnyBytesAndTheTemplateFont) {
  forms::Control e = ctl("编辑框1");
  e.setText(
      std::string("\xFF\xFE"
                  "ok\x81",
                  5));  // not GBK
  EXPECT_EQ(widget<QLineEdit>(kEdit)->text(), QString::fromUtf8("\xEF\xBF\xBD\xEF\xBF\xBD"
                                                                "ok\xEF\xBF\xBD"));
  QFont f = widget(kEdit)->font();
  EXPECT_EQ(f.pixelSize(), 14);  // stored 19 px, drawn at the size the layouts were drawn for
  // 宋体 itself or a Song face with half-width Latin (the set-up scripts
  // install AR PL UMing).
  const QStringList song = {QString::fromUtf8("宋体"), "SimSun", "NSimSun", "AR PL UMing CN", "AR PL New Sung"};
  EXPECT_TRUE(song.contains(QFontInfo(f).family())) << QFontInfo(f).family().toStdString();
}

TEST_F(Controls, ComboBoxTypesContentAndAddComboItem) {
  auto* simple = widget<QComboBox>(kSimpleCombo);
  auto* combo = widget<QComboBox>(kCombo);
  auto* fixed = widget<QComboBox>(kListCombo);
  EXPECT_TRUE(simple->isEditable());
  EXPECT_TRUE(combo->isEditable());
  EXPECT_FALSE(fixed->isEditable());
  EXPECT_EQ(rt::Result(forms::getProperty(kWin, kSimpleCombo, forms::prop::kComboType)).integer(), 0);
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(ctl("组合框2").text(), "");  // nothing chosen at first

  // AddComboItem: new index back, item data 0 when omitted.
  rt::Arg a[3] = {obj(rt::kComboBox, kSimpleCombo), rt::makeTextRef(gbk("张三").c_str()), rt::Arg{}};
  std::string zhang = gbk("张三"), li = gbk("李四");
  a[1] = rt::makeTextRef(zhang.c_str());
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::AddComboItem, 3, a)), 0);
  a[1] = rt::makeTextRef(li.c_str());
  a[2] = rt::makeInt(7);
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::AddComboItem, 3, a)), 1);
  EXPECT_EQ(forms::comboItemData(kWin, kSimpleCombo, 0), 0);
  EXPECT_EQ(forms::comboItemData(kWin, kSimpleCombo, 1), 7);
  EXPECT_EQ(ctl("组合框1").text(), "");  // adding does not choose

  // The simple box never drops down; the arrow keys step through it.
  simple->showPopup();
  EXPECT_FALSE(simple->view()->isVisible());
  key(simple, Qt::Key_Down);
  EXPECT_EQ(ctl("组合框1").text(), zhang);
  key(simple, Qt::Key_Down);
  EXPECT_EQ(ctl("组合框1").text(), li);
  key(simple, Qt::Key_Up);
  EXPECT_EQ(ctl("组合框1").text(), zhang);
  // Any name can be typed, and Enter keeps it out of the list.
  ctl("组合框1").setText(gbk("王五"));
  key(simple, Qt::Key_Return);
  EXPECT_EQ(ctl("组合框1").text(), gbk("王五"));
  EXPECT_EQ(simple->count(), 2);

  // Drop-down lists open at least 160 px high.
  combo->showPopup();
  EXPECT_GE(combo->view()->window()->height(), 160);
  combo->hidePopup();

  // A fixed list shows only its own items.
  ctl("组合框3").setText(gbk("女"));
  EXPECT_EQ(ctl("组合框3").text(), gbk("女"));
  ctl("组合框3").setText(gbk("其它"));
  EXPECT_EQ(ctl("组合框3").text(), "");

  // A sorting box inserts in order and says where.
  rt::Arg s[2] = {obj(rt::kComboBox, kSortedCombo), rt::Arg{}};
  for (const char* t : {"b", "d", "a", "c"}) {
    s[1] = rt::makeTextRef(t);
    rt::call(rt::Cmd::AddComboItem, 2, s);
  }
  s[1] = rt::makeTextRef("bb");
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::AddComboItem, 2, s)), 2);
  EXPECT_EQ(forms::comboItemText(kWin, kSortedCombo, 0), "a");
  EXPECT_EQ(forms::comboItemText(kWin, kSortedCombo, 4), "d");

  // Not a combo box: -1.
  rt::Arg wrong[2] = {obj(rt::kComboBox, kEdit), rt::makeTextRef("x")};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::AddComboItem, 2, wrong)), -1);
}

TEST_F(Controls, LabelsButtonsAndTheDefaultButton) {
  ctl("标签1").setText(gbk("合计"));
  EXPECT_EQ(ctl("标签1").text(), gbk("合计"));
  EXPECT_EQ(widget<QLabel>(kTrans)->text(), QString::fromUtf8("药品管理"));
  EXPECT_FALSE(widget(kTrans)->autoFillBackground());  // drawn over the window's picture

  // Left button up on a transparent label is its click; the press alone
  // raises nothing.
  QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, widget(kTrans)->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(widget(kTrans), &press);
  EXPECT_TRUE(g_events.empty());
  QMouseEvent release(QEvent::MouseButtonRelease, at, widget(kTrans)->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(widget(kTrans), &release);
  std::vector<std::pair<uint32_t, int>> want = {{kTrans, 2}};
  EXPECT_EQ(g_events, want);

  // Enter in an edit box presses the default button; on a focused button
  // it presses that one. Button type 9 can be changed.
  g_events.clear();
  key(widget(kEdit), Qt::Key_Return);
  want = {{kDefault, 1}};
  EXPECT_EQ(g_events, want);
  g_events.clear();
  ctl("按钮2").setButtonType(0);
  ctl("按钮1").setButtonType(1);
  EXPECT_EQ(rt::Result(forms::getProperty(kWin, kButton, forms::prop::kButtonType)).integer(), 1);
  key(widget(kEdit), Qt::Key_Enter);
  want = {{kButton, 0}};
  EXPECT_EQ(g_events, want);
}

TEST_F(Controls, DatePickerStartsAtTodayAndReadsAsDateTime) {
  closeAll();
  rt::setClock(40513.75);  // 2010-12-01 18:00
  forms::loadWindow(kWin);
  rt::clearClock();
  rt::Result r(forms::getProperty(kWin, kDate, forms::prop::kDateValue));
  EXPECT_EQ(r.kind(), rt::kDateTime);
  EXPECT_EQ(r.real(), 40513.0);
  forms::setProperty(kWin, kDate, forms::prop::kDateValue, -1, rt::makeDateTime(40544.5));
  EXPECT_EQ(ctl("日期框1").date().days, 40544.0);  // 2011-01-01
  EXPECT_EQ(widget<QDateEdit>(kDate)->date(), QDate(2011, 1, 1));
}

TEST_F(Controls, ListInsertItemDefaultsAndClamps) {
  rt::Arg l = obj(rt::kListView, kList);
  std::string first = gbk("甲"), second = gbk("乙");
  rt::Arg a[7] = {
      l, rt::makeInt(-5), rt::makeTextRef(first.c_str()), rt::makeInt(-7), rt::makeInt(-3), rt::makeInt(-2), rt::Arg{}};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListInsertItem, 7, a)), 0);
  forms::ListItemInfo i0 = forms::listItem(kWin, kList, 0);
  EXPECT_EQ(i0.texts, (std::vector<std::string>{first, ""}));
  EXPECT_EQ(i0.image, -1);
  EXPECT_EQ(i0.stateImage, 0);  // -3 + 1 < 0
  EXPECT_EQ(i0.indent, 0);
  EXPECT_EQ(i0.data, 0);

  // Omitted index appends; index 0 inserts at the top (newest first).
  rt::Arg b[7] = {
      l, rt::Arg{}, rt::makeTextRef(second.c_str()), rt::makeInt(2), rt::makeInt(4), rt::makeInt(3), rt::makeInt(99)};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListInsertItem, 7, b)), 1);
  forms::ListItemInfo i1 = forms::listItem(kWin, kList, 1);
  EXPECT_EQ(i1.image, 2);
  EXPECT_EQ(i1.stateImage, 5);
  EXPECT_EQ(i1.indent, 3);
  EXPECT_EQ(i1.data, 99);
  rt::Arg top[2] = {l, rt::makeInt(0)};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListInsertItem, 2, top)), 0);
  EXPECT_EQ(forms::listItem(kWin, kList, 0).texts[0], "");
  EXPECT_EQ(forms::listItem(kWin, kList, 1).texts[0], first);
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListInsertItem, 1, &l)), 3);

  // Column texts; an omitted text empties the cell; bad cells are ignored.
  std::string name = gbk("青霉素");
  rt::Arg s[4] = {l, rt::makeInt(1), rt::makeInt(1), rt::makeTextRef(name.c_str())};
  rt::call(rt::Cmd::ListSetItemText, 4, s);
  EXPECT_EQ(forms::listItem(kWin, kList, 1).texts[1], name);
  rt::call(rt::Cmd::ListSetItemText, 3, s);
  EXPECT_EQ(forms::listItem(kWin, kList, 1).texts[1], "");
  s[2] = rt::makeInt(5);
  rt::call(rt::Cmd::ListSetItemText, 4, s);
  EXPECT_EQ(forms::listItem(kWin, kList, 1).texts.size(), 2u);

  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListClear, 1, &l)), 1);
  EXPECT_EQ(forms::listRowCount(kWin, kList), 0);
}

TEST_F(Controls, ListViewHeaderSelectionAndRowDoubleClick) {
  auto* tree = widget<QTreeView>(kList);
  EXPECT_FALSE(tree->isHeaderHidden());
  EXPECT_EQ(tree->header()->sectionSize(0), 80);
  EXPECT_EQ(tree->header()->sectionSize(1), 100);
  EXPECT_TRUE(widget<QTreeView>(kBareList)->isHeaderHidden());  // no columns, no header

  rt::Arg l = obj(rt::kListView, kList);
  for (int i = 0; i < 3; ++i) rt::call(rt::Cmd::ListInsertItem, 1, &l);
  auto alignment = [tree](int column) {
    return tree->model()->index(0, column).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
           Qt::AlignHorizontal_Mask;
  };
  EXPECT_EQ(alignment(0), Qt::AlignLeft);
  EXPECT_EQ(alignment(1), Qt::AlignHCenter);
  EXPECT_EQ(ctl("超级列表框1").selectedRow(), -1);

  QRect r1 = tree->visualRect(tree->model()->index(1, 0));
  QPointF at = r1.center();
  QWidget* vp = tree->viewport();
  QMouseEvent press(QEvent::MouseButtonPress, at, vp->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(vp, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, vp->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(vp, &release);
  EXPECT_EQ(ctl("超级列表框1").selectedRow(), 1);
  EXPECT_TRUE(g_events.empty());  // a single click raises nothing
  QMouseEvent dbl(QEvent::MouseButtonDblClick, at, vp->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(vp, &dbl);
  std::vector<std::pair<uint32_t, int>> want = {{kList, 3}};
  EXPECT_EQ(g_events, want);

  // Below the last row: no row, no event.
  g_events.clear();
  QPointF empty(10, vp->height() - 3);
  QMouseEvent dbl2(QEvent::MouseButtonDblClick, empty, vp->mapToGlobal(empty), Qt::LeftButton, Qt::LeftButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(vp, &dbl2);
  EXPECT_TRUE(g_events.empty());
}

TEST_F(Controls, AListRefilledAfterAClearReadsTheSameBeforeAndAfterItIsShown) {
  rt::Arg l = obj(rt::kListView, kList);
  auto insertTop = [&](const std::string& caption, const std::string& cell) {
    rt::Arg ins[3] = {l, rt::makeInt(0), rt::makeTextRef(caption.c_str())};
    rt::call(rt::Cmd::ListInsertItem, 3, ins);
    rt::Arg set[4] = {l, rt::makeInt(0), rt::makeInt(1), rt::makeTextRef(cell.c_str())};
    rt::call(rt::Cmd::ListSetItemText, 4, set);
  };
  insertTop("old", "x");
  forms::setProperty(kWin, kList, forms::prop::kListSelected, -1, rt::makeInt(0));
  // Cleared and refilled newest first within one handler: rows, texts and
  // a middle insertion read as they will be shown, with no selection left.
  rt::call(rt::Cmd::ListClear, 1, &l);
  for (int i = 1; i <= 3000; ++i) insertTop("r" + std::to_string(i), std::to_string(i * 10));
  rt::Arg middle[3] = {l, rt::makeInt(1), rt::makeTextRef("mid")};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ListInsertItem, 3, middle)), 1);
  EXPECT_EQ(forms::listRowCount(kWin, kList), 3001);
  EXPECT_EQ(ctl("超级列表框1").selectedRow(), -1);
  EXPECT_EQ(forms::listItem(kWin, kList, 0).texts, (std::vector<std::string>{"r3000", "30000"}));
  EXPECT_EQ(forms::listItem(kWin, kList, 1).texts[0], "mid");
  EXPECT_EQ(forms::listItem(kWin, kList, 3000).texts[0], "r1");
  // The view has every row once the message loop turns, and a row chosen
  // before that is the row chosen after it.
  rt::call(rt::Cmd::ListClear, 1, &l);
  insertTop("a", "1");
  insertTop("b", "2");
  forms::setProperty(kWin, kList, forms::prop::kListSelected, -1, rt::makeInt(1));
  QCoreApplication::processEvents();
  auto* tree = widget<QTreeView>(kList);
  EXPECT_EQ(tree->model()->rowCount(), 2);
  EXPECT_EQ(tree->model()->index(1, 1).data().toString(), "1");
  EXPECT_EQ(ctl("超级列表框1").selectedRow(), 1);
  EXPECT_EQ(tree->currentIndex().row(), 1);
}

TEST_F(Controls, DrawPanelClearTextAndLines) {
  auto* panel = widget<forms::detail::DrawPanel>(kPanel);
  ASSERT_NE(panel, nullptr);
  rt::Arg p = obj(rt::kDrawPanel, kPanel);
  auto inked = [&](QRect r) {
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (panel->surface().pixelColor(x, y) != Qt::white) ++n;
    return n;
  };
  rt::call(rt::Cmd::ClearPanel, 1, &p);
  EXPECT_EQ(inked(panel->surface().rect()), 0);

  // Two values one after another from (20, 10); omitted coordinates go on
  // from where the text stopped.
  forms::setProperty(kWin, kPanel, forms::prop::kPanelFont, forms::kFontSize, rt::makeInt(12));
  EXPECT_EQ(panel->pointSize(), 12);
  rt::Arg t[5] = {p, rt::makeInt(20), rt::makeInt(10), rt::makeInt(12), rt::makeFloat(3.5f)};
  rt::call(rt::Cmd::PanelTextAt, 5, t);
  EXPECT_EQ(panel->textPosition().y(), 10);
  int end = panel->textPosition().x();
  EXPECT_GT(end, 20);
  EXPECT_GT(inked(QRect(20, 10, end - 20, 20)), 0);
  EXPECT_EQ(inked(QRect(0, 0, 19, 150)), 0);  // nothing left of the start
  rt::Arg more[4] = {p, rt::Arg{}, rt::Arg{}, rt::makeTextRef("x")};
  rt::call(rt::Cmd::PanelTextAt, 4, more);
  EXPECT_GT(panel->textPosition().x(), end);

  // A line, then clearing a rectangle leaves the rest and moves the text
  // position to its corner.
  rt::Arg line[5] = {p, rt::makeInt(0), rt::makeInt(100), rt::makeInt(299), rt::makeInt(100)};
  rt::call(rt::Cmd::PanelLine, 5, line);
  EXPECT_EQ(inked(QRect(0, 100, 300, 1)), 300);
  rt::Arg clr[5] = {p, rt::makeInt(0), rt::makeInt(90), rt::makeInt(150), rt::makeInt(20)};
  rt::call(rt::Cmd::ClearPanel, 5, clr);
  EXPECT_EQ(inked(QRect(0, 100, 150, 1)), 0);
  EXPECT_EQ(inked(QRect(150, 100, 150, 1)), 150);
  EXPECT_EQ(panel->textPosition(), QPoint(0, 90));
  EXPECT_GT(inked(QRect(20, 10, end - 20, 20)), 0);  // the drawing stays until cleared

  // What was drawn, value by value, in its font size; an area clear keeps
  // the list, a full clear empties it.
  std::vector<forms::PanelDrawn> drawn = forms::panelDrawing(kWin, kPanel);
  ASSERT_EQ(drawn.size(), 4u);
  EXPECT_EQ(drawn[0].op, forms::PanelDrawn::Text);
  EXPECT_EQ(drawn[0].text, "12");
  EXPECT_EQ(drawn[0].points, 12);
  EXPECT_EQ(QPoint(drawn[0].x, drawn[0].y), QPoint(20, 10));
  EXPECT_EQ(drawn[1].text, "3.5");
  EXPECT_GT(drawn[1].x, 20);
  EXPECT_EQ(drawn[2].text, "x");
  EXPECT_EQ(drawn[2].x, end);
  EXPECT_EQ(drawn[3].op, forms::PanelDrawn::Line);
  EXPECT_EQ(QRect(QPoint(drawn[3].x, drawn[3].y), QPoint(drawn[3].x2, drawn[3].y2)),
            QRect(QPoint(0, 100), QPoint(299, 100)));
  rt::call(rt::Cmd::ClearPanel, 1, &p);
  EXPECT_TRUE(forms::panelDrawing(kWin, kPanel).empty());

  // The panel shows its drawing again whenever it is repainted (covered by
  // another window, hidden and shown): it paints from its own surface.
  rt::call(rt::Cmd::PanelLine, 5, line);
  panel->hide();
  panel->show();
  QImage shown = panel->grab().toImage();
  EXPECT_EQ(shown.pixelColor(150, 100), QColor(Qt::black));
  EXPECT_EQ(shown.pixelColor(150, 101), QColor(Qt::white));
}

// --- ShowMessage and the dialog seam ---

TEST_F(Controls, ShowMessageGoesThroughTheDialogSeam) {
  dialogs.answers = {0, 6, 1, 0};
  std::string drug = gbk("密码错误!");
  rt::Arg m[3] = {rt::makeTextRef(drug.c_str()), rt::makeInt(0), rt::Arg{}};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ShowMessage, 2, m)), 0);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0].text, drug);
  EXPECT_EQ(dialogs.asked[0].caption, gbk("信息："));
  EXPECT_EQ(dialogs.asked[0].style, rt::mb::kTaskModal);

  std::string cap = gbk("确认");
  rt::Arg q[3] = {rt::makeDouble(3.5), rt::makeInt(0x124), rt::makeTextRef(cap.c_str())};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ShowMessage, 3, q)), 6);
  EXPECT_EQ(dialogs.asked[1].text, "3.5");
  EXPECT_EQ(dialogs.asked[1].caption, cap);
  EXPECT_EQ(dialogs.asked[1].style, 0x2124u);

  rt::Arg s[2] = {rt::makeBool(true), rt::makeInt(0x1001)};
  EXPECT_EQ(rt::lowInt(rt::call(rt::Cmd::ShowMessage, 2, s)), 1);
  EXPECT_EQ(dialogs.asked[2].style, 0x1001u);  // system-modal: no task-modal flag
  EXPECT_EQ(dialogs.asked[2].text, gbk("真"));

  rt::Arg other = rt::makeObject(rt::kWindow, kWin, 1);
  rt::call(rt::Cmd::ShowMessage, 1, &other);
  EXPECT_EQ(dialogs.asked[3].text, "");  // kinds with no text show nothing
}

// The Qt boxes themselves: buttons, default button, the answer codes.
TEST_F(Controls, QtMessageBoxButtonsAndAnswers) {
  qtest::ExpectModal modal;  // answered by the test itself
  closeAll();
  struct Press {
    QString text;
    QString seenCaption;
    QStringList seenButtons;
    QString seenDefault;
  } press;
  auto answerWith = [&press](const char* utf8) {
    press.text = QString::fromUtf8(utf8);
    QTimer::singleShot(20, [&press] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        ADD_FAILURE() << "no message box";
        return;
      }
      press.seenCaption = box->windowTitle();
      press.seenButtons.clear();
      for (QAbstractButton* b : box->buttons()) press.seenButtons << b->text();
      press.seenButtons.sort();
      press.seenDefault = box->defaultButton() ? box->defaultButton()->text() : QString();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == press.text) b->click();
    });
  };
  rt::Dialogs* qt = &forms::qtDialogs();
  answerWith("否");
  EXPECT_EQ(qt->message(gbk("删除？"), gbk("信息："), 0x2000 | 0x100 | 0x3), rt::kNo);
  EXPECT_EQ(press.seenCaption, QString::fromUtf8("信息："));
  QStringList ync = {QString::fromUtf8("取消"), QString::fromUtf8("否"), QString::fromUtf8("是")};
  ync.sort();
  EXPECT_EQ(press.seenButtons, ync);
  EXPECT_EQ(press.seenDefault, QString::fromUtf8("否"));
  answerWith("重试");
  EXPECT_EQ(qt->message("x", "y", 0x2), rt::kRetry);
  answerWith("忽略");
  EXPECT_EQ(qt->message("x", "y", 0x2), rt::kIgnore);
  answerWith("确定");
  EXPECT_EQ(qt->message("x", "y", 0x1), rt::kOk);
  answerWith("取消");
  EXPECT_EQ(qt->message("x", "y", 0x5), rt::kCancel);
  answerWith("是");
  EXPECT_EQ(qt->message("x", "y", 0x4), rt::kYes);
  EXPECT_EQ(press.seenDefault, QString::fromUtf8("是"));
}

}  // namespace
