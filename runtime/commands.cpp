#include "runtime/commands.h"

#include <atomic>
#include <mutex>
#include <string>

#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace rt {
namespace {

constexpr int kCount = int(Cmd::Count);

const char* const kNames[kCount] = {
    "LoadWindow",
    "OpenDatabase",
    "SetCurrentDatabase",
    "MoveFirst",
    "ReadField",
    "FindRecord",
    "ToText",
    "ShowMessage",
    "ToNumber",
    "RecordCount",
    "MoveTo",
    "ToDateTime",
    "ModifyRecord",
    "AppendRecord",
    "FieldCount",
    "Skip",
    "SumRecords",
    "FocusControl",
    "YearOf",
    "EditRecords",
    "Now",
    "MonthOf",
    "ClearPanel",
    "FileExists",
    "PanelTextAt",
    "PanelLine",
    "LeftText",
    "DeleteRecords",
    "PackDatabase",
    "ReplaceFields",
    "BeginPrinting",
    "EndPrinting",
    "PrintTextAt",
    "DrawLine",
    "ChineseNumerals",
    "DateOnly",
    "CreateDatabase",
    "ZapDatabase",
    "CloseDatabase",
    "CloseWindow",
    "CopyRecords",
    "TimeInterval",
    "Abs",
    "AddComboItem",
    "ListClear",
    "ListInsertItem",
    "ListSetItemText",
    "SetVisualStyle",
};

std::atomic<CommandFn> g_table[kCount];
std::once_flag g_runtimeOnce;

bool valid(Cmd c) { return int(c) >= 0 && int(c) < kCount; }

[[noreturn]] void notBuilt(Cmd c) {
  std::string msg = GBK("命令尚未在本程序中实现：");
  msg += valid(c) ? kNames[int(c)] : std::to_string(int(c)).c_str();
  fatalError(msg.c_str());
}

}  // namespace

const char* commandName(Cmd c) { return valid(c) ? kNames[int(c)] : "?"; }

void registerCommand(Cmd c, CommandFn fn) {
  if (valid(c)) g_table[int(c)].store(fn);
}

bool isRegistered(Cmd c) {
  std::call_once(g_runtimeOnce, registerRuntimeCommands);
  return valid(c) && g_table[int(c)].load() != nullptr;
}

Arg call(Cmd c, int argc, const Arg* argv) {
  std::call_once(g_runtimeOnce, registerRuntimeCommands);
  Arg result;  // zero-filled
  CommandFn fn = valid(c) ? g_table[int(c)].load() : nullptr;
  if (!fn) notBuilt(c);
  if (argc < 0) argc = 0;
  fn(&result, argc, argv);
  return result;
}

}  // namespace rt
