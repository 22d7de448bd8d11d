// The printer object: properties, units, positions, the job's life, the
// dialogs, and real PDF output measured in millimetres.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPrintDialog>
#include <QTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>

#include "../forms/qt_support.h"
#include "print/printer.h"
#include "print/progress.h"
#include "runtime/blocks.h"
#include "runtime/commands.h"
#include "runtime/dialogs.h"
#include "runtime/facade.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace {

using print::Printer;
using print::Recorded;
using rt::Arg;

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override { app_ = &qtest::app(); }
  QApplication* app_ = nullptr;
};
[[maybe_unused]] testing::Environment* const kQt = testing::AddGlobalTestEnvironment(new QtEnvironment);

// Answers the print dialog as a test says and prints on a recording
// surface.
class ScriptedBackend : public print::Backend {
 public:
  bool cancel = false;
  bool toFile = false;
  std::string dialogFile;  // the file the dialog's own choice names
  bool defaultPrinter = true;
  bool refuseJob = false;
  int refusePageAfter = -1;
  bool landscapePage = false;
  int dialogs = 0;
  print::JobSettings seen;
  std::string openedFile;
  // What the dialog hands back.
  int copiesChosen = 2;
  bool rangeChosen = false;
  int fromChosen = 3, toChosen = 4;
  print::RecordingSurface::Log log = std::make_shared<std::vector<Recorded>>();

  bool hasDefaultPrinter() override { return defaultPrinter; }
  bool showPrintDialog(print::JobSettings& s) override {
    ++dialogs;
    seen = s;
    if (cancel) return false;
    s.printToFile = toFile;
    s.dialogFile = dialogFile;
    s.copies = copiesChosen;
    s.pageRangeChosen = rangeChosen;
    s.fromPage = fromChosen;
    s.toPage = toChosen;
    return true;
  }
  std::unique_ptr<print::Surface> openDevice(const print::JobSettings&, const std::string& file) override {
    openedFile = file;
    return std::make_unique<print::RecordingSurface>(print::testPage(landscapePage), log, refuseJob, refusePageAfter);
  }
};

class ScriptedDialogs : public rt::Dialogs {
 public:
  bool answerSave = true;
  std::string savePath;
  std::string askedCaption, askedFilter, prefilled;
  int message(const std::string&, const std::string&, uint32_t) override { return rt::kOk; }
  bool askText(const std::string&, const std::string&, std::string*, bool) override { return false; }
  bool saveFile(const std::string& caption, const std::string& filter, std::string* path) override {
    askedCaption = caption;
    askedFilter = filter;
    prefilled = *path;
    if (!answerSave) return false;
    *path = savePath;
    return true;
  }
};

class PrinterTest : public testing::Test {
 protected:
  void SetUp() override {
    print::setBackend(&backend);
    rt::setDialogs(&dialogs);
  }
  void TearDown() override {
    printer.end();
    print::setBackend(nullptr);
    rt::setDialogs(nullptr);
  }
  Arg self() const { return rt::makeObject(rt::kPrinter, 1, 2); }
  // BeginPrinting as module code calls it: all six optional positions.
  bool beginAll(Arg dialog = Arg{}, Arg progress = Arg{}, Arg paper = Arg{}, Arg orientation = Arg{}) {
    const Arg argv[] = {self(), dialog, progress, paper, orientation, Arg{}, Arg{}};
    return printer.begin(7, argv);
  }
  template <typename... Ts>
  void text(int x, int y, const Ts&... values) {
    const Arg argv[] = {self(), rt::makeInt(x), rt::makeInt(y), rt::val(values)...};
    printer.printTextAt(int(sizeof argv / sizeof argv[0]), argv);
  }
  void line(int x1, int y1, int x2, int y2) {
    const Arg argv[] = {self(), rt::makeInt(x1), rt::makeInt(y1), rt::makeInt(x2), rt::makeInt(y2)};
    printer.drawLine(5, argv);
  }
  int prop(int p) const { return rt::lowInt(printer.property(p)); }
  void set(int p, int v, int sub = -1) { printer.setProperty(p, sub, rt::makeInt(v)); }
  std::vector<Recorded> texts() const { return print::recordedOf(*backend.log, Recorded::Text); }
  std::vector<Recorded> lines() const { return print::recordedOf(*backend.log, Recorded::Line); }

  static constexpr double kPxPerUnit = 600.0 / 254.0;  // 0.1 mm at 600 dpi
  ScriptedBackend backend;
  ScriptedDialogs dialogs;
  Printer printer;
};

