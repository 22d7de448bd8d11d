#include "print/printer.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "forms/qtext.h"
#include "forms/live_windows.h"
#include "print/progress.h"
#include "runtime/blocks.h"
#include "runtime/builtins.h"
#include "runtime/commands.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace print {
namespace {

Backend* g_backend = nullptr;

int clampInt(int64_t v, int lo, int hi) { return int(std::clamp<int64_t>(v, lo, hi)); }

// A numeric argument as a whole number; false when omitted or not numeric.
bool intArg(int argc, const rt::Arg* argv, int i, int64_t* out) {
  const rt::Arg* a = rt::argAt(argc, argv, i);
  double d;
  if (!a || !rt::numericValue(*a, &d) || d != d) return false;
  *out = int64_t(std::clamp(d, -9.0e18, 9.0e18));
  return true;
}

// A bool argument: -1 omitted (or not a bool), else 0/1.
int boolArg(int argc, const rt::Arg* argv, int i) {
  const rt::Arg* a = rt::argAt(argc, argv, i);
  if (!a || a->kind != rt::kBool) return -1;
  return a->lo != 0;
}

// Device pixels per unit step: 0 pixel, 1 0.1 mm, 2 0.01 mm, 3 0.01 in,
// 4 0.001 in, 5 1/1440 in.
double pixelsPerUnit(int unit, double dpi) {
  switch (unit) {
    case 1:
      return dpi / 254.0;
    case 2:
      return dpi / 2540.0;
    case 3:
      return dpi / 100.0;
    case 4:
      return dpi / 1000.0;
    case 5:
      return dpi / 1440.0;
    default:
      return 1.0;
  }
}

QColor fromColorRef(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The pieces of a text between CR, LF and CR LF.
std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  return pieces;
}

// What a printed value shows: the runtime's text for numbers, bools, dates
// and texts; false for kinds that are skipped.
bool printable(const rt::Arg& v, std::string* out) {
  if (v.kind == rt::kOmitted) {
    out->clear();
    return true;
  }
  if (rt::isNumericKind(v.kind) || v.kind == rt::kBool || v.kind == rt::kDateTime || v.kind == rt::kText) {
    *out = rt::valueToText(v);
    return true;
  }
  return false;
}

// Font record layout (60 bytes), as written to and read from the property.
//   0 height, 4 width, 8 escapement, 12 orientation, 16 weight (int32),
//   20 italic, 21 underline, 22 strike-out, 23 charset, 24..27 precision,
//   clipping, quality, pitch (bytes), 28 face (32 bytes, NUL-terminated)
constexpr size_t kFontRecordSize = 60;
void putI32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(uint32_t(v) >> (8 * i));
}
int32_t getI32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

}  // namespace

Backend* setBackend(Backend* b) {
  Backend* old = g_backend;
  g_backend = b;
  return old;
}

int paperCodeFor(int paperType) {
  static const int kCodes[17] = {0, 8, 9, 11, 12, 13, 15, 93, 94, 1, 5, 7, 6, 3, 18, 4, 14};
  if (paperType >= 1000) return paperType - 999;
  if (paperType >= 1 && paperType <= 16) return kCodes[paperType];
  return 0;
}

Printer::Printer() = default;
Printer::~Printer() {
  if (jobOpen()) closeJob(false);
}

// --- properties --------------------------------------------------------------

