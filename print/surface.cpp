#include "print/surface.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPicture>
#include <algorithm>

#include "forms/qtext.h"

namespace print {

double PageGeometry::rightStrip() const {
  return std::max(kLeastMarginMm / 25.4 * dpiX, paperWidth - offsetLeft - printableWidth);
}
double PageGeometry::bottomStrip() const {
  return std::max(kLeastMarginMm / 25.4 * dpiY, paperHeight - offsetTop - printableHeight);
}

RecordingSurface::RecordingSurface(PageGeometry g, Log log, bool refuseJob, int refusePageAfter)
    : geometry_(g), refuseJob_(refuseJob), refusePageAfter_(refusePageAfter), log_(std::move(log)) {
  if (!log_) log_ = std::make_shared<std::vector<Recorded>>();
}

bool RecordingSurface::beginJob(const std::string& gbkDocName) {
  if (refuseJob_) return false;
  pages_ = 1;
  Recorded r{Recorded::BeginJob};
  r.text = gbkDocName;
  log_->push_back(r);
  return true;
}

bool RecordingSurface::newPage() {
  if (refusePageAfter_ >= 0 && pages_ >= refusePageAfter_) return false;
  ++pages_;
  log_->push_back(Recorded{Recorded::NewPage});
  return true;
}

void RecordingSurface::endJob() { log_->push_back(Recorded{Recorded::EndJob}); }
void RecordingSurface::abortJob() { log_->push_back(Recorded{Recorded::AbortJob}); }

void RecordingSurface::drawText(double x, double y, const std::string& gbk, const TextStyle& style) {
  Recorded r{Recorded::Text};
  r.x = x;
  r.y = y;
  r.text = gbk;
  r.fontPixels = style.font.pixelSize();
  QSizeF s = measure(gbk, style.font);
  r.width = s.width();
  r.height = s.height();
  log_->push_back(r);
}

void RecordingSurface::drawLine(double x1, double y1, double x2, double y2, const PenStyle& pen) {
  Recorded r{Recorded::Line};
  r.x = x1;
  r.y = y1;
  r.x2 = x2;
  r.y2 = y2;
  r.penStyle = pen.style;
  r.penWidth = pen.width;
  log_->push_back(r);
}

QSizeF RecordingSurface::measure(const std::string& gbk, const QFont& font) const {
  // A one-pixel image at the surface's resolution makes the font metrics
  // those of a device of that resolution.
  QImage device(1, 1, QImage::Format_RGB32);
  device.setDotsPerMeterX(int(geometry_.dpiX / 0.0254 + 0.5));
  device.setDotsPerMeterY(int(geometry_.dpiY / 0.0254 + 0.5));
  QFontMetricsF fm(font, &device);
  QString s = forms::fromGbk(gbk);
  return QSizeF(fm.horizontalAdvance(s), fm.height());
}

void RecordingSurface::drawPainting(const QRectF& target, const Painting& paint) {
  Recorded r{Recorded::Painting};
  r.x = target.left();
  r.y = target.top();
  r.x2 = target.right();
  r.y2 = target.bottom();
  log_->push_back(r);
  QPicture picture;
  QPainter painter(&picture);
  paint(painter, target);
}

std::vector<Recorded> recordedOf(const std::vector<Recorded>& log, Recorded::Op op) {
  std::vector<Recorded> out;
  for (const Recorded& r : log)
    if (r.op == op) out.push_back(r);
  return out;
}

PageGeometry testPage(bool landscape) {
  PageGeometry g;
  g.dpiX = g.dpiY = 600;
  double w = 210.0 / 25.4 * 600, h = 297.0 / 25.4 * 600;
  if (landscape) std::swap(w, h);
  g.paperWidth = w;
  g.paperHeight = h;
  g.offsetLeft = g.offsetTop = 100;
  g.printableWidth = w - 200;
  g.printableHeight = h - 200;
  return g;
}

}  // namespace print
