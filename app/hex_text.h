// Texts as lowercase hex, so that no byte of a name or value can break a
// line of the workstation's own tab-separated files (the parked changes,
// the trail's notes).
#pragma once

#include <string>

namespace app {

inline std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// False for a text that is not such hex (odd length, another character).
inline bool unhex(const std::string& text, std::string* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += char(hi * 16 + lo);
  }
  return true;
}

}  // namespace app
