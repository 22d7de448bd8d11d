// The calling convention, the heap, blocks, the fatal path and the facade.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>

#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/clock.h"
#include "runtime/commands.h"
#include "runtime/convert.h"
#include "runtime/facade.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace {

using namespace rt;

std::string utf8(const std::string& gbk) { return gbkToUtf8(gbk); }

TEST(ArgRecord, LayoutAndSlotEncoding) {
  static_assert(offsetof(Arg, lo) == 0 && offsetof(Arg, hi) == 4 && offsetof(Arg, kind) == 8);
  EXPECT_EQ(sizeof(Arg[3]), 36u);

  Arg d = makeDouble(-2.5);
  uint64_t bits;
  double x = -2.5;
  std::memcpy(&bits, &x, 8);
  EXPECT_EQ(d.lo, uint32_t(bits));
  EXPECT_EQ(d.hi, uint32_t(bits >> 32));
  EXPECT_EQ(d.kind, 0x80000601u);
  EXPECT_EQ(doubleValue(d), -2.5);

  Arg i = makeInt(-7);
  EXPECT_EQ(i.lo, 0xFFFFFFF9u);
  EXPECT_EQ(lowInt(i), -7);
  EXPECT_EQ(i.kind, 0x80000301u);

  Arg f = makeFloat(1.5f);
  EXPECT_EQ(f.hi, 0u);
  EXPECT_EQ(floatValue(f), 1.5f);

  // A pointer needs both words on this platform.
  const char* text = reinterpret_cast<const char*>(uintptr_t(0x00007F1234567890ull));
  Arg t = makeTextRef(text);
  EXPECT_EQ(t.lo, 0x34567890u);
  EXPECT_EQ(t.hi, 0x00007F12u);
  EXPECT_EQ(pointerValue<const char>(t), text);

  Arg w = makeObject(kEditBox, 0x52010002u, 0x16010005u);
  EXPECT_EQ(w.lo, 0x52010002u);
  EXPECT_EQ(w.hi, 0x16010005u);

  EXPECT_TRUE(isArray(kText | kArrayFlag));
  EXPECT_EQ(elementKind(kFieldInf | kArrayFlag), uint32_t(kFieldInf));
  EXPECT_TRUE(isNumericKind(kByte) && isNumericKind(kDouble));
  EXPECT_FALSE(isNumericKind(kDateTime) || isNumericKind(kBool));
  EXPECT_FALSE(isBasicKind(kWindow));
  EXPECT_FALSE(isBasicKind(kInt | kArrayFlag));
}

TEST(CallRoutine, OmittedRecordIsAMissingArgument) {
  // An omitted record in the middle must read exactly like a short list.
  const Arg full[] = {makeDouble(12.34), Arg{}};
  const Arg shortList[] = {makeDouble(12.34)};
  Result a(call(Cmd::ChineseNumerals, 2, full));
  Result b(call(Cmd::ChineseNumerals, 1, shortList));
  EXPECT_EQ(a.text(), b.text());
  EXPECT_EQ(utf8(a.text()), "壹拾贰元叁角肆分");

  double feb1 = makeDateTime(2010, 2, 1, 0, 0, 0), jan31 = makeDateTime(2010, 1, 31, 0, 0, 0);
  const Arg withOmittedUnit[] = {makeDateTime(feb1), makeDateTime(jan31), Arg{}};
  const Arg withoutUnit[] = {makeDateTime(feb1), makeDateTime(jan31)};
  EXPECT_EQ(doubleValue(call(Cmd::TimeInterval, 3, withOmittedUnit)),
            doubleValue(call(Cmd::TimeInterval, 2, withoutUnit)));
  // An omitted first argument is no argument at all.
  const Arg omittedOnly[] = {Arg{}};
  Result empty(call(Cmd::ToText, 1, omittedOnly));
  EXPECT_EQ(empty.kind(), uint32_t(kText));
  EXPECT_EQ(pointerValue<void>(empty.arg()), nullptr);
}

