// The fixture of the module tests: one QApplication, a scratch directory as
// the working directory (where the tables are made), the real windows with
// the program's handler tables, every layer's commands, and a scripted
// dialog seam. Nothing is left loaded or open behind a test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "../forms/qt_support.h"
#include "app/shell.h"
#include "app/table_use.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "forms/template.h"
#include "forms/window_ids.h"
#include "print/printer.h"
#include "runtime/gbk.h"

namespace apptest {

// The table `name` current, created with def's fields when missing, of
// whatever layout it has: as a window leaves it before a test drives it.
inline void makeCurrent(const std::string& name, const app::TableDef& def) {
  const app::TableUse use = app::useTable(name, {.def = &def, .checkLayout = false, .createWhenMissing = true});
  EXPECT_TRUE(use.ok()) << name << ": " << use.code;
}

class AppTest : public testing::Test {
 protected:
  void SetUp() override {
    // Death tests run in a fresh copy of the program: Qt has threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    qtest::app();
    char tmpl[] = "/tmp/apptest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    forms::setTemplateSource(nullptr);
    db::registerDatabaseCommands();
    db::registerEditRecordsCommand();
    print::registerPrintCommands();
    app::installShellHandlers();
    previous_ = rt::setDialogs(&dialogs);
  }
  void TearDown() override {
    for (uint32_t w : forms::loadedWindows()) forms::closeWindow(w);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    rt::setDialogs(previous_);
    db::closeAllDatabases();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }

  // After the posted closes have taken effect.
  static bool loaded(uint32_t window) {
    QCoreApplication::processEvents();
    return forms::isLoaded(window);
  }

  // The texts of the messages and questions shown so far (UTF-8).
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& a : dialogs.asked) out.push_back(rt::gbkToUtf8(a.text));
    return out;
  }

  qtest::ScriptedDialogs dialogs;
  rt::Dialogs* previous_ = nullptr;
  std::filesystem::path dir_, old_;
};

}  // namespace apptest
