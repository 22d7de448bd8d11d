// The nine windows as a person sees them: every caption, button text, list
// header and box text fits the rectangle the template gives its control,
// measured with the font the control actually draws with; and the face
// that stands in for 宋体 has half-width spaces and digits.
#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QComboBox>
#include <QToolButton>
#include <QDateEdit>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>
#include <algorithm>
#include <sstream>

#include "forms/template.h"
#include "forms/window_ids.h"
#include "qt_support.h"

namespace {

namespace ids = forms::ids;

void nothing() {}

int handlerSlots(const forms::WindowTemplate& w) {
  int top = -1;
  for (const forms::Item& it : w.items) {
    top = std::max(top, int(it.menuHandler));
    for (const forms::EventBinding& b : it.events) top = std::max(top, int(b.handler));
  }
  return top + 1;
}

// Where a one-line text drawn from the left edge of `room` leaves it: the
// ink of its characters must lie inside, and the line height must fit.
struct Misfits {
  std::vector<std::string> found;
  void check(const forms::Item& it, const char* part, const QString& text, const QFont& font, int roomWidth,
             int roomHeight) {
    if (text.trimmed().isEmpty()) return;
    QFontMetrics fm(font);
    const QRect ink = fm.boundingRect(text);
    const int inkRight = ink.x() + ink.width();
    if (inkRight > roomWidth || fm.height() > roomHeight) {
      std::ostringstream out;
      out << rt::gbkToUtf8(it.name) << " " << part << " \"" << text.toStdString() << "\": needs " << inkRight << "x"
          << fm.height() << ", has " << roomWidth << "x" << roomHeight << " (" << QFontInfo(font).family().toStdString()
          << " " << font.pixelSize() << " px)";
      found.push_back(out.str());
    }
  }
  // A text that may wrap onto several lines of `roomWidth`.
  void checkWrapped(const forms::Item& it, const QString& text, const QFont& font, int roomWidth, int roomHeight) {
    QFontMetrics fm(font);
    QRect r = fm.boundingRect(QRect(0, 0, roomWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft, text);
    if (r.height() > roomHeight || r.width() > roomWidth) {
      std::ostringstream out;
      out << rt::gbkToUtf8(it.name) << " wrapped \"" << text.toStdString() << "\": needs " << r.width() << "x"
          << r.height() << ", has " << roomWidth << "x" << roomHeight;
      found.push_back(out.str());
    }
  }
};

// The text area of a line edit inside its widget: the frame, the text
// margins and the two pixels left and right, one above and below, that a
// line edit keeps around its text.
QSize lineEditRoom(const QLineEdit* e) {
  int frame = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, e) : 0;
  QMargins m = e->textMargins();
  return QSize(e->width() - 2 * frame - m.left() - m.right() - 4, e->height() - 2 * frame - m.top() - m.bottom() - 2);
}

class TextFit : public qtest::FormsTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(TextFit, EveryTextFitsItsControlAtTheTemplateGeometry) {
  const uint32_t id = GetParam();
  const forms::WindowTemplate* w = forms::templates().findWindow(id);
  ASSERT_NE(w, nullptr);
  forms::setHandlers(id, std::vector<forms::Handler>(size_t(handlerSlots(*w)), nothing));
  ASSERT_TRUE(forms::loadWindow(id));
  QCoreApplication::processEvents();