TEST(CallRoutine, ResultIsZeroFilledAndUnbuiltEntriesFailLoudly) {
  // Borrow an entry no layer has built yet to watch what the routine hands
  // a command; put the loud default back afterwards by dying on purpose.
  ASSERT_FALSE(isRegistered(Cmd::FocusControl));
  registerCommand(Cmd::FocusControl, [](Arg* r, int argc, const Arg*) {
    EXPECT_EQ(r->lo | r->hi | r->kind, 0u);
    EXPECT_EQ(argc, 0);
  });
  Arg r = call(Cmd::FocusControl, -3, nullptr);  // a negative count means none
  EXPECT_EQ(r.lo | r.hi | r.kind, 0u);
  registerCommand(Cmd::FocusControl, nullptr);
  EXPECT_FALSE(isRegistered(Cmd::FocusControl));

  EXPECT_EXIT(call(Cmd::OpenDatabase, 0, nullptr), testing::ExitedWithCode(255), "OpenDatabase");
  EXPECT_EXIT(call(Cmd::PrintTextAt, 0, nullptr), testing::ExitedWithCode(255), "PrintTextAt");
  for (Cmd c : {Cmd::ToText, Cmd::ToNumber, Cmd::ToDateTime, Cmd::Now, Cmd::DateOnly, Cmd::YearOf, Cmd::MonthOf,
                Cmd::TimeInterval, Cmd::ChineseNumerals, Cmd::LeftText, Cmd::Abs})
    EXPECT_TRUE(isRegistered(c)) << commandName(c);
  EXPECT_STREQ(commandName(Cmd::SetVisualStyle), "SetVisualStyle");
  EXPECT_STREQ(commandName(Cmd::ListClear), "ListClear");
}

TEST(Heap, TextCopyFreeAndPermanentBlocks) {
  EXPECT_EQ(textCopy("abc", 0), nullptr);
  EXPECT_EQ(textCopy("abc", -1), nullptr);
  EXPECT_EQ(textCopy(""), nullptr);
  char* t = textCopy("abcdef", 3);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "abc");
  EXPECT_EQ(blockSize(t), 4u);
  rt::free(t);
  rt::free(nullptr);

  char* keep = textCopy("kept");
  markPermanent(keep);
  rt::free(keep);
  rt::free(keep);
  EXPECT_STREQ(keep, "kept");

  unsigned char* z = static_cast<unsigned char*>(alloc(64));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
  rt::free(z);
}

TEST(Blocks, ByteSetsArraysAndDamagedHeaders) {
  void* b = makeByteSet("ab\0cd", 5);
  size_t n = 0;
  const uint8_t* p = byteSetData(b, &n);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::memcmp(p, "ab\0cd", 5), 0);
  int32_t header[2];
  std::memcpy(header, b, 8);
  EXPECT_EQ(header[0], 1);
  EXPECT_EQ(header[1], 5);
  // ToText of a byte-set stops at the first zero byte.
  EXPECT_EQ(valueToText(makePointer(b, kBytes)), "ab");
  rt::free(b);
  EXPECT_EQ(makeByteSet("x", 0), nullptr);

  // A count larger than the block holds must not read past it.
  void* liar = makeByteSet("xyz", 3);
  int32_t huge = INT32_MAX;
  std::memcpy(static_cast<char*>(liar) + 4, &huge, 4);
  byteSetData(liar, &n);
  EXPECT_LE(n, 3u);
  int32_t dims = 1000;
  std::memcpy(liar, &dims, 4);
  EXPECT_EQ(arrayCount(liar), 0);
  rt::free(liar);

  void* arr = makeArray(2, sizeof(void*));
  static FieldInf a{"dm", 10, 20}, c{"mch", 10, 40};
  setArrayPointer(arr, 0, &a);
  setArrayPointer(arr, 1, &c);
  EXPECT_EQ(arrayCount(arr), 2);
  EXPECT_EQ(arrayElement(arr, 2), &c);
  EXPECT_EQ(arrayPointerAt(arr, 2), nullptr);
  rt::free(arr);

  // Names given as texts or arrays of texts; omitted and empty ones skipped.
  void* names = makeArray(3, sizeof(void*));
  setArrayPointer(names, 0, "b");
  setArrayPointer(names, 1, "");
  setArrayPointer(names, 2, "c");
  const Arg args[] = {makeInt(1), makeTextRef("a"), Arg{}, makeTextRef(nullptr), makePointer(names, kText | kArrayFlag),
                      makeInt(7), makeTextRef("d")};
  EXPECT_EQ(textsFrom(7, args, 1), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(textsFrom(7, args, 7).empty());
  rt::free(names);
}

