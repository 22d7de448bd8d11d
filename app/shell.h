// The frame around the modules: start-up, the start window, the login
// against the user list, the module menu of the five module windows, the
// about window and the end of the program.
#pragma once

#include <string>

#include "app/login_user.h"

namespace app {

// The manager code that opens the user list from the login window.
constexpr const char* kManagerCode = "vaxol";

// How long a table operation waits for another workstation's lock before it
// fails (-13), set once at start-up: long enough to outlast another copy's
// scan or pack of a table, short enough that an operator is told soon.
constexpr int kLockWaitMs = 3000;

// Installs the handler tables of every window: the start, login and about
// windows in full, the module menu on the five module windows. A module's
// own buttons that are not built yet say so when pressed.
void installShellHandlers();

// "--help" (or "-h") and "--version" anywhere among the arguments: the
// text to print on standard output instead of starting (no window, no
// display needed). False for any other command line.
bool commandLineAnswer(int argc, char** argv, std::string* text);

// Start-up in order: template data, the program's directory as the
// working directory, the layers' commands, the exit routine, the start
// window, the message loop. Returns the process exit code.
int runProgram(int argc, char** argv);

// Ends the program at once with exit code 0, after the exit routine.
[[noreturn]] void endProgram();

// The exit routine: releases the program-wide texts.
void releaseProgramTexts();

}  // namespace app
