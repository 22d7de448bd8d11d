// What the operator is told: message boxes and confirmations, and the
// cause of an engine failure in the operator's words (a shared folder out
// of reach, a table in use, the engine's own text).
#pragma once

#include <string>

#include "app/table_use.h"

namespace app {

// True for an engine code that says the table's folder could not be
// reached (an I/O error: a network share that dropped or timed out).
bool unreachable(int code);
// The cause of an engine failure as the operator reads it: for a folder
// that cannot be reached, that the shared folder is out of reach for now
// and to check the network and try again; for a table another workstation
// holds, that it is in use; otherwise the engine's own text.
std::string causeText(int code);
// Tells "<what>：<cause>。<state>" (GBK), `state` saying what was and was
// not done.
void tellFailure(const std::string& gbkWhat, int code, const char* gbkState);

// Message box with the default caption, OK only.
void tell(const char* gbk);
// OK/Cancel confirmation; true only for OK.
bool confirm(const char* gbk);

// After a modify or delete of the record a window shows has failed: when
// another workstation changed or removed that record meanwhile (-44), tells
// the operator so and returns true; otherwise returns false and says
// nothing.
bool toldChangedElsewhere();

// What the operator reads when a table cannot be used, each followed by
// "：<cause>。<nothingDone>" (otherLayout by "。<nothingDone>").
struct NotUsedTexts {
  std::string notOpened{};    // e.g. "收费表“1001”无法打开"
  std::string notCreated{};   // e.g. "收费表“1001”无法建立"; empty: notOpened
  std::string otherLayout{};  // e.g. "“1001”不是收费表（没有收费明细的十个字段）"
  std::string nothingDone{};  // what was left undone, e.g. "本次未记帐，库存未变动。"
};
// Tells the operator why `use` failed (nothing when it did not).
void tellNotUsed(const TableUse& use, const NotUsedTexts& texts);
// useTable, and on failure tellNotUsed; true when the table is current.
[[nodiscard]] bool useTableOrTell(const std::string& name, const UseOptions& options, const NotUsedTexts& texts);

}  // namespace app
