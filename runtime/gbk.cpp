#include "runtime/gbk.h"

#include <cerrno>
#include <iconv.h>

namespace rt {
namespace {

// One conversion through iconv. `onInvalid` is called when iconv stops at
// a sequence it cannot read or write; it appends a replacement and returns
// how many input bytes to skip.
template <typename OnInvalid>
std::string convert(const char* to, const char* from, std::string_view in,
                    OnInvalid onInvalid) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
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
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string utf8ToGbk(std::string_view utf8) {
  return convert("GBK", "UTF-8", utf8, [](std::string& out, const char* src, size_t left) {
    out.push_back('?');
    // Skip the whole UTF-8 sequence iconv could not write.
    unsigned char b = static_cast<unsigned char>(src[0]);
    size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return n <= left ? n : left;
  });
}

std::string gbkToUtf8(std::string_view gbk) {
  return convert("UTF-8", "GBK", gbk, [](std::string& out, const char*, size_t) {
    out.append("\xEF\xBF\xBD");  // U+FFFD
    return size_t(1);
  });
}

}  // namespace rt
