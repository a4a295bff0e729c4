// Resolving the files and folders named on the command line into one input and its roots.
#include "cli/named_paths.h"

#include <cerrno>

#include "platform/fs.h"
#include "platform/fsutil.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

bool under(const std::string& folder, const std::string& path) {
  if (folder == "/") return true;
  return path == folder || (path.compare(0, folder.size(), folder) == 0 &&
                            path.size() > folder.size() && path[folder.size()] == '/');
}

std::string below(const std::string& folder, const std::string& path) {
  if (path == folder) return {};
  return path.substr(folder == "/" ? 1 : folder.size() + 1);
}

// Empty, or why `path` cannot be named.
std::string kind_error(const std::string& path, bool& folder) {
  const platform::Result<platform::PathKind> kind = platform::path_kind(path);
  if (!kind)
    return kind.err() == ENOENT ? kestrum::strfmt(_("%s does not exist"), path.c_str())
                                : path + ": " + errno_text(kind.err());
  folder = *kind == platform::PathKind::directory;
  if (*kind == platform::PathKind::other)
    return kestrum::strfmt(_("%s is neither a file nor a folder"), path.c_str());
  return {};
}

}  // namespace

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

std::string common_folder(const std::string& a, const std::string& b) {
  std::string folder = a;
  while (!under(folder, b)) folder = parent_of(folder);
  return folder;
}

NamedPaths resolve_named_paths(const std::vector<std::string>& paths) {
  NamedPaths out;
  std::vector<std::string> full;
  std::string common;
  for (const std::string& p : paths) {
    bool folder = false;
    out.error = kind_error(p, folder);
    if (!out.error.empty()) return out;
    platform::Result<std::string> resolved = fsutil::full_path(p);
    if (!resolved) {
      out.error = kestrum::strfmt(_("cannot resolve the path %s: %s"), p.c_str(),
                                  errno_text(resolved.err()).c_str());
      return out;
    }
    std::string f = std::move(*resolved);
    const std::string holder = folder ? f : parent_of(f);
    common = common.empty() ? holder : common_folder(common, holder);
    full.push_back(std::move(f));
  }
  const std::string cwd = fsutil::full_path(".").value_or("");
  out.base = common;
  if (!cwd.empty() && under(cwd, common)) out.base = cwd;
  for (const std::string& f : full) {
    std::string r = below(out.base, f);
    bool repeat = false;
    for (const std::string& seen : out.roots) repeat = repeat || seen == r;
    if (!repeat) out.roots.push_back(std::move(r));
  }
  return out;
}
