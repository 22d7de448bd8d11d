// The Qt side of the dialog seam (message boxes, text prompts, the save-file
// dialog, the folder chooser), the fatal-error box, and the start-up of the forms layer.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <atomic>
#include <cstdio>
#include <vector>

#include "forms/qt/folder_dialog.h"
#include "forms/qtext.h"
#include "forms/live_windows.h"
#include "runtime/dialogs.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace forms {
namespace {

std::atomic<bool> g_reportingFatal{false};

QString boxText(const std::string& gbk) {
  QString s = fromGbk(gbk);
  s.replace("\r\n", "\n");
  return s;
}

QMessageBox::Icon boxIcon(uint32_t style) {
  switch (style & rt::mb::kIconMask) {
    case rt::mb::kIconError:
      return QMessageBox::Critical;
    case rt::mb::kIconQuestion:
      return QMessageBox::Question;
    case rt::mb::kIconWarning:
      return QMessageBox::Warning;
    case rt::mb::kIconInfo:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

struct BoxButton {
  const char* utf8;
  int code;
  QMessageBox::ButtonRole role;
};

std::vector<BoxButton> boxButtons(uint32_t style) {
  const BoxButton ok{"确定", rt::kOk, QMessageBox::AcceptRole};
  const BoxButton cancel{"取消", rt::kCancel, QMessageBox::RejectRole};
  const BoxButton abort{"中止", rt::kAbort, QMessageBox::RejectRole};
  const BoxButton retry{"重试", rt::kRetry, QMessageBox::AcceptRole};
  const BoxButton ignore{"忽略", rt::kIgnore, QMessageBox::AcceptRole};
  const BoxButton yes{"是", rt::kYes, QMessageBox::YesRole};
  const BoxButton no{"否", rt::kNo, QMessageBox::NoRole};
  switch (style & rt::mb::kButtonMask) {
    case rt::mb::kOkCancel:
      return {ok, cancel};
    case rt::mb::kAbortRetryIgnore:
      return {abort, retry, ignore};
    case rt::mb::kYesNoCancel:
      return {yes, no, cancel};
    case rt::mb::kYesNo:
      return {yes, no};
    case rt::mb::kRetryCancel:
      return {retry, cancel};
    default:
      return {ok};
  }
}

class QtDialogs final : public rt::Dialogs {
 public:
  int message(const std::string& text, const std::string& caption, uint32_t style) override {
    QMessageBox box;  // no owner window
    box.setWindowTitle(boxText(caption));
    box.setText(boxText(text));
    box.setIcon(boxIcon(style));
    box.setWindowModality(Qt::ApplicationModal);
    std::vector<BoxButton> choices = boxButtons(style);
    std::vector<QPushButton*> buttons;
    for (const BoxButton& b : choices) buttons.push_back(box.addButton(QString::fromUtf8(b.utf8), b.role));
    size_t def = (style & rt::mb::kDefButtonMask) >> 8;
    box.setDefaultButton(buttons[def < buttons.size() ? def : 0]);
    // Escape answers Cancel where there is one, OK on a lone OK box.
    for (size_t i = 0; i < choices.size(); ++i)
      if (choices[i].code == rt::kCancel || choices.size() == 1) box.setEscapeButton(buttons[i]);
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
      if (box.clickedButton() == buttons[i]) return choices[i].code;
    return choices.size() == 1 ? choices[0].code : rt::kCancel;
  }

  bool askText(const std::string& prompt, const std::string& caption, std::string* value, bool password) override {
    QInputDialog dlg;
    dlg.setWindowTitle(boxText(caption));
    dlg.setLabelText(boxText(prompt));
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setTextEchoMode(password ? QLineEdit::Password : QLineEdit::Normal);
    dlg.setTextValue(value ? fromGbk(*value) : QString());
    dlg.setOkButtonText(QString::fromUtf8("确定"));
    dlg.setCancelButtonText(QString::fromUtf8("取消"));
    if (dlg.exec() != QDialog::Accepted) return false;
    if (value) *value = toGbk(dlg.textValue());
    return true;
  }

  void showRows(const std::string& caption, const std::string& note, const std::vector<std::string>& headings,
                const std::vector<std::vector<std::string>>& rows) override {
    QDialog dlg;
    dlg.setWindowTitle(boxText(caption));
    dlg.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dlg);
    auto* label = new QLabel(boxText(note), &dlg);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    auto* table = new QTableWidget(int(rows.size()), int(headings.size()), &dlg);
    QStringList heads;
    for (const std::string& h : headings) heads << fromGbk(h);
    table->setHorizontalHeaderLabels(heads);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < rows[r].size() && c < headings.size(); ++c)
        table->setItem(int(r), int(c), new QTableWidgetItem(fromGbk(rows[r][c])));
    table->resizeColumnsToContents();
    layout->addWidget(table, 1);
    auto* buttons = new QDialogButtonBox(&dlg);
    QObject::connect(buttons->addButton(QString::fromUtf8("关闭"), QDialogButtonBox::RejectRole), &QPushButton::clicked,
                     &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    dlg.resize(900, 480);
    dlg.exec();
  }

  bool chooseFolder(const std::string& caption, std::string* path) override {
    FolderDialog dlg(fromGbk(caption), path ? QString::fromStdString(*path) : QString());
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
    if (path) *path = dlg.selectedFiles().front().toStdString();
    return true;
  }

  bool saveFile(const std::string& caption, const std::string& filter, std::string* path) override {
    // Qt's save dialog asks before overwriting an existing file.
    QString chosen =
        QFileDialog::getSaveFileName(nullptr, fromGbk(caption), path ? fromGbk(*path) : QString(), fromGbk(filter));
    if (chosen.isEmpty()) return false;
    if (path) *path = toGbk(chosen);
    return true;
  }
};

bool haveScreen() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  // The offscreen platform has nobody to press OK: the report on standard
  // error is all there is.
  return app && QGuiApplication::platformName() != "offscreen";
}

}  // namespace

