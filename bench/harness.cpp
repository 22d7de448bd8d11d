#include "bench/harness.h"
#include "app/table_use.h"

#include <QApplication>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/shell.h"
#include "app/tables.h"
#include "db/dialog/edit_records.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/locks.h"
#include "db/os.h"
#include "forms/template.h"
#include "forms/live_windows.h"
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

void makeCurrent(const std::string& name, const app::TableDef& def) {
  const app::TableUse use = app::useTable(name, {.def = &def, .checkLayout = false, .createWhenMissing = true});
  if (use.ok()) return;
  std::fprintf(stderr, "%s: engine error %d\n", name.c_str(), use.code);
  std::exit(1);
}

std::string makeCatalogue(int drugs) {
  bench::makeCurrent(app::kDrugCatalogueName, app::kDrugCatalogue);
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

const std::vector<Network>& networks() {
  static const std::vector<Network> nets = {
      {"", "", 0, 0},
      {".1g", ", 1 Gbit 0.3 ms", 0.3, 8.0},
      {".100m", ", 100 Mbit 0.5 ms", 0.5, 80.0},
      {".wifi", ", Wi-Fi 50 Mbit 3 ms", 3.0, 160.0},
  };
  return nets;
}

// The file layer of SimulatedShare: the POSIX one with a wait per call and
// per byte.
class SimulatedShare::Env final : public db::os::Env {
 public:
  explicit Env(const Network& net) : net_(net), trace_(std::getenv("BENCH_TRACE") != nullptr) {}
  Moved moved;

  // With BENCH_TRACE set, each call is printed to standard error (its
  // kind, file and offset), to see where an action's round trips go.
  void cost(size_t bytes, const char* kind = "", const std::string& name = "", int64_t at = -1) {
    if (trace_) std::fprintf(stderr, "  call %-9s %-14s %lld %zu\n", kind, name.c_str(), (long long)at, bytes);
    ++moved.calls;
    moved.bytes += (long long)bytes;
    const double ns = net_.roundTripMs * 1e6 + double(bytes) * net_.nsPerByte;
    if (ns <= 0) return;
    timespec t{time_t(ns / 1e9), long(std::fmod(ns, 1e9))};
    while (nanosleep(&t, &t) != 0) {}
  }

  struct File final : db::os::File {
    std::unique_ptr<db::os::File> in;
    Env* env;
    std::string name;
    int read(int64_t o, void* b, size_t n, size_t* g) override {
      const int rc = in->read(o, b, n, g);
      env->cost(*g, "read", name, o);
      return rc;
    }
    int write(int64_t o, const void* b, size_t n) override {
      env->cost(n, "write", name, o);
      return in->write(o, b, n);
    }
    int size(int64_t* s) override { return env->cost(0, "size", name), in->size(s); }
    int truncate(int64_t l) override { return env->cost(0, "truncate", name, l), in->truncate(l); }
    int tryLock(int64_t o, int64_t l) override { return env->cost(0, "lock", name, o), in->tryLock(o, l); }
    int unlock(int64_t o, int64_t l) override { return env->cost(0, "unlock", name, o), in->unlock(o, l); }
    int tryLockShared(int64_t o, int64_t l) override {
      return env->cost(0, "lockshare", name, o), in->tryLockShared(o, l);
    }
    int probe(int64_t o, int64_t l, bool* h) override { return env->cost(0, "probe", name, o), in->probe(o, l, h); }
    int sync() override { return env->cost(0, "sync", name), in->sync(); }
    bool writable() const override { return in->writable(); }
  };

  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    const std::string name = std::filesystem::path(p).filename().string();
    cost(0, "open", name);
    auto f = std::make_unique<File>();
    f->env = this;
    f->name = name;
    const int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  int fullPath(const std::string& p, std::string* o) override { return cost(0, "fullpath", p), base().fullPath(p, o); }
  int listDir(const std::string& d, std::vector<std::string>* n) override {
    return cost(0, "listdir", d), base().listDir(d, n);
  }
  bool exists(const std::string& p) override { return cost(0, "exists", p), base().exists(p); }
  int stat(const std::string& p) override { return cost(0, "stat", p), base().stat(p); }
  int remove(const std::string& p) override { return cost(0), base().remove(p); }
  int rename(const std::string& f, const std::string& t) override { return cost(0), base().rename(f, t); }
  bool isLink(const std::string& p) override { return cost(0, "islink", p), base().isLink(p); }
  int fileId(const std::string& p, uint64_t* id) override { return cost(0, "fileid", p), base().fileId(p, id); }
  int syncDir(const std::string& d) override { return cost(0), base().syncDir(d); }
  void sleepMs(int ms) override { base().sleepMs(ms); }
  uint64_t tickMs() override { return base().tickMs(); }

 private:
  static db::os::Env& base() { return db::os::posixEnv(); }
  Network net_;
  bool trace_;
};

SimulatedShare::SimulatedShare(const Network& net) : env_(new Env(net)) {
  db::closeAllDatabases();
  db::os::setEnv(env_);
}

SimulatedShare::~SimulatedShare() {
  db::closeAllDatabases();
  db::os::setEnv(nullptr);
  delete env_;
}

Moved SimulatedShare::take() {
  const Moved m = env_->moved;
  env_->moved = Moved{};
  return m;
}

void rowOnNetwork(const Network& net, const std::string& key, const std::string& what, const std::vector<Run>& runs,
                  const Moved& moved, double goalMs) {
  std::vector<double> wall, cpu;
  for (const Run& r : runs) {
    wall.push_back(r.wall);
    cpu.push_back(r.cpu);
  }
  const double per = runs.empty() ? 0 : 1.0 / double(runs.size());
  char measured[200];
  std::snprintf(measured, sizeof measured, "%.1f ms (median of %zu, slowest %.1f; cpu %.1f; %.0f calls, %.0f KB)",
                median(wall), runs.size(), worst(wall), median(cpu), double(moved.calls) * per,
                double(moved.bytes) * per / 1024.0);
  row(key + net.key, what + net.what, measured, goalText(goalMs), metText(median(wall), goalMs));
}

void processEvents() { QCoreApplication::processEvents(); }

bool refusedAsNotBuilt(OkDialogs& dialogs, const std::string& expectedGbk) {
  bool refused = false;
  for (const std::string& text : dialogs.asked) {
    refused = refused || text == notBuiltText();
    if (text != expectedGbk) std::fprintf(stderr, "message: %s\n", rt::gbkToUtf8(text).c_str());
  }
  dialogs.asked.clear();
  return refused;
}

void handlerRow(size_t k, const std::string& key, const std::string& what, const std::vector<Run>& runs,
                const Moved& moved, const double* goals) {
  if (k == 0)
    rowMs(key, what, runs, goals[0]);
  else
    rowOnNetwork(networks()[k], key, what, runs, moved, goals[k]);
}

const std::string& notBuiltText() {
  static const std::string t = rt::utf8ToGbk("此功能尚未完成。");
  return t;
}

int AnswerOk::message(const std::string& text, const std::string&, uint32_t style) {
  if (style == 0) {
    std::fprintf(stderr, "unexpected message: %s\n", rt::gbkToUtf8(text).c_str());
    std::exit(1);
  }
  return (style & rt::mb::kButtonMask) == rt::mb::kYesNo ? rt::kYes : rt::kOk;
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s failed: %d %s\n", what, db::lastError(),
               rt::gbkToUtf8(db::errorText(db::lastError())).c_str());
  std::exit(1);
}

std::string lastCatalogueCode() {
  cmd::OpenDatabase(app::kDrugCatalogueName);
  check(cmd::SetCurrentDatabase(app::kDrugCatalogueName), "catalogue");
  cmd::MoveTo(cmd::RecordCount());
  const std::string code = cmd::ReadText("dm");
  cmd::CloseDatabase(app::kDrugCatalogueName);
  return code;
}

void printRuns(const char* what, const std::vector<Run>& runs) {
  std::vector<double> wall, cpu;
  for (const Run& r : runs) {
    wall.push_back(r.wall);
    cpu.push_back(r.cpu);
  }
  std::printf("%-22s wall median %7.2f  slowest %7.2f   cpu median %7.2f  slowest %7.2f ms  (%zu runs)\n", what,
              median(wall), worst(wall), median(cpu), worst(cpu), runs.size());
}

}  // namespace bench