TEST(FatalPath, ReportTextsAndExitCode) {
  std::string both = fatalReportText(1, runtimeErrorText(1));
  EXPECT_EQ(utf8(both), "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n");
  EXPECT_EQ(utf8(fatalReportText(0, GBK("指定字段不存在"))), "运行时出错!\r\n\r\n错误信息：指定字段不存在\r\n");
  EXPECT_EQ(utf8(fatalReportText(7, nullptr)), "运行时出错!\r\n\r\n错误代码：7\r\n\r\n");
  EXPECT_EQ(utf8(runtimeErrorText(11)), "所提供参数的数据类型不符合要求");
  EXPECT_EQ(runtimeErrorText(0), nullptr);
  EXPECT_EQ(runtimeErrorText(12), nullptr);

  // Reading the 3rd element of a two-element field-descriptor array.
  EXPECT_EXIT(
      {
        void* fields = makeArray(2, sizeof(void*));
        arrayElement(fields, 3);
      },
      testing::ExitedWithCode(255),
      "错误\n运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围");
  EXPECT_EXIT(arrayElement(makeArray(2, sizeof(void*)), 0), testing::ExitedWithCode(255), "错误代码：4");
  EXPECT_EXIT(fatalError(GBK("指定字段不存在")), testing::ExitedWithCode(255), "错误信息：指定字段不存在");
  EXPECT_EXIT(alloc(SIZE_MAX - 8), testing::ExitedWithCode(255), "分配 18446744073709551607 字节内存失败!");
}

TEST(FatalPath, ShutdownHooksRunNewestFirstThenExit) {
  EXPECT_EXIT(
      {
        addShutdownHook([] { fputs("first-added\n", stderr); });
        addShutdownHook([] { fputs("second-added\n", stderr); });
        raiseRuntimeError(5);
      },
      testing::ExitedWithCode(255), "数据或数组类型不匹配\r\nsecond-added\nfirst-added");
  // A fault inside a hook still ends the process, with the same code.
  EXPECT_EXIT(
      {
        addShutdownHook([] { raiseRuntimeError(2); });
        raiseRuntimeError(1);
      },
      testing::ExitedWithCode(255), "错误代码：1");
}

TEST(FatalPath, ReporterSeamReceivesTextAndCaption) {
  EXPECT_EXIT(
      {
        setFatalReporter([](const std::string& text, const std::string& caption) {
          fprintf(stderr, "seam[%s][%zu]\n", gbkToUtf8(caption).c_str(), text.size());
        });
        raiseRuntimeError(1);
      },
      testing::ExitedWithCode(255), "seam\\[错误\\]");
}

