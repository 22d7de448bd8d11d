#include "db/dialog/record_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cstdlib>
#include <algorithm>

#include "db/dialog/edit_records.h"
#include "db/dialog/field_text.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/format.h"
#include "db/table.h"
#include "forms/qtext.h"
#include "runtime/blocks.h"
#include "runtime/convert.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace db {
namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }
std::string g(const char* utf8) { return rt::utf8ToGbk(utf8); }

// Frees the heap block a loaded value may carry.
void freeValue(const rt::Arg& a) {
  if (a.kind == rt::kText || a.kind == rt::kBytes) rt::free(rt::pointerValue<void>(a));
}

constexpr int kPage = 10;

// A write announced to the watcher of the program (edit_records.h) and
// reported to it after.
int announce(Table& t, const EditChange& c) {
  EditWatcher* w = editWatcher();
  return w ? w->before(t, c) : int(kOk);
}
void report(Table& t, const EditChange& c, int rc, int32_t serial) {
  if (EditWatcher* w = editWatcher()) w->after(t, c, rc, serial);
}

}  // namespace

RecordDialog::RecordDialog(Table& table, const std::string& gbkCaption, int flags,
                           const std::vector<std::string>& gbkFields, QWidget* parent)
    : QDialog(parent), t_(table), caption_(gbkCaption.empty() ? g("数据库记录编辑") : gbkCaption), flags_(flags) {
  setObjectName("EditRecords");
  viewOnly_ = (flags & kEditViewOnly) != 0;
  noAdding_ = viewOnly_ || (flags & kEditNoAdding) != 0;
  noDeleting_ = viewOnly_ || (flags & kEditNoDeleting) != 0;

  // The lines to show: the named fields in the order named (unknown names
  // and repeats skipped); all fields when none is named or none matches.
  std::vector<int> shown;
  for (const std::string& name : gbkFields) {
    int i = t_.fieldIndex(name);
    if (i >= 0 && std::find(shown.begin(), shown.end(), i) == shown.end()) shown.push_back(i);
  }
  if (shown.empty())
    for (int i = 0; i < int(t_.fields().size()); ++i) shown.push_back(i);
  for (int i : shown) {
    Line l;
    l.field = i;
    lines_.push_back(l);
  }

  buildMenus();
  buildBody();
  // The layout may widen the dialog to fit its buttons: settle the size
  // before placing it.
  layout()->activate();
  if (parent) centreOver(parent);

  readCount();
  if (count_ > 0)
    load(std::clamp(t_.position, 0, count_ - 1));
  else
    refreshTitle();
  focusLine(0);
}

RecordDialog::~RecordDialog() = default;

void RecordDialog::centreOver(QWidget* owner) {
  const QRect over = owner->window()->frameGeometry();
  QRect r(QPoint(0, 0), size());
  r.moveCenter(over.center());
  // A small owner (the login window) must not push the title bar off the
  // screen, where the dialog could no longer be moved.
  if (QScreen* screen = owner->screen()) {
    const QRect avail = screen->availableGeometry();
    r.moveLeft(std::max(r.left(), avail.left()));
    r.moveTop(std::max(r.top(), avail.top()));
  }
  move(r.topLeft());
}

// --- building -------------------------------------------------------------

QPushButton* RecordDialog::button(const char* name, const char* utf8Label, void (RecordDialog::*slot)()) {
  auto* b = new QPushButton(u(utf8Label), this);
  b->setObjectName(name);
  b->setAutoDefault(false);
  b->setFocusPolicy(Qt::NoFocus);  // the input focus stays on the field lines
  if (slot) connect(b, &QPushButton::clicked, this, [this, slot] { (this->*slot)(); });
  return b;
}

