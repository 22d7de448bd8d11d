#include "app/shell.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <unistd.h>
#include <initializer_list>
#include <vector>

#include "app/centre_folder.h"
#include "app/drug.h"
#include "app/figures/kept_figures.h"
#include "app/first_start.h"
#include "app/inpatient.h"
#include "app/charges/inpatient_bill.h"
#include "app/charges/medication.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/charges/charging.h"
#include "app/charges/pending.h"
#include "app/charges/outpatient.h"
#include "app/charges/charge_values.h"
#include "app/report/window.h"
#include "app/report/chart.h"
#include "app/login_guard.h"
#include "app/rights.h"
#include "app/tables.h"
#include "app/trail.h"
#include "db/dialog/edit_records.h"
#include "db/each.h"
#include "db/engine.h"
#include "db/os.h"
#include "db/facade.h"
#include "db/folder_use.h"
#include "forms/facade.h"
#include "db/locks.h"
#include "forms/template.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "print/printer.h"
#include "runtime/commands.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace ids = forms::ids;

bool g_loginDone = false;  // a login succeeded in this run

void showMessage(const char* gbk) { cmd::ShowMessage(gbk); }

// Holds the centre folder (the working directory) for the whole run
// (db/folder_use.h), so that no restore replaces the tables under this
// program. While a restore holds the folder the operator is told and the
// program ends; a folder where the use file cannot be made is worked in as
// before.
bool holdCentreFolder() {
  if (db::enterFolderForRun(".") != db::kSharingViolation) return true;
  showMessage(GBK("正在从备份恢复数据，请稍后再启动程序"));
  return false;
}

void load(uint32_t windowId) {
  if (!login::mayOpenWindow(windowId)) return;
  cmd::LoadWindow(forms::windowArg(windowId));
}

void setVisualStyle3() { cmd::SetVisualStyle(3); }

// --- start window ---------------------------------------------------------------

void startCreated() {
  setVisualStyle3();
  // Modal: the start window stays disabled until the login window closes.
  cmd::LoadWindow(forms::windowArg(ids::kLoginWindow), rt::Arg{}, true);
  // Closed by its close box without a login: the modules must not open to
  // someone who never logged in, so the program ends as "退出" would.
  if (!g_loginDone) endProgram();
  rights::disableRefused(ids::kStartWindow);
}

void openDrug() { load(ids::kDrugWindow); }
void openInpatient() { load(ids::kInpatientWindow); }
void openMedication() { load(ids::kMedicationWindow); }
void openOutpatient() { load(ids::kOutpatientWindow); }
void openReport() { load(ids::kReportWindow); }
void openAbout() { load(ids::kAboutWindow); }
void closeStart() { cmd::CloseWindow(forms::windowArg(ids::kStartWindow)); }
void exitProgram() { endProgram(); }

// --- login window -----------------------------------------------------------------

std::string userBox() { return forms::text(ids::kLoginWindow, GBK("组合框1")); }
std::string passwordBox() { return forms::text(ids::kLoginWindow, GBK("编辑框1")); }

// The user list into the combo box, once per run: at the window's
// creation, or at the first 确定 that can read it when the folder was away
// at the start. 0, or the engine's code of the open or read that failed
// (then said to the operator).
bool g_usersListed = false;
// The user list current (created when the folder has none, as at the
// window's creation): 0 or the engine's code.
int useUserList() {
  const TableUse use = useTable(kUsersName, {.def = &kUsers, .checkLayout = false, .createWhenMissing = true});
  return use.ok() ? 0 : use.code;
}

int listUsers() {
  if (const int code = useUserList(); code != 0) return code;
  forms::Control users = forms::control(ids::kLoginWindow, GBK("组合框1"));
  std::vector<std::string> names;
  const int rc = db::forEachRecord([&names] { names.push_back(cmd::ReadText("use")); });
  if (rc != db::kOk) return rc;
  if (!g_usersListed)
    for (const std::string& n : names) cmd::AddComboItem(users.arg(), n);
  g_usersListed = true;
  showNoUserLine(names.empty());
  return 0;
}

void loginEditRights();

