// The live window layer: windows built from their templates on Qt Widgets,
// the handler tables of module code, event delivery, control properties and
// the window and control commands.
//
// Module code sees windows and controls only through the functions here and
// the commands registered by registerFormCommands(). Windows are named by
// their window ID (0x52010001 …), controls by their control ID or, through
// Control, by the stored name of the control in that window (GBK, e.g.
// GBK("编辑框3")). The same name stands for different controls in different
// windows, so every lookup is per window.
//
// Everything runs on the window thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "forms/model.h"
#include "runtime/dialogs.h"
#include "runtime/facade.h"
#include "runtime/value.h"

class QWidget;

namespace forms {

// --- start-up ----------------------------------------------------------------

// Prepares the forms layer: registers the window and control commands,
// installs the Qt dialogs (rt::setDialogs) and the fatal-error box
// (rt::setFatalReporter), stops Qt from quitting on its own when a window
// closes, and makes Qt's own dialogs Chinese (installChineseQt). Needs a
// QApplication. Idempotent.
void initForms();

// Chinese (China) as Qt's default locale, and the Chinese (Simplified)
// translation of Qt's own texts from the system's Qt translations. False
// when the translation file is not installed (the dialogs then stay in
// Qt's built-in English). Idempotent.
bool installChineseQt();

// Registers LoadWindow, CloseWindow, FocusControl, AddComboItem, ListClear,
// ListInsertItem, ListSetItemText, ClearPanel, PanelTextAt, PanelLine,
// SetVisualStyle and ShowMessage with the command table. Idempotent.
void registerFormCommands();

// The Qt dialogs initForms installs (message boxes, text prompts, the
// save-file dialog, the folder chooser).
rt::Dialogs& qtDialogs();

// The fatal-error reporter initForms installs: the report goes to standard
// error (UTF-8) and into a modal "错误" box with the error icon and an OK
// button. No event reaches a handler while the box is up.
void qtFatalReporter(const std::string& gbkText, const std::string& gbkCaption);

// True while a fatal error is being reported.
bool reportingFatal();

// Where windows are built from. Null (the default) means the program's own
// template block, when the build carries one; tests hand in their own data.
// The data must outlive every window built from it.
void setTemplateSource(const TemplateData* data);
const TemplateData& templateSource();  // fatal when there is none

// Runs the message loop until the last loaded window has closed (or
// QApplication::exit is called). Returns the loop's exit code.
[[nodiscard]] int runMessageLoop();

// --- handlers and events -------------------------------------------------------

// A module handler: no arguments, no result.
using Handler = void (*)();

// The handler table of a window: a binding's handler value k (template data)
// runs table[k]; -1 means no handler. Replaces any earlier table.
void setHandlers(uint32_t windowId, std::vector<Handler> table);

// Runs after every module handler has returned (null: nothing). The
// program makes the tables a handler wrote durable here, before the
// screen it left is taken as done.
void setAfterHandler(Handler hook);

// The window and control whose event is being handled (0, 0 outside any
// handler). For the window's own events control is the window's item ID.
struct EventSource {
  uint32_t window = 0;
  uint32_t control = 0;
};
EventSource eventSource();

// Delivers event `event` of item `itemId` of window `windowId` to its
// handler, exactly as a user action would: the window must be loaded
// ("未找到引发事件的窗口"), the item must be one of its items
// ("未找到引发事件的窗口组件") and of a kind that takes events
// ("引发事件的窗口组件无效"); no binding or no handler ignores it. Nothing
// is delivered while a fatal error is being reported.
void raiseEvent(uint32_t windowId, uint32_t itemId, int32_t event);

// --- windows ---------------------------------------------------------------------

// LoadWindow: builds and shows the window, or activates the loaded one.
// Modal: returns after it has closed. False when it could not be shown.
bool loadWindow(uint32_t windowId, uint32_t parentWindowId = 0, bool modal = false);

// CloseWindow: posts the close; it happens once the running handler has
// returned. Fatal when the window does not exist or is not loaded.
void closeWindow(uint32_t windowId);

// Loaded and not closing.
bool isLoaded(uint32_t windowId);

// The IDs of the loaded windows, in load order.
std::vector<uint32_t> loadedWindows();

// The top-level widget of a loaded window (null when not loaded); for the
// printer layer's dialogs and for screenshots.
QWidget* windowWidget(uint32_t windowId);

// The widget of a control of a loaded window (null for invisible kinds or
// when not loaded).
QWidget* controlWidget(uint32_t windowId, uint32_t controlId);

// Runs after a window has been closed and removed from the loaded windows
// (other layers release what they hold for it). Hooks must not load windows.
using WindowClosedHook = void (*)(uint32_t windowId);
void addWindowClosedHook(WindowClosedHook hook);

// Runs after a window has been built from its template, before it is shown
// and its created event is raised, so that other layers add what the
// template does not hold. Adding the same hook again changes nothing.
using WindowBuiltHook = void (*)(uint32_t windowId);
void addWindowBuiltHook(WindowBuiltHook hook);

// The window argument record of a window: window ID low, its item ID high.
rt::Arg windowArg(uint32_t windowId);

// --- what module code adds to a loaded window ----------------------------------

// The title bar's text (the template's caption when the window was built).
std::string windowTitle(uint32_t windowId);
void setWindowTitle(uint32_t windowId, const std::string& gbk);

// A push button outside the template's controls, on the client area of a
// loaded window at a rectangle in template coordinates; a click runs
// `handler` as a handler of that window (the after-handler hook
// included). The button lives as long as the window and takes its place in
// the Tab order by where it stands. False when the window is not loaded.
bool addExtraButton(uint32_t windowId, const std::string& gbkCaption, int left, int top, int width, int height,
                    Handler handler);
// Presses the extra button with that caption as a click does; false when
// the window has none (tests, and keyboard-free callers).
bool pressExtraButton(uint32_t windowId, const std::string& gbkCaption);

// --- properties --------------------------------------------------------------------

// Property numbers module code uses.
namespace prop {
constexpr int kEditContent = 8;    // EditBox: text
constexpr int kComboType = 8;      // ComboBox: 0 simple, 1 drop-down, 2 drop-down list
constexpr int kComboContent = 9;   // ComboBox: the text in the box
constexpr int kLabelCaption = 8;   // Label: text
constexpr int kButtonType = 9;     // Button: 0 ordinary, 1 default button
constexpr int kDateValue = 10;     // DatePicker: date-time
constexpr int kListSelected = 35;  // ListView: selected row, -1 none
constexpr int kPanelFont = 22;     // DrawPanel: font (sub-field 5 size in points)
}  // namespace prop

// Font sub-fields of a font property write.
constexpr int kFontAngle = 0, kFontBold = 1, kFontItalic = 2, kFontUnderline = 3, kFontStrikeOut = 4, kFontSize = 5,
              kFontFace = 6;

// Reads a property. A text result is a new heap block the caller frees.
// Fatal when the window is not loaded ("未载入欲访问窗口组件所在的窗口") or
// the control is not one of its controls ("指定窗口或窗口组件不存在或尚未载入").
rt::Arg getProperty(uint32_t windowId, uint32_t controlId, int prop);

// Writes a property; subField -1 for the whole value, 0..6 for a font
// sub-field. Same fatal errors as getProperty, and "指定窗口尚未载入" when
// the window is still being built.
void setProperty(uint32_t windowId, uint32_t controlId, int prop, int subField, const rt::Arg& v);

// Properties of kinds other layers own (the printer object): the forms
// layer checks window and control and hands the access on. An access to
// such a kind with nothing registered is fatal.
using PropertyGetter = rt::Arg (*)(uint32_t windowId, uint32_t controlId, int prop);
using PropertySetter = void (*)(uint32_t windowId, uint32_t controlId, int prop, int subField, const rt::Arg& v);
void registerKindProperties(uint32_t kind, PropertyGetter get, PropertySetter set);

// --- typed access for module code --------------------------------------------------

// A control of a loaded window, found by its stored name.
class Control {
 public:
  Control(uint32_t windowId, uint32_t controlId, uint32_t kind) : window_(windowId), id_(controlId), kind_(kind) {}

