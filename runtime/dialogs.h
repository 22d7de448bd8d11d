// The one seam every dialog goes through: message boxes, text prompts and
// file dialogs. The forms layer installs the real Qt dialogs; tests install
// a scripted answerer; without either, messages go to standard error and
// every question is answered "cancelled", so nothing blocks waiting for a
// screen that is not there.
//
// Texts are GBK. Calls come from the window thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt {

// Buttons, as ShowMessage returns them.
enum Button : int { kOk = 0, kCancel = 1, kAbort = 2, kRetry = 3, kIgnore = 4, kYes = 5, kNo = 6 };

// Message-box style word: buttons in the low 4 bits, icon, default button,
// modality.
namespace mb {
constexpr uint32_t kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3, kYesNo = 0x4,
                   kRetryCancel = 0x5, kButtonMask = 0xF;
constexpr uint32_t kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30, kIconInfo = 0x40, kIconMask = 0xF0;
constexpr uint32_t kDefButton2 = 0x100, kDefButton3 = 0x200, kDefButtonMask = 0xF00;
constexpr uint32_t kSystemModal = 0x1000, kTaskModal = 0x2000;
}  // namespace mb

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A message box; returns the button pressed (Button).
  virtual int message(const std::string& text, const std::string& caption, uint32_t style) = 0;

  // Asks for one line of text, prefilled with *value. False when cancelled;
  // *value is changed only on true. `password` hides the typing.
  virtual bool askText(const std::string& prompt, const std::string& caption, std::string* value, bool password) = 0;

  // A save-file dialog. `filter` lists the file types in Qt's form
  // ("打印文件 (*.prn);;所有文件 (*)"); *path is prefilled with the default
  // name. False when cancelled. The dialog itself asks before overwriting.
  virtual bool saveFile(const std::string& caption, const std::string& filter, std::string* path) = 0;

  // A folder chooser opened at *path. The operator may type the name of a
  // folder that is not there: the chooser asks (through message()) before
  // making it, and a folder it cannot make is named, not chosen. *path is
  // the chosen folder on true, untouched when cancelled (false); it is a
  // file-system name (UTF-8 here), not GBK text. Without a screen the
  // question is answered "cancelled".
  virtual bool chooseFolder(const std::string& caption, std::string* path) {
    (void)caption, (void)path;
    return false;
  }

  // Shows rows of texts under column headings, read-only, until the
  // reader closes it; `note` is a line above them. Without a screen the
  // rows are not shown anywhere.
  virtual void showRows(const std::string& caption, const std::string& note, const std::vector<std::string>& headings,
                        const std::vector<std::vector<std::string>>& rows) {
    (void)caption, (void)note, (void)headings, (void)rows;
  }
};

// The installed dialogs (the stderr fallback until someone installs one).
Dialogs& dialogs();

// Installs `d` (not owned; must outlive its use). Null puts the fallback
// back. Returns the previous one.
Dialogs* setDialogs(Dialogs* d);

}  // namespace rt
