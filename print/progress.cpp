#include "print/progress.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "forms/qtext.h"
#include "runtime/gbk.h"

namespace print {

ProgressWindow::ProgressWindow(std::function<void()> onAbort) {
  setObjectName("printProgress");
  setWindowTitle(forms::fromGbk(GBK("正在进行打印，请稍候 ......")));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
  auto* grid = new QGridLayout(this);
  const char* captions[] = {GBK("打印作业名："), GBK("打印目的："), GBK("已打印份数："), GBK("当前页号：")};
  QLabel** values[] = {&job_, &destination_, &copies_, &page_};
  const char* names[] = {"jobName", "destination", "copies", "pageNumber"};
  for (int i = 0; i < 4; ++i) {
    grid->addWidget(new QLabel(forms::fromGbk(captions[i]), this), i, 0);
    *values[i] = new QLabel(this);
    (*values[i])->setObjectName(names[i]);
    grid->addWidget(*values[i], i, 1);
  }
  abort_ = new QPushButton(forms::fromGbk(GBK("中止打印")), this);
  abort_->setObjectName("abortButton");
  grid->addWidget(abort_, 4, 0, 1, 2, Qt::AlignCenter);
  connect(abort_, &QPushButton::clicked, this, [onAbort = std::move(onAbort)] { onAbort(); });
}

void ProgressWindow::setJob(const std::string& jobName, const std::string& destination) {
  job_->setText(forms::fromGbk(jobName));
  destination_->setText(forms::fromGbk(destination));
}
void ProgressWindow::setCopies(int copies) { copies_->setText(QString::number(copies)); }
void ProgressWindow::setPage(int page) { page_->setText(QString::number(page)); }

QString ProgressWindow::jobText() const { return job_->text(); }
QString ProgressWindow::destinationText() const { return destination_->text(); }
QString ProgressWindow::copiesText() const { return copies_->text(); }
QString ProgressWindow::pageText() const { return page_->text(); }

}  // namespace print
