// The base of the tests' file layers: every call passes to the POSIX layer,
// and each file opened is wrapped in a file whose calls pass to the real
// one. A test layer overrides only the calls it changes (fails, counts,
// kills at, drops).
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/os.h"

namespace dbtest {

struct ForwardingFile : db::os::File {
  std::unique_ptr<db::os::File> in;
  int read(int64_t o, void* b, size_t n, size_t* g) override { return in->read(o, b, n, g); }
  int write(int64_t o, const void* b, size_t n) override { return in->write(o, b, n); }
  int size(int64_t* s) override { return in->size(s); }
  int truncate(int64_t l) override { return in->truncate(l); }
  int tryLock(int64_t o, int64_t l) override { return in->tryLock(o, l); }
  int unlock(int64_t o, int64_t l) override { return in->unlock(o, l); }
  int tryLockShared(int64_t o, int64_t l) override { return in->tryLockShared(o, l); }
  int probe(int64_t o, int64_t l, bool* h) override { return in->probe(o, l, h); }
  int sync() override { return in->sync(); }
  bool writable() const override { return in->writable(); }
};

class ForwardingEnv : public db::os::Env {
 public:
  // The file that wraps the one opened at `path` (its `in` is set by open).
  virtual std::unique_ptr<ForwardingFile> wrap(const std::string&, bool) { return std::make_unique<ForwardingFile>(); }
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    std::unique_ptr<ForwardingFile> f = wrap(p, w);
    const int rc = base().open(p, w, c, &f->in);
    if (rc == 0) *out = std::move(f);
    return rc;
  }
  int fullPath(const std::string& p, std::string* o) override { return base().fullPath(p, o); }
  int listDir(const std::string& d, std::vector<std::string>* n) override { return base().listDir(d, n); }
  bool exists(const std::string& p) override { return base().exists(p); }
  int stat(const std::string& p) override { return base().stat(p); }
  int remove(const std::string& p) override { return base().remove(p); }
  int rename(const std::string& f, const std::string& t) override { return base().rename(f, t); }
  bool isLink(const std::string& p) override { return base().isLink(p); }
  int syncDir(const std::string& d) override { return base().syncDir(d); }
  void sleepMs(int ms) override { base().sleepMs(ms); }
  uint64_t tickMs() override { return base().tickMs(); }
  static db::os::Env& base() { return db::os::posixEnv(); }
};

// Kills the process at the n-th change made to a file once armed: a write
// is cut to half its bytes first; a truncate and a removal are changes
// too. 0 never kills and only counts, to learn how many changes there are.
class KillAtChange : public ForwardingEnv {
 public:
  explicit KillAtChange(long killAt) : killAt_(killAt) {}
  struct F : ForwardingFile {
    KillAtChange* env;
    int write(int64_t o, const void* b, size_t n) override {
      if (env->change()) {
        static_cast<void>(in->write(o, b, n / 2));  // half of it lands, whatever it answers
        raise(SIGKILL);
      }
      return in->write(o, b, n);
    }
    int truncate(int64_t l) override {
      if (env->change()) raise(SIGKILL);
      return in->truncate(l);
    }
  };
  std::unique_ptr<ForwardingFile> wrap(const std::string&, bool) override {
    auto f = std::make_unique<F>();
    f->env = this;
    return f;
  }
  int remove(const std::string& p) override {
    if (change()) raise(SIGKILL);
    return base().remove(p);
  }
  bool change() { return armed && ++changes == killAt_; }
  bool armed = false;
  long changes = 0;

 private:
  long killAt_;
};

}  // namespace dbtest