void RecordDialog::buildBody() {
  auto* outer = new QVBoxLayout(this);
  // The menu bar is the layout's: the body starts below it instead of
  // covering it.
  outer->setMenuBar(findChild<QMenuBar*>("menu"));
  auto* area = new QScrollArea(this);
  area->setWidgetResizable(true);
  auto* body = new QWidget(area);
  auto* grid = new QGridLayout(body);
  const QFont face(forms::screenFamily(""), 9);
  for (size_t n = 0; n < lines_.size(); ++n) {
    Line& l = lines_[n];
    const Field& f = t_.fields()[size_t(l.field)];
    const QString tag = QString::number(n + 1);
    // The program's own tables say what each field means beside its name.
    const std::string meaning = fieldMeaning(t_, size_t(l.field));
    l.label = new QLabel(forms::fromGbk(meaning.empty() ? f.name : f.name + "  " + meaning), body);
    l.label->setObjectName("name_" + tag);
    grid->addWidget(l.label, int(n), 0);
    QWidget* editor = nullptr;
    if (f.kind == kFBool) {
      l.check = new QCheckBox(body);
      connect(l.check, &QCheckBox::clicked, this, [this, n](bool) {
        // View only: the box cannot change.
        if (viewOnly_ || !loaded_) lines_[n].check->setChecked(lines_[n].checked);
      });
      editor = l.check;
    } else {
      l.edit = new QLineEdit(body);
      l.edit->setFont(face);
      // A password is shown masked to whoever looks over the shoulder.
      if (fieldIsSecret(t_, size_t(l.field))) l.edit->setEchoMode(QLineEdit::Password);
      if (viewOnly_ || isChainKind(f.kind) || f.kind == kFSubPtr) l.edit->setReadOnly(true);
      editor = l.edit;
    }
    editor->setObjectName("field_" + tag);
    editor->setFocusPolicy(Qt::StrongFocus);
    editor->installEventFilter(this);
    grid->addWidget(editor, int(n), 1);
    if (isChainKind(f.kind)) {
      l.more = new QPushButton("...", body);
      l.more->setObjectName("more_" + tag);
      l.more->setAutoDefault(false);
      l.more->setFocusPolicy(Qt::NoFocus);
      connect(l.more, &QPushButton::clicked, this, [this, n] { openChainWindow(int(n)); });
      grid->addWidget(l.more, int(n), 2);
    }
  }
  grid->setRowStretch(int(lines_.size()), 1);
  area->setWidget(body);
  outer->addWidget(area, 1);

  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName("status");
  outer->addWidget(statusLabel_);

  auto* moves = new QHBoxLayout;
  moves->addWidget(button("first", "首记录", &RecordDialog::firstRecord));
  moves->addWidget(button("pageUp", "上一页", &RecordDialog::pageBack));
  moves->addWidget(button("prev", "上一记录", &RecordDialog::previousRecord));
  moves->addWidget(button("next", "下一记录", &RecordDialog::nextRecord));
  moves->addWidget(button("pageDown", "下一页", &RecordDialog::pageForward));
  moves->addWidget(button("last", "尾记录", &RecordDialog::lastRecord));
  moves->addWidget(button("jump", "跳到记录", &RecordDialog::jumpToNumber));
  outer->addLayout(moves);

  auto* edits = new QHBoxLayout;
  QPushButton* add = button("newRecord", "添加空记录", nullptr);
  connect(add, &QPushButton::clicked, this, [this] { appendBlank(); });
  add->setEnabled(!noAdding_);
  edits->addWidget(add);
  QPushButton* toggle = button("toggleDeleted", "改变删除状态", &RecordDialog::toggleDeleted);
  QPushButton* pk = button("pack", "清除被删除记录", &RecordDialog::purge);
  QPushButton* zp = button("zap", "清空数据库", &RecordDialog::empty);
  for (QPushButton* b : {toggle, pk, zp}) {
    b->setEnabled(!noDeleting_);
    edits->addWidget(b);
  }
  edits->addStretch(1);
  QPushButton* close = button("close", "关闭", nullptr);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  edits->addWidget(close);
  outer->addLayout(edits);
  resize(520, 420);
}

