// A shared folder that drops and comes back, for the module tests: the
// engine's file layer with every call failing from a chosen call on, as an
// SMB client fails after its time-out (an I/O error; `exists` says no), until
// recover(); or with one chosen call failing alone. A lock or unlock that fails leaves the locks as they were, so a
// lock taken before the drop stays held, as on a real share.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "db/errors.h"
#include "db/os.h"
#include "../db/forwarding_env.h"

namespace apptest {

class FlakyShare : public dbtest::ForwardingEnv {
 public:
  FlakyShare() { previous_ = db::os::setEnv(this); }
  // A file opened through the share may outlive it (a table the fixture
  // closes later): from here on such a file only forwards.
  ~FlakyShare() override {
    *self_ = nullptr;
    db::os::setEnv(previous_);
  }
  FlakyShare(const FlakyShare&) = delete;
  FlakyShare& operator=(const FlakyShare&) = delete;

  // Counts file calls from now on; from the `failFrom`-th on (1 = the
  // first) every call fails. 0 only counts.
  void arm(int failFrom) {
    calls_ = 0;
    failed_ = false;
    failFrom_ = failFrom;
    failOnly_ = false;
    lostReply_ = false;
    killAt_ = 0;
    armed_ = true;
  }
  // Only the `call`-th call from now on fails; those after it succeed, as a
  // share that missed one reply.
  void armOnce(int call) {
    arm(call);
    failOnly_ = true;
  }
  // The same, but a write at that call is done before it reports the
  // error (the server wrote, its reply was lost).
  void armLostReply(int call) {
    armOnce(call);
    lostReply_ = true;
  }
  // The folder drops at that call, a write at it done before its reply
  // was lost: every call after fails too, so nobody can read it back.
  void armLostThenDrop(int call) {
    arm(call);
    lostReply_ = true;
  }
  // How a test loops over the calls of an action.
  enum class Mode { kDrop, kOnce, kLostReply, kLostThenDrop };
  void arm(Mode mode, int call) {
    if (mode == Mode::kDrop)
      arm(call);
    else if (mode == Mode::kOnce)
      armOnce(call);
    else if (mode == Mode::kLostReply)
      armLostReply(call);
    else
      armLostThenDrop(call);
  }
  // The process ends at that call, before making it (a kill, a crash, a
  // power cut with nothing unsynced lost): for a forked child.
  void armKill(int call) {
    arm(0);
    killAt_ = call;
  }
  void recover() { armed_ = false; }
  // File calls since arm().
  int calls() const { return calls_; }
  // Whether any call failed since arm().
  bool failedAny() const { return failed_; }

  struct F : dbtest::ForwardingFile {
    std::shared_ptr<FlakyShare*> share;
    bool down() { return *share && (*share)->down(); }
    int read(int64_t o, void* b, size_t n, size_t* g) override {
      if (down()) {
        *g = 0;
        return db::kHardware;
      }
      return in->read(o, b, n, g);
    }
    int write(int64_t o, const void* b, size_t n) override {
      if (!down()) return in->write(o, b, n);
      // Lost replies: the write at the chosen call is done all the same.
      const FlakyShare& s = **share;
      if (s.lostReply_ && s.calls_ == s.failFrom_) static_cast<void>(in->write(o, b, n));
      return db::kHardware;
    }
    int size(int64_t* s) override { return down() ? int(db::kHardware) : in->size(s); }
    int truncate(int64_t l) override { return down() ? int(db::kHardware) : in->truncate(l); }
    int tryLock(int64_t o, int64_t l) override { return down() ? int(db::kHardware) : in->tryLock(o, l); }
    int unlock(int64_t o, int64_t l) override { return down() ? int(db::kHardware) : in->unlock(o, l); }
    int tryLockShared(int64_t o, int64_t l) override { return down() ? int(db::kHardware) : in->tryLockShared(o, l); }
    int probe(int64_t o, int64_t l, bool* h) override { return down() ? int(db::kHardware) : in->probe(o, l, h); }
    int sync() override { return down() ? int(db::kHardware) : in->sync(); }
  };

  std::unique_ptr<dbtest::ForwardingFile> wrap(const std::string&, bool) override {
    auto f = std::make_unique<F>();
    f->share = self_;
    return f;
  }
  int open(const std::string& p, bool w, bool c, std::unique_ptr<db::os::File>* out) override {
    return down() ? int(db::kHardware) : ForwardingEnv::open(p, w, c, out);
  }
  int fullPath(const std::string& p, std::string* o) override {
    return down() ? int(db::kHardware) : base().fullPath(p, o);
  }
  int listDir(const std::string& d, std::vector<std::string>* n) override {
    return down() ? int(db::kHardware) : base().listDir(d, n);
  }
  bool exists(const std::string& p) override { return !down() && base().exists(p); }
  int stat(const std::string& p) override { return down() ? int(db::kHardware) : base().stat(p); }
  int remove(const std::string& p) override { return down() ? int(db::kHardware) : base().remove(p); }
  int rename(const std::string& f, const std::string& t) override {
    return down() ? int(db::kHardware) : base().rename(f, t);
  }
  bool isLink(const std::string& p) override { return !down() && base().isLink(p); }
  int syncDir(const std::string& d) override { return down() ? int(db::kHardware) : base().syncDir(d); }

 private:
  bool down() {
    if (!armed_) return false;
    ++calls_;
    if (killAt_ > 0 && calls_ == killAt_) _exit(9);
    const bool fails = failFrom_ > 0 && (failOnly_ ? calls_ == failFrom_ : calls_ >= failFrom_);
    failed_ = failed_ || fails;
    return fails;
  }
  db::os::Env* previous_ = nullptr;
  std::shared_ptr<FlakyShare*> self_ = std::make_shared<FlakyShare*>(this);
  bool armed_ = false;
  bool failed_ = false;
  int calls_ = 0;
  int failFrom_ = 0;
  bool failOnly_ = false;
  bool lostReply_ = false;
  int killAt_ = 0;
};

}  // namespace apptest
