// The typed facade module code uses to reach the command table. Every
// function here builds argument records, goes through rt::call and turns
// the result into a plain C++ value, freeing any text the command
// returned, so a handler reads like the algorithm it implements:
//
//   int year = cmd::YearOf(cmd::Now());
//   std::string name = "m" + cmd::ToText(year) + cmd::ToText(cmd::MonthOf(now));
//
// Texts are GBK std::strings throughout. Argument records borrow the
// caller's bytes for the duration of the call only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "runtime/builtins.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/heap.h"
#include "runtime/value.h"

namespace rt {

// Owns one result record: a text or byte-set in it is freed when the
// Result goes away (move-only).
class Result {
 public:
  Result() = default;
  explicit Result(Arg a) : a_(a) {}
  Result(Result&& o) noexcept : a_(std::exchange(o.a_, Arg{})) {}
  Result& operator=(Result&& o) noexcept {
    if (this != &o) {
      reset();
      a_ = std::exchange(o.a_, Arg{});
    }
    return *this;
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  ~Result() { reset(); }

  const Arg& arg() const { return a_; }
  uint32_t kind() const { return a_.kind; }

  // The text of a text result ("" for null or another kind).
  std::string text() const { return a_.kind == kText ? std::string(textValue(a_)) : std::string(); }
  double number() const { return valueToNumber(a_); }
  double real() const { return a_.kind == kDateTime || a_.kind == kDouble ? doubleValue(a_) : 0.0; }
  int32_t integer() const { return a_.kind == kInt ? int32_t(a_.lo) : int32_t(valueToNumber(a_)); }
  bool boolean() const { return a_.kind == kBool && a_.lo != 0; }

  // Hands the record and its block to the caller.
  Arg release() { return std::exchange(a_, Arg{}); }

 private:
  void reset() {
    if (a_.kind == kText || a_.kind == kBytes || isArray(a_.kind)) rt::free(pointerValue<void>(a_));
    a_ = Arg{};
  }
  Arg a_;
};

// --- argument records from C++ values -------------------------------------

struct DateTime {
  double days;
};
struct Omitted {};
constexpr Omitted omitted{};

inline Arg val(const Arg& a) { return a; }
inline Arg val(int32_t v) { return makeInt(v); }
inline Arg val(int64_t v) { return makeLong(v); }
inline Arg val(double v) { return makeDouble(v); }
inline Arg val(float v) { return makeFloat(v); }
inline Arg val(bool v) { return makeBool(v); }
inline Arg val(DateTime v) { return makeDateTime(v.days); }
inline Arg val(Omitted) { return Arg{}; }
inline Arg val(const char* gbk) { return makeTextRef(gbk && *gbk ? gbk : nullptr); }
inline Arg val(const std::string& gbk) { return val(gbk.c_str()); }

// Calls a command with any mix of the values above.
template <typename... Ts>
Result invoke(Cmd c, const Ts&... args) {
  if constexpr (sizeof...(Ts) == 0) {
    return Result(call(c, 0, nullptr));
  } else {
    const Arg argv[] = {val(args)...};
    return Result(call(c, int(sizeof...(Ts)), argv));
  }
}

// --- expressions ----------------------------------------------------------

// Binds a callable returning an Arg as an expression argument. The Expr
// lives in the caller's frame and refers to the callable; running it per
// record costs one indirect call and no allocation.
//
//   auto isWestern = [&] { return rt::makeBool(cmd::ReadText("lb") == xiyao); };
//   rt::Expr cond(isWestern);
//   cmd::SumRecords(value.arg(), cond.arg());
template <typename F>
class Expr {
 public:
  explicit Expr(F& f) : f_(f), e_{&Expr::thunk, this} {}
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
  Arg arg() const { return makeExpr(&e_); }

 private:
  static void thunk(Arg* result, void* frame) { *result = static_cast<Expr*>(frame)->f_(); }
  F& f_;
  Expression e_;
};

}  // namespace rt

// Module code calls commands by their names, in this namespace.
namespace cmd {

using rt::DateTime;

template <typename T>
std::string ToText(const T& v) {
  return rt::invoke(rt::Cmd::ToText, v).text();
}
template <typename T>
double ToNumber(const T& v) {
  return rt::invoke(rt::Cmd::ToNumber, v).real();
}
template <typename T>
DateTime ToDateTime(const T& v) {
  return {rt::invoke(rt::Cmd::ToDateTime, v).real()};
}

// An amount of money as every window, bill and report shows it: rounded
// half away from zero to the fen, no trailing zeros, never an exponent
// (rt::moneyToText). ToText stays the rule for every other figure.
inline std::string MoneyText(double amount) { return rt::moneyToText(amount); }
inline std::string MoneyText(const rt::Arg& amount) { return rt::moneyToText(rt::valueToNumber(amount)); }

inline DateTime Now() { return {rt::invoke(rt::Cmd::Now).real()}; }
inline DateTime DateOnly(DateTime d) { return {rt::invoke(rt::Cmd::DateOnly, d).real()}; }
inline int YearOf(DateTime d) { return rt::invoke(rt::Cmd::YearOf, d).integer(); }
inline int MonthOf(DateTime d) { return rt::invoke(rt::Cmd::MonthOf, d).integer(); }
inline double TimeInterval(DateTime a, DateTime b, int unit) {
  return rt::invoke(rt::Cmd::TimeInterval, a, b, unit).real();
}
inline std::string ChineseNumerals(double amount, bool plain = false) {
  return rt::invoke(rt::Cmd::ChineseNumerals, amount, plain).text();
}
inline std::string LeftText(const std::string& gbk, int n) { return rt::invoke(rt::Cmd::LeftText, gbk, n).text(); }
inline double Abs(double v) { return rt::invoke(rt::Cmd::Abs, v).real(); }

}  // namespace cmd