void RecordDialog::buildMenus() {
  auto* bar = new QMenuBar(this);
  bar->setObjectName("menu");
  auto item = [this](QMenu* m, const char* utf8, const QKeySequence& key, auto fn, const char* name) {
    QAction* a = m->addAction(u(utf8));
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, fn);
    addAction(a);  // the shortcut works wherever the focus is in the dialog
    return a;
  };
  // Field moves are keys of the field lines themselves (see eventFilter):
  // their menu items only name the key.
  auto lineItem = [this](QMenu* m, const char* utf8, const char* keyText, auto fn, const char* name) {
    QAction* a = m->addAction(u(utf8) + "\t" + u(keyText));
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, fn);
    return a;
  };
  QMenu* rec = bar->addMenu(u("&R.记录"));
  item(
      rec, "&F.到首记录", QKeySequence(Qt::CTRL | Qt::Key_PageUp), [this] { firstRecord(); }, "actFirst");
  item(
      rec, "&L.到尾记录", QKeySequence(Qt::CTRL | Qt::Key_PageDown), [this] { lastRecord(); }, "actLast");
  item(
      rec, "&P.上一记录", QKeySequence(Qt::CTRL | Qt::Key_Up), [this] { previousRecord(); }, "actPrev");
  item(
      rec, "&N.下一记录", QKeySequence(Qt::CTRL | Qt::Key_Down), [this] { nextRecord(); }, "actNext");
  item(
      rec, "&U.上一页", QKeySequence(Qt::Key_PageUp), [this] { pageBack(); }, "actPageUp");
  item(
      rec, "&D.下一页", QKeySequence(Qt::Key_PageDown), [this] { pageForward(); }, "actPageDown");
  item(
      rec, "&G.到指定记录", QKeySequence(Qt::CTRL | Qt::Key_G), [this] { jumpToNumber(); }, "actJump");

  QMenu* fld = bar->addMenu(u("&F.字段"));
  lineItem(
      fld, "&F.到首字段", "Ctrl+Home", [this] { firstLine(); }, "actFirstLine");
  lineItem(
      fld, "&L.到尾字段", "Ctrl+End", [this] { lastLine(); }, "actLastLine");
  lineItem(
      fld, "&P.上一字段", "Shift+Tab", [this] { previousLine(); }, "actPrevLine");
  lineItem(
      fld, "&N.下一字段", "Tab/Enter", [this] { nextLine(); }, "actNextLine");
  lineItem(
      fld, "&U.上一行", "↑", [this] { lineUp(); }, "actLineUp");
  lineItem(
      fld, "&D.下一行", "↓", [this] { lineDown(false); }, "actLineDown");

  QMenu* del = bar->addMenu(u("&D.增删"));
  item(
      del, "&A.添加空记录", QKeySequence(Qt::CTRL | Qt::Key_N), [this] { appendBlank(); }, "actAppend")
      ->setEnabled(!noAdding_);
  del->addSeparator();
  item(
      del, "&D.改变删除状态", QKeySequence(Qt::CTRL | Qt::Key_D), [this] { toggleDeleted(); }, "actToggle")
      ->setEnabled(!noDeleting_);
  item(
      del, "&K.清除所有被删除记录", QKeySequence(), [this] { purge(); }, "actPack")
      ->setEnabled(!noDeleting_);
  item(
      del, "&Z.清空数据库", QKeySequence(), [this] { empty(); }, "actZap")
      ->setEnabled(!noDeleting_);
}

// --- state ----------------------------------------------------------------

void RecordDialog::readCount() {
  int32_t c = 0;
  int rc = t_.readCount(&c);
  if (rc == kOk)
    count_ = std::max(c, 0);
  else
    status_ = rc;
}

void RecordDialog::refreshTitle() {
  std::string t = caption_ + " - [";
  char buf[64];
  if (loaded_) {
    if (deleted_) t += g("*被删除 ");
    std::snprintf(buf, sizeof buf, "%d / %d]", pos_ + 1, count_);
  } else {
    std::snprintf(buf, sizeof buf, "?? / %d]", count_);
  }
  t += buf;
  if (status_ != kOk) t += std::string(" - ") + errorText(status_);
  if (t == title_) return;
  title_ = t;
  const QString q = forms::fromGbk(t);
  if (windowTitle() != q) setWindowTitle(q);
}