rt::Arg Printer::property(int prop) const {
  switch (prop) {
    case kUnit:
      return rt::makeInt(unit_);
    case kPenStyle:
      return rt::makeInt(penStyle_);
    case kDrawMode:
      return rt::makeInt(drawMode_);
    case kPenWidth:
      return rt::makeInt(penWidth_);
    case kPenColor:
      return rt::makeInt(int32_t(penColor_));
    case kBrushStyle:
      return rt::makeInt(brushStyle_);
    case kBrushColor:
      return rt::makeInt(int32_t(brushColor_));
    case kTextColor:
      return rt::makeInt(int32_t(textColor_));
    case kBackColor:
      return rt::makeInt(int32_t(backColor_));
    case kFont: {
      uint8_t rec[kFontRecordSize] = {};
      putI32(rec + 0, font_.height);
      putI32(rec + 8, font_.escapement);
      putI32(rec + 12, font_.escapement);
      putI32(rec + 16, font_.weight);
      rec[20] = font_.italic;
      rec[21] = font_.underline;
      rec[22] = font_.strikeOut;
      rec[23] = 134;
      std::memcpy(rec + 28, font_.face.data(), std::min<size_t>(font_.face.size(), 31));
      return rt::makePointer(rt::makeByteSet(rec, sizeof rec), rt::kBytes);
    }
    case kDocName:
      return rt::makeTextResult(docName_);
    case kCopies:
      return rt::makeInt(copies_);
    case kCollate:
      return rt::makeInt(collate_);
    case kMinPage:
      return rt::makeInt(minPage_);
    case kMaxPage:
      return rt::makeInt(maxPage_);
    case kFromPage:
      return rt::makeInt(fromPage_);
    case kToPage:
      return rt::makeInt(toPage_);
    case kSelection:
      return rt::makeInt(selection_);
    case kLeftMargin:
      return rt::makeInt(marginLeft_);
    case kTopMargin:
      return rt::makeInt(marginTop_);
    case kRightMargin:
      return rt::makeInt(marginRight_);
    case kBottomMargin:
      return rt::makeInt(marginBottom_);
    case kPageNumber:
      return rt::makeInt(jobOpen() ? pageNumber_ : 1);
    case kCopyNumber:
      return rt::makeInt(jobOpen() ? copyNumber_ : 1);
    case kPrintableWidth:
    case kPrintableHeight: {
      if (!jobOpen()) return rt::makeInt(0);
      bool wide = prop == kPrintableWidth;
      double px = wide ? page_.paperWidth - page_.rightStrip() - page_.offsetLeft
                       : page_.paperHeight - page_.bottomStrip() - page_.offsetTop;
      double units = px / pixelsPerUnit(unit_, wide ? page_.dpiX : page_.dpiY);
      int64_t v = int64_t(units) - (wide ? marginRight_ + marginLeft_ : marginTop_ + marginBottom_);
      return rt::makeInt(int32_t(std::max<int64_t>(v, 0)));
    }
    case kAborted:
      return rt::makeInt(jobOpen() && aborted_ ? 1 : 0);
    default:
      return rt::Arg{};
  }
}

