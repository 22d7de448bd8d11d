#include "forms/qt/folder_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "forms/qtext.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace forms {

FolderDialog::FolderDialog(const QString& caption, const QString& start) : QFileDialog(nullptr, caption, start) {
  setObjectName("folderDialog");
  setFileMode(QFileDialog::Directory);
  setOption(QFileDialog::ShowDirsOnly, true);
  // Qt's own dialog on every desktop: a platform's native one would not
  // come back here to ask before making a folder.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptOpen);
}

void FolderDialog::accept() {
  const QStringList chosen = selectedFiles();
  if (chosen.size() == 1 && !chosen[0].isEmpty() && !QFileInfo::exists(chosen[0])) {
    const QString path = QDir::cleanPath(chosen[0]);
    const std::string caption = toGbk(windowTitle());
    const int answer =
        rt::dialogs().message(toGbk(QString::fromUtf8("文件夹“%1”不存在。\r\n是否新建此文件夹？").arg(path)), caption,
                              rt::mb::kYesNo | rt::mb::kIconQuestion);
    if (answer != rt::kYes) return;
    errno = 0;
    if (!QDir().mkpath(path)) {
      const int err = errno;
      rt::dialogs().message(toGbk(QString::fromUtf8("无法新建文件夹“%1”：%2")
                                      .arg(path, QString::fromLocal8Bit(std::strerror(err ? err : EACCES)))),
                            caption, rt::mb::kOk | rt::mb::kIconError);
      return;
    }
    selectFile(path);
  }
  QFileDialog::accept();
}

}  // namespace forms