void tellUsersUnreadable(int code) { tellFailure(GBK("用户名单文件 user.kdb 无法打开"), code, GBK("暂时无法登录。")); }

void loginCreated() {
  setVisualStyle3();
  g_usersListed = false;
  // Failed logins are counted for the run's login window.
  login::resetTries();
  // 确定 is the window's default button: Enter in the user or password box
  // checks the login as a click would.
  forms::control(ids::kLoginWindow, GBK("按钮2")).setButtonType(1);
  // A user list that cannot be made when missing is reported (the folder
  // away); one that exists but cannot be opened (damaged, or locked by
  // another workstation, or out of reach) is reported, never replaced:
  // otherwise the login would simply show no users and nobody would know
  // why.
  if (const int rc = listUsers(); rc != 0) tellUsersUnreadable(rc);
  // Beside 新增: the users' rights, behind the same manager code; in the
  // row the first start's line takes while there is no user to give
  // rights to.
  if (forms::comboCount(ids::kLoginWindow, ids::login::kCombo1) > 0)
    forms::addExtraButton(ids::kLoginWindow, GBK("权限"), 150, 124, 57, 22, loginEditRights);
}

void loginCheck() {
  // The folder may have been away when the window opened, or may be away
  // now: each 确定 reads the list afresh and says when it cannot.
  if (const int rc = listUsers(); rc != 0) {
    tellUsersUnreadable(rc);
    return;
  }
  cmd::MoveFirst();
  if (cmd::RecordCount() == 0) return;
  const std::string name = userBox();
  if (!login::mayTry(name)) return;
  auto sameName = [&name] { return rt::makeBool(db::fieldTextEquals("use", name)); };
  rt::Expr condition(sameName);
  const bool found = cmd::FindRecord(condition.arg());
  if (!found && db::lastError() != db::kOk) {
    tellUsersUnreadable(db::lastError());
    return;
  }
  bool ok = found && cmd::ReadText("ma") == passwordBox();
  if (ok && !login::accepted(name)) return;
  if (ok) {
    setLoggedInUser(name);
    g_loginDone = true;
    cmd::CloseWindow(forms::windowArg(ids::kLoginWindow));
    applyParked();  // stock changes left from a time the folder was away
    return;
  }
  showMessage(login::refused(name).c_str());
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "");
}

void loginEditUsers() {
  if (passwordBox() != kManagerCode) {
    showMessage(GBK("请输入管理员密码！"));
    return;
  }
  // The manager code does not stay in the box behind the dialog.
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "");
  if (!login::mayEditUsers(userBox())) return;
  // Users added now reach the combo box at the next start. On an empty
  // list the dialog starts on a new blank record: the first user typed
  // there is saved when the dialog closes.
  login::editUsers(userBox());
  if (useUserList() == 0) showNoUserLine(cmd::RecordCount() == 0);
}

// "权限": the rights table, behind the manager code as the user list is.
void loginEditRights() {
  if (passwordBox() != kManagerCode) {
    showMessage(GBK("请输入管理员密码！"));
    return;
  }
  forms::setText(ids::kLoginWindow, GBK("编辑框1"), "");
  if (!login::mayEditUsers(userBox())) return;
  login::editRights(userBox());
}

void loginQuit() { endProgram(); }

// --- module windows ---------------------------------------------------------------

// Buttons and list double-clicks of modules that are not built yet.
void notBuiltYet() { showMessage(GBK("此功能尚未完成。")); }
// The other events of those modules (created, typing, focus, timer
// ticks): a message on each would flood the user, so they wait quietly.
void waitsForItsModule() {}

// A table for a module window: every handler bound to a button click or a
// list double-click answers "not built yet"; the rest wait quietly. The
// module menu is filled in by the caller.
std::vector<forms::Handler> moduleTable(uint32_t windowId, int handlerCount) {
  std::vector<forms::Handler> table(size_t(handlerCount), waitsForItsModule);
  const forms::WindowTemplate* w = forms::templateSource().findWindow(windowId);
  if (!w) return table;
  for (const forms::Item& it : w->items)
    for (const forms::EventBinding& b : it.events) {
      bool action = (it.kind == forms::kButtonKind && b.event == forms::kEvFirst) ||
                    (it.kind == forms::kListViewKind && b.event == forms::kEvDoubleClick);
      if (action && b.handler >= 0 && b.handler < handlerCount) table[size_t(b.handler)] = notBuiltYet;
    }
  return table;
}

