// Bytes read from each file, by file name: the engine's file layer
// counting what an action read (a copy kept instead of a table read
// shows as no record data read).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "../db/forwarding_env.h"

namespace apptest {

class CountingReads : public dbtest::ForwardingEnv {
 public:
  struct F : dbtest::ForwardingFile {
    long long* bytes;
    int read(int64_t o, void* b, size_t n, size_t* g) override {
      const int rc = in->read(o, b, n, g);
      *bytes += (long long)*g;
      return rc;
    }
  };
  std::unique_ptr<dbtest::ForwardingFile> wrap(const std::string& p, bool) override {
    auto f = std::make_unique<F>();
    f->bytes = &bytes[std::filesystem::path(p).filename().string()];
    return f;
  }
  // Zeroed, not cleared: the open files count into these entries.
  void zero() {
    for (auto& [file, n] : bytes) n = 0;
  }
  std::map<std::string, long long> bytes;
};

}  // namespace apptest
