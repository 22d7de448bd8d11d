// What the tests of kdbtool share: kdbtool run as its
// own process, and a scratch centre folder with a backup folder beside it.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "db_test_util.h"

namespace dbtest {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out, err;
};

inline std::string toolPath() { return (fs::read_symlink("/proc/self/exe").parent_path() / "kdbtool").string(); }

// `env` is put in front of the command ("KDBTOOL_TODAY=2024-06-10").
inline ToolRun kdbtool(const std::string& args, const std::string& env = "") {
  std::string cmd = env + " " + toolPath() + " " + args + " 2>err.txt";
  ToolRun r;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  auto e = readFile("err.txt");
  r.err.assign(e.begin(), e.end());
  return r;
}

// Memo values of 1 to 1000 bytes: most take one 500-byte block of the
// ".kdt" file, many take two.
inline std::string memoFor(int i) { return std::string(size_t(1 + (i * 37) % 1000), char('a' + i % 26)); }

inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class BackupTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    ASSERT_TRUE(fs::exists(toolPath())) << "kdbtool not built: " << toolPath();
    fs::create_directory("centre");
    fs::create_directory("safe");
  }
  // The dated folders under safe/, oldest first.
  std::vector<fs::path> backups() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator("safe")) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
  }
  void makeTable(const std::string& name, int records) {
    ASSERT_TRUE(cmd::CreateDatabase("centre/" + name, {fi("v", 3), fi("m", 12)}));
    ASSERT_TRUE(cmd::OpenDatabase("centre/" + name));
    for (int i = 0; i < records; ++i) ASSERT_TRUE(cmd::AppendRecord(i, memoFor(i)));
    cmd::CloseDatabase();
  }
};

}  // namespace dbtest
