// The command table: every runtime command module code may call, reached
// through one call routine.
//
// A command is a function (result, argument count, first argument). The
// call routine zero-fills the result record before the command runs, so a
// command with no result leaves it zero. Texts and byte-sets in a result
// are new heap blocks owned by the caller (rt::free); texts passed as
// arguments stay the caller's, a command copies what it keeps.
//
// Each layer registers its own entries at start-up (the runtime its
// conversions, the engine the database commands, the forms layer windows
// and controls, the printer its print commands). An entry nobody has
// registered ends the program through the fatal path with a message naming
// the command: a missing piece is never mistaken for a success.
#pragma once

#include "runtime/value.h"

namespace rt {

enum class Cmd : int {
  LoadWindow = 0,
  OpenDatabase = 1,
  SetCurrentDatabase = 2,
  MoveFirst = 3,
  ReadField = 4,
  FindRecord = 5,
  ToText = 6,
  ShowMessage = 7,
  ToNumber = 8,
  RecordCount = 9,
  MoveTo = 10,
  ToDateTime = 11,
  ModifyRecord = 12,
  AppendRecord = 13,
  FieldCount = 14,
  Skip = 15,
  SumRecords = 16,
  FocusControl = 17,
  YearOf = 18,
  EditRecords = 19,
  Now = 20,
  MonthOf = 21,
  ClearPanel = 22,
  FileExists = 23,
  PanelTextAt = 24,
  PanelLine = 25,
  LeftText = 26,
  DeleteRecords = 27,
  PackDatabase = 28,
  ReplaceFields = 29,
  BeginPrinting = 30,
  EndPrinting = 31,
  PrintTextAt = 32,
  DrawLine = 33,
  ChineseNumerals = 34,
  DateOnly = 35,
  CreateDatabase = 36,
  ZapDatabase = 37,
  CloseDatabase = 38,
  CloseWindow = 39,
  CopyRecords = 40,
  TimeInterval = 41,
  Abs = 42,
  AddComboItem = 43,
  // The extended list control's library.
  ListClear = 44,        // L0
  ListInsertItem = 45,   // L1
  ListSetItemText = 46,  // L2
  // The visual-style library.
  SetVisualStyle = 47,  // S0
  Count = 48,
};

using CommandFn = void (*)(Arg* result, int argc, const Arg* argv);

// The command's name as module code knows it ("ToText").
const char* commandName(Cmd c);

// Installs the entry for a command (replacing any earlier one).
void registerCommand(Cmd c, CommandFn fn);

// True when some layer has registered the command.
bool isRegistered(Cmd c);

// The common call routine: zero-fills a result record, runs the command
// and hands the record back.
Arg call(Cmd c, int argc, const Arg* argv);

// The entries of the runtime itself (conversions, dates, LeftText, Abs).
// Idempotent; the call routine runs it on first use.
void registerRuntimeCommands();

}  // namespace rt