// The module menu: each item loads the window of its name; the item of a
// window's own module has no handler there (kNone).
constexpr int kNone = -1;
struct MenuSlots {
  int drug, inpatient, medication, outpatient, report, exit, about;
};

void setMenu(std::vector<forms::Handler>& t, const MenuSlots& m) {
  const std::pair<int, forms::Handler> items[] = {
      {m.drug, openDrug},
      {m.inpatient, openInpatient},
      {m.medication, openMedication},
      {m.outpatient, openOutpatient},
      {m.report, openReport},
      {m.exit, exitProgram},
      {m.about, openAbout},
  };
  for (const auto& [slot, handler] : items)
    if (slot >= 0 && size_t(slot) < t.size()) t[size_t(slot)] = handler;
}

// A module window's table: the module menu, then the window's own
// handlers put in by each setter (the medication window has two: its
// charges and its bill).
using HandlerSetter = void (*)(std::vector<forms::Handler>&);
void installModule(uint32_t windowId, int handlerCount, const MenuSlots& menu,
                   std::initializer_list<HandlerSetter> setters) {
  std::vector<forms::Handler> table = moduleTable(windowId, handlerCount);
  setMenu(table, menu);
  for (HandlerSetter set : setters) set(table);
  forms::setHandlers(windowId, table);
}

}  // namespace

void releaseProgramTexts() {
  forgetLoggedInUser();
  rights::forget();
  releaseProgramValues();
}

void endProgram() {
  releaseProgramTexts();
  std::fflush(nullptr);
  // At once: windows are not asked to close and tables are not closed;
  // every record is already in its file.
  _exit(0);
}

void installShellHandlers() {
  registerFieldMeanings();
  // What a handler wrote is on the disk before the next event is taken:
  // a power cut after the screen shows a charge, a bill or a deletion
  // loses none of it.
  // A sync that fails (the share dropped between the write and the sync)
  // is not told: the writes were made and read back as made; only their
  // surviving a power cut of the machine holding the folder is uncertain.
  forms::setAfterHandler([] { static_cast<void>(db::os::syncWritten()); });
  namespace s = ids::start;
  std::vector<forms::Handler> start(s::kHandlerCount, nullptr);
  start[s::kCreated] = startCreated;
  start[s::kOpenDrug] = openDrug;
  start[s::kOpenInpatient] = openInpatient;
  start[s::kOpenMedication] = openMedication;
  start[s::kOpenOutpatient] = openOutpatient;
  start[s::kOpenReport] = openReport;
  start[s::kCloseStart] = closeStart;
  forms::setHandlers(ids::kStartWindow, start);

  namespace l = ids::login;
  std::vector<forms::Handler> login(l::kHandlerCount, nullptr);
  login[l::kCreated] = loginCreated;
  login[l::kCheck] = loginCheck;
  login[l::kEditUsers] = loginEditUsers;
  login[l::kQuit] = loginQuit;
  forms::setHandlers(ids::kLoginWindow, login);

  std::vector<forms::Handler> about(ids::about::kHandlerCount, nullptr);
  about[ids::about::kCreated] = setVisualStyle3;
  forms::setHandlers(ids::kAboutWindow, about);

  namespace d = ids::drug;
  installModule(ids::kDrugWindow, d::kHandlerCount,
                {kNone, d::kOpenInpatient, d::kOpenMedication, d::kOpenOutpatient, d::kOpenReport, d::kExitProgram,
                 d::kOpenAbout},
                {setDrugHandlers});
  namespace i = ids::inpatient;
  installModule(
      ids::kInpatientWindow, i::kHandlerCount,
      {i::kOpenDrug, kNone, i::kOpenMedication, i::kOpenOutpatient, i::kOpenReport, i::kExitProgram, i::kOpenAbout},
      {setInpatientHandlers});
  namespace m = ids::medication;
  installModule(ids::kMedicationWindow, m::kHandlerCount,
                {m::kOpenDrug, m::kOpenInpatient, m::kOpenMedication, m::kOpenOutpatient, m::kOpenReport,
                 m::kExitProgram, m::kOpenAbout},
                {setMedicationHandlers, setInpatientBillHandlers});
  namespace o = ids::outpatient;
  installModule(
      ids::kOutpatientWindow, o::kHandlerCount,
      {o::kOpenDrug, o::kOpenInpatient, o::kOpenMedication, kNone, o::kOpenReport, o::kExitProgram, o::kOpenAbout},
      {setOutpatientHandlers});
  namespace r = ids::report;
  installModule(
      ids::kReportWindow, r::kHandlerCount,
      {r::kOpenDrug, r::kOpenInpatient, r::kOpenMedication, r::kOpenOutpatient, kNone, r::kExitProgram, r::kOpenAbout},
      {setReportHandlers});
  // The report window's "图 表" beside the yearly report's row.
  forms::addWindowBuiltHook(addChartButton);
  // Buttons of the rights the login lacks are disabled as each window is built.
  forms::addWindowBuiltHook(rights::disableRefused);
  // The report window's "操作记录" beside the monthly postings' edit button.
  forms::addWindowBuiltHook(trail::addTrailButton);
  std::vector<forms::Handler> printRange(ids::printRange::kHandlerCount, nullptr);
  setPrintRangeHandlers(printRange);
  forms::setHandlers(ids::kPrintRangeWindow, printRange);
}