TEST_F(PrinterTest, PropertiesClampAndDefaults) {
  EXPECT_EQ(prop(Printer::kUnit), 1);
  EXPECT_EQ(prop(Printer::kDrawMode), 12);
  EXPECT_EQ(prop(Printer::kBrushColor), 0xFFFFFF);
  EXPECT_EQ(uint32_t(prop(Printer::kBackColor)), Printer::kTransparent);
  EXPECT_EQ(prop(Printer::kCopies), 1);
  EXPECT_EQ(prop(Printer::kMinPage), -1);
  set(Printer::kUnit, 9);
  EXPECT_EQ(prop(Printer::kUnit), 5);
  set(Printer::kUnit, -3);
  EXPECT_EQ(prop(Printer::kUnit), 0);
  set(Printer::kSelection, 4);
  EXPECT_EQ(prop(Printer::kSelection), 1);
  set(Printer::kPenWidth, 40000);
  EXPECT_EQ(prop(Printer::kPenWidth), 32767);
  set(Printer::kCopies, -5);
  EXPECT_EQ(prop(Printer::kCopies), -1);
  set(Printer::kPenStyle, 7);
  EXPECT_EQ(prop(Printer::kPenStyle), 6);
  // Read-only values ignore writes and read neutral without a job.
  set(Printer::kPageNumber, 7);
  set(Printer::kAborted, 1);
  EXPECT_EQ(prop(Printer::kPageNumber), 1);
  EXPECT_EQ(prop(Printer::kCopyNumber), 1);
  EXPECT_EQ(prop(Printer::kPrintableWidth), 0);
  EXPECT_EQ(prop(Printer::kAborted), 0);

  printer.setProperty(Printer::kDocName, -1, rt::makeTextRef("bill"));
  rt::Result name(printer.property(Printer::kDocName));
  EXPECT_EQ(name.text(), "bill");
}

TEST_F(PrinterTest, FontSizeFaceAndDeviceHeightPerUnit) {
  set(Printer::kFont, 12, 5);  // 12 points: stored as -16 at 96 dpi
  rt::Result rec(printer.property(Printer::kFont));
  size_t n = 0;
  const uint8_t* bytes = rt::byteSetData(rt::pointerValue<const void>(rec.arg()), &n);
  ASSERT_EQ(n, 60u);
  int32_t height;
  std::memcpy(&height, bytes, 4);
  EXPECT_EQ(height, -16);
  EXPECT_EQ(bytes[23], 134);

  struct {
    int unit;
    int want;
  } cases[] = {
      {1, -42},   // 12 x 3.5250987...
      {2, -423},  // 12 x 35.250987...
      {3, -16},   // 12 x 1.38888...
      {4, -166},  // 12 x 13.8888...
      {5, -240},  // 12 x 20
  };
  for (auto c : cases) {
    set(Printer::kUnit, c.unit);
    EXPECT_EQ(printer.deviceFontHeight(), c.want) << "unit " << c.unit;
  }
  set(Printer::kFont, 9, 5);  // 9 points -> -12 -> back to 9 points
  set(Printer::kUnit, 1);
  EXPECT_EQ(printer.deviceFontHeight(), -31);
  // 11 points are 14.67 pixels: the stored height is rounded, not cut.
  set(Printer::kFont, 11, 5);
  rt::Result rec11(printer.property(Printer::kFont));
  std::memcpy(&height, rt::byteSetData(rt::pointerValue<const void>(rec11.arg()), &n), 4);
  EXPECT_EQ(height, -15);
  EXPECT_EQ(printer.deviceFontHeight(), -39);  // 11.25 points x 3.525..., truncated
  set(Printer::kFont, 10, 5);                  // 13.33 pixels
  rt::Result rec10(printer.property(Printer::kFont));
  std::memcpy(&height, rt::byteSetData(rt::pointerValue<const void>(rec10.arg()), &n), 4);
  EXPECT_EQ(height, -13);

  auto face = [&] {
    rt::Result r(printer.property(Printer::kFont));
    size_t len = 0;
    const uint8_t* b = rt::byteSetData(rt::pointerValue<const void>(r.arg()), &len);
    return std::string(reinterpret_cast<const char*>(b + 28));
  };
  printer.setProperty(Printer::kFont, 6, rt::makeTextRef(std::string(31, 'F').c_str()));
  EXPECT_EQ(face(), std::string(31, 'F'));
  printer.setProperty(Printer::kFont, 6, rt::makeTextRef(std::string(32, 'F').c_str()));
  EXPECT_EQ(face(), GBK("宋体"));
  printer.setProperty(Printer::kFont, 6, rt::makeTextRef("Arial"));
  printer.setProperty(Printer::kFont, 6, rt::makeTextRef(nullptr));
  EXPECT_EQ(face(), GBK("宋体"));
  set(Printer::kFont, 3605, 0);  // angle modulo 3600
  rt::Result r(printer.property(Printer::kFont));
  size_t len = 0;
  const uint8_t* b = rt::byteSetData(rt::pointerValue<const void>(r.arg()), &len);
  int32_t angle;
  std::memcpy(&angle, b + 8, 4);
  EXPECT_EQ(angle, 5);
}