void Printer::setProperty(int prop, int subField, const rt::Arg& v) {
  if (prop == kFont) {
    if (subField < 0) {
      // A whole font record, as property() hands it out.
      if (v.kind != rt::kBytes) return;
      size_t n = 0;
      const uint8_t* rec = rt::byteSetData(rt::pointerValue<const void>(v), &n);
      if (n < kFontRecordSize) return;
      font_.height = getI32(rec);
      font_.escapement = getI32(rec + 8);
      font_.weight = getI32(rec + 16);
      font_.italic = rec[20];
      font_.underline = rec[21];
      font_.strikeOut = rec[22];
      font_.face.assign(reinterpret_cast<const char*>(rec + 28), strnlen(reinterpret_cast<const char*>(rec + 28), 32));
      if (font_.face.empty() || font_.face.size() > 31) font_.face = GBK("宋体");
      return;
    }
    if (subField == 6) {
      std::string face = v.kind == rt::kText ? rt::textValue(v) : std::string();
      font_.face = face.empty() || face.size() > 31 ? std::string(GBK("宋体")) : face;
      return;
    }
    double d;
    if (!rt::numericValue(v, &d) && v.kind != rt::kBool) return;
    int64_t n = v.kind == rt::kBool ? (v.lo != 0) : int64_t(std::clamp(d, -2.0e9, 2.0e9));
    switch (subField) {
      case 0:
        font_.escapement = int32_t(((n % 3600) + 3600) % 3600);
        break;
      case 1:
        font_.weight = n ? 700 : 400;
        break;
      case 2:
        font_.italic = n != 0;
        break;
      case 3:
        font_.underline = n != 0;
        break;
      case 4:
        font_.strikeOut = n != 0;
        break;
      case 5: {
        // Stored as a height at the screen resolution, rounded as the
        // system's MulDiv does.
        int64_t size = std::clamp<int64_t>(n, 0, 16384);
        font_.height = -int32_t((size * kScreenDpi * 2 + 72) / 144);
        break;
      }
      default:
        break;
    }
    return;
  }
  if (prop == kDocName) {
    docName_ = v.kind == rt::kText ? rt::textValue(v) : rt::valueToText(v);
    return;
  }
  double d;
  if (!rt::numericValue(v, &d) && v.kind != rt::kBool) return;
  int64_t n = v.kind == rt::kBool ? (v.lo != 0) : int64_t(std::clamp(d, -9.0e18, 9.0e18));
  switch (prop) {
    case kUnit:
      unit_ = clampInt(n, 0, 5);
      break;
    case kPenStyle:
      penStyle_ = clampInt(n, 0, 6);
      break;
    case kDrawMode:
      drawMode_ = clampInt(n, 0, 15);
      break;
    case kPenWidth:
      penWidth_ = clampInt(n, 0, 32767);
      break;
    case kPenColor:
      penColor_ = uint32_t(n) & 0xFFFFFF;
      break;
    case kBrushStyle:
      brushStyle_ = clampInt(n, 0, 55);
      break;
    case kBrushColor:
      brushColor_ = uint32_t(n) & 0xFFFFFF;
      break;
    case kTextColor:
      textColor_ = uint32_t(n) & 0xFFFFFF;
      break;
    case kBackColor:
      backColor_ = uint32_t(n) == kTransparent ? kTransparent : uint32_t(n) & 0xFFFFFF;
      break;
    case kCopies:
      copies_ = clampInt(n, -1, 65535);
      break;
    case kCollate:
      collate_ = clampInt(n, 0, 1);
      break;
    case kMinPage:
      minPage_ = clampInt(n, -1, 32767);
      break;
    case kMaxPage:
      maxPage_ = clampInt(n, -1, 65535);
      break;
    case kFromPage:
      fromPage_ = clampInt(n, 0, 65535);
      break;
    case kToPage:
      toPage_ = clampInt(n, -1, 65535);
      break;
    case kSelection:
      selection_ = clampInt(n, -1, 1);
      break;
    case kLeftMargin:
      marginLeft_ = clampInt(n, INT32_MIN, INT32_MAX);
      break;
    case kTopMargin:
      marginTop_ = clampInt(n, INT32_MIN, INT32_MAX);
      break;
    case kRightMargin:
      marginRight_ = clampInt(n, INT32_MIN, INT32_MAX);
      break;
    case kBottomMargin:
      marginBottom_ = clampInt(n, INT32_MIN, INT32_MAX);
      break;
    default:
      break;  // read-only or unknown
  }
}

// --- units and drawing objects ---------------------------------------------------

double Printer::unitToPixelsX(double v) const { return v * pixelsPerUnit(unit_, page_.dpiX); }
double Printer::unitToPixelsY(double v) const { return v * pixelsPerUnit(unit_, page_.dpiY); }
double Printer::pixelsToUnitY(double px) const { return px / pixelsPerUnit(unit_, page_.dpiY); }

int Printer::deviceFontHeight() const {
  double points = std::abs(double(font_.height)) * 72.0 / kScreenDpi;
  double h;
  switch (unit_) {
    case 0:
      h = points * page_.dpiY / 72.0;
      break;
    case 1:
      h = points * 3.5250987027636778;
      break;
    case 2:
      h = points * 35.250987027636775;
      break;
    case 3:
      h = points * 1.3888888888888888;
      break;
    case 4:
      h = points * 13.888888888888888;
      break;
    default:
      h = points * 20;
      break;
  }
  return -int(h);
}

QFont Printer::deviceFont() const {
  QFont f(forms::screenFamily(font_.face));
  int px = int(std::lround(unitToPixelsY(std::abs(deviceFontHeight()))));
  f.setPixelSize(std::max(px, 1));
  f.setWeight(font_.weight >= 700 ? QFont::Bold : QFont::Normal);
  f.setItalic(font_.italic);
  f.setUnderline(font_.underline);
  f.setStrikeOut(font_.strikeOut);
  return f;
}

