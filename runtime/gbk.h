// The text edge. Inside runtime, engine and module code every text is GBK
// bytes; only the screen, the printer and the terminal see Unicode.
// Source literals are UTF-8 and are converted once each with GBK("...").
#pragma once

#include <string>
#include <string_view>

namespace rt {

// UTF-8 to GBK. Characters GBK cannot hold become '?'.
std::string utf8ToGbk(std::string_view utf8);

// GBK to UTF-8. A byte sequence that is not valid GBK becomes U+FFFD and
// the reading goes on at the next byte; this never fails.
std::string gbkToUtf8(std::string_view gbk);

// True when byte b starts a two-byte GBK character.
inline bool isGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

}  // namespace rt

// A GBK copy of a UTF-8 string literal, converted on first use and kept for
// the whole run. Yields const char*.
#define GBK(lit)                                                  \
  ([]() -> const char* {                                          \
    static const std::string gbk_literal_ = ::rt::utf8ToGbk(lit); \
    return gbk_literal_.c_str();                                  \
  }())
