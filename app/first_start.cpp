#include "app/first_start.h"

#include <QLabel>
#include <QWidget>

#include "forms/qtext.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "runtime/gbk.h"

namespace app {

namespace {

// One line of 12-pixel text in the window's client area, made the first
// time; the template itself stays as it is.
QLabel* lineIn(QWidget* area, const char* name, const char* gbk, int top) {
  auto* line = area->findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
  if (line) return line;
  line = new QLabel(area);
  line->setObjectName(name);
  line->setText(forms::fromGbk(gbk));
  QFont font(forms::screenFamily(""));
  font.setPixelSize(12);
  line->setFont(font);
  line->setAlignment(Qt::AlignCenter);
  line->setGeometry(4, top, 212, 18);
  return line;
}

}  // namespace

void showNoUserLine(bool noUser) {
  namespace ids = forms::ids;
  QWidget* password = forms::controlWidget(ids::kLoginWindow, ids::login::kEdit1);
  QWidget* area = password ? password->parentWidget() : nullptr;
  if (!area) return;
  if (!noUser) {
    for (const char* name : {kNoUserLineName, kManagerCodeHintName})
      if (auto* line = area->findChild<QLabel*>(name, Qt::FindDirectChildrenOnly)) line->hide();
    return;
  }
  // The free row between the password box and the buttons, and the one
  // under the buttons.
  lineIn(area, kNoUserLineName, GBK("尚无用户，请管理员新增第一个用户"), 125)->show();
  lineIn(area, kManagerCodeHintName, GBK("管理员密码见 man clinic"), 174)->show();
}

}  // namespace app
