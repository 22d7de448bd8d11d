#include "bench/harness.h"

#include <QApplication>

#include "app/shell.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "forms/template.h"
#include "forms/windows_rt.h"
#include "print/printer.h"
#include "runtime/gbk.h"

namespace bench {

QApplication& startWindows(const std::filesystem::path& dir, OkDialogs& dialogs) {
  static int argc = 1;
  static char name[] = "clinic-bench";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);
  // The program's start-up, apart from the start window and the loop.
  forms::templates();
  std::filesystem::current_path(dir);
  forms::initForms();
  db::registerDatabaseCommands();
  db::registerEditRecordsCommand();
  print::registerPrintCommands();
  app::installShellHandlers();
  rt::setDialogs(&dialogs);
  return *app;
}

const std::string& notBuiltText() {
  static const std::string t = rt::utf8ToGbk("此功能尚未完成。");
  return t;
}

}  // namespace bench
