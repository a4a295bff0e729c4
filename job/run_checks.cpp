// Checks made once the files are known and before the first directory or file is made.
#include "job/run_checks.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>

#include "platform/fsutil.h"
#include "platform/sys_io.h"
#include "platform/temp_name.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

// The output itself, or the nearest of its parents that exists; empty when none does.
std::string nearest_existing(std::string path, struct stat& st) {
  while (!path.empty()) {
    if (platform::sysio().stat(path.c_str(), &st) == 0) return path;
    // Missing, below a file, or too long to name: its parent tells more.
    if (errno != ENOENT && errno != ENOTDIR && errno != ENAMETOOLONG) return path;
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
      return platform::sysio().stat(".", &st) == 0 ? "." : std::string();
    path.resize(slash == 0 ? 1 : slash);
    if (path == "/") return platform::sysio().stat("/", &st) == 0 ? path : std::string();
  }
  return {};
}

std::string too_long_component(const std::string& path) {
  size_t from = 0;
  while (from <= path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    if (end - from > NAME_MAX) return path.substr(from, end - from);
    from = end + 1;
  }
  return {};
}

platform::Status output_refusal(const std::string& output) {
  using kestrum::strfmt;
  if (const std::string name = too_long_component(output); !name.empty())
    return platform::Error{ENAMETOOLONG,
                           strfmt(_("the output directory %s has a name longer than %d bytes"),
                                  output.c_str(), NAME_MAX)};
  struct stat st;
  const std::string there = nearest_existing(output, st);
  if (there.empty()) return {};
  if (platform::sysio().stat(there.c_str(), &st) != 0) {
    const int err = errno;
    return platform::Error{err, strfmt(_("cannot use the output directory %s: %s"), output.c_str(),
                                       errno_text(err).c_str())};
  }
  if (!S_ISDIR(st.st_mode))
    return platform::Error{ENOTDIR, strfmt(_("the output directory %s cannot be made: %s is not a "
                                             "directory"),
                                           output.c_str(), there.c_str())};
  if (platform::sysio().access(there.c_str(), W_OK | X_OK) != 0) {
    const int err = errno;
    return platform::Error{err, strfmt(_("cannot write in %s (the output directory %s): %s"),
                                       there.c_str(), output.c_str(), errno_text(err).c_str())};
  }
  return {};
}

std::string as_dir(const std::string& full) { return full == "/" ? full : full + "/"; }

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `ancestor` is `path` or a real ancestor of it, through links in either: the ".."
// chain is walked as the kernel resolves it.
bool within(const std::string& path, const struct stat& ancestor) {
  struct stat dir, parent;
  if (platform::sysio().stat(path.c_str(), &dir) != 0) return false;
  if (same_inode(dir, ancestor)) return true;
  std::string up = path;
  for (int depth = 0; depth < 512; ++depth) {
    up += "/..";
    if (platform::sysio().stat(up.c_str(), &parent) != 0) return false;
    if (same_inode(parent, ancestor)) return true;
    if (same_inode(parent, dir)) return false;  // the root
    dir = parent;
  }
  return false;
}

platform::Error lands_in_input(const std::string& rel, const std::string& target,
                               const std::string& input) {
  return platform::Error{
      EINVAL, kestrum::strfmt(_("the output of %s would be %s, inside the input directory %s, "
                                "over the input's own files; choose an output directory that "
                                "does not hold the input"),
                              rel.c_str(), target.c_str(), input.c_str())};
}

