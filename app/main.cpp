// The clinic program. The windows, the table engine and the printer are
// not built yet; until they are, the program says so plainly and ends with
// status 1 instead of pretending to start.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "forms/qtext.h"
#include "runtime/gbk.h"

int main(int argc, char** argv) {
  const char* notice = GBK(
      "本程序尚未完成：窗口、数据库引擎和打印尚未构建。\n"
      "目前只有运行时核心（数值、日期与文本转换）可用，请运行 ./test 查看其测试。");
  std::fprintf(stderr, "%s\n", rt::gbkToUtf8(notice).c_str());
  bool haveScreen = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
                    std::getenv("QT_QPA_PLATFORM");
  if (haveScreen) {
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, forms::fromGbk(GBK("信息：")), forms::fromGbk(notice));
  }
  return 1;
}