  uint32_t window() const { return window_; }
  uint32_t id() const { return id_; }
  uint32_t kind() const { return kind_; }

  // The control as a command argument (its object kind, window ID low,
  // control ID high).
  rt::Arg arg() const;

  // The text of an edit box (property 8), combo box (9) or label (8).
  std::string text() const;
  // Writes it; for an edit box this raises its content-changed event.
  void setText(const std::string& gbk) const;

  int selectedRow() const;             // list view, -1 none
  rt::DateTime date() const;           // date picker
  void setFontSize(int points) const;  // draw panel
  void setButtonType(int type) const;  // button
  void focus() const;                  // FocusControl

 private:
  uint32_t window_, id_, kind_;
};

// The control named `gbkName` in the loaded window. Fatal when the window is
// not loaded or has no control of that name.
Control control(uint32_t windowId, const std::string& gbkName);

// Shorthands: forms::text(win, GBK("编辑框3")), forms::setText(...).
inline std::string text(uint32_t windowId, const std::string& gbkName) { return control(windowId, gbkName).text(); }
inline void setText(uint32_t windowId, const std::string& gbkName, const std::string& gbk) {
  control(windowId, gbkName).setText(gbk);
}

// --- what a draw panel holds --------------------------------------------------------

// One text or line drawn on a draw panel since its last full clear, in
// panel pixels: a text with its top-left corner at (x, y) in the font size
// of the moment (points), a line from (x, y) to (x2, y2). Each value of a
// PanelTextAt is one text.
struct PanelDrawn {
  enum Op { Text, Line };
  Op op = Text;
  int x = 0, y = 0, x2 = 0, y2 = 0;
  std::string text;  // GBK
  int points = 0;
  int width = 0;  // a text: its width in panel pixels as drawn
};
// In drawing order. Clearing the whole panel empties the list; clearing an
// area leaves it as it is (the list says what was drawn, the surface what
// is left of it).
std::vector<PanelDrawn> panelDrawing(uint32_t windowId, uint32_t controlId);
// The width in panel pixels a PanelTextAt of the text would take in the
// panel's current font.
int panelTextWidth(uint32_t windowId, uint32_t controlId, const std::string& gbk);

// --- list and combo contents (what the list commands stored) ---------------------

// A list row drawn on the list's own background.
constexpr uint32_t kNoBackground = 0xFFFFFFFFu;

struct ListItemInfo {
  std::vector<std::string> texts;       // one per column (GBK)
  uint32_t background = kNoBackground;  // 0xRRGGBB, set by setListRowBackground
  int32_t image = -1;
  int32_t stateImage = 0;
  int32_t indent = 0;
  int32_t data = 0;
};
int listRowCount(uint32_t windowId, uint32_t controlId);
// Draws a row on a background of its own (0xRRGGBB; kNoBackground: the
// list's). A row that does not exist is ignored.
void setListRowBackground(uint32_t windowId, uint32_t controlId, int row, uint32_t rgb);
// Fatal when the row does not exist.
ListItemInfo listItem(uint32_t windowId, uint32_t controlId, int row);

int comboCount(uint32_t windowId, uint32_t controlId);
std::string comboItemText(uint32_t windowId, uint32_t controlId, int index);
int32_t comboItemData(uint32_t windowId, uint32_t controlId, int index);

}  // namespace forms