void RecordDialog::clearLines() {
  for (Line& l : lines_) {
    l.shown.clear();
    l.checked = false;
    l.chain.clear();
    l.chainNew.clear();
    l.chainChanged = false;
    if (l.edit) l.edit->clear();
    if (l.check) l.check->setChecked(false);
    if (l.more) l.more->setEnabled(false);
  }
}

bool RecordDialog::load(int32_t p) {
  loaded_ = false;
  pos_ = p;
  t_.setPosition(p);
  std::vector<uint8_t> rec(size_t(t_.recordSize()));
  int rc = t_.lockRecord(p);
  if (rc == kOk) {
    // The count read completes a pack another program left unfinished
    // before the record is read.
    int32_t count = 0;
    rc = t_.readCount(&count);
    if (rc == kOk) rc = p < count ? t_.readRecord(p, rec.data()) : int(kRecordReadFailed);
    if (rc == kOk) serial_ = getI32(rec.data());  // negated when marked deleted
    // Chains are read under the same lock, so the record and its memo
    // texts belong together.
    for (size_t n = 0; n < lines_.size() && rc == kOk; ++n) {
      const Field& f = t_.fields()[size_t(lines_[n].field)];
      if (!isChainKind(f.kind)) continue;
      rt::Arg v;
      rc = t_.loadValue(f, rec.data(), &v);
      if (rc == kOk) {
        if (f.kind == kFMemo) {
          lines_[n].chain = rt::textValue(v);
        } else {
          size_t len = 0;
          const uint8_t* d = rt::byteSetData(rt::pointerValue<void>(v), &len);
          lines_[n].chain.assign(reinterpret_cast<const char*>(d), len);
        }
      }
      freeValue(v);
    }
    // A lock a failed unlock left goes when the handle is closed or dropped.
    static_cast<void>(t_.unlockRecord(p));
  }
  if (rc != kOk) {
    clearLines();
    status_ = rc;
    statusLabel_->setText(u("记录 ") + QString::number(p + 1) + u(" 不存在"));
    refreshTitle();
    return false;
  }
  for (Line& l : lines_) {
    const Field& f = t_.fields()[size_t(l.field)];
    l.chainNew.clear();
    l.chainChanged = false;
    if (isChainKind(f.kind)) {
      showChainSummary(l);
      if (l.more) l.more->setEnabled(true);
      continue;
    }
    rt::Arg v;
    static_cast<void>(t_.loadValue(f, rec.data(), &v));  // fixed-width kinds cannot fail
    if (l.check) {
      l.checked = v.lo != 0;
      l.check->setChecked(l.checked);
    } else {
      l.shown = dialog::fieldText(f, v);
      l.edit->setText(forms::fromGbk(l.shown));
      l.edit->setCursorPosition(0);
    }
    freeValue(v);
  }
  statusLabel_->clear();
  status_ = kOk;
  loaded_ = true;
  deleted_ = getI32(rec.data()) < 0;
  refreshTitle();
  return true;
}

void RecordDialog::showChainSummary(Line& l) {
  const Field& f = t_.fields()[size_t(l.field)];
  const std::string& data = l.chainChanged ? l.chainNew : l.chain;
  if (f.kind == kFMemo) {
    QString s = forms::fromGbk(data);
    int nl = s.indexOf('\n');
    if (nl >= 0) s = s.left(nl) + " ...";
    l.edit->setText(s);
  } else {
    l.edit->setText(u("[数据尺寸: ") + QString::number(data.size()) + "]");
  }
  l.edit->setCursorPosition(0);
}

bool RecordDialog::atLastRecord() const { return !loaded_ || pos_ >= count_ - 1; }

// --- saving ---------------------------------------------------------------

