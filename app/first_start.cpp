#include "app/first_start.h"

#include <QLabel>
#include <QWidget>

#include "forms/qtext.h"
#include "forms/window_ids.h"
#include "forms/windows_rt.h"
#include "runtime/gbk.h"

namespace app {

void showNoUserLine(bool noUser) {
  namespace ids = forms::ids;
  // The line sits in the window's client area, beside the controls the
  // template data made, in the free row between the password box and the
  // buttons; the template itself stays as it is.
  QWidget* password = forms::controlWidget(ids::kLoginWindow, ids::login::kEdit1);
  QWidget* area = password ? password->parentWidget() : nullptr;
  if (!area) return;
  auto* line = area->findChild<QLabel*>(kNoUserLineName, Qt::FindDirectChildrenOnly);
  if (!noUser) {
    if (line) line->hide();
    return;
  }
  if (!line) {
    line = new QLabel(area);
    line->setObjectName(kNoUserLineName);
    line->setText(forms::fromGbk(GBK("尚无用户，请管理员新增第一个用户")));
    QFont font(forms::screenFamily(""));
    font.setPixelSize(12);
    line->setFont(font);
    line->setAlignment(Qt::AlignCenter);
    line->setGeometry(4, 125, 212, 18);
  }
  line->show();
}

}  // namespace app
