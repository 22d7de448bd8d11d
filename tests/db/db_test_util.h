// Shared helpers for the engine tests: a scratch directory per test that is
// also the working directory, hand-built file images, and small wrappers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/format.h"
#include "db/locks.h"
#include "db/table.h"
#include "runtime/gbk.h"

namespace dbtest {

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Little-endian appenders for building files by hand.
inline void le32(std::vector<uint8_t>& b, int32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}
inline void leF64(std::vector<uint8_t>& b, double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(u >> (8 * i)));
}
inline void raw(std::vector<uint8_t>& b, const std::string& s, size_t width) {
  for (size_t i = 0; i < width; ++i) b.push_back(i < s.size() ? uint8_t(s[i]) : 0);
}
inline int32_t at32(const std::vector<uint8_t>& b, size_t off) {
  return int32_t(uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 |
                 uint32_t(b[off + 3]) << 24);
}

inline void put32(std::vector<uint8_t>& b, size_t off, int32_t v) {
  for (size_t i = 0; i < 4; ++i) b.at(off + i) = uint8_t(uint32_t(v) >> (8 * i));
}

struct HandField {
  std::string name;
  int32_t kind, offset, size;
};

// A database file image made without the engine.
inline std::vector<uint8_t> handBuilt(const std::vector<HandField>& fields, int32_t count, int32_t nextSerial,
                                      int32_t recordSize, const std::vector<std::vector<uint8_t>>& records,
                                      const char* magic = "WKDB", int32_t version = 0x00010000) {
  std::vector<uint8_t> b;
  raw(b, magic, 4);
  le32(b, version);
  leF64(b, 40000.5);
  le32(b, count);
  le32(b, nextSerial);
  le32(b, recordSize);
  raw(b, "", 84);
  le32(b, int32_t(fields.size()));
  for (const HandField& f : fields) {
    raw(b, f.name, 20);
    le32(b, f.kind);
    le32(b, f.offset);
    le32(b, f.size);
    raw(b, "", 40);
  }
  for (const auto& r : records) b.insert(b.end(), r.begin(), r.end());
  return b;
}

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kdbtest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    db::registerDatabaseCommands();
    db::setLockWaitMs(0);
  }
  void TearDown() override {
    db::closeAllDatabases();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::filesystem::path old_;
};

inline rt::FieldInf fi(const char* gbkName, int32_t kind, int32_t size = 20) {
  return rt::FieldInf{gbkName, kind, size};
}

// The sum of integer field `field` over every record, as a handle of its
// own reads the table in one whole scan (the scan that keeps a copy).
inline int64_t sumOfField(db::Table& t, int field) {
  int64_t sum = 0;
  const int rc = t.scan(0, true, [&](int32_t, uint8_t* rec) {
    rt::Arg v;
    EXPECT_EQ(t.loadValue(t.fields()[size_t(field)], rec, &v), 0);
    sum += int32_t(v.lo);
    return 0;
  });
  EXPECT_EQ(rc, 0);
  return sum;
}

}  // namespace dbtest
