#include "bench/harness.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/shell.h"
#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/locks.h"
#include "forms/template.h"
#include "forms/windows_rt.h"
#include "print/printer.h"
#include "runtime/gbk.h"

namespace bench {

QApplication& startWindows(const std::filesystem::path& dir, rt::Dialogs& dialogs) {
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
  db::setLockWaitMs(app::kLockWaitMs);
  app::installShellHandlers();
  rt::setDialogs(&dialogs);
  return *app;
}

std::filesystem::path scratchDir() {
  char tmpl[] = "/tmp/clinic-bench.XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return tmpl;
}

std::string makeCatalogue(int drugs) {
  app::openTable(app::kDrugCatalogueName, app::kDrugCatalogue);
  char code[16] = "";
  for (int i = 0; i < drugs; ++i) {
    std::snprintf(code, sizeof code, "D%05d", i);
    if (!cmd::AppendRecord(code, rt::utf8ToGbk("药品") + code, "", app::categoryName(i % app::kCategoryCount),
                           rt::utf8ToGbk("甲类"), "B1", "", rt::DateTime{40000}, rt::DateTime{40400}, "",
                           rt::utf8ToGbk("支"), 1000000, 1.0f, 1000000.0f, 2.5f, 2500000.0f)) {
      std::fprintf(stderr, "catalogue: engine error %d\n", db::lastError());
      std::exit(1);
    }
  }
  return code;
}

const std::string& notBuiltText() {
  static const std::string t = rt::utf8ToGbk("此功能尚未完成。");
  return t;
}

}  // namespace bench
