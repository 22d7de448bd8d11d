// Typed database commands for module code, in namespace cmd beside the
// runtime's own (runtime/facade.h). Each function builds argument records,
// goes through the command table (so the command must be registered:
// db::registerDatabaseCommands()) and turns the result into a C++ value.
// Texts are GBK std::strings; a text a command returns is copied and its
// heap block freed here. Failures are the commands' own: false, 0 or an
// empty value, with the code in db::lastError().
//
//   cmd::OpenDatabase("ypjbxx");
//   cmd::SetCurrentDatabase("ypjbxx");
//   auto west = [] { return rt::makeBool(db::fieldTextEquals("lb", xiyao)); };
//   auto total = [] { return cmd::ReadField("hj").release(); };
//   rt::Expr cond(west), value(total);
//   double sum = cmd::SumRecords(value.arg(), cond.arg());
#pragma once

#include <string>
#include <vector>

#include "db/engine.h"
#include "runtime/blocks.h"
#include "runtime/facade.h"
#include "runtime/fatal.h"
#include "runtime/heap.h"

namespace cmd {

// fields: name, kind, size (20 for kinds that ignore it).
inline bool CreateDatabase(const std::string& name, const std::vector<rt::FieldInf>& fields) {
  void* arr = rt::makeArray(int32_t(fields.size()), sizeof(void*));
  for (size_t i = 0; i < fields.size(); ++i) rt::setArrayPointer(arr, int64_t(i), &fields[i]);
  rt::Arg a[2] = {rt::val(name), rt::makePointer(arr, rt::kFieldInf | rt::kArrayFlag)};
  bool ok = rt::call(rt::Cmd::CreateDatabase, 2, a).lo != 0;
  rt::free(arr);
  return ok;
}

// Share mode 1..4; omitted arguments as in the command (alias none,
// read-write, shared, no password).
inline bool OpenDatabase(const std::string& name, const std::string& alias = "", bool readOnly = false,
                         int shareMode = 1, const std::string& password = "") {
  return rt::invoke(rt::Cmd::OpenDatabase, name, alias.empty() ? rt::Arg{} : rt::val(alias), readOnly, shareMode,
                    rt::omitted, password.empty() ? rt::Arg{} : rt::val(password))
      .boolean();
}
inline bool SetCurrentDatabase(const std::string& name) {
  return rt::invoke(rt::Cmd::SetCurrentDatabase, name).boolean();
}
inline void CloseDatabase() { rt::invoke(rt::Cmd::CloseDatabase); }
inline void CloseDatabase(const std::string& name) { rt::invoke(rt::Cmd::CloseDatabase, name); }
inline int RecordCount() { return rt::invoke(rt::Cmd::RecordCount).integer(); }
inline int FieldCount() { return rt::invoke(rt::Cmd::FieldCount).integer(); }
inline void MoveFirst() { rt::invoke(rt::Cmd::MoveFirst); }
inline bool MoveTo(int number) { return rt::invoke(rt::Cmd::MoveTo, number).boolean(); }
inline bool Skip(int n = 1) { return rt::invoke(rt::Cmd::Skip, n).boolean(); }

// The field's value, of the field's kind (a text or byte-set owned by the
// Result).
inline rt::Result ReadField(const char* gbkName) { return rt::invoke(rt::Cmd::ReadField, gbkName); }
inline rt::Result ReadField(int number) { return rt::invoke(rt::Cmd::ReadField, number); }
// A text field's value; runtime error 5 when the field is not text.
inline std::string ReadText(const char* gbkName) {
  rt::Result r = ReadField(gbkName);
  if (r.kind() != rt::kText) rt::raiseRuntimeError(5);
  return r.text();
}

template <typename... Ts>
bool AppendRecord(const Ts&... values) {
  return rt::invoke(rt::Cmd::AppendRecord, values...).boolean();
}
template <typename... Ts>
bool ModifyRecord(const Ts&... values) {
  return rt::invoke(rt::Cmd::ModifyRecord, values...).boolean();
}
// condition (or rt::omitted), then field name / value pairs.
template <typename... Ts>
bool ReplaceFields(const rt::Arg& condition, const Ts&... pairs) {
  return rt::invoke(rt::Cmd::ReplaceFields, condition, pairs...).boolean();
}
inline bool FindRecord(const rt::Arg& condition) { return rt::invoke(rt::Cmd::FindRecord, condition).boolean(); }
inline double SumRecords(const rt::Arg& value, const rt::Arg& condition = rt::Arg{}) {
  return rt::invoke(rt::Cmd::SumRecords, value, condition).real();
}
inline bool DeleteRecords(const rt::Arg& condition = rt::Arg{}) {
  return rt::invoke(rt::Cmd::DeleteRecords, condition).boolean();
}
inline bool PackDatabase() { return rt::invoke(rt::Cmd::PackDatabase).boolean(); }
inline bool ZapDatabase() { return rt::invoke(rt::Cmd::ZapDatabase).boolean(); }
template <typename... Names>
bool CopyRecords(const std::string& target, const rt::Arg& condition, const Names&... fields) {
  return rt::invoke(rt::Cmd::CopyRecords, target, condition, fields...).boolean();
}
inline bool FileExists(const std::string& pattern) { return rt::invoke(rt::Cmd::FileExists, pattern).boolean(); }

}  // namespace cmd
