// Another workstation as a process of its own: the charge worker
// (tests/workers/charge_worker.cpp) started with its arguments, its
// standard output into a file, and waited for.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/engine.h"

extern char** environ;

namespace apptest {

inline pid_t startWorker(std::vector<std::string> args, const std::filesystem::path& out) {
  args.insert(args.begin(), CHARGE_WORKER);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// The worker's exit status (128 + signal when it was killed).
inline int finishWorker(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `step` in a copy of this process with none of this program's
// tables open, as another workstation with files of its own (their locks
// part it from this one): true when `step` returned true.
inline bool inOtherProcess(const std::function<bool()>& step) {
  const pid_t p = fork();
  if (p < 0) return false;
  if (p == 0) {
    db::closeAllDatabases();  // the inherited handles are this program's
    _exit(step() ? 0 : 1);
  }
  int status = 0;
  return waitpid(p, &status, 0) == p && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct ToolRun {
  int status;
  std::string out;
};

// kdbtool as the administrator runs it (built beside this program), its
// standard output and error together.
inline ToolRun kdbtool(const std::string& args) {
  namespace fs = std::filesystem;
  const fs::path tool = fs::read_symlink("/proc/self/exe").parent_path() / "kdbtool";
  EXPECT_TRUE(fs::exists(tool)) << "kdbtool not built: " << tool;
  ToolRun r{-1, ""};
  FILE* p = popen((tool.string() + " " + args + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string fileText(const std::filesystem::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace apptest