bool RecordDialog::saveRecord(std::string* refusal, int* code) {
  refusal->clear();
  *code = kOk;
  if (viewOnly_) return true;
  // An empty table shows one new blank record: what is typed into it is
  // appended as the first record; nothing typed, nothing appended.
  const bool firstRecord = !loaded_ && !noAdding_ && count_ == 0;
  if (!loaded_ && !firstRecord) return true;
  const size_t nf = t_.fields().size();
  std::vector<dialog::TypedValue> typed(nf);
  std::vector<bool> given(nf, false);
  std::vector<void*> blocks;
  for (size_t n = 0; n < lines_.size(); ++n) {
    Line& l = lines_[n];
    const Field& f = t_.fields()[size_t(l.field)];
    dialog::TypedValue& tv = typed[size_t(l.field)];
    if (isChainKind(f.kind)) {
      if (!l.chainChanged || l.chainNew == l.chain) continue;
      if (f.kind == kFMemo) {
        tv.text = l.chainNew;
        tv.value = rt::makeTextRef(nullptr);
      } else {
        void* b = rt::makeByteSet(l.chainNew.data(), l.chainNew.size());
        if (b) blocks.push_back(b);
        tv.value = rt::makePointer(b, rt::kBytes);
      }
    } else if (l.check) {
      if (l.check->isChecked() == l.checked) continue;
      tv.value = rt::makeBool(l.check->isChecked());
    } else {
      if (l.edit->isReadOnly()) continue;
      const std::string now = forms::toGbk(l.edit->text());
      if (now == l.shown) continue;
      std::string why = dialog::parseFieldText(f, now, &tv);
      if (!why.empty()) {
        for (void* b : blocks) rt::free(b);
        *refusal = g("字段“") + f.name + g("”的内容“") + now + g("”") + why + g("，记录未保存。");
        focusLine(int(n));
        return false;
      }
    }
    given[size_t(l.field)] = true;
  }
  std::vector<rt::Arg> args(nf);
  std::vector<const rt::Arg*> values(nf, nullptr);
  bool any = false;
  for (size_t i = 0; i < nf; ++i)
    if (given[i]) {
      args[i] = typed[i].arg();
      values[i] = &args[i];
      any = true;
    }
  if (!any) return true;
  EditChange change;
  change.kind = firstRecord ? EditChange::kAppend : EditChange::kModify;
  change.position = firstRecord ? -1 : pos_;
  change.serial = firstRecord ? 0 : std::abs(serial_);
  change.values = values;
  int rc = announce(t_, change);
  if (rc != kOk) {
    // Refused by the watcher: nothing is written.
  } else if (firstRecord) {
    rc = t_.append(values.data(), nf);
  } else {
    // The record shown, by its serial: followed to where another
    // workstation's pack moved it, refused (-44) when it is gone.
    t_.holdSerial(pos_, serial_);
    rc = t_.modify(values.data(), nf);
  }
  for (void* b : blocks) rt::free(b);
  change.values.clear();
  if (rc != kOk) {
    report(t_, change, rc, 0);
    *code = rc;
    status_ = rc;
    refreshTitle();
    return false;
  }
  // Seen by every other workstation now, not when the dialog closes.
  markWritten();
  // Show what the file now holds.
  if (firstRecord) readCount();
  load(t_.position);
  report(t_, change, kOk, loaded_ ? std::abs(serial_) : 0);
  return true;
}

void RecordDialog::showSaveFailure(const std::string& refusal, int code, bool closing) {
  std::string text = !refusal.empty()         ? refusal
                     : closing && code != kOk ? std::string(errorText(code))
                                              : g("保存现行记录失败");
  rt::dialogs().message(text, g("错误"), rt::mb::kOk | rt::mb::kIconError);
}

bool RecordDialog::leaveRecord() {
  std::string refusal;
  int code = kOk;
  if (saveRecord(&refusal, &code)) return true;
  showSaveFailure(refusal, code, false);
  return false;
}

// --- moving ---------------------------------------------------------------

bool RecordDialog::moveTo(int32_t p) {
  readCount();
  if (count_ <= 0) {
    refreshTitle();
    return false;
  }
  p = std::clamp(p, 0, count_ - 1);
  if (loaded_ && p == pos_) {
    refreshTitle();
    return true;
  }
  if (!leaveRecord()) return false;
  return load(p);
}

void RecordDialog::firstRecord() { moveTo(0); }
void RecordDialog::lastRecord() {
  readCount();
  moveTo(count_ - 1);
}
void RecordDialog::previousRecord() { moveTo(pos_ - 1); }
void RecordDialog::nextRecord() { moveTo(pos_ + 1); }

