#include "runtime/gbk.h"

#include <cerrno>
#include <iconv.h>

namespace rt {
namespace {

// An iconv descriptor per direction and thread, opened on first use: lists
// convert every cell they show, and opening a descriptor costs far more
// than the conversion of a short text.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != iconv_t(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool allAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// One conversion through iconv. `onInvalid` is called when iconv stops at
// a sequence it cannot read or write; it appends a replacement and returns
// how many input bytes to skip. Plain ASCII is the same in both encodings
// and is returned as it is.
template <typename OnInvalid>
std::string convert(const Converter& converter, std::string_view in, OnInvalid onInvalid) {
  if (allAscii(in)) return std::string(in);
  std::string out;
  iconv_t cd = converter.get();
  if (cd == iconv_t(-1)) return std::string(in);  // glibc always has both
  out.reserve(in.size() * 2 + 4);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[512];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, size_t(dst - buf));
    if (r != size_t(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut at the end): replace and go on.
    size_t skip = onInvalid(out, src, srcLeft);
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
  }
  // Back to the initial state for the next conversion.
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return out;
}

}  // namespace

std::string utf8ToGbk(std::string_view utf8) {
  thread_local const Converter toGbk("GBK", "UTF-8");
  return convert(toGbk, utf8, [](std::string& out, const char* src, size_t left) {
    out.push_back('?');
    // Skip the whole UTF-8 sequence iconv could not write.
    unsigned char b = static_cast<unsigned char>(src[0]);
    size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return n <= left ? n : left;
  });
}

std::string gbkToUtf8(std::string_view gbk) {
  thread_local const Converter toUtf8("UTF-8", "GBK");
  return convert(toUtf8, gbk, [](std::string& out, const char*, size_t) {
    out.append("\xEF\xBF\xBD");  // U+FFFD
    return size_t(1);
  });
}

}  // namespace rt
