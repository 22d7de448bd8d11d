// Renders every window of the program's template block to a PNG file
// (build/screens/<window>.png by default, or the directory given as the
// only argument), offscreen, so the windows can be looked at without a
// desktop. The windows are built exactly as the program builds them; the
// module code is not part of this tool, so each handler table is filled
// with a handler that does nothing and the windows show as loaded, before
// any module code has filled them.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "forms/window_ids.h"
#include "forms/template.h"
#include "forms/live_windows.h"

namespace {

void nothing() {}

const std::map<uint32_t, const char*>& windowNames() {
  namespace ids = forms::ids;
  static const std::map<uint32_t, const char*> names = {
      {ids::kStartWindow, "start"},
      {ids::kLoginWindow, "login"},
      {ids::kDrugWindow, "drug"},
      {ids::kInpatientWindow, "inpatient"},
      {ids::kMedicationWindow, "medication"},
      {ids::kOutpatientWindow, "outpatient"},
      {ids::kReportWindow, "report"},
      {ids::kPrintRangeWindow, "printrange"},
      {ids::kAboutWindow, "about"},
  };
  return names;
}

int handlerSlots(const forms::WindowTemplate& w) {
  int top = -1;
  for (const forms::Item& it : w.items) {
    top = std::max(top, int(it.menuHandler));
    for (const forms::EventBinding& b : it.events) top = std::max(top, int(b.handler));
  }
  return top + 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  forms::initForms();
  QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath() + "/../screens";
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "formshots: cannot create %s\n", qPrintable(out));
    return 1;
  }
  const forms::TemplateData& data = forms::templates();
  int failures = 0;
  for (const forms::WindowTemplate& w : data.windows) {
    auto name = windowNames().find(w.id);
    QString file =
        QDir(out).filePath(name != windowNames().end() ? QString("%1.png").arg(name->second)
                                                       : QString("window-%1.png").arg(w.id, 8, 16, QChar('0')));
    forms::setHandlers(w.id, std::vector<forms::Handler>(size_t(handlerSlots(w)), nothing));
    if (!forms::loadWindow(w.id)) {
      std::fprintf(stderr, "formshots: window 0x%08X did not load\n", unsigned(w.id));
      ++failures;
      continue;
    }
    QCoreApplication::processEvents();
    QWidget* widget = forms::windowWidget(w.id);
    if (!widget || !widget->grab().save(file)) {
      std::fprintf(stderr, "formshots: cannot write %s\n", qPrintable(file));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(QDir::cleanPath(file)));
    }
    widget->close();
    QCoreApplication::processEvents();
  }
  return failures == 0 ? 0 : 1;
}