TextStyle Printer::textStyle() const {
  TextStyle s;
  s.font = deviceFont();
  s.color = fromColorRef(textColor_);
  s.opaque = backColor_ != kTransparent;
  s.background = fromColorRef(backColor_);
  return s;
}

PenStyle Printer::penStyle() const {
  PenStyle p;
  p.style = penStyle_;
  // No line is thinner than 0.1 mm (a device pixel of a 254-dpi printer):
  // the default pen, one device pixel, is a hairline on a high-resolution
  // printer or in a PDF, and the bills' and reports' rules would fade or
  // vanish. Wider pens keep their width.
  const double thinnest = std::max(1.0, page_.dpiX * kThinnestLineMm / 25.4);
  p.width = std::max(penWidth_ == 0 ? 0.0 : unitToPixelsX(penWidth_), thinnest);
  p.color = fromColorRef(penColor_);
  return p;
}

// --- the job -----------------------------------------------------------------

bool Printer::begin(int argc, const rt::Arg* argv) {
  if (jobOpen()) return false;
  Backend& backend = g_backend ? *g_backend : qtBackend();

  JobSettings s;
  s.pageRangeEnabled = minPage_ >= 0;
  s.collate = collate_ == 1;
  s.selectionEnabled = selection_ >= 0;
  s.selectionChosen = selection_ == 1;
  s.copies = std::max(copies_, 1);
  if (s.pageRangeEnabled) {
    s.minPage = minPage_;
    s.maxPage = std::max(maxPage_ == -1 ? 65535 : maxPage_, minPage_);
    s.fromPage = std::clamp(fromPage_, s.minPage, s.maxPage);
    s.toPage = std::clamp(toPage_, s.minPage, s.maxPage);
  }

  // Paper and orientation are applied only when the caller passed the
  // orientation position; an omitted orientation then means portrait.
  if (argc > 4) {
    const rt::Arg* paper = rt::argAt(argc, argv, 3);
    int64_t type = 0, w = 0, h = 0;
    if (paper && paper->kind == rt::kText) {
      s.applyPaper = true;
      s.paperName = rt::textValue(*paper);
    } else if (intArg(argc, argv, 3, &type)) {
      if (type == -1 && intArg(argc, argv, 5, &w) && intArg(argc, argv, 6, &h) && w > 0 && h > 0) {
        s.applyPaper = true;
        s.customWidth = int(std::min<int64_t>(w, 1000000));
        s.customHeight = int(std::min<int64_t>(h, 1000000));
      } else if (type > 0) {
        s.paperCode = paperCodeFor(int(std::min<int64_t>(type, INT32_MAX)));
        s.applyPaper = s.paperCode != 0;
      }
    }
    int64_t orientation = 0;
    s.applyOrientation = true;
    s.landscape = intArg(argc, argv, 4, &orientation) && orientation == 1;
  }

  bool skipDialog = boolArg(argc, argv, 1) == 0 && backend.hasDefaultPrinter();
  if (!skipDialog) {
    if (!backend.showPrintDialog(s)) return false;
    if (copies_ != -1) copies_ = clampInt(s.copies, 1, 65535);
    if (selection_ >= 0) selection_ = s.selectionChosen ? 1 : 0;
    collate_ = s.collate ? 1 : 0;
    if (minPage_ >= 0) {
      fromPage_ = s.pageRangeChosen ? s.fromPage : -1;
      toPage_ = s.pageRangeChosen ? s.toPage : -1;
    }
  }

  // A file named in the print dialog is the file written; "打印到文件"
  // asks only when the dialog's choice named none.
  std::string outputFile = s.printToFile ? s.dialogFile : std::string();
  if (s.printToFile && outputFile.empty()) {
    std::string path = "Output.prn";
    if (!rt::dialogs().saveFile(GBK("打印到文件"), GBK("打印输出文件 (*.prn);;所有文件 (*.*)"), &path) || path.empty())
      return false;
    // The default extension, when the name has none.
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.find('.') == std::string::npos) path += ".prn";
    outputFile = path;
  }

  std::unique_ptr<Surface> surface = backend.openDevice(s, outputFile);
  if (!surface) return false;
  pageNumber_ = std::max(fromPage_, 1);
  copyNumber_ = 1;
  aborted_ = false;
  page_ = surface->geometry();

  jobName_ = docName_.empty() ? std::string(GBK("未命名打印作业")) : docName_;
  if (!outputFile.empty()) {
    size_t slash = outputFile.find_last_of('/');
    destination_ = slash == std::string::npos ? outputFile : outputFile.substr(slash + 1);
  } else {
    destination_ = surface->deviceName() + GBK(" 上的 ") + surface->devicePort();
  }

  if (boolArg(argc, argv, 2) != 0) {
    progress_ = std::make_unique<ProgressWindow>([this] { abort(); });
    progress_->setJob(jobName_, destination_);
    progress_->setCopies(1);
    progress_->setPage(pageNumber_);
    progress_->show();
  }

  if (!surface->beginJob(jobName_)) {
    progress_.reset();
    return false;
  }
  surface_ = std::move(surface);
  pageOpen_ = true;
  refreshProgress();
  return true;
}

