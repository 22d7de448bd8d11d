// Internals of the live window layer shared by its sources: the widget
// classes behind each control kind, the record of a loaded window and the
// registry calls the commands use. Not for module code (live_windows.h is).
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QAbstractTableModel>
#include <QTreeView>
#include <QWidget>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "forms/model.h"
#include "forms/qtext.h"
#include "forms/live_windows.h"
#include "runtime/value.h"

class QAction;
class QEventLoop;
class QMenuBar;
class QTimer;

namespace forms::detail {

// Raises one item's events for as long as its window is loaded. Widgets
// keep one; after the window's teardown it raises nothing, so a widget
// that outlives its window by a few queued events never reaches module
// code (or the "window not found" fatal path).
struct Raiser {
  uint32_t window = 0;
  uint32_t item = 0;
  std::shared_ptr<bool> alive;
  void operator()(int32_t event) const;
  // Later, from the event loop (focus changes must finish first).
  void queued(int32_t event) const;
};

// --- fonts and colours ---------------------------------------------------------

// The windows were laid out for text about 14 px per Chinese character
// where the template stores a 19-px font (about 12 px where it stores 16):
// drawn at the stored size, captions run past their labels and buttons.
// Every stored height is scaled by this one factor, so the windows keep
// their proportions.
constexpr double kTemplateFontScale = 14.0 / 19.0;
// The system's default font (9 pt at 96 dpi), used where a control stores
// no font; the layouts already assume it.
constexpr int kDefaultFontPixels = 12;

// The pixel height a stored font height is drawn with on screen.
int screenFontPixels(int32_t storedHeight);
// The font of a template font record (an absent record: 宋体 12 px, the
// system's default font).
QFont templateFont(const Font& f);
// A colour word of the template (0x00BBGGRR; top byte 0xFF: a system colour).
QColor templateColor(uint32_t word, const QColor& systemFallback);

// --- widgets ------------------------------------------------------------------

class EditBox : public QLineEdit {
 public:
  EditBox(const Item& it, Raiser r, QWidget* parent);
  // A write of the content by module code: raises content changed even
  // when the text stays the same, as the box's change notification does.
  void setContent(const QString& s);

 private:
  Raiser raise_;
};

class ComboBox : public QComboBox {
 public:
  ComboBox(const Item& it, QWidget* parent);
  int type() const { return type_; }
  void setType(int t);
  bool sorted() const { return sorted_; }
  // Adds an item (sorted when the box sorts); returns its index.
  int addEntry(const QString& text, int32_t data);
  QString content() const;
  void setContent(const QString& s);
  void showPopup() override;

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  int type_ = 1;
  bool sorted_ = false;
};

class Button : public QPushButton {
 public:
  Button(const Item& it, QWidget* parent);
  int type() const { return type_; }
  void setType(int t);

 private:
  int type_ = 0;
};

class Label : public QLabel {
 public:
  Label(const Item& it, bool transparent, QWidget* parent);
  // Places the label at its designed rectangle (grown to its text when it
  // is a one-line label).
  void place(const QRect& designed);
  // A caption written by module code; a one-line label grows to it.
  void setCaption(const QString& s);

 protected:
  // Takes the press so the release (the transparent labels' click) comes
  // back to the label.
  void mousePressEvent(QMouseEvent* e) override;

 private:
  bool sized_ = false;
  int designWidth_ = 0, designHeight_ = 0;
};

class ShapeBox : public QFrame {
 public:
  ShapeBox(const Item& it, QWidget* parent);
};

class GroupBox : public QGroupBox {
 public:
  GroupBox(const Item& it, QWidget* parent);
};

class DatePicker : public QDateEdit {
 public:
  DatePicker(const Item& it, QWidget* parent);
  double value() const;  // date-time
  void setValue(double dateTime);
};

// The rows of a report-style list. Cells are kept as the GBK texts module
// code gave and become QStrings only for the rows the view draws, so a
// table of tens of thousands of lines costs one string per cell.
class ListModel : public QAbstractTableModel {
 public:
  struct Row {
    std::vector<std::string> cells;  // GBK, one per column
    int32_t image = -1, stateImage = 0, indent = 0, data = 0;
    uint32_t background = kNoBackground;  // 0xRRGGBB
  };

  ListModel(std::vector<QString> captions, std::vector<Qt::Alignment> align, QObject* parent);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  const Row& row(int i) const { return rows_[size_t(i)]; }
  // One row or one cell, each with its signal.
  void insert(int index, Row row);
  void setCell(int row, int column, std::string gbk);
  void setBackground(int row, uint32_t rgb);
  // Every row at once, in one reset.
  void replaceAll(std::deque<Row> rows);