TEST_F(PrinterTest, TextPositionsLineBreaksAndValues) {
  ASSERT_TRUE(beginAll());
  set(Printer::kFont, 12, 5);
  text(200, 350, "A\r\nB");
  text(100, 1000, "ab", "cd");
  text(0, 1500, "x\ny\rz");
  text(0, 2000, int32_t(12), 0.1f, 1e15, true, rt::DateTime{40000.0});
  // Other kinds are skipped, an empty value prints nothing and takes no room.
  const Arg odd[] = {self(), rt::makeInt(0),      rt::makeInt(2500), rt::makeObject(rt::kWindow, 1, 1),
                     Arg{},  rt::makeTextRef("k")};
  printer.printTextAt(6, odd);

  std::vector<Recorded> t = texts();
  ASSERT_EQ(t.size(), 2u + 2u + 3u + 5u + 1u);
  // B one line below A at the same x: A's height plus two device pixels.
  EXPECT_NEAR(t[0].x, 200 * kPxPerUnit, 1e-6);
  EXPECT_NEAR(t[0].y, 350 * kPxPerUnit, 1e-6);
  EXPECT_EQ(t[1].text, "B");
  EXPECT_NEAR(t[1].x, t[0].x, 1e-6);
  EXPECT_NEAR(t[1].y, t[0].y + t[0].height + 2, 1e-6);
  // The font is 42 units of 0.1 mm high at 600 dpi.
  EXPECT_EQ(t[0].fontPixels, int(std::lround(42 * kPxPerUnit)));
  // The second value continues right after the first.
  EXPECT_EQ(t[3].text, "cd");
  EXPECT_NEAR(t[3].x, t[2].x + t[2].width, 1e-6);
  EXPECT_NEAR(t[3].y, t[2].y, 1e-6);
  // LF and CR alone break lines too.
  EXPECT_EQ(t[5].text, "y");
  EXPECT_EQ(t[6].text, "z");
  EXPECT_NEAR(t[6].y, t[4].y + t[4].height + 2 + t[5].height + 2, 1e-6);
  EXPECT_EQ(t[7].text, "12");
  EXPECT_EQ(t[8].text, "0.1");
  EXPECT_EQ(t[9].text, "1e+015");
  EXPECT_EQ(t[10].text, GBK("真"));
  EXPECT_EQ(t[11].text, GBK("2009年7月6日"));
  EXPECT_EQ(t[12].text, "k");
  EXPECT_NEAR(t[12].x, 0, 1e-6);
}

TEST_F(PrinterTest, LinesUnitsAndMargins) {
  ASSERT_TRUE(beginAll());
  line(200, 350, 2750, 350);
  set(Printer::kLeftMargin, 100);
  set(Printer::kTopMargin, 50);
  line(0, 0, 10, 10);
  set(Printer::kUnit, 0);  // device pixels: margins are pixels now
  line(1, 2, 3, 4);
  set(Printer::kUnit, 5);
  set(Printer::kLeftMargin, 0);
  set(Printer::kTopMargin, 0);
  set(Printer::kPenWidth, 144);
  line(1440, 0, 2880, 0);

  std::vector<Recorded> l = lines();
  ASSERT_EQ(l.size(), 4u);
  // 255 mm long, 35 mm below the top of the printable area.
  EXPECT_NEAR((l[0].x2 - l[0].x) / 600 * 25.4, 255.0, 1e-9);
  EXPECT_NEAR(l[0].y / 600 * 25.4, 35.0, 1e-9);
  // The default pen draws 0.1 mm wide, not one 600-dpi pixel.
  EXPECT_NEAR(l[0].penWidth, 600 * 0.1 / 25.4, 1e-9);
  EXPECT_NEAR(l[1].x, 100 * kPxPerUnit, 1e-9);
  EXPECT_NEAR(l[1].y, 50 * kPxPerUnit, 1e-9);
  EXPECT_NEAR(l[2].x, 101, 1e-9);
  EXPECT_NEAR(l[2].y2, 54, 1e-9);
  EXPECT_NEAR(l[2].penWidth, 600 * 0.1 / 25.4, 1e-9);
  EXPECT_NEAR(l[3].x, 600, 1e-9);  // one inch
  EXPECT_NEAR(l[3].x2, 1200, 1e-9);
  EXPECT_NEAR(l[3].penWidth, 60, 1e-9);  // a tenth of an inch

  // The printable size in units, less the margins, 5 mm clear of the
  // sheet's right and bottom edges (the test page's own unprintable strips
  // are narrower).
  set(Printer::kUnit, 1);
  set(Printer::kRightMargin, 30);
  set(Printer::kLeftMargin, 20);
  const print::PageGeometry page = print::testPage();
  const double widthUnits = (page.paperWidth - page.offsetLeft) / kPxPerUnit - 50;  // 5 mm
  EXPECT_EQ(prop(Printer::kPrintableWidth), int(widthUnits) - 50);
  const double heightUnits = (page.paperHeight - page.offsetTop) / kPxPerUnit - 50;
  EXPECT_EQ(prop(Printer::kPrintableHeight), int(heightUnits));
}