rt::Dialogs& qtDialogs() {
  static QtDialogs d;
  return d;
}

bool reportingFatal() { return g_reportingFatal.load(); }

void qtFatalReporter(const std::string& gbkText, const std::string& gbkCaption) {
  g_reportingFatal = true;
  std::string out = rt::gbkToUtf8(gbkCaption) + "\n" + rt::gbkToUtf8(gbkText);
  if (out.empty() || out.back() != '\n') out += '\n';
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
  if (haveScreen()) {
    QMessageBox box(QMessageBox::Critical, boxText(gbkCaption), boxText(gbkText), QMessageBox::NoButton);
    box.addButton(QString::fromUtf8("确定"), QMessageBox::AcceptRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
  }
}

bool installChineseQt() {
  // Dates, month and day names in Qt's own widgets (the date picker's
  // calendar, the file dialog's columns) in Chinese, whatever the desktop's
  // language.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  // The texts of Qt's own dialogs (print, save file, the input prompt's
  // buttons) from the system's Qt translations.
  static QTranslator* translator = nullptr;
  if (translator) return true;
  auto* t = new QTranslator(QCoreApplication::instance());
  if (!t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete t;
    return false;
  }
  QCoreApplication::installTranslator(t);
  translator = t;
  return true;
}

void initForms() {
  static bool done = false;
  if (done) return;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
    rt::fatalError(GBK("窗口层初始化失败：尚未创建 QApplication"));
  done = true;
  installChineseQt();
  registerFormCommands();
  rt::setDialogs(&qtDialogs());
  rt::setFatalReporter(qtFatalReporter);
  // The program ends when its last loaded window closes, not when Qt sees
  // no visible window (a message box closing with no window shown).
  QApplication::setQuitOnLastWindowClosed(false);
}

}  // namespace forms
