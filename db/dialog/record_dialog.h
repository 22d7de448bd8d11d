// The window of the record-edit dialog on one open table. runEditRecords()
// (edit_records.h) opens it modally; tests build it directly and drive its
// public operations, its buttons and its keys.
//
// Objects, by objectName: the dialog "EditRecords"; per shown field line n
// (1-based) the label "name_<n>", the editor "field_<n>" (a QLineEdit, or
// a QCheckBox for bool fields) and for memo and byte-set fields the button
// "more_<n>"; the buttons "toggleDeleted", "prev", "next", "pageUp",
// "pageDown", "first", "last", "newRecord", "jump", "pack", "zap",
// "close"; the label "status"; the menu bar "menu".
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace db {

class Table;

class RecordDialog : public QDialog {
  Q_OBJECT

 public:
  RecordDialog(Table& table, const std::string& gbkCaption, int flags, const std::vector<std::string>& gbkFields,
               QWidget* parent = nullptr);
  ~RecordDialog() override;

  // The title as GBK, the record shown (0-based; -1 when none is loaded),
  // the count as last read, the pending engine error (0 = none).
  std::string titleText() const { return title_; }
  int32_t position() const { return loaded_ ? pos_ : -1; }
  int32_t count() const { return count_; }
  [[nodiscard]] int pendingError() const { return status_; }
  bool deleted() const { return loaded_ && deleted_; }

  // Field lines: how many, which one has the input focus (0-based), and the
  // table field each shows (index into Table::fields()).
  int lineCount() const { return int(lines_.size()); }
  int currentLine() const { return curLine_; }
  int lineField(int line) const { return lines_[size_t(line)].field; }

  // The engine code of the save made on closing (0 = saved or nothing to
  // save; -72 when a typed value was refused).
  [[nodiscard]] int closeCode() const { return closeCode_; }

  // Places the dialog centred over the window of `owner` (kept below the
  // screen's top and right of its left edge). The constructor does this
  // for its parent.
  void centreOver(QWidget* owner);

  // Shows record position p (clamped), saving a changed record first.
  // False when nothing moved because the save failed or there is no record.
  bool moveTo(int32_t p);

  // Writes the changed lines of the record shown. On failure *refusal is
  // the reason a typed value was refused ("" when the engine failed) and
  // *code the engine code (0 when a value was refused).
  bool saveRecord(std::string* refusal, int* code);

 public slots:
  void firstRecord();
  void lastRecord();
  void previousRecord();
  void nextRecord();
  void pageBack();
  void pageForward();
  void jumpToNumber();
  bool appendBlank();  // Ctrl+N: save, append a blank record, show it
  void addAtEnd();     // Enter past the last line of the last record
  void toggleDeleted();
  void purge();
  void empty();
  void firstLine();
  void lastLine();
  void nextLine();                    // Tab: wraps
  void previousLine();                // Shift+Tab: wraps
  void lineDown(bool enter = false);  // Down, Right at the end, Enter
  void lineUp();                      // Up, Left at the start
  void openChainWindow(int line);

  void done(int r) override;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  struct Line {
    int field = 0;
    QLabel* label = nullptr;
    QLineEdit* edit = nullptr;
    QCheckBox* check = nullptr;
    QPushButton* more = nullptr;
    std::string shown;     // editing-box text as loaded (GBK)
    bool checked = false;  // bool fields, as loaded
    std::string chain;     // memo text / byte-set bytes as loaded
    std::string chainNew;  // edited in the memo/byte-set window
    bool chainChanged = false;
  };

  void buildBody();
  void buildMenus();
  QPushButton* button(const char* name, const char* utf8Label, void (RecordDialog::*slot)());
  bool load(int32_t p);
  void clearLines();
  void readCount();
  void refreshTitle();
  void focusLine(int i);
  bool leaveRecord();
  void showSaveFailure(const std::string& refusal, int code, bool closing);
  void afterBulk(int rc);
  bool atLastRecord() const;
  bool ask(const char* utf8Question);
  void showChainSummary(Line& l);
  void writeOut(const std::string& bytes);
  void preview(const std::string& bytes);

  Table& t_;
  std::string caption_;
  int flags_ = 0;
  bool viewOnly_ = false, noAdding_ = false, noDeleting_ = false;
  std::vector<Line> lines_;
  int32_t pos_ = -1;
  // The header of the record loaded (its serial, negated when marked
  // deleted): saves and marks act on it wherever a pack moved it.
  int32_t serial_ = 0;
  int32_t count_ = 0;
  bool loaded_ = false;
  bool deleted_ = false;
  int status_ = 0;
  bool askBeforeAdding_ = true;
  int curLine_ = 0;
  bool closing_ = false;
  int closeCode_ = 0;
  std::string title_;
  QLabel* statusLabel_ = nullptr;
};

}  // namespace db
