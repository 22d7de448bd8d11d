// The description checks of formgen: a broken description stops the build
// with a message naming the line. Runs the formgen built next to this test.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

class Formgen : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = fs::read_symlink("/proc/self/exe").parent_path() / "formgen";
    if (!fs::exists(tool_)) GTEST_FAIL() << "formgen not built next to the tests: " << tool_;
    dir_ = fs::temp_directory_path() / ("formgen_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "p.gif", std::ios::binary) << "GIF89a";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs formgen on one window file; returns its exit code, *err its
  // standard error.
  int run(const std::string& body, std::string* err) {
    std::ofstream(dir_ / "w.win", std::ios::binary)
        << "window a item=0x06010000 title=\"t\" rect=50,50,10,10 picture=p.gif icon=none\n"
        << body;
    const std::string cmd = tool_.string() + " --dir " + dir_.string() + " --cpp " + (dir_ / "o.cpp").string() +
                            " --header " + (dir_ / "o.h").string() + " w.win 2>" + (dir_ / "err").string();
    int status = std::system(cmd.c_str());
    std::ifstream in(dir_ / "err");
    std::stringstream s;
    s << in.rdbuf();
    *err = s.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string read(const char* name) {
    std::ifstream in(dir_ / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path tool_, dir_;
};

TEST_F(Formgen, BrokenDescriptionsFailWithTheirLine) {
  struct Case {
    const char* body;
    const char* message;
  };
  const Case cases[] = {
      {"Slider 按钮1 1,2,3,4\n", "w.win:2: unknown control kind"},
      {"Button 按钮1 1,2,3,4\nButton 按钮1 5,6,7,8\n", "w.win:3: control name '按钮1' used twice"},
      {"Button 按钮1 1,2,3,4 in=外形框9\n", "container '外形框9' is not a control"},
      {"Button 按钮2 1,2,3,4\nButton 按钮1 1,2,3,4 in=按钮2\n", "neither a shape box nor a group box"},
      {"ShapeBox 外形框1 1,2,3,4 in=外形框2\nShapeBox 外形框2 1,2,3,4 in=外形框1\n", "loop"},
      {"Timer 时钟1 1,2,3,4 on.dblclick=X\n", "has no event 'dblclick'"},
      {"Button 按钮1 1,2,3,4 on.changed=X\n", "has no event 'changed'"},
      {"Button 按钮1 1,2,3\n", "4 comma-separated numbers"},
      {"Button 按钮1 1,2,3,4 items=\"a\"\n", "does not apply to a Button"},
      {"Button 按钮1 1,2,3,4 text=\"open\n", "unterminated quote"},
      {"Button 按钮1 1,2,3,4 on.click=not-a-name\n", "not a plain identifier"},
      {"Button 按键1 1,2,3,4\n", "known control word"},
      {"menu 1 \"x\"\n", "needs a drop-down menu before it"},
      {"menu 0 \"x\"\nButton 按钮1 1,2,3,4\n", "controls come before the menu items"},
      {"TransLabel 透明标签1 1,2,3,4 text=\"\xF0\x9F\x98\x80\"\n", "outside GBK"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(run(c.body, &err), 1) << c.body;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.body << " gave: " << err;
  }
}

TEST_F(Formgen, GoodDescriptionGivesBlockAndHeader) {
  std::string err;
  ASSERT_EQ(run("GroupBox 分组框1 0,0,100,50\n"
                "Button 按钮1 1,2,3,4 in=分组框1 text=\"a \\\"b\\\"\" on.click=Go on.lostfocus=Left\n"
                "EditBox 编辑框1 1,2,3,4 on.changed=Go\n"
                "menu 0 \"m\"\nmenu 1 \"n\" on.click=Menu\n",
                &err),
            0)
      << err;
  const std::string h = read("o.h");
  EXPECT_NE(h.find("constexpr uint32_t kAWindow = 0x52010001;"), std::string::npos) << h;
  EXPECT_NE(h.find("constexpr uint32_t kGroup1 = 0x16010001;"), std::string::npos) << h;
  EXPECT_NE(h.find("constexpr uint32_t kButton1 = 0x16010002;"), std::string::npos) << h;
  EXPECT_NE(h.find("constexpr uint32_t kMenu2 = 0x26010005;"), std::string::npos) << h;
  // Handler indices in order of first use; a reused name keeps its index.
  EXPECT_NE(h.find("kGo = 0,"), std::string::npos) << h;
  EXPECT_NE(h.find("kLeft = 1,"), std::string::npos) << h;
  EXPECT_NE(h.find("kMenu = 2,"), std::string::npos) << h;
  EXPECT_NE(h.find("kHandlerCount = 3"), std::string::npos) << h;
  EXPECT_NE(read("o.cpp").find("kTemplateBlockSize = "), std::string::npos);
}

}  // namespace