 private:
  std::vector<QString> captions_;
  std::vector<Qt::Alignment> align_;
  std::deque<Row> rows_;
};

// A report-style list. Rows inserted after a ListClear are kept aside and
// handed to the model in one reset, when anything reads the list or at the
// next turn of the message loop: a table of tens of thousands of lines then
// fills without a model signal per inserted row and cell. What module code
// sees (rows, texts, selection) is the same either way.
class ListView : public QTreeView {
 public:
  ListView(const Item& it, Raiser r, QWidget* parent);
  int columnCount() const { return model_->columnCount(); }
  int rowCount() const { return filling_ ? int(pending_.size()) : model_->rowCount(); }
  // Inserts a row (index out of range or negative: appended); returns it.
  int insertRow(int index, std::string gbkCaption, int32_t image, int32_t stateImage, int32_t indent, int32_t data);
  bool setCellText(int row, int column, std::string gbk);
  bool setRowBackground(int row, uint32_t rgb);
  int selectedRow();
  void selectRow(int row);  // -1 or out of range: no selection
  void clearRows();
  ListItemInfo info(int row);

 protected:
  bool event(QEvent* e) override;

 private:
  // The rows kept aside go into the model.
  void flush();

  ListModel* model_;
  bool filling_ = false;
  std::deque<ListModel::Row> pending_;
};

class DrawPanel : public QWidget {
 public:
  DrawPanel(const Item& it, QWidget* parent);
  // Clears the whole surface (no rectangle) or the rectangle to the
  // background; the text position moves to its top-left corner.
  void clearArea(std::optional<QRect> r);
  // Writes the texts one after another from (x, y) (an omitted coordinate
  // keeps the current text position); the text position ends after the
  // last one.
  void textAt(std::optional<int> x, std::optional<int> y, const std::vector<QString>& texts);
  void line(int x1, int y1, int x2, int y2);
  void setPointSize(int points);
  int pointSize() const { return points_; }
  int textWidth(const QString& text) const { return QFontMetrics(font_).horizontalAdvance(text); }
  QPoint textPosition() const { return pos_; }
  const QImage& surface() const { return surface_; }
  const std::vector<PanelDrawn>& drawn() const { return drawn_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  QImage surface_;
  std::vector<PanelDrawn> drawn_;  // since the last full clear
  QFont font_;
  int points_ = 0;
  QPoint pos_;
  QColor back_ = Qt::white, fore_ = Qt::black;
};

// The window's client area: background colour and picture, holds the
// controls.
class ClientArea : public QWidget {
 public:
  ClientArea(const Item& window, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QColor back_;
  QPixmap picture_;
};

// --- loaded windows -------------------------------------------------------------

enum class WinState { Building, Loaded, Closing };

struct LiveControl {
  const Item* item = nullptr;
  QWidget* widget = nullptr;  // null for timers, printers and menu items
  QTimer* timer = nullptr;
  QAction* action = nullptr;
};

class FormWindow;

struct LiveWindow {
  uint32_t id = 0;
  const WindowTemplate* tpl = nullptr;
  QPointer<FormWindow> widget;
  ClientArea* client = nullptr;
  WinState state = WinState::Building;
  std::map<uint32_t, LiveControl> controls;  // every item but the window's own
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  QEventLoop* modalLoop = nullptr;  // the LoadWindow waiting for it
};

// The loaded (or closing) window with this ID, or null.
LiveWindow* findWindow(uint32_t windowId);

// The control of a command argument: its window must be loaded and the
// control one of its items, else fatal ("指定窗口或窗口组件不存在或尚未载入").
// `kind` 0 accepts any kind; otherwise null when the control is of another
// kind (the command then gives its neutral result).
LiveControl* commandControl(const rt::Arg* a, uint32_t kind);

// Builds the widgets of a window into lw (client area, controls, menus,
// timers); the caller shows it.
void buildWindow(LiveWindow& lw);
// Chains Tab through a built window's input controls in reading order and
// gives the first of them the focus.
void setReadingOrder(LiveWindow& lw, bool focusFirst);

// Per-kind property access (window and control already checked).
rt::Arg readControlProperty(LiveControl& c, int prop);
void writeControlProperty(LiveControl& c, int prop, int subField, const rt::Arg& v);

// The top-level widget of a window.
class FormWindow : public QWidget {
 public:
  FormWindow(uint32_t windowId, const Item& window);
  ~FormWindow() override;
  uint32_t windowId() const { return id_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  uint32_t id_;
};

// Called from FormWindow::closeEvent: removes the window from the loaded
// windows and ends what waits for it.
void windowClosed(uint32_t windowId, FormWindow* w);
void windowDestroyed(uint32_t windowId, FormWindow* w);

}  // namespace forms::detail