bool commandLineAnswer(int argc, char** argv, std::string* text) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version") {
      *text = std::string("clinic ") + CLINIC_VERSION + "\n";
      return true;
    }
    if (a == "--help" || a == "-h") {
      *text =
          "usage: clinic [CENTRE_FOLDER]\n"
          "       clinic --help | --version\n"
          "\n"
          "Starts the rehabilitation centre's program on the centre folder: the one\n"
          "named, else the first line of /etc/clinic/centre, else the folder chosen at\n"
          "the first start (~/.config/clinic/centre), else it asks.\n"
          "\n"
          "The first user is made in the login window: the manager code given in\n"
          "man clinic (FIRST USER) in the password box, then 新增.\n"
          "Tools: kdbtool(1), clinic-report(1).\n";
      return true;
    }
  }
  return false;
}

int runProgram(int argc, char** argv) {
  // Answered before anything starts: no window and no display needed.
  if (std::string text; commandLineAnswer(argc, argv, &text)) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  QApplication qt(argc, argv);
  // The runtime: template data (a damaged block ends the program here),
  // the layers' commands.
  forms::templates();
  forms::initForms();
  db::registerDatabaseCommands();
  db::registerEditRecordsCommand();
  print::registerPrintCommands();
  // A write that meets another workstation's lock waits this long before
  // it is reported as failed.
  db::setLockWaitMs(kLockWaitMs);
  // The centre folder becomes the working directory: every table is named
  // relative to it (centre_folder.h: beside the program in a program
  // folder, elsewhere for the packaged program).
  if (!enterCentreFolder(argc, argv)) return 1;
  if (!holdCentreFolder()) return 1;
  // Module initialisation: the handler tables, and the journal of stock
  // changes left pending on this workstation (its own disk, never the
  // shared folder, which may be what was away).
  installShellHandlers();
  pending::setFilePath(
      (QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/pending-stock").toStdString());
  trail::setNotesPath(
      (QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + "/pending-trail").toStdString());
  // The figures of past months the reports and charts read, kept on this
  // workstation's own disk (checked against the tables before each use).
  report::keepFiguresIn(report::workstationFiguresDir());
  // The exit routine runs after the loop below, and from endProgram().
  // The start window.
  if (!forms::loadWindow(ids::kStartWindow)) rt::fatalError(GBK("载入启动窗口失败"));
  // Until the last window closes.
  const int loop = forms::runMessageLoop();
  releaseProgramTexts();
  return loop;
}

}  // namespace app