void Printer::refreshProgress() {
  if (progress_) progress_->setPage(pageNumber_);
}

void Printer::closeJob(bool aborting) {
  posX_ = posY_ = 0;
  pageOpen_ = false;
  std::unique_ptr<Surface> surface = std::move(surface_);
  if (surface) {
    if (aborting)
      surface->abortJob();
    else
      surface->endJob();
  }
  if (progress_) {
    // The abort button may be what called us: let Qt delete the window
    // once its signal has returned.
    progress_->hide();
    progress_.release()->deleteLater();
  }
}

void Printer::end() {
  if (!jobOpen()) return;
  closeJob(false);
}

bool Printer::newPage() {
  QCoreApplication::processEvents();
  if (!jobOpen()) return false;
  if (!surface_->newPage()) {
    closeJob(false);
    return false;
  }
  pageOpen_ = true;
  ++pageNumber_;
  refreshProgress();
  return true;
}

void Printer::abort() {
  if (!jobOpen()) return;
  aborted_ = true;
  closeJob(true);
}

bool Printer::ensurePage() {
  if (pageOpen_) return true;
  if (!surface_->newPage()) {
    closeJob(false);
    return false;
  }
  pageOpen_ = true;
  return true;
}

bool Printer::prepareOutput() {
  // Pending window messages first, so "中止打印" is heard between calls.
  QCoreApplication::processEvents();
  if (!jobOpen()) return false;
  return ensurePage();
}

void Printer::output(int argc, const rt::Arg* argv, bool lines) {
  if (!prepareOutput()) return;
  TextStyle style = textStyle();
  int64_t v;
  double x = intArg(argc, argv, 1, &v) ? double(v) : posX_;
  double y = intArg(argc, argv, 2, &v) ? double(v) : posY_;
  const double usableBottom =
      pixelsToUnitY(page_.paperHeight - page_.bottomStrip() - page_.offsetTop) - marginBottom_ - marginTop_;
  const double twoPixels = pixelsToUnitY(2);

  for (int i = 3; i < argc; ++i) {
    std::string text;
    if (!printable(argv[i], &text)) continue;
    std::vector<std::string> pieces = splitLines(text);
    for (size_t k = 0; k < pieces.size(); ++k) {
      const std::string& piece = pieces[k];
      QSizeF size = surface_->measure(piece.empty() ? std::string("W") : piece, style.font);
      double height = pixelsToUnitY(size.height());
      if (lines && y > 0 && y + height > usableBottom) {
        if (!surface_->newPage()) {
          closeJob(false);
          return;
        }
        y = 0;
        ++pageNumber_;
        refreshProgress();
      }
      if (!piece.empty())
        surface_->drawText(unitToPixelsX(x + marginLeft_), unitToPixelsY(y + marginTop_), piece, style);
      bool lineBreakFollows = k + 1 < pieces.size();
      if (lineBreakFollows || lines) {
        y += height + twoPixels;
      } else {
        double width = piece.empty() ? 0 : surface_->measure(piece, style.font).width();
        x += width / pixelsPerUnit(unit_, page_.dpiX);
      }
    }
  }
  if (lines) {
    posX_ = x;
    posY_ = y;
  }
}

