// The one fatal path. Faults the program cannot continue from (an index out
// of range, a value of the wrong kind, no current database for a field
// read, an exhausted heap) are reported in one box and end the process with
// exit code -1. Nothing after these calls runs.
//
// The box goes through a reporter seam. Until the forms layer installs the
// real message box, and in tests, the report goes to standard error as
// UTF-8 so a test can capture it from a child process.
#pragma once

#include <string>

namespace rt {

constexpr int kRuntimeErrorCount = 11;

// Text of runtime error n (1..11) in GBK; null for other numbers.
const char* runtimeErrorText(int n);

// Raises runtime error n: the report carries the number and its text.
[[noreturn]] void raiseRuntimeError(int n);

// Reports a message without an error number. `gbkMessage` is GBK.
[[noreturn]] void fatalError(const char* gbkMessage);

// The report text (GBK) as the box shows it; `number` 0 means none,
// a null or empty message means none.
std::string fatalReportText(int number, const char* gbkMessage);

// Shows the report. `text` and `caption` are GBK. Must return once the
// user has seen it; the runtime ends the process afterwards.
using FatalReporter = void (*)(const std::string& text, const std::string& caption);
void setFatalReporter(FatalReporter reporter);

// Runs before the process ends on the fatal path (release locks, close
// files). Hooks run newest first; a hook must not enter the fatal path.
using ShutdownHook = void (*)();
void addShutdownHook(ShutdownHook hook);

}  // namespace rt
