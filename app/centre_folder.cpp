#include "app/centre_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/telling.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app {
namespace {

namespace fs = std::filesystem;

bool under(const std::string& dir, const char* top) {
  const std::string t = top;
  return dir == t || dir.rfind(t + "/", 0) == 0;
}

// The absolute, link-free form of `dir` as far as it exists.
std::string resolved(const std::string& dir) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(dir, ec), ec);
  if (ec) p = fs::absolute(dir).lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// The first line of a settings file, without surrounding blanks; empty
// when the file is missing or holds none.
std::string firstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  const size_t a = line.find_first_not_of(" \t\r");
  const size_t b = line.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : line.substr(a, b - a + 1);
}

CentreChoice named(CentreChoice::Source source, const std::string& dir) {
  CentreChoice c;
  c.source = source;
  c.folder = resolved(dir);
  c.problem = centreFolderProblem(dir);
  return c;
}

}  // namespace

bool packagedProgramFolder(const std::string& dir) {
  const std::string d = resolved(dir);
  return under(d, "/usr") || (d.size() >= 8 && d.compare(d.size() - 8, 8, "/usr/bin") == 0);
}

bool systemFolder(const std::string& dir) {
  const std::string d = resolved(dir);
  return under(d, "/usr") || under(d, "/opt");
}

std::string centreFolderProblem(const std::string& dir) {
  if (dir.empty()) return "没有指定中心文件夹";
  if (systemFolder(dir)) return "中心文件夹 " + resolved(dir) + " 位于 /usr 或 /opt 之内，数据表不能放在那里";
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0)
    return "中心文件夹 " + resolved(dir) + " 无法访问（" + std::strerror(errno) + "）：共享文件夹是否已挂载？";
  if (!S_ISDIR(st.st_mode)) return resolved(dir) + " 不是文件夹";
  return {};
}

CentreChoice chooseCentreFolder(const CentreSources& s) {
  for (const std::string& a : s.args)
    if (!a.empty() && a[0] != '-') return named(CentreChoice::kArgument, a);
  if (!packagedProgramFolder(s.programDir)) {
    CentreChoice c;
    c.source = CentreChoice::kProgramFolder;
    c.folder = s.programDir;
    return c;
  }
  if (const std::string w = firstLine(s.workstationFile); !w.empty()) return named(CentreChoice::kWorkstation, w);
  if (const std::string u = firstLine(s.userFile); !u.empty()) return named(CentreChoice::kUser, u);
  return {};
}

CentreSources centreSources(int argc, char** argv, const std::string& programDir) {
  CentreSources s;
  for (int i = 1; i < argc; ++i) s.args.emplace_back(argv[i]);
  s.programDir = programDir;
  s.workstationFile = "/etc/clinic/centre";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string config = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.config";
  s.userFile = config + "/clinic/centre";
  return s;
}

bool rememberCentreFolder(const std::string& userFile, const std::string& dir) {
  std::error_code ec;
  fs::create_directories(fs::path(userFile).parent_path(), ec);
  const std::string part = userFile + ".part";
  {
    std::ofstream out(part, std::ios::trunc);
    out << resolved(dir) << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(part.c_str(), userFile.c_str()) == 0;
}

bool enterCentreFolder(int argc, char** argv) {
  const CentreSources sources = centreSources(argc, argv, QCoreApplication::applicationDirPath().toStdString());
  CentreChoice c = chooseCentreFolder(sources);
  if (c.source == CentreChoice::kProgramFolder) {
    if (!c.folder.empty()) QDir::setCurrent(QString::fromStdString(c.folder));
    return true;
  }
  if (c.source != CentreChoice::kAsk) {
    if (!c.problem.empty()) {
      std::string where = c.source == CentreChoice::kArgument      ? "命令行"
                          : c.source == CentreChoice::kWorkstation ? sources.workstationFile
                                                                   : sources.userFile;
      tell(rt::utf8ToGbk(c.problem + "。\r\n（中心文件夹由 " + where + " 指定；程序退出。）").c_str());
      return false;
    }
    return QDir::setCurrent(QString::fromStdString(c.folder));
  }
  // First start of this user on a packaged workstation: ask, once.
  tell(GBK("请选择本中心的数据文件夹（各工作站共用的数据表所在的文件夹，例如 /srv/clinic）。"));
  for (;;) {
    std::string chosen = QDir::homePath().toStdString();
    if (!rt::dialogs().chooseFolder(GBK("选择中心数据文件夹"), &chosen)) return false;
    const QString dir = QString::fromStdString(chosen);
    const std::string problem = centreFolderProblem(chosen);
    if (!problem.empty()) {
      tell(rt::utf8ToGbk(problem + "。请另选一个文件夹。").c_str());
      continue;
    }
    if (!rememberCentreFolder(sources.userFile, dir.toStdString()))
      tell(rt::utf8ToGbk("无法记住所选文件夹（" + sources.userFile + "），下次启动将再次询问。").c_str());
    return QDir::setCurrent(dir);
  }
}

}  // namespace app
