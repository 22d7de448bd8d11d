// Starting the installed programs as their own processes, headless.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace installtest {

// Starts `argv` in `cwd` with QT_QPA_PLATFORM=offscreen and `env` set, its
// output going to `log`. Returns the child's process id.
inline pid_t start(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                   const std::filesystem::path& log, const std::map<std::string, std::string>& env = {}) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
  }
  if (chdir(cwd.c_str()) != 0) _exit(126);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

inline int finish(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline std::string readText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace installtest
