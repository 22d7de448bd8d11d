// Shared pieces of the record-edit dialog tests: a scripted dialog seam
// that also answers text prompts and save-file dialogs, and a fixture that
// works in a fresh directory on a small table of every kind the dialog
// edits in place plus a memo field.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../forms/qt_support.h"
#include "db/dialog/edit_records.h"
#include "db/dialog/record_dialog.h"
#include "db/engine.h"
#include "db/facade.h"
#include "db/table.h"
#include "runtime/gbk.h"

namespace dtest {

class Answers : public rt::Dialogs {
 public:
  struct Asked {
    std::string text, caption;  // UTF-8
    uint32_t style;
  };
  struct Prompt {
    std::string prompt, caption, prefilled;  // UTF-8
  };
  std::deque<int> buttons;
  std::deque<std::optional<std::string>> texts;  // nullopt: cancelled
  std::deque<std::optional<std::string>> paths;
  std::vector<Asked> asked;
  std::vector<Prompt> prompts;

  int message(const std::string& text, const std::string& caption, uint32_t style) override {
    asked.push_back({rt::gbkToUtf8(text), rt::gbkToUtf8(caption), style});
    if (buttons.empty()) {
      // An error box needs no answer; a question must be scripted.
      if ((style & rt::mb::kButtonMask) != rt::mb::kOk) ADD_FAILURE() << "unexpected question: " << asked.back().text;
      return rt::kOk;
    }
    int b = buttons.front();
    buttons.pop_front();
    return b;
  }
  bool askText(const std::string& prompt, const std::string& caption, std::string* value, bool) override {
    prompts.push_back({rt::gbkToUtf8(prompt), rt::gbkToUtf8(caption), rt::gbkToUtf8(*value)});
    if (texts.empty()) {
      ADD_FAILURE() << "unexpected prompt: " << prompts.back().prompt;
      return false;
    }
    auto t = texts.front();
    texts.pop_front();
    if (!t) return false;
    *value = rt::utf8ToGbk(*t);
    return true;
  }
  bool saveFile(const std::string&, const std::string&, std::string* path) override {
    if (paths.empty()) {
      ADD_FAILURE() << "unexpected save dialog";
      return false;
    }
    auto p = paths.front();
    paths.pop_front();
    if (!p) return false;
    *path = *p;
    return true;
  }
  std::vector<std::string> texts_asked() const {
    std::vector<std::string> out;
    for (const auto& a : asked) out.push_back(a.text);
    return out;
  }
};

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    qtest::app();
    char tmpl[] = "/tmp/dbdialog.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    db::registerDatabaseCommands();
    db::registerEditRecordsCommand();
    previous_ = rt::setDialogs(&answers);
  }
  void TearDown() override {
    dlg.reset();
    db::setEditDialogHook({});
    rt::setDialogs(previous_);
    db::closeAllDatabases();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }

  // Table "t": name text(8), n int, x float, d date-time, b bool, m memo;
  // record i (1-based) holds "r<i>", i, i + 0.5, day i, i odd, "".
  void makeTable(int records, bool readOnly = false) {
    std::vector<rt::FieldInf> f = {{"name", 10, 8}, {"n", 3, 20}, {"x", 5, 20},
                                   {"d", 8, 20},    {"b", 7, 20}, {"m", 12, 20}};
    ASSERT_TRUE(cmd::CreateDatabase("t", f));
    ASSERT_TRUE(cmd::OpenDatabase("t"));
    for (int i = 1; i <= records; ++i)
      ASSERT_TRUE(cmd::AppendRecord("r" + std::to_string(i), i, float(i) + 0.5f, rt::DateTime{double(i)}, i % 2 == 1));
    if (readOnly) {
      cmd::CloseDatabase();
      ASSERT_TRUE(cmd::OpenDatabase("t", "", true));
    }
    cmd::MoveFirst();
  }
  db::RecordDialog& open(int flags = 0, std::vector<std::string> fields = {}) {
    dlg = std::make_unique<db::RecordDialog>(*db::currentTable(), "", flags, fields);
    return *dlg;
  }
  std::string title() const { return rt::gbkToUtf8(dlg->titleText()); }
  QLineEdit* edit(int line) { return dlg->findChild<QLineEdit*>("field_" + QString::number(line)); }
  QPushButton* button(const char* name) { return dlg->findChild<QPushButton*>(name); }
  void type(int line, const char* utf8) { edit(line)->setText(QString::fromUtf8(utf8)); }
  // Field `name` of record `n` (1-based) as the engine reads it.
  std::string stored(int n, const char* name) {
    cmd::MoveTo(n);
    return cmd::ToText(cmd::ReadField(name).arg());
  }
  int32_t header(int n) {
    db::Table& t = *db::currentTable();
    std::vector<uint8_t> rec(size_t(t.recordSize()));
    EXPECT_EQ(t.readRecord(n - 1, rec.data()), 0);
    return db::getI32(rec.data());
  }

  Answers answers;
  std::unique_ptr<db::RecordDialog> dlg;
  rt::Dialogs* previous_ = nullptr;
  std::filesystem::path dir_, old_;
};

}  // namespace dtest