TEST(ValueText, EveryKind) {
  EXPECT_EQ(valueToText(makeByte(255)), "255");
  EXPECT_EQ(valueToText(makeShort(-32768)), "-32768");
  EXPECT_EQ(valueToText(makeInt(INT32_MIN)), "-2147483648");
  EXPECT_EQ(valueToText(makeLong(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(valueToText(makeFloat(0.1f)), "0.1");
  EXPECT_EQ(valueToText(makeDouble(1e15)), "1e+015");
  EXPECT_EQ(utf8(valueToText(makeBool(true))), "真");
  EXPECT_EQ(utf8(valueToText(makeBool(false))), "假");
  EXPECT_EQ(utf8(valueToText(makeDateTime(makeDateTime(2010, 3, 5, 14, 0, 30)))), "2010年3月5日14时0分30秒");
  EXPECT_EQ(valueToText(makeTextRef(nullptr)), "");
  EXPECT_EQ(valueToText(makeObject(kWindow, 1, 2)), "");
  EXPECT_EQ(valueToText(makeExpr(nullptr)), "");

  // An integer array shows its bytes up to the first zero byte.
  void* ints = makeArray(2, 4);
  int32_t v[2] = {0x00434241, 0x44};
  std::memcpy(static_cast<char*>(ints) + 8, v, 8);
  EXPECT_EQ(valueToText(makePointer(ints, kInt | kArrayFlag)), "ABC");
  EXPECT_EQ(valueToText(makePointer(ints, kText | kArrayFlag)), "");
  rt::free(ints);
}

TEST(ValueNumber, EveryKind) {
  EXPECT_EQ(valueToNumber(makeBool(true)), 1.0);
  EXPECT_EQ(valueToNumber(makeByte(200)), 200.0);
  EXPECT_EQ(valueToNumber(makeFloat(0.1f)), double(0.1f));
  EXPECT_EQ(valueToNumber(makeTextRef(GBK("１２３．５"))), 123.5);
  Arg sub;
  sub.lo = 0xFFFFFFF0u;
  sub.kind = kSubPtr;
  EXPECT_EQ(valueToNumber(sub), 4294967280.0);
  // A date-time is not among the kinds ToNumber reads.
  EXPECT_EQ(valueToNumber(makeDateTime(40000.5)), 0.0);
  EXPECT_EQ(valueToNumber(makeObject(kComboBox, 1, 2)), 0.0);

  Result dt(invoke(Cmd::ToDateTime, 3.5));
  EXPECT_EQ(dt.kind(), uint32_t(kDateTime));
  EXPECT_EQ(dt.real(), kNoDate);
  EXPECT_EQ(cmd::ToDateTime(DateTime{41000.25}).days, 41000.25);
  EXPECT_EQ(cmd::ToDateTime(GBK("2010年5月3日14时5分")).days, makeDateTime(2010, 5, 3, 14, 5, 0));
}

TEST(Facade, CommandsReadLikePlainCode) {
  EXPECT_EQ(cmd::ToText(int32_t(-12)), "-12");
  EXPECT_EQ(cmd::ToText(12.5f), "12.5");
  EXPECT_EQ(cmd::ToNumber("  -3.5e2x"), -350.0);
  EXPECT_EQ(cmd::Abs(-0.25), 0.25);
  EXPECT_EQ(cmd::Abs(0.0), 0.0);
  EXPECT_EQ(utf8(cmd::LeftText(GBK("药品"), 2)), "药");
  EXPECT_EQ(cmd::LeftText("abc", -1), "");
  EXPECT_EQ(utf8(cmd::ChineseNumerals(1000.5)), "壹仟元零伍角整");
  EXPECT_EQ(utf8(cmd::ChineseNumerals(101, true)), "一百零一元整");
  // Kinds a command cannot use give its neutral result.
  EXPECT_EQ(rt::invoke(Cmd::YearOf, "2010").integer(), 0);
  EXPECT_EQ(rt::invoke(Cmd::Abs, "5").real(), 0.0);
  EXPECT_EQ(rt::invoke(Cmd::LeftText, 5, 1).text(), "");
  EXPECT_EQ(rt::invoke(Cmd::ChineseNumerals, "5").text(), "");
}

TEST(Facade, ExpressionsBindTheCallersFrame) {
  int calls = 0;
  int threshold = 3;
  auto isBig = [&] {
    ++calls;
    return makeBool(calls > threshold);
  };
  Expr cond(isBig);
  Arg e = cond.arg();
  EXPECT_EQ(e.kind, uint32_t(kExpr));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(evalExpression(e).lo, 0u);
  Arg r = evalExpression(e);
  EXPECT_EQ(r.kind, uint32_t(kBool));
  EXPECT_EQ(r.lo, 1u);
  EXPECT_EQ(calls, 4);
  // An expression that sets nothing yields a zero record (no system kind).
  auto nothing = [] { return Arg{}; };
  Expr none(nothing);
  EXPECT_EQ(evalExpression(none.arg()).kind, uint32_t(kOmitted));
}

TEST(Clock, NowFollowsTheTestClockAcrossTheYearEnd) {
  setClock(makeDateTime(2026, 12, 31, 23, 59, 59));
  EXPECT_EQ(cmd::YearOf(cmd::Now()), 2026);
  EXPECT_EQ(cmd::MonthOf(cmd::Now()), 12);
  setClock(makeDateTime(2027, 1, 1, 0, 0, 0));
  EXPECT_EQ(cmd::YearOf(cmd::Now()), 2027);
  EXPECT_EQ(cmd::MonthOf(cmd::Now()), 1);
  EXPECT_EQ(cmd::DateOnly(DateTime{makeDateTime(2027, 1, 1, 15, 4, 3)}).days, makeDateTime(2027, 1, 1, 0, 0, 0));
  clearClock();
  double now = cmd::Now().days;
  EXPECT_GT(now, makeDateTime(2020, 1, 1, 0, 0, 0));
  // Whole seconds: taking the time apart and putting it together is exact.
  DateParts p = splitDateTime(now);
  EXPECT_EQ(makeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second), now);
}

TEST(Gbk, EdgeConversionsNeverFail) {
  EXPECT_EQ(utf8ToGbk("药品abc"),
            "\xD2\xA9\xC6\xB7"
            "abc");
  EXPECT_EQ(gbkToUtf8("\xD2\xA9\xC6\xB7"
                      "abc"),
            "药品abc");
  // Invalid lead, a valid pair, then a lead byte cut off at the end.
  EXPECT_EQ(gbkToUtf8("\xFF"
                      "a\xC6"),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
  EXPECT_EQ(gbkToUtf8(std::string("\xFF\x00z", 3)), std::string("\xEF\xBF\xBD\0z", 5));
  // A character GBK has no place for.
  EXPECT_EQ(utf8ToGbk("a😀b"), "a?b");
  EXPECT_EQ(utf8ToGbk(std::string("\xC3", 1)), "?");
  EXPECT_STREQ(GBK("年"), "\xC4\xEA");
}

}  // namespace
