// The folder chooser behind rt::Dialogs::chooseFolder: Qt's own folder
// dialog (its Chinese texts, its list of folders), except that a typed name
// of a folder that is not there is offered to be made instead of refused.
#pragma once

#include <QFileDialog>

namespace forms {

// A directory-only file dialog. accept() with a typed folder that does not
// exist asks (rt::dialogs().message, Yes/No) whether to make it; on Yes it
// is made (with its missing parents) and chosen, on No or when it cannot
// be made (the operator is told why) the dialog stays open.
class FolderDialog : public QFileDialog {
 public:
  FolderDialog(const QString& caption, const QString& start);
  void accept() override;
};

}  // namespace forms
