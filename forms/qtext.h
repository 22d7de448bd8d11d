// The screen edge of the text encoding: GBK bytes from the runtime become
// QStrings only here, and typed text goes back to GBK here.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace forms {

// GBK to QString. Bytes that are not valid GBK show as U+FFFD; never fails.
QString fromGbk(std::string_view gbk);
inline QString fromGbk(const char* gbk) { return fromGbk(std::string_view(gbk ? gbk : "")); }

// QString to GBK. Characters GBK cannot hold become '?'.
std::string toGbk(const QString& s);

// The family a stored face name is drawn with, on screen and on paper: the
// name itself when installed, otherwise an installed CJK serif face, then a
// CJK sans face, so the forms laid out in 宋体 measure alike everywhere.
// An empty name means 宋体.
QString screenFamily(const std::string& gbkFace);

}  // namespace forms
