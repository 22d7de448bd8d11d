#include "db/dialog/edit_records.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>

#include "db/dialog/record_dialog.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/format.h"
#include "db/table.h"
#include "forms/live_windows.h"
#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/commands.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace db {
namespace {

EditWatcher* g_watcher = nullptr;

std::function<void(QDialog&)>& hook() {
  static std::function<void(QDialog&)> h;
  return h;
}

void cmdEditRecords(rt::Arg*, int argc, const rt::Arg* argv) {
  // One engine call: the corrections it writes advance the tables' change
  // counters like any command's.
  db::EngineCall call;
  setLastError(kOk);
  Table* t = currentTable();
  if (!t) return setLastError(kNoCurrentDatabase);
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    // Without a window system there is no dialog to show; say so rather
    // than return as if the records had been edited.
    rt::dialogs().message(GBK("没有窗口环境，无法打开记录编辑对话框。"), GBK("错误"), rt::mb::kOk | rt::mb::kIconError);
    return setLastError(kUnknown);
  }
  const rt::Arg* caption = rt::argAt(argc, argv, 0);
  std::string text = caption && caption->kind == rt::kText ? rt::textValue(*caption) : "";
  double flags = 0;
  const rt::Arg* f = rt::argAt(argc, argv, 1);
  if (!f || !rt::numericValue(*f, &flags) || !(flags >= -2147483648.0 && flags <= 2147483647.0)) flags = 0;
  int rc = runEditRecords(*t, text, int(flags), rt::textsFrom(argc, argv, 2));
  setLastError(rc);
}

}  // namespace

ScopedEditWatcher::ScopedEditWatcher(EditWatcher* watcher) : previous_(g_watcher) { g_watcher = watcher; }
ScopedEditWatcher::~ScopedEditWatcher() { g_watcher = previous_; }
EditWatcher* editWatcher() { return g_watcher; }

namespace {

struct Meanings {
  std::vector<std::string> names, meanings;
  std::vector<std::string> secret;  // names of the fields shown masked
};
std::vector<Meanings>& layouts() {
  static std::vector<Meanings> all;
  return all;
}

}  // namespace

void setFieldMeanings(const std::vector<std::string>& gbkNames, const std::vector<std::string>& gbkMeanings) {
  for (Meanings& m : layouts())
    if (m.names == gbkNames) {
      m.meanings = gbkMeanings;
      return;
    }
  layouts().push_back({gbkNames, gbkMeanings, {}});
}

namespace {

// The registered layout `table` has (field names equal, letter case
// ignored), or null.
const Meanings* layoutOf(const Table& table) {
  const auto& fields = table.fields();
  for (const Meanings& m : layouts()) {
    if (m.names.size() != fields.size()) continue;
    bool same = true;
    for (size_t i = 0; i < fields.size() && same; ++i) same = equalsNoCase(fields[i].name, m.names[i]);
    if (same) return &m;
  }
  return nullptr;
}

}  // namespace

std::string fieldMeaning(const Table& table, size_t index) {
  const Meanings* m = layoutOf(table);
  return m && index < m->meanings.size() ? m->meanings[index] : std::string();
}

void setSecretField(const std::vector<std::string>& gbkNames, const std::string& gbkField) {
  for (Meanings& m : layouts())
    if (m.names == gbkNames) {
      if (std::find(m.secret.begin(), m.secret.end(), gbkField) == m.secret.end()) m.secret.push_back(gbkField);
      return;
    }
  layouts().push_back({gbkNames, {}, {gbkField}});
}

bool fieldIsSecret(const Table& table, size_t index) {
  const Meanings* m = layoutOf(table);
  if (!m || index >= table.fields().size()) return false;
  for (const std::string& name : m->secret)
    if (equalsNoCase(name, table.fields()[index].name)) return true;
  return false;
}

void registerEditRecordsCommand() { rt::registerCommand(rt::Cmd::EditRecords, cmdEditRecords); }

int runEditRecords(Table& table, const std::string& gbkCaption, int flags, const std::vector<std::string>& gbkFields) {
  // Over the window whose handler asked for it; else the active one.
  QWidget* owner = nullptr;
  if (uint32_t w = forms::eventSource().window) owner = forms::windowWidget(w);
  if (!owner) owner = QApplication::activeWindow();
  RecordDialog dialog(table, gbkCaption, flags, gbkFields, owner);
  armEditDialogHook(dialog);
  dialog.exec();
  return dialog.closeCode();
}

void setEditDialogHook(std::function<void(QDialog&)> h) { hook() = std::move(h); }

void armEditDialogHook(QDialog& dialog) {
  if (!hook()) return;
  std::function<void(QDialog&)> h = hook();
  QTimer::singleShot(0, &dialog, [h, &dialog] { h(dialog); });
}

}  // namespace db