void RecordDialog::pageBack() {
  if (loaded_ && pos_ == 0) return;
  moveTo(pos_ - kPage);
}

void RecordDialog::pageForward() {
  readCount();
  if (loaded_ && pos_ == count_ - 1) {
    focusLine(lineCount() - 1);
    return;
  }
  moveTo(pos_ + kPage);
}

void RecordDialog::jumpToNumber() {
  readCount();
  std::string value = loaded_ ? std::to_string(pos_ + 1) : std::string();
  const std::string prompt = g("请指定欲跳转到的记录号（1 - ") + std::to_string(count_) + g("）：");
  if (!rt::dialogs().askText(prompt, g("跳到指定记录"), &value, false)) return;
  double n = rt::textToNumber(value);
  int32_t k = n >= 2147483647.0 ? INT32_MAX : n < 1 ? 1 : int32_t(n);
  moveTo(k - 1);
}

// --- adding, deleting -----------------------------------------------------

bool RecordDialog::ask(const char* utf8Question) {
  return rt::dialogs().message(g(utf8Question), g("询问"),
                               rt::mb::kYesNo | rt::mb::kIconQuestion | rt::mb::kDefButton2) == rt::kYes;
}

bool RecordDialog::appendBlank() {
  if (noAdding_) return false;
  if (!leaveRecord()) return false;
  EditChange change;
  change.kind = EditChange::kAppend;
  int rc = announce(t_, change);
  if (rc == kOk) rc = t_.append(nullptr, 0);
  if (rc != kOk) {
    report(t_, change, rc, 0);
    status_ = rc;
    refreshTitle();
    return false;
  }
  readCount();
  bool ok = load(t_.position);
  report(t_, change, kOk, ok ? std::abs(serial_) : 0);
  focusLine(0);
  return ok;
}

void RecordDialog::addAtEnd() {
  if (noAdding_) return;
  if (askBeforeAdding_) {
    if (!ask("请问是否要增加新的空记录？")) return;
    askBeforeAdding_ = false;
  }
  appendBlank();
}

void RecordDialog::toggleDeleted() {
  if (noDeleting_ || !loaded_) return;
  std::vector<uint8_t> rec(size_t(t_.recordSize()));
  EditChange change;
  change.kind = deleted_ ? EditChange::kUnmark : EditChange::kMark;
  change.position = pos_;
  change.serial = std::abs(serial_);
  int rc = announce(t_, change);
  if (rc == kOk) rc = t_.lockRecord(pos_);
  if (rc == kOk) {
    rc = t_.readRecord(pos_, rec.data());
    int32_t h = rc == kOk ? getI32(rec.data()) : 0;
    // Another record at this place now (a pack elsewhere): not the one shown.
    if (rc == kOk && serial_ != 0 && std::abs(h) != std::abs(serial_)) rc = kNoRecord;
    if (rc == kOk && h != 0) rc = t_.writeRecordHeader(pos_, -h);
    if (rc == kOk) serial_ = -h;
    if (rc == kOk) deleted_ = -h < 0;
    if (rc == kOk && t_.position == pos_) t_.heldHeaderChanged(-h);
    // A lock a failed unlock left goes when the handle is closed or dropped.
    static_cast<void>(t_.unlockRecord(pos_));
  }
  if (rc == kOk) markWritten();
  report(t_, change, rc, change.serial);
  status_ = rc;
  refreshTitle();
}

void RecordDialog::afterBulk(int rc) {
  loaded_ = false;
  clearLines();
  readCount();
  if (count_ > 0) {
    load(0);
  } else {
    pos_ = -1;
    t_.position = 0;
  }
  if (rc != kOk) status_ = rc;
  refreshTitle();
  focusLine(0);
}

void RecordDialog::purge() {
  if (noDeleting_) return;
  if (!ask("请问确定要进行此项操作吗？")) return;
  if (!leaveRecord()) return;
  EditChange change;
  change.kind = EditChange::kPurge;
  int rc = announce(t_, change);
  if (rc == kOk) rc = t_.pack();
  report(t_, change, rc, 0);
  afterBulk(rc);
}