TEST_F(PrinterTest, JobLifeCancelAndAbort) {
  backend.cancel = true;
  EXPECT_FALSE(beginAll());
  EXPECT_FALSE(printer.jobOpen());
  text(0, 0, "lost");
  line(0, 0, 1, 1);
  printer.end();
  EXPECT_TRUE(backend.log->empty());
  EXPECT_EQ(backend.dialogs, 1);

  // The dialog is skipped only when asked and a default printer exists.
  backend.cancel = false;
  ASSERT_TRUE(beginAll(rt::makeBool(false)));
  EXPECT_EQ(backend.dialogs, 1);
  EXPECT_FALSE(beginAll()) << "a second job while one is open";
  printer.end();
  printer.end();  // no job: nothing
  backend.defaultPrinter = false;
  ASSERT_TRUE(beginAll(rt::makeBool(false)));
  EXPECT_EQ(backend.dialogs, 2);

  // The progress window: job name, destination, copies, page; its abort
  // button ends the job at once.
  print::ProgressWindow* progress = printer.progressWindow();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->jobText(), QString::fromUtf8("未命名打印作业"));
  EXPECT_EQ(progress->destinationText(), QString::fromUtf8("Recorder 上的 REC:"));
  EXPECT_EQ(progress->copiesText(), "1");
  EXPECT_EQ(progress->pageText(), "1");
  text(0, 0, "before");
  progress->abortButton()->click();
  EXPECT_FALSE(printer.jobOpen());
  EXPECT_EQ(prop(Printer::kAborted), 0);
  text(0, 0, "after");
  EXPECT_EQ(backend.log->back().op, Recorded::AbortJob);
  ASSERT_EQ(texts().size(), 1u);
  EXPECT_EQ(texts()[0].text, "before");

  // No progress window when asked for none; a device that refuses the job.
  ASSERT_TRUE(beginAll(Arg{}, rt::makeBool(false)));
  EXPECT_EQ(printer.progressWindow(), nullptr);
  printer.end();
  backend.refuseJob = true;
  EXPECT_FALSE(beginAll());
  EXPECT_FALSE(printer.jobOpen());
}

TEST_F(PrinterTest, DialogSettingsPaperAndOrientation) {
  set(Printer::kCopies, 3);
  set(Printer::kMinPage, 2);
  set(Printer::kMaxPage, -1);
  set(Printer::kFromPage, 0);
  set(Printer::kToPage, 70000);
  set(Printer::kCollate, 1);
  // Paper and orientation apply only with more than four arguments.
  const Arg four[] = {self(), Arg{}, Arg{}, rt::makeInt(2)};
  ASSERT_TRUE(printer.begin(4, four));
  EXPECT_TRUE(backend.seen.pageRangeEnabled);
  EXPECT_EQ(backend.seen.minPage, 2);
  EXPECT_EQ(backend.seen.maxPage, 65535);
  EXPECT_EQ(backend.seen.fromPage, 2);
  EXPECT_EQ(backend.seen.toPage, 65535);
  EXPECT_EQ(backend.seen.copies, 3);
  EXPECT_TRUE(backend.seen.collate);
  EXPECT_FALSE(backend.seen.applyPaper);
  EXPECT_FALSE(backend.seen.applyOrientation);
  // Written back: copies, and the page range (none chosen: -1).
  EXPECT_EQ(prop(Printer::kCopies), 2);
  EXPECT_EQ(prop(Printer::kFromPage), -1);
  EXPECT_EQ(prop(Printer::kPageNumber), 1);
  printer.end();

  backend.rangeChosen = true;
  ASSERT_TRUE(beginAll(Arg{}, Arg{}, rt::makeInt(2), rt::makeInt(1)));
  EXPECT_TRUE(backend.seen.applyPaper);
  EXPECT_EQ(backend.seen.paperCode, 9);  // A4
  EXPECT_TRUE(backend.seen.landscape);
  EXPECT_EQ(prop(Printer::kFromPage), 3);
  EXPECT_EQ(prop(Printer::kToPage), 4);
  EXPECT_EQ(prop(Printer::kPageNumber), 3);
  printer.end();

  ASSERT_TRUE(beginAll(Arg{}, Arg{}, rt::makeInt(500)));
  EXPECT_FALSE(backend.seen.applyPaper);
  EXPECT_TRUE(backend.seen.applyOrientation);
  EXPECT_FALSE(backend.seen.landscape) << "an omitted orientation is portrait";
  printer.end();

  EXPECT_EQ(print::paperCodeFor(7), 93);
  EXPECT_EQ(print::paperCodeFor(8), 94);
  EXPECT_EQ(print::paperCodeFor(16), 14);
  EXPECT_EQ(print::paperCodeFor(17), 0);
  EXPECT_EQ(print::paperCodeFor(1000), 1);
  EXPECT_EQ(print::paperCodeFor(-4), 0);
}

