// The small window shown while a job prints: job name, destination, copies
// and page number, and "中止打印", which ends the job at once.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace print {

class ProgressWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit ProgressWindow(std::function<void()> onAbort);

  // Texts are GBK.
  void setJob(const std::string& jobName, const std::string& destination);
  void setCopies(int copies);
  void setPage(int page);

  QString jobText() const;
  QString destinationText() const;
  QString copiesText() const;
  QString pageText() const;
  QPushButton* abortButton() const { return abort_; }

 private:
  QLabel* job_;
  QLabel* destination_;
  QLabel* copies_;
  QLabel* page_;
  QPushButton* abort_;
};

}  // namespace print
