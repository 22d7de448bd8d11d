#include "runtime/fatal.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "runtime/gbk.h"

namespace rt {
namespace {

const char* const kErrorTextsUtf8[kRuntimeErrorCount] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

void stderrReporter(const std::string& text, const std::string& caption) {
  std::string out = gbkToUtf8(caption) + "\n" + gbkToUtf8(text);
  if (out.empty() || out.back() != '\n') out += '\n';
  std::fwrite(out.data(), 1, out.size(), stderr);
  std::fflush(stderr);
}

std::atomic<FatalReporter> g_reporter{stderrReporter};
std::mutex g_hooksMutex;
std::vector<ShutdownHook>& hooks() {
  static std::vector<ShutdownHook> h;
  return h;
}
std::atomic<bool> g_inFatal{false};

[[noreturn]] void report(int number, const char* message) {
  if (g_inFatal.exchange(true)) {
    // A fault while reporting a fault (or in a shutdown hook): end now.
    std::fflush(nullptr);
    _exit(255);
  }
  std::string text = fatalReportText(number, message);
  g_reporter.load()(text, GBK("错误"));
  std::vector<ShutdownHook> copy;
  {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    copy = hooks();
  }
  for (auto it = copy.rbegin(); it != copy.rend(); ++it) (*it)();
  std::fflush(nullptr);
  // Exit code -1. _exit, not exit: static destructors of a half-failed
  // program (windows, open files) must not run after the report.
  _exit(255);
}

}  // namespace

const char* runtimeErrorText(int n) {
  static const std::vector<std::string> gbk = [] {
    std::vector<std::string> v;
    for (const char* t : kErrorTextsUtf8) v.push_back(utf8ToGbk(t));
    return v;
  }();
  if (n < 1 || n > kRuntimeErrorCount) return nullptr;
  return gbk[size_t(n - 1)].c_str();
}

std::string fatalReportText(int number, const char* message) {
  std::string text = GBK("运行时出错!");
  text += "\r\n\r\n";
  if (number != 0) {
    text += GBK("错误代码：");
    text += std::to_string(number);
    text += "\r\n\r\n";
  }
  if (message && *message) {
    text += GBK("错误信息：");
    text += message;
    text += "\r\n";
  }
  return text;
}

void raiseRuntimeError(int n) { report(n, runtimeErrorText(n)); }

void fatalError(const char* gbkMessage) { report(0, gbkMessage); }

void setFatalReporter(FatalReporter reporter) { g_reporter.store(reporter ? reporter : stderrReporter); }

void addShutdownHook(ShutdownHook hook) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  hooks().push_back(hook);
}

}  // namespace rt
