#include "forms/qtext.h"

#include "runtime/gbk.h"

namespace forms {

// Through the runtime's own converter rather than QStringDecoder, so the
// screen and the terminal tools replace invalid bytes the same way whatever
// codecs this Qt build carries.
QString fromGbk(std::string_view gbk) {
  std::string utf8 = rt::gbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string toGbk(const QString& s) {
  QByteArray utf8 = s.toUtf8();
  return rt::utf8ToGbk(std::string_view(utf8.constData(), size_t(utf8.size())));
}

}  // namespace forms