TEST_F(PrinterTest, PrintToFileAsksForTheFile) {
  backend.toFile = true;
  dialogs.answerSave = false;
  EXPECT_FALSE(beginAll());
  EXPECT_EQ(rt::gbkToUtf8(dialogs.askedCaption), "打印到文件");
  EXPECT_EQ(dialogs.prefilled, "Output.prn");
  EXPECT_NE(dialogs.askedFilter.find("*.prn"), std::string::npos);
  EXPECT_TRUE(backend.openedFile.empty()) << "no device after a cancelled file dialog";

  dialogs.answerSave = true;
  dialogs.savePath = "/tmp/some dir/bill";
  ASSERT_TRUE(beginAll());
  EXPECT_EQ(backend.openedFile, "/tmp/some dir/bill.prn");
  EXPECT_EQ(printer.progressWindow()->destinationText(), "bill.prn");
  printer.end();
  dialogs.savePath = "/tmp/x.pdf";
  ASSERT_TRUE(beginAll());
  EXPECT_EQ(backend.openedFile, "/tmp/x.pdf");
}

// The file named in the print dialog is the file written: no second prompt.
TEST_F(PrinterTest, AFileNamedInTheDialogIsNotAskedForAgain) {
  backend.toFile = true;
  backend.dialogFile = "/tmp/some dir/bill.pdf";
  ASSERT_TRUE(beginAll());
  EXPECT_TRUE(dialogs.askedCaption.empty()) << "asked again for the file";
  EXPECT_EQ(backend.openedFile, "/tmp/some dir/bill.pdf");
  EXPECT_EQ(printer.progressWindow()->destinationText(), "bill.pdf");
  printer.end();
  // A printer, not a file: no prompt, no file.
  backend.toFile = false;
  backend.dialogFile.clear();
  ASSERT_TRUE(beginAll());
  EXPECT_TRUE(dialogs.askedCaption.empty());
  EXPECT_TRUE(backend.openedFile.empty());
}

// Headings line up with spaces and digits on paper as in 宋体: each is half
// a Chinese character wide.
TEST_F(PrinterTest, SpacesAndDigitsAreHalfAChineseCharacterOnPaper) {
  ASSERT_TRUE(beginAll());
  for (int points : {9, 11, 12}) {
    set(Printer::kFont, points, 5);
    text(0, 0, GBK("中"), " ", "8", "       ");
    std::vector<Recorded> t = texts();
    ASSERT_EQ(t.size(), 4u);
    const double han = t[0].width;
    ASSERT_GT(han, 0);
    EXPECT_NEAR(t[1].width, han / 2, han * 0.01) << points << " pt";
    EXPECT_NEAR(t[2].width, han / 2, han * 0.01) << points << " pt";
    EXPECT_NEAR(t[3].width, 3.5 * han, han * 0.03) << points << " pt";
    backend.log->clear();
  }
}

