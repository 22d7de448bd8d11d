// Printing on Qt: QPrintDialog to choose the printer, QPrinter as the
// device (CUPS printers, or a PDF file when printing to a file), QPainter
// to draw.
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <memory>

#include "forms/qtext.h"
#include "print/printer.h"

namespace print {
namespace {

Qt::PenStyle qtPenStyle(int style) {
  switch (style) {
    case 0:
      return Qt::DotLine;  // alternate pixels
    case 2:
      return Qt::DashLine;
    case 3:
      return Qt::DotLine;
    case 4:
      return Qt::DashDotLine;
    case 5:
      return Qt::DashDotDotLine;
    default:
      return Qt::SolidLine;  // solid, inside frame
  }
}

class QtSurface final : public Surface {
 public:
  explicit QtSurface(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {}

  PageGeometry geometry() const override {
    PageGeometry g;
    g.dpiX = printer_->logicalDpiX();
    g.dpiY = printer_->logicalDpiY();
    QRectF paper = printer_->paperRect(QPrinter::DevicePixel);
    QRectF page = printer_->pageRect(QPrinter::DevicePixel);
    g.paperWidth = paper.width();
    g.paperHeight = paper.height();
    g.offsetLeft = page.left() - paper.left();
    g.offsetTop = page.top() - paper.top();
    g.printableWidth = page.width();
    g.printableHeight = page.height();
    return g;
  }

  bool beginJob(const std::string& gbkDocName) override {
    printer_->setDocName(forms::fromGbk(gbkDocName));
    return painter_.begin(printer_.get());
  }
  bool newPage() override { return painter_.isActive() && printer_->newPage(); }
  void endJob() override {
    if (painter_.isActive()) painter_.end();
  }
  void abortJob() override {
    if (!painter_.isActive()) return;
    printer_->abort();
    painter_.end();
  }

  void drawText(double x, double y, const std::string& gbk, const TextStyle& style) override {
    if (!painter_.isActive()) return;
    QString s = forms::fromGbk(gbk);
    painter_.setFont(style.font);
    QFontMetricsF fm(style.font, printer_.get());
    if (style.opaque) painter_.fillRect(QRectF(x, y, fm.horizontalAdvance(s), fm.height()), style.background);
    painter_.setPen(style.color);
    painter_.drawText(QPointF(x, y + fm.ascent()), s);
  }

  void drawLine(double x1, double y1, double x2, double y2, const PenStyle& pen) override {
    if (!painter_.isActive()) return;
    QPen p(pen.color);
    p.setStyle(qtPenStyle(pen.style));
    p.setWidthF(pen.width > 0 ? pen.width : 1.0);
    painter_.setPen(p);
    painter_.drawLine(QPointF(x1, y1), QPointF(x2, y2));
  }

  QSizeF measure(const std::string& gbk, const QFont& font) const override {
    QFontMetricsF fm(font, printer_.get());
    return QSizeF(fm.horizontalAdvance(forms::fromGbk(gbk)), fm.height());
  }

  void drawPainting(const QRectF& target, const Painting& paint) override {
    if (!painter_.isActive()) return;
    painter_.save();
    paint(painter_, target);
    painter_.restore();
  }

  std::string deviceName() const override { return forms::toGbk(printer_->printerName()); }
  std::string devicePort() const override {
    QPrinterInfo info = QPrinterInfo::printerInfo(printer_->printerName());
    QString port = info.location();
    return forms::toGbk(port.isEmpty() ? QStringLiteral("CUPS") : port);
  }

 private:
  std::unique_ptr<QPrinter> printer_;
  QPainter painter_;
};

class QtBackend final : public Backend {
 public:
  bool hasDefaultPrinter() override { return !QPrinterInfo::defaultPrinter().isNull(); }

  bool showPrintDialog(JobSettings& s) override {
    chosenFile_.clear();
    std::unique_ptr<QPrinter> printer = prepare(s);
    QPrintDialog dialog(printer.get());
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile |
                                                       QAbstractPrintDialog::PrintShowPageSize |
                                                       QAbstractPrintDialog::PrintCollateCopies;
    if (s.pageRangeEnabled) options |= QAbstractPrintDialog::PrintPageRange;
    if (s.selectionEnabled) options |= QAbstractPrintDialog::PrintSelection;
    dialog.setOptions(options);
    if (s.pageRangeEnabled) {
      dialog.setMinMax(s.minPage, s.maxPage);
      printer->setFromTo(s.fromPage, s.toPage);
    }
    if (s.selectionChosen) printer->setPrintRange(QPrinter::Selection);
    if (dialog.exec() != QDialog::Accepted) return false;
    s.copies = printer->copyCount();
    s.collate = printer->collateCopies();
    s.selectionChosen = printer->printRange() == QPrinter::Selection;
    s.pageRangeChosen = printer->printRange() == QPrinter::PageRange;
    if (s.pageRangeChosen) {
      s.fromPage = printer->fromPage();
      s.toPage = printer->toPage();
    }
    // The dialog's own "print to file" is a PDF printer with a file name:
    // that name is the file written.
    s.printToFile = printer->outputFormat() == QPrinter::PdfFormat || !printer->outputFileName().isEmpty();
    s.dialogFile = forms::toGbk(printer->outputFileName());
    chosenFile_ = printer->outputFileName();
    chosen_ = std::move(printer);
    return true;
  }

  std::unique_ptr<Surface> openDevice(const JobSettings& s, const std::string& outputFile) override {
    std::unique_ptr<QPrinter> printer = chosen_ ? std::move(chosen_) : prepare(s);
    if (!outputFile.empty()) {
      // The dialog's own name as the dialog gave it (it may hold characters
      // GBK has not); a name asked for afterwards comes as GBK.
      QString name = !chosenFile_.isEmpty() && outputFile == s.dialogFile ? chosenFile_ : forms::fromGbk(outputFile);
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(name);
      // A file has no unprintable border: the printable area is the page.
      printer->setFullPage(false);
      printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    } else if (!printer->isValid()) {
      return nullptr;
    }
    return std::make_unique<QtSurface>(std::move(printer));
  }

 private:
  // A printer set up with the paper and orientation asked for.
  static std::unique_ptr<QPrinter> prepare(const JobSettings& s) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (s.applyPaper) {
      if (s.paperCode > 0) {
        QPageSize::PageSizeId id = QPageSize::id(s.paperCode);
        if (id != QPageSize::Custom) printer->setPageSize(QPageSize(id));
      } else if (s.customWidth > 0 && s.customHeight > 0) {
        printer->setPageSize(QPageSize(QSizeF(s.customWidth / 10.0, s.customHeight / 10.0), QPageSize::Millimeter));
      } else if (!s.paperName.empty()) {
        QString name = forms::fromGbk(s.paperName);
        for (int id = 0; id < int(QPageSize::LastPageSize); ++id) {
          QPageSize size(static_cast<QPageSize::PageSizeId>(id));
          if (size.name().compare(name, Qt::CaseInsensitive) == 0 ||
              size.key().compare(name, Qt::CaseInsensitive) == 0) {
            printer->setPageSize(size);
            break;
          }
        }
      }
    }
    if (s.applyOrientation) printer->setPageOrientation(s.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    return printer;
  }

  std::unique_ptr<QPrinter> chosen_;
  QString chosenFile_;  // the file name the last dialog gave
};

}  // namespace

Backend& qtBackend() {
  static QtBackend backend;
  return backend;
}

}  // namespace print
