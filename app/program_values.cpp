#include "app/program_values.h"

#include "app/shell.h"
#include "runtime/gbk.h"

namespace app {
namespace {

ProgramValues g_values;

}  // namespace

const std::string& categoryName(int category) {
  static const std::array<std::string, kCategoryCount> names = [] {
    const char* const utf8[kCategoryCount] = {"西药", "检查", "手术", "中成", "输氧", "治疗",
                                              "化验", "其它", "中草", "放射", "输血", "住院",
                                              "冷暖", "接生", "婴儿", "医疗", "监护"};
    std::array<std::string, kCategoryCount> gbk;
    for (int i = 0; i < kCategoryCount; ++i) gbk[size_t(i)] = rt::utf8ToGbk(utf8[i]);
    return gbk;
  }();
  return names.at(size_t(category));
}

ProgramValues& programValues() { return g_values; }

const std::string& cashier() { return loggedInUser(); }

void releaseProgramValues() { g_values = ProgramValues{}; }

}  // namespace app