void RecordDialog::empty() {
  if (noDeleting_) return;
  if (!ask("请问确定要进行此项操作吗？")) return;
  EditChange change;
  change.kind = EditChange::kEmpty;
  int rc = announce(t_, change);
  if (rc == kOk) rc = t_.zap();
  report(t_, change, rc, 0);
  afterBulk(rc);
}

// --- field lines ----------------------------------------------------------

void RecordDialog::focusLine(int i) {
  if (lines_.empty()) return;
  curLine_ = std::clamp(i, 0, lineCount() - 1);
  const Line& l = lines_[size_t(curLine_)];
  QWidget* w = l.edit ? static_cast<QWidget*>(l.edit) : static_cast<QWidget*>(l.check);
  w->setFocus(Qt::OtherFocusReason);
}

void RecordDialog::firstLine() { focusLine(0); }
void RecordDialog::lastLine() { focusLine(lineCount() - 1); }
void RecordDialog::nextLine() { focusLine((curLine_ + 1) % lineCount()); }
void RecordDialog::previousLine() { focusLine((curLine_ + lineCount() - 1) % lineCount()); }

void RecordDialog::lineDown(bool enter) {
  if (curLine_ < lineCount() - 1) return focusLine(curLine_ + 1);
  if (atLastRecord()) {
    if (enter) addAtEnd();
    return;
  }
  if (moveTo(pos_ + 1)) focusLine(0);
}

void RecordDialog::lineUp() {
  if (curLine_ > 0) return focusLine(curLine_ - 1);
  if (loaded_ && pos_ > 0 && moveTo(pos_ - 1)) focusLine(lineCount() - 1);
}

bool RecordDialog::eventFilter(QObject* o, QEvent* e) {
  int line = -1;
  for (size_t n = 0; n < lines_.size(); ++n)
    if (o == lines_[n].edit || o == lines_[n].check) line = int(n);
  if (line < 0) return QDialog::eventFilter(o, e);
  if (e->type() == QEvent::FocusIn) curLine_ = line;
  if (e->type() != QEvent::KeyPress) return QDialog::eventFilter(o, e);
  curLine_ = line;
  auto* k = static_cast<QKeyEvent*>(e);
  const Qt::KeyboardModifiers mods = k->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  QLineEdit* edit = lines_[size_t(line)].edit;
  const bool atStart = !edit || (edit->cursorPosition() == 0 && !edit->hasSelectedText());
  const bool atEnd = !edit || (edit->cursorPosition() == edit->text().size() && !edit->hasSelectedText());
  switch (k->key()) {
    case Qt::Key_Tab:
      if (mods == Qt::NoModifier) return nextLine(), true;
      if (mods == Qt::ShiftModifier) return previousLine(), true;
      break;
    case Qt::Key_Backtab:
      return previousLine(), true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (mods == Qt::NoModifier) return lineDown(true), true;
      break;
    case Qt::Key_Up:
      if (mods == Qt::NoModifier) return lineUp(), true;
      break;
    case Qt::Key_Down:
      if (mods == Qt::NoModifier) return lineDown(false), true;
      break;
    case Qt::Key_Left:
      if (mods == Qt::NoModifier && atStart) return lineUp(), true;
      break;
    case Qt::Key_Right:
      if (mods == Qt::NoModifier && atEnd) return lineDown(false), true;
      break;
    case Qt::Key_Home:
      if (mods == Qt::ControlModifier) return firstLine(), true;
      break;
    case Qt::Key_End:
      if (mods == Qt::ControlModifier) return lastLine(), true;
      break;
    default:
      break;
  }
  return QDialog::eventFilter(o, e);
}

// --- closing --------------------------------------------------------------

void RecordDialog::done(int r) {
  if (!closing_) {
    closing_ = true;
    std::string refusal;
    int code = kOk;
    if (!saveRecord(&refusal, &code)) {
      showSaveFailure(refusal, code, true);
      closeCode_ = code != kOk ? code : int(kValueKindMismatch);
    }
  }
  QDialog::done(r);
}