double Printer::textWidth(const std::string& gbk) const {
  if (!jobOpen() || gbk.empty()) return 0;
  return surface_->measure(gbk, textStyle().font).width() / pixelsPerUnit(unit_, page_.dpiX);
}

double Printer::sheetBottom() const {
  if (!jobOpen()) return 0;
  return (page_.paperHeight - page_.offsetTop) / pixelsPerUnit(unit_, page_.dpiY) - marginTop_;
}

void Printer::printTextAt(int argc, const rt::Arg* argv) { output(argc, argv, false); }
void Printer::printTextLines(int argc, const rt::Arg* argv) { output(argc, argv, true); }

void Printer::drawLine(int argc, const rt::Arg* argv) {
  if (!prepareOutput()) return;
  int64_t c[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) intArg(argc, argv, i + 1, &c[i]);
  surface_->drawLine(unitToPixelsX(double(c[0]) + marginLeft_), unitToPixelsY(double(c[1]) + marginTop_),
                     unitToPixelsX(double(c[2]) + marginLeft_), unitToPixelsY(double(c[3]) + marginTop_), penStyle());
}

void Printer::drawPainting(double x, double y, double w, double h, const Surface::Painting& paint) {
  if (!prepareOutput()) return;
  const double left = unitToPixelsX(x + marginLeft_), top = unitToPixelsY(y + marginTop_);
  surface_->drawPainting(QRectF(left, top, unitToPixelsX(w), unitToPixelsY(h)), paint);
}

// --- the printer objects of the program and their commands ---------------------

Printer& printerFor(uint32_t windowId, uint32_t controlId) {
  static std::map<uint64_t, std::unique_ptr<Printer>> printers;
  auto& p = printers[uint64_t(windowId) << 32 | controlId];
  if (!p) p = std::make_unique<Printer>();
  return *p;
}

namespace {

// The printer named by argument 0, or null when it is not a printer.
Printer* printerArg(int argc, const rt::Arg* argv) {
  const rt::Arg* a = rt::argAt(argc, argv, 0);
  if (!a || a->kind != rt::kPrinter) return nullptr;
  return &printerFor(a->lo, a->hi);
}

void cmdBeginPrinting(rt::Arg* r, int argc, const rt::Arg* argv) {
  Printer* p = printerArg(argc, argv);
  *r = rt::makeBool(p && p->begin(argc, argv));
}
void cmdEndPrinting(rt::Arg*, int argc, const rt::Arg* argv) {
  if (Printer* p = printerArg(argc, argv)) p->end();
}
void cmdPrintTextAt(rt::Arg*, int argc, const rt::Arg* argv) {
  if (Printer* p = printerArg(argc, argv)) p->printTextAt(argc, argv);
}
void cmdDrawLine(rt::Arg*, int argc, const rt::Arg* argv) {
  if (Printer* p = printerArg(argc, argv)) p->drawLine(argc, argv);
}

rt::Arg printerProperty(uint32_t windowId, uint32_t controlId, int prop) {
  return printerFor(windowId, controlId).property(prop);
}
void setPrinterProperty(uint32_t windowId, uint32_t controlId, int prop, int subField, const rt::Arg& v) {
  printerFor(windowId, controlId).setProperty(prop, subField, v);
}

}  // namespace

void registerPrintCommands() {
  // The forms layer checks window and control, then hands printer
  // properties to the printer object.
  forms::registerKindProperties(forms::kPrinterKind, printerProperty, setPrinterProperty);
  rt::registerCommand(rt::Cmd::BeginPrinting, cmdBeginPrinting);
  rt::registerCommand(rt::Cmd::EndPrinting, cmdEndPrinting);
  rt::registerCommand(rt::Cmd::PrintTextAt, cmdPrintTextAt);
  rt::registerCommand(rt::Cmd::DrawLine, cmdDrawLine);
}

}  // namespace print