TEST_F(PrinterTest, TextLinesBreakPagesAndFailedPagesEndTheJob) {
  ASSERT_TRUE(beginAll());
  set(Printer::kFont, 72, 5);  // about 25 mm a line: 11 lines fit on A4
  for (int i = 0; i < 15; ++i) {
    const Arg argv[] = {self(), Arg{}, Arg{}, rt::makeTextRef("line")};
    printer.printTextLines(4, argv);
  }
  std::vector<Recorded> t = texts();
  ASSERT_EQ(t.size(), 15u);
  const double bottom = print::testPage().printableHeight;
  int breaks = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    EXPECT_LE(t[i].y + t[i].height, bottom + 1e-6) << "line " << i << " passes the bottom";
    if (i > 0 && t[i].y < t[i - 1].y) {
      ++breaks;
      // A new page starts at the top, and only when the line did not fit.
      EXPECT_NEAR(t[i].y, 0, 1e-6);
      EXPECT_GT(t[i - 1].y + t[i - 1].height + 2 + t[i].height, bottom);
    }
  }
  EXPECT_GE(breaks, 1);
  EXPECT_EQ(print::recordedOf(*backend.log, Recorded::NewPage).size(), size_t(breaks));
  EXPECT_EQ(prop(Printer::kPageNumber), 1 + breaks);
  EXPECT_EQ(printer.progressWindow()->pageText(), QString::number(1 + breaks));
  printer.end();

  // A page that cannot be started ends the job; the rest is dropped.
  backend.refusePageAfter = 1;
  backend.log->clear();
  ASSERT_TRUE(beginAll());
  set(Printer::kFont, 72, 5);
  for (int i = 0; i < 15; ++i) {
    const Arg argv[] = {self(), Arg{}, Arg{}, rt::makeTextRef("line")};
    printer.printTextLines(4, argv);
  }
  EXPECT_FALSE(printer.jobOpen());
  EXPECT_LT(texts().size(), 15u);
}

TEST_F(PrinterTest, NewPageCountsPagesAndARefusedPageEndsTheJob) {
  EXPECT_FALSE(printer.newPage());  // no job
  ASSERT_TRUE(beginAll());
  EXPECT_TRUE(printer.newPage());
  EXPECT_EQ(prop(Printer::kPageNumber), 2);
  EXPECT_EQ(printer.progressWindow()->pageText(), QString("2"));
  const Arg argv[] = {self(), rt::makeInt(100), rt::makeInt(100), rt::makeTextRef("p2")};
  printer.printTextAt(4, argv);
  EXPECT_EQ(print::recordedOf(*backend.log, Recorded::NewPage).size(), 1u);
  printer.end();

  backend.refusePageAfter = 1;
  ASSERT_TRUE(beginAll());
  EXPECT_FALSE(printer.newPage());
  EXPECT_FALSE(printer.jobOpen());
}

TEST_F(PrinterTest, CommandsReachThePrinterOfTheControl) {
  print::registerPrintCommands();
  Arg p = rt::makeObject(rt::kPrinter, 7, 9);
  rt::Result began(rt::invoke(rt::Cmd::BeginPrinting, p, rt::omitted, rt::omitted, rt::omitted, rt::omitted,
                              rt::omitted, rt::omitted));
  EXPECT_TRUE(began.boolean());
  rt::invoke(rt::Cmd::PrintTextAt, p, 10, 20, "via command");
  rt::invoke(rt::Cmd::DrawLine, p, 0, 0, 5, 5);
  rt::invoke(rt::Cmd::EndPrinting, p);
  EXPECT_FALSE(print::printerFor(7, 9).jobOpen());
  ASSERT_EQ(texts().size(), 1u);
  EXPECT_EQ(texts()[0].text, "via command");
  EXPECT_EQ(lines().size(), 1u);
  // Not a printer: false, nothing opened.
  EXPECT_FALSE(rt::invoke(rt::Cmd::BeginPrinting, 5).boolean());
}

// --- real PDF output --------------------------------------------------------------

// The Qt device with the dialog answered "print to file".
class PdfBackend : public print::Backend {
 public:
  bool hasDefaultPrinter() override { return false; }
  bool showPrintDialog(print::JobSettings& s) override {
    s.printToFile = true;
    return true;
  }
  std::unique_ptr<print::Surface> openDevice(const print::JobSettings& s, const std::string& f) override {
    return print::qtBackend().openDevice(s, f);
  }
};

struct Word {
  double xMin, yMin, xMax, yMax;  // millimetres
};

