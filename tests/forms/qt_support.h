// Shared pieces of the live-window tests: one QApplication for the test
// program, a scripted dialog seam, hand-built window templates and a
// fixture that leaves no window loaded behind it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "forms/model.h"
#include "forms/live_windows.h"
#include "runtime/dialogs.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace qtest {

// How many modal windows the running test has said it will answer (see
// ExpectModal).
inline int& modalsExpected() {
  static int n = 0;
  return n;
}

// Declares, for its lifetime, that the test opens modal windows and
// answers them itself (from a timer, a dialog hook, a scripted click).
struct ExpectModal {
  ExpectModal() { ++modalsExpected(); }
  ~ExpectModal() { --modalsExpected(); }
  ExpectModal(const ExpectModal&) = delete;
  ExpectModal& operator=(const ExpectModal&) = delete;
};

// A modal window that opens where the test expects none would wait for a
// person who never comes, and the test would hang until ctest's timeout.
// The guard fails the test at once, naming the window, and ends the test
// program: closing the window instead could let module code run on (a
// login closed unanswered ends the program with exit code 0).
class ModalGuard : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::Show || modalsExpected() > 0) return false;
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || !w->isWindow() || !w->isModal()) return false;
    const std::string title = w->windowTitle().toStdString();
    const std::string name = w->objectName().toStdString();
    ADD_FAILURE() << "unexpected modal window \"" << title << "\" (" << w->metaObject()->className()
                  << (name.empty() ? "" : " " + name) << ") opened; nothing in the test answers it";
    std::fprintf(stderr, "unexpected modal window \"%s\" (%s): test program ended\n", title.c_str(),
                 w->metaObject()->className());
    std::fflush(nullptr);
    std::_Exit(1);
  }
};

inline QApplication& app() {
  static int argc = 1;
  static char name[] = "forms_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* a = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* p = new QApplication(argc, argv);
    p->installEventFilter(new ModalGuard(p));
    forms::initForms();
    // Reports go to standard error, where death tests read them.
    rt::setFatalReporter(nullptr);
    return p;
  }();
  return *a;
}

// Answers message boxes from a script and records what was asked.
class ScriptedDialogs : public rt::Dialogs {
 public:
  struct Asked {
    std::string text, caption;
    uint32_t style;
  };
  std::deque<int> answers;
  std::vector<Asked> asked;

  int message(const std::string& text, const std::string& caption, uint32_t style) override {
    asked.push_back({text, caption, style});
    if (answers.empty()) ADD_FAILURE() << "unexpected message box: " << rt::gbkToUtf8(text);
    int a = answers.empty() ? -1 : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
  bool askText(const std::string&, const std::string&, std::string*, bool) override {
    ADD_FAILURE() << "unexpected text prompt";
    return false;
  }
  bool saveFile(const std::string&, const std::string&, std::string*) override {
    ADD_FAILURE() << "unexpected save dialog";
    return false;
  }
  bool chooseFolder(const std::string&, std::string*) override {
    ADD_FAILURE() << "unexpected folder chooser";
    return false;
  }
};

// --- template building ---

inline forms::Item item(uint32_t id, uint32_t kind, const char* utf8Name, int l, int t, int w, int h) {
  forms::Item it;
  it.id = id;
  it.kind = kind;
  it.name = rt::utf8ToGbk(utf8Name);
  it.left = l;
  it.top = t;
  it.width = w;
  it.height = h;
  it.stateWord = 5;
  return it;
}

inline forms::Item& on(forms::Item& it, int32_t event, int32_t handler) {
  it.events.push_back({event, handler});
  return it;
}

inline forms::WindowTemplate window(uint32_t id, const char* utf8Title, int w, int h) {
  forms::WindowTemplate t;
  t.id = id;
  forms::Item self;
  self.id = 0x06010000 | (id & 0xFF) << 8;
  self.kind = forms::kWindowKind;
  self.left = 50;
  self.top = 50;
  self.width = w;
  self.height = h;
  self.text = rt::utf8ToGbk(utf8Title);
  t.items.push_back(self);
  return t;
}

inline std::string gbk(const char* utf8) { return rt::utf8ToGbk(utf8); }

// Closes every window a test left loaded and lets Qt delete them.
inline void closeAll() {
  for (uint32_t id : forms::loadedWindows())
    if (QWidget* w = forms::windowWidget(id)) w->close();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Death tests run in a fresh copy of the program: Qt has threads, and a
    // forked copy of them cannot run an event loop. (gtest restores flags
    // after every test, so this is set per test.)
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    app();
    rt::setDialogs(&dialogs);
  }
  void TearDown() override {
    closeAll();
    EXPECT_TRUE(forms::loadedWindows().empty());
    forms::setTemplateSource(nullptr);
    rt::setDialogs(nullptr);
  }
  // Makes `data` the template source (kept by the fixture).
  void use(forms::TemplateData d) {
    data = std::move(d);
    forms::setTemplateSource(&data);
  }
  forms::TemplateData data;
  ScriptedDialogs dialogs;
};

}  // namespace qtest