// Important: with the input below the output, a target can be an input file (the input out/b
// holding b/f.txt writes out/b/f.txt, the input's own f.txt), which would be written over.
// The spelled paths find targets not made yet; the inodes find those reached through links.
platform::Status input_overlap_refusal(const std::string& input, const std::string& output,
                                       const std::vector<JobFile>& files) {
  const platform::Result<std::string> in_full = fsutil::full_path(input);
  const platform::Result<std::string> out_full = fsutil::full_path(output);
  if (!in_full || !out_full) return {};
  const std::string in_dir = as_dir(*in_full);
  const std::string out_dir = as_dir(*out_full);
  if (in_dir == out_dir) return {};
  if (in_dir.rfind(out_dir, 0) == 0) {
    for (const JobFile& f : files) {
      const std::string target = out_dir + f.relative_path();
      if (target.rfind(in_dir, 0) == 0) return lands_in_input(f.relative_path(), target, *in_full);
    }
  }
  struct stat in_root, out_root;
  if (platform::sysio().stat(in_dir.c_str(), &in_root) != 0 ||
      platform::sysio().stat(out_dir.c_str(), &out_root) != 0 || same_inode(in_root, out_root) ||
      !within(in_dir, out_root))
    return {};
  std::set<std::string> looked_at;
  for (const JobFile& f : files) {
    if (!looked_at.insert(f.relative_dir).second) continue;
    const std::string target_dir = out_dir + f.relative_dir;
    if (within(target_dir, in_root))
      return lands_in_input(f.relative_path(), out_dir + f.relative_path(), *in_full);
  }
  return {};
}

}  // namespace

platform::Status run_refusal(const std::string& input, const std::string& output,
                             const std::vector<JobFile>& files, bool in_place) {
  for (const JobFile& f : files) {
    if (!f.write_path.empty()) continue;  // in place through a link: the file found
    // A target's path with its NUL must fit PATH_MAX, or nothing can open it.
    const size_t length = output.size() + 1 + f.relative_path().size();
    if (length >= PATH_MAX)
      return platform::Error{
          ENAMETOOLONG,
          kestrum::strfmt(_("the output path of %s would be %zu bytes, longer than the %d a "
                            "path may have; choose a shorter output directory"),
                          f.relative_path().c_str(), length, PATH_MAX - 1)};
  }
  if (in_place) return {};
  if (platform::Status overlap = input_overlap_refusal(input, output, files); !overlap)
    return overlap;
  return output_refusal(output);
}

namespace {

std::optional<std::pair<dev_t, ino_t>> identity(const std::string& path) {
  struct stat st;
  if (platform::sysio().stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

}  // namespace

ReportPlace::ReportPlace(const std::string& report, const std::string& input,
                         const std::string& output)
    : input_(input), output_(output) {
  // Important: a report that is a link is written through to its file (write_file_safely).
  char real[PATH_MAX];
  const std::string where =
      ::realpath(report.c_str(), real) != nullptr ? std::string(real) : report;
  name_ = platform::name_part(where);
  const std::string dir = platform::dir_part(where);
  folder_ = identity(dir.empty() ? "." : dir);
  file_ = identity(where);
}

std::optional<ReportPlace::Id> ReportPlace::folder_of(const std::string& root,
                                                      const std::string& relative_dir) {
  return identity(relative_dir.empty() ? root : root + "/" + relative_dir);
}

bool ReportPlace::holds(const std::string& relative_dir, const std::string& name,
                        bool may_be_link) {
  if (!folder_) return false;
  if (name == name_ &&
      (folder_of(input_, relative_dir) == folder_ || folder_of(output_, relative_dir) == folder_))
    return true;
  if (!may_be_link || !file_) return false;
  const std::string source =
      (relative_dir.empty() ? input_ : input_ + "/" + relative_dir) + "/" + name;
  return identity(source) == file_;
}

platform::Status report_refusal(const std::string& report, const std::string& input,
                                const std::string& output, const std::vector<JobFile>& files) {
  if (report.empty()) return {};
  ReportPlace place(report, input, output);
  for (const JobFile& f : files) {
    if (!place.holds(f.relative_dir, f.file_name, f.entry != JobFile::Entry::file)) continue;
    return platform::Error{
        EEXIST, kestrum::strfmt(_("the report %s would be written over %s, a file of the run; "
                                  "choose another place for it"),
                                report.c_str(), f.relative_path().c_str())};
  }
  return {};
}