// Runs pdftotext -bbox and finds `word` on the first page.
bool findWord(const QString& pdf, const QString& word, Word* out, double* pageW, double* pageH) {
  QProcess p;
  p.start("pdftotext", {"-bbox", pdf, "-"});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return false;
  QString html = QString::fromUtf8(p.readAllStandardOutput());
  auto attr = [](const QString& tag, const char* name) {
    int i = tag.indexOf(QString(name) + "=\"");
    if (i < 0) return 0.0;
    i += int(std::strlen(name)) + 2;
    return tag.mid(i, tag.indexOf('"', i) - i).toDouble();
  };
  const double mm = 25.4 / 72;
  int page = html.indexOf("<page ");
  if (page < 0) return false;
  QString pageTag = html.mid(page, html.indexOf('>', page) - page);
  *pageW = attr(pageTag, "width") * mm;
  *pageH = attr(pageTag, "height") * mm;
  for (int i = html.indexOf("<word "); i >= 0; i = html.indexOf("<word ", i + 1)) {
    int close = html.indexOf('>', i);
    int end = html.indexOf("</word>", close);
    if (html.mid(close + 1, end - close - 1) != word) continue;
    QString tag = html.mid(i, close - i);
    *out = {attr(tag, "xMin") * mm, attr(tag, "yMin") * mm, attr(tag, "xMax") * mm, attr(tag, "yMax") * mm};
    return true;
  }
  return false;
}

// Renders the first page at 254 dpi (one pixel = 0.1 mm) and finds the
// extent of the dark pixels of row band [y0, y1) mm.
bool darkRowExtent(const QString& pdf, const QString& dir, double y0, double y1, double* left, double* right,
                   double* y) {
  QProcess p;
  p.start("pdftoppm", {"-r", "254", "-f", "1", "-l", "1", "-png", "-singlefile", pdf, dir + "/page"});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return false;
  QImage img(dir + "/page.png");
  if (img.isNull()) return false;
  int bestRow = -1, bestCount = 0, bestL = 0, bestR = 0;
  for (int row = int(y0 * 10); row < int(y1 * 10) && row < img.height(); ++row) {
    int count = 0, l = -1, r = -1;
    for (int x = 0; x < img.width(); ++x) {
      if (qGray(img.pixel(x, row)) < 250) {  // a one-pixel hairline renders pale grey
        ++count;
        if (l < 0) l = x;
        r = x;
      }
    }
    if (count > bestCount) bestCount = count, bestRow = row, bestL = l, bestR = r;
  }
  if (bestRow < 0) return false;
  *left = bestL / 10.0;
  *right = (bestR + 1) / 10.0;
  *y = bestRow / 10.0;
  return true;
}

class PdfTest : public testing::TestWithParam<bool> {};

TEST_P(PdfTest, PositionsMeasureRightInMillimetres) {
  const bool landscape = GetParam();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PdfBackend backend;
  ScriptedDialogs dialogs;
  dialogs.savePath = (dir.path() + "/bill").toStdString();
  print::setBackend(&backend);
  rt::setDialogs(&dialogs);

  Printer printer;
  Arg self = rt::makeObject(rt::kPrinter, 1, 1);
  const Arg begin[] = {self, Arg{}, rt::makeBool(false), rt::makeInt(2), rt::makeInt(landscape ? 1 : 2), Arg{}, Arg{}};
  ASSERT_TRUE(printer.begin(7, begin));
  printer.setProperty(Printer::kFont, 5, rt::makeInt(12));
  // 255 mm across a landscape page, 170 mm across a portrait one.
  const int x2 = landscape ? 2750 : 1900;
  const Arg line[] = {self, rt::makeInt(200), rt::makeInt(350), rt::makeInt(x2), rt::makeInt(350)};
  printer.drawLine(5, line);
  const Arg text[] = {self, rt::makeInt(300), rt::makeInt(600), rt::makeTextRef("MEASURE"),
                      rt::makeTextRef("\r\nNEXT")};
  printer.printTextAt(5, text);
  printer.end();
  print::setBackend(nullptr);
  rt::setDialogs(nullptr);

  QString pdf = dir.path() + "/bill.prn";
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(5), QByteArray("%PDF-"));
  f.close();

  Word w{}, next{};
  double pageW = 0, pageH = 0;
  ASSERT_TRUE(findWord(pdf, "MEASURE", &w, &pageW, &pageH));
  ASSERT_TRUE(findWord(pdf, "NEXT", &next, &pageW, &pageH));
  EXPECT_NEAR(pageW, landscape ? 297 : 210, 0.5);
  EXPECT_NEAR(pageH, landscape ? 210 : 297, 0.5);
  EXPECT_NEAR(w.xMin, 30.0, 0.5);
  EXPECT_NEAR(w.yMin, 60.0, 0.5);
  // 12 points is about 4.2 mm of text; the next line starts below it.
  EXPECT_NEAR(w.yMax - w.yMin, 12 * 25.4 / 72 * 1.1, 1.5);
  EXPECT_NEAR(next.xMin, 30.0 + (w.xMax - w.xMin), 0.5) << "continues right of the first value";
  EXPECT_GT(next.yMin, w.yMin + 3.5);

  double left = 0, right = 0, y = 0;
  ASSERT_TRUE(darkRowExtent(pdf, dir.path(), 30, 40, &left, &right, &y));
  EXPECT_NEAR(left, 20.0, 0.5);
  EXPECT_NEAR(right - left, (x2 - 200) / 10.0, 0.5);
  EXPECT_NEAR(y, 35.0, 0.5);
}

