#include "db/names.h"

#include <algorithm>
#include <vector>

#include "db/format.h"
#include "db/os.h"

namespace db {
namespace {

size_t baseStart(std::string_view p) {
  size_t s = p.rfind('/');
  return s == std::string_view::npos ? 0 : s + 1;
}

unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

size_t charLen(std::string_view s, size_t i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  return (b >= 0x81 && b <= 0xFE && i + 1 < s.size()) ? 2 : 1;
}

bool sameChar(std::string_view a, size_t i, size_t la, std::string_view b, size_t j, size_t lb) {
  if (la != lb) return false;
  if (la == 2) return a[i] == b[j] && a[i + 1] == b[j + 1];
  return fold(static_cast<unsigned char>(a[i])) == fold(static_cast<unsigned char>(b[j]));
}

void splitDir(const std::string& path, std::string* dir, std::string* base) {
  size_t s = baseStart(path);
  *dir = s == 0 ? "." : (s == 1 ? "/" : path.substr(0, s - 1));
  *base = path.substr(s);
}

}  // namespace

std::string withDefaultExtension(std::string_view name) {
  std::string n(name);
  size_t b = baseStart(n);
  size_t dot = n.rfind('.');
  if (dot == std::string::npos || dot < b) return n + ".kdb";
  if (dot + 1 == n.size()) return n + "kdb";
  return n;
}

std::string auxNameFor(std::string_view dbName) {
  std::string n(dbName);
  size_t b = baseStart(n);
  size_t dot = n.rfind('.');
  if (dot == std::string::npos || dot < b) return n + ".kdt";
  return n.substr(0, dot) + ".kdt";
}

bool hasAuxExtension(std::string_view path) {
  // Trailing spaces are dropped from a name by the file servers the centre
  // uses, so "z.kdt " is "z.kdt".
  while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
  size_t b = baseStart(path);
  size_t dot = path.rfind('.');
  return dot != std::string_view::npos && dot >= b && equalsNoCase(path.substr(dot), ".kdt");
}

std::string packLogNameFor(std::string_view dbName) { return std::string(dbName) + ".pack"; }

std::string fileTitle(std::string_view path) {
  std::string_view base = path.substr(baseStart(path));
  size_t dot = base.rfind('.');
  return std::string(dot == std::string_view::npos ? base : base.substr(0, dot));
}

bool resolveExisting(const std::string& path, std::string* out) { return findExisting(path, out) == 1; }

int findExisting(const std::string& path, std::string* out) {
  os::Env& env = os::env();
  if (path.empty()) return 0;
  const int there = env.stat(path);
  if (there < 0) return there;
  if (there == 1) {
    *out = path;
    return 1;
  }
  std::string dir, base;
  splitDir(path, &dir, &base);
  if (base.empty()) return 0;
  std::vector<std::string> names;
  if (const int rc = env.listDir(dir, &names); rc != 0) return rc;
  std::sort(names.begin(), names.end());  // the same choice every time
  for (const std::string& n : names) {
    if (equalsNoCase(n, base)) {
      *out = path.substr(0, baseStart(path)) + n;
      return 1;
    }
  }
  return 0;
}

bool wildcardMatch(std::string_view p, std::string_view s) {
  // Iterative matcher with one backtrack point for the last "*".
  size_t i = 0, j = 0, starP = std::string_view::npos, starS = 0;
  while (j < s.size()) {
    if (i < p.size() && p[i] == '*') {
      starP = ++i;
      starS = j;
      continue;
    }
    if (i < p.size()) {
      size_t lp = charLen(p, i), ls = charLen(s, j);
      if ((p[i] == '?' && lp == 1) || sameChar(p, i, lp, s, j, ls)) {
        i += (p[i] == '?' ? 1 : lp);
        j += ls;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    starS += charLen(s, starS);
    j = starS;
    i = starP;
  }
  while (i < p.size() && p[i] == '*') ++i;
  return i == p.size();
}

int fileExistsLike(const std::string& pattern) {
  if (pattern.empty()) return 0;
  std::string dir, base;
  splitDir(pattern, &dir, &base);
  if (base.empty()) return os::env().stat(pattern);
  bool wild = base.find_first_of("*?") != std::string::npos;
  if (!wild) {
    const int there = os::env().stat(pattern);
    if (there != 0) return there;  // there, or the look failed
  }
  std::vector<std::string> names;
  if (const int rc = os::env().listDir(dir, &names); rc != 0) return rc;
  for (const std::string& n : names)
    if (wildcardMatch(base, n)) return 1;
  return 0;
}

}  // namespace db
