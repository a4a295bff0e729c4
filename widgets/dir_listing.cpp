// Directory listing and path handling for the file dialog.
#include "widgets/dir_listing.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "platform/sys_io.h"

DirListing list_directory(const std::string& dir) {
  DirListing out;
  const platform::Result<std::vector<platform::DirName>> names = platform::list_names(dir);
  if (!names) {
    out.readable = false;
    return out;
  }
  for (const platform::DirName& e : *names) {
    if (e.name[0] == '.') continue;
    struct stat st {};
    if (platform::sysio().stat(join_path(dir, e.name).c_str(), &st) != 0)
      continue;  // dangling link, raced away
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    out.entries.push_back(DirEntry{e.name, S_ISDIR(st.st_mode)});
  }
  std::sort(out.entries.begin(), out.entries.end(), [](const DirEntry& a, const DirEntry& b) {
    if (a.is_dir != b.is_dir) return a.is_dir;
    return name_less(a.name, b.name);
  });
  return out;
}

bool name_less(const std::string& a, const std::string& b) {
  const int c = strcasecmp(a.c_str(), b.c_str());
  return c != 0 ? c < 0 : a < b;
}

std::string working_directory() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::current_path(ec);
  return ec ? std::string("/") : p.string();
}

std::string resolve_path(const std::string& path, const std::string& base) {
  std::string p = path;
  if (!p.empty() && p[0] == '~' && (p.size() == 1 || p[1] == '/')) {
    const char* home = std::getenv("HOME");
    if (home && *home) p = std::string(home) + p.substr(1);
  }
  std::filesystem::path fp(p);
  if (fp.is_relative()) fp = std::filesystem::path(base) / fp;
  std::string s = fp.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s.empty() ? std::string("/") : s;
}

std::string parent_directory(const std::string& dir) {
  const size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return dir.substr(0, slash);
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return platform::sysio().lstat(path.c_str(), &st) == 0;
}
