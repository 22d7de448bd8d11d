#include "app/folder_id.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

namespace app {
namespace {

const char* const kIdFile = "centre.id";

// 32 hex digits of 16 random bytes; "" when there are none to be had.
std::string newFolderId() {
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  unsigned char b[16] = {};
  const bool got = fd >= 0 && ::read(fd, b, sizeof b) == ssize_t(sizeof b);
  if (fd >= 0) ::close(fd);
  if (!got) return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string id;
  for (unsigned char c : b) {
    id += kDigits[c >> 4];
    id += kDigits[c & 15];
  }
  return id;
}

// The id in `folder`, made there when it has none; "" when it cannot be
// read or made now.
std::string readOrMakeFolderId(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path file = fs::path(folder) / kIdFile;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::ifstream in(file, std::ios::binary);
    std::string id;
    if (in && std::getline(in, id) && id.size() == 32) return id;
    std::error_code ec;
    if (fs::exists(file, ec) || ec) return "";  // there but unreadable, or the folder away
    // Made under a name of its own and linked into place, so that two
    // programs making it at once end with one id.
    const std::string made = newFolderId();
    if (made.empty()) return "";
    const fs::path temp = fs::path(folder) / (std::string(kIdFile) + "." + std::to_string(::getpid()));
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << made << '\n';
      if (!out.flush()) return "";
    }
    const int linked = ::link(temp.c_str(), file.c_str());
    fs::remove(temp, ec);
    if (linked == 0) return made;
  }
  return "";
}

}  // namespace

std::string folderId(const std::string& folder) {
  static std::map<std::tuple<std::string, dev_t, ino_t>, std::string> ids;
  struct stat st = {};
  if (::stat(folder.c_str(), &st) != 0) return "";
  const auto key = std::make_tuple(folder, st.st_dev, st.st_ino);
  auto it = ids.find(key);
  if (it == ids.end()) {
    std::string id = readOrMakeFolderId(folder);
    if (id.empty()) return "";
    it = ids.emplace(key, id).first;
  }
  return it->second;
}

}  // namespace app