// --- memo and byte-set window ---------------------------------------------

void RecordDialog::openChainWindow(int line) {
  if (line < 0 || line >= lineCount() || !loaded_) return;
  Line& l = lines_[size_t(line)];
  const Field& f = t_.fields()[size_t(l.field)];
  if (!isChainKind(f.kind)) return;
  const bool memo = f.kind == kFMemo;
  const std::string data = l.chainChanged ? l.chainNew : l.chain;
  std::string title = g(memo ? "备注字段" : "字节集字段") + g(viewOnly_ ? "查看" : "编辑");
  if (!memo) title += g(" - [数据尺寸: ") + std::to_string(data.size()) + "]";

  QDialog w(this);
  w.setObjectName("ChainWindow");
  w.setWindowTitle(forms::fromGbk(title));
  auto* lay = new QVBoxLayout(&w);
  auto* content = new QPlainTextEdit(&w);
  content->setObjectName("content");
  lay->addWidget(content);
  bool cleared = false;
  if (memo) {
    content->setPlainText(forms::fromGbk(data));
    content->setReadOnly(viewOnly_);
  } else {
    // The bytes as hexadecimal, 16 to a line.
    QString hex;
    for (size_t i = 0; i < data.size(); ++i) {
      hex += QString::asprintf("%02X", unsigned(uint8_t(data[i])));
      hex += (i % 16 == 15) ? "\n" : " ";
    }
    content->setPlainText(hex);
    content->setReadOnly(true);
    auto* row = new QHBoxLayout;
    auto* out = new QPushButton(u("写出文件"), &w);
    out->setObjectName("writeOut");
    connect(out, &QPushButton::clicked, &w, [this, &data] { writeOut(data); });
    auto* pic = new QPushButton(u("图片预览"), &w);
    pic->setObjectName("preview");
    connect(pic, &QPushButton::clicked, &w, [this, &data] { preview(data); });
    row->addWidget(out);
    row->addWidget(pic);
    if (!viewOnly_) {
      auto* clear = new QPushButton(u("清空"), &w);
      clear->setObjectName("clear");
      connect(clear, &QPushButton::clicked, &w, [&cleared, content] {
        cleared = true;
        content->clear();
      });
      row->addWidget(clear);
    }
    lay->addLayout(row);
  }
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &w);
  box->button(QDialogButtonBox::Ok)->setObjectName("ok");
  box->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  connect(box, &QDialogButtonBox::accepted, &w, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, &w, &QDialog::reject);
  lay->addWidget(box);
  w.resize(480, 320);
  armEditDialogHook(w);
  if (w.exec() != QDialog::Accepted || viewOnly_) return;
  std::string now = memo ? forms::toGbk(content->toPlainText()) : (cleared ? std::string() : data);
  if (now == data) return;
  l.chainNew = now;
  l.chainChanged = true;
  showChainSummary(l);
}

void RecordDialog::writeOut(const std::string& bytes) {
  std::string path;
  if (!rt::dialogs().saveFile(g("写出文件"), g("所有文件 (*)"), &path)) return;
  QFile file(forms::fromGbk(path));
  bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size());
  if (ok) ok = file.flush();
  file.close();
  if (!ok) rt::dialogs().message(g("写出文件失败"), g("错误"), rt::mb::kOk | rt::mb::kIconError);
}

void RecordDialog::preview(const std::string& bytes) {
  QImage img;
  if (bytes.empty() || !img.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), int(bytes.size()))) {
    rt::dialogs().message(g("创建图片预览失败"), g("错误"), rt::mb::kOk | rt::mb::kIconError);
    return;
  }
  QDialog w(this);
  w.setObjectName("PicturePreview");
  w.setWindowTitle(u("图片预览"));
  auto* lay = new QVBoxLayout(&w);
  auto* pic = new QLabel(&w);
  pic->setObjectName("picture");
  pic->setPixmap(QPixmap::fromImage(img));
  lay->addWidget(pic);
  armEditDialogHook(w);
  w.exec();
}

}  // namespace db