INSTANTIATE_TEST_SUITE_P(Orientation, PdfTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Landscape" : "Portrait"; });

// How dark a line is across row band [y0, y1) of column x on a page
// rendered at 254 dpi (one pixel = 0.1 mm): the sum of every pixel's
// darkness, so a line of full black n pixels wide gives n however the
// renderer smooths its edges.
double inkAcross(const QImage& page, int x, int y0, int y1) {
  double ink = 0;
  for (int y = y0; y < y1 && y < page.height(); ++y) ink += (255 - qGray(page.pixel(x, y))) / 255.0;
  return ink;
}

// The real print dialog, in Chinese, with its own "print to file" choice
// naming a PDF: that file is written, nothing asks for a file again, and
// the default pen's lines are 0.1 mm wide in it.
TEST(QtPrintDialog, PdfNamedInTheDialogIsWrittenWithVisibleLines) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString pdf = dir.path() + "/bill.pdf";
  ScriptedDialogs dialogs;
  print::setBackend(nullptr);
  rt::setDialogs(&dialogs);

  qtest::ExpectModal modal;
  QString title;
  bool answered = false;
  QTimer poll;
  int tries = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dlg = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
    if (!dlg) {
      if (++tries > 250) {
        ADD_FAILURE() << "no print dialog";
        poll.stop();
      }
      return;
    }
    poll.stop();
    title = dlg->windowTitle();
    auto* printers = dlg->findChild<QComboBox*>("printers");
    auto* file = dlg->findChild<QLineEdit*>("filename");
    if (!printers || !file) {
      ADD_FAILURE() << "the dialog has no printer list or file name box";
      dlg->reject();
      return;
    }
    printers->setCurrentIndex(printers->count() - 1);  // the PDF file choice comes last
    file->setText(pdf);
    answered = true;
    dlg->accept();
  });
  poll.start(20);

  Printer printer;
  const Arg self = rt::makeObject(rt::kPrinter, 1, 3);
  const Arg begin[] = {self, Arg{}, rt::makeBool(false), rt::makeInt(2), rt::makeInt(2), Arg{}, Arg{}};
  ASSERT_TRUE(printer.begin(7, begin));
  ASSERT_TRUE(answered);
  EXPECT_EQ(title, QString::fromUtf8("打印"));
  EXPECT_TRUE(dialogs.askedCaption.empty()) << "asked for the file a second time";

  // On this device too a space and a digit are half a Chinese character.
  printer.setProperty(Printer::kFont, 5, rt::makeInt(12));
  const QFont font = printer.deviceFont();
  const double han = printer.surface()->measure(GBK("中"), font).width();
  EXPECT_NEAR(printer.surface()->measure(" ", font).width(), han / 2, han * 0.01);
  EXPECT_NEAR(printer.surface()->measure("0", font).width(), han / 2, han * 0.01);

  // A rule with the default pen at 35 mm, one with a 0.5-mm pen at 70 mm.
  const Arg thin[] = {self, rt::makeInt(200), rt::makeInt(350), rt::makeInt(1800), rt::makeInt(350)};
  printer.drawLine(5, thin);
  printer.setProperty(Printer::kPenWidth, -1, rt::makeInt(5));
  const Arg wide[] = {self, rt::makeInt(200), rt::makeInt(700), rt::makeInt(1800), rt::makeInt(700)};
  printer.drawLine(5, wide);
  printer.end();
  rt::setDialogs(nullptr);

  // The one file, under the name given in the dialog.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"bill.pdf"});
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(5), QByteArray("%PDF-"));
  f.close();

  QProcess p;
  p.start("pdftoppm", {"-r", "254", "-gray", "-f", "1", "-l", "1", "-png", "-singlefile", pdf, dir.path() + "/page"});
  ASSERT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << "pdftoppm (poppler-utils) failed";
  QImage page(dir.path() + "/page.png");
  ASSERT_FALSE(page.isNull());
  for (int x : {300, 1000, 1700}) {
    EXPECT_GE(inkAcross(page, x, 330, 370), 0.9) << "default pen at " << x / 10 << " mm";
    EXPECT_NEAR(inkAcross(page, x, 670, 730), 5.0, 0.6) << "0.5-mm pen at " << x / 10 << " mm";
  }
}

}  // namespace