  Misfits m;
  int checked = 0;
  for (const forms::Item& it : w->items) {
    QWidget* widget = forms::controlWidget(id, it.id);
    if (!widget) continue;
    const QSize designed(it.width, it.height);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      if (label->wordWrap())
        m.checkWrapped(it, label->text(), label->font(), designed.width(), designed.height());
      else
        m.check(it, "caption", label->text(), label->font(), designed.width(), designed.height());
      ++checked;
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      ASSERT_EQ(button->size(), designed) << rt::gbkToUtf8(it.name);
      QStyleOptionButton opt;
      opt.initFrom(button);
      opt.text = button->text();
      QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
      m.check(it, "button", QString(button->text()).remove('&'), button->font(), room.width(), room.height());
      ++checked;
    } else if (auto* date = qobject_cast<QDateEdit*>(widget)) {
      ASSERT_EQ(date->size(), designed) << rt::gbkToUtf8(it.name);
      auto* edit = date->findChild<QLineEdit*>();
      ASSERT_NE(edit, nullptr);
      QSize room = lineEditRoom(edit);
      // The widest date it shows: a four-digit year, two-digit month and day.
      QString widest = date->locale().toString(QDate(2088, 12, 28), date->displayFormat());
      m.check(it, "date", widest, edit->font(), room.width(), room.height());
      ++checked;
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      ASSERT_EQ(combo->size(), designed) << rt::gbkToUtf8(it.name);
      ASSERT_NE(combo->lineEdit(), nullptr);
      QSize room = lineEditRoom(combo->lineEdit());
      for (int i = 0; i < combo->count(); ++i)
        m.check(it, "item", combo->itemText(i), combo->lineEdit()->font(), room.width(), room.height());
      // The box itself must show a line of text even when empty.
      m.check(it, "line", QString::fromUtf8("中"), combo->lineEdit()->font(), room.width(), room.height());
      ++checked;
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      ASSERT_EQ(edit->size(), designed) << rt::gbkToUtf8(it.name);
      QSize room = lineEditRoom(edit);
      m.check(it, "text", edit->text().isEmpty() ? QString::fromUtf8("中") : edit->text(), edit->font(), room.width(),
              room.height());
      ++checked;
    } else if (auto* list = qobject_cast<QTreeWidget*>(widget)) {
      ASSERT_EQ(list->size(), designed) << rt::gbkToUtf8(it.name);
      const int margin = list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list->header());
      for (int c = 0; c < list->columnCount() && !list->isHeaderHidden(); ++c) {
        ASSERT_EQ(list->header()->sectionSize(c), it.columns[size_t(c)].width);
        m.check(it, "column", list->headerItem()->text(c), list->header()->font(),
                list->header()->sectionSize(c) - 2 * margin, list->header()->height());
      }
      ++checked;
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      m.check(it, "title", group->title(), group->font(), designed.width(), designed.height());
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
  std::string all;
  for (const std::string& s : m.found) all += "\n  " + s;
  EXPECT_TRUE(m.found.empty()) << "texts that do not fit:" << all;
}

INSTANTIATE_TEST_SUITE_P(NineWindows, TextFit,
                         testing::Values(ids::kStartWindow, ids::kLoginWindow, ids::kDrugWindow, ids::kInpatientWindow,
                                         ids::kMedicationWindow, ids::kOutpatientWindow, ids::kReportWindow,
                                         ids::kPrintRangeWindow, ids::kAboutWindow),
                         [](const testing::TestParamInfo<uint32_t>& info) {
                           switch (info.param) {
                             case ids::kStartWindow:
                               return std::string("Start");
                             case ids::kLoginWindow:
                               return std::string("Login");
                             case ids::kDrugWindow:
                               return std::string("Drug");
                             case ids::kInpatientWindow:
                               return std::string("Inpatient");
                             case ids::kMedicationWindow:
                               return std::string("Medication");
                             case ids::kOutpatientWindow:
                               return std::string("Outpatient");
                             case ids::kReportWindow:
                               return std::string("Report");
                             case ids::kPrintRangeWindow:
                               return std::string("PrintRange");
                             default:
                               return std::string("About");
                           }
                         });

class ScreenFace : public qtest::FormsTest {};

// The forms line up their headings with spaces and digits, as in 宋体,
// where every half-width character is half a Chinese one.
TEST_F(ScreenFace, SpacesAndDigitsAreHalfAChineseCharacter) {
  forms::setHandlers(
      ids::kDrugWindow,
      std::vector<forms::Handler>(size_t(handlerSlots(*forms::templates().findWindow(ids::kDrugWindow))), nothing));
  ASSERT_TRUE(forms::loadWindow(ids::kDrugWindow));
  // A caption (stored 19 px) and a box of the default font.
  for (uint32_t control : {ids::drug::kTransLabel1, ids::drug::kEdit1}) {
    QFont f = forms::controlWidget(ids::kDrugWindow, control)->font();
    QFontMetricsF fm(f);
    const double han = fm.horizontalAdvance(QString::fromUtf8("中"));
    const std::string face = QFontInfo(f).family().toStdString();
    ASSERT_GT(han, 0);
    EXPECT_NEAR(fm.horizontalAdvance(" "), han / 2, han * 0.01) << face;
    for (char digit : std::string("0123456789"))
      EXPECT_NEAR(fm.horizontalAdvance(QChar(digit)), han / 2, han * 0.01) << face << " " << digit;
    // A heading aligned with spaces: seven spaces, two characters, four
    // spaces, two characters take 9.5 characters' room.
    EXPECT_NEAR(fm.horizontalAdvance(QString::fromUtf8("       西成    草药")), 9.5 * han, han * 0.05) << face;
  }
}

TEST_F(ScreenFace, StoredSizesAreDrawnAtTheSizeTheLayoutsWereDrawnFor) {
  for (uint32_t id : {ids::kDrugWindow, ids::kReportWindow}) {
    const forms::WindowTemplate* w = forms::templates().findWindow(id);
    forms::setHandlers(id, std::vector<forms::Handler>(size_t(handlerSlots(*w)), nothing));
    ASSERT_TRUE(forms::loadWindow(id));
  }
  auto stored = [](uint32_t window, uint32_t control) {
    return forms::templates().findWindow(window)->findId(control)->font.height;
  };
  // 19 px in the template, 14 px on screen; 16 px, 12 px.
  ASSERT_EQ(stored(ids::kDrugWindow, ids::drug::kTransLabel1), -19);
  EXPECT_EQ(forms::controlWidget(ids::kDrugWindow, ids::drug::kTransLabel1)->font().pixelSize(), 14);
  ASSERT_EQ(stored(ids::kReportWindow, ids::report::kDate1), -16);
  EXPECT_EQ(forms::controlWidget(ids::kReportWindow, ids::report::kDate1)->font().pixelSize(), 12);
}

// Qt's own texts are Chinese: the date picker's calendar names months and
// days in Chinese, and Qt's dialogs take their texts from the Chinese
// translation.
TEST_F(ScreenFace, DatePickerCalendarAndQtDialogsSpeakChinese) {
  const forms::WindowTemplate* w = forms::templates().findWindow(ids::kReportWindow);
  forms::setHandlers(ids::kReportWindow, std::vector<forms::Handler>(size_t(handlerSlots(*w)), nothing));
  ASSERT_TRUE(forms::loadWindow(ids::kReportWindow));
  auto* picker = qobject_cast<QDateEdit*>(forms::controlWidget(ids::kReportWindow, ids::report::kDate1));
  ASSERT_NE(picker, nullptr);
  picker->setDate(QDate(2010, 12, 1));
  QCalendarWidget* cal = picker->calendarWidget();
  ASSERT_NE(cal, nullptr);
  cal->setSelectedDate(QDate(2010, 12, 1));
  auto* month = cal->findChild<QToolButton*>("qt_calendar_monthbutton");
  ASSERT_NE(month, nullptr);
  EXPECT_EQ(month->text(), QString::fromUtf8("十二月"));
  EXPECT_EQ(cal->locale().dayName(1, QLocale::ShortFormat), QString::fromUtf8("周一"));
  EXPECT_EQ(picker->text(), QString::fromUtf8("2010年12月1日"));
  // Qt's own dialogs.
  EXPECT_EQ(QCoreApplication::translate("QPrintDialog", "Print"), QString::fromUtf8("打印"));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), QString::fromUtf8("另存为"));
}

}  // namespace
