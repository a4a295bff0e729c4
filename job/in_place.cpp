// File identities of an in-place run.
#include "job/in_place.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "platform/sys_io.h"
#include "undo/store.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

std::string real_path(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

bool inside(const std::string& root, const std::string& path) {
  if (root == "/") return true;
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

// Where a link may lead in place: the input tree, or with named roots only those (a folder as
// it really is; a file by its own name, so a named link to elsewhere still leads outside).
// Important: named paths are taken relative to their common folder, whose other files the
// user did not name. Empty entries: nothing can be resolved.
std::vector<std::string> areas_of(const std::string& input, const std::vector<std::string>& roots) {
  if (roots.empty()) return {real_path(input)};
  std::vector<std::string> areas;
  for (const std::string& root : roots) {
    const std::string path = root.empty() ? input : input + "/" + root;
    struct stat st;
    if (platform::sysio().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      areas.push_back(real_path(path));
      continue;
    }
    const size_t slash = path.rfind('/');
    const std::string dir = real_path(slash == std::string::npos ? "." : path.substr(0, slash));
    areas.push_back(dir.empty() ? dir : dir + path.substr(slash == std::string::npos ? 0 : slash));
  }
  return areas;
}

// A path through an undo store (named on a command line: the search never enters one).
bool in_undo_store(const std::string& relative) {
  const std::string_view tag = undo::kStoreName;
  for (size_t at = 0; at <= relative.size();) {
    size_t end = relative.find('/', at);
    if (end == std::string::npos) end = relative.size();
    const std::string_view part(relative.data() + at, end - at);
    if (part.size() >= tag.size() && part.front() == '.' &&
        part.substr(part.size() - tag.size()) == tag)
      return true;
    at = end + 1;
  }
  return false;
}

bool within(const std::vector<std::string>& areas, const std::string& real) {
  for (const std::string& a : areas)
    if (!a.empty() && (a == real || inside(a, real))) return true;
  return false;
}

struct FirstName {
  size_t index;
  std::string written;          // the path the first name's content goes to
  nlink_t links = 1;            // hard links the file has
  std::set<std::string> names;  // its names found in the tree (only when it has several)
  std::vector<size_t> members;  // every entry that reaches it
};

// Important: a file with a name the run does not reach (outside the tree, hidden, or left out
// by the filter) would part from it when replaced; it is left alone, as a link outside is.
void keep_linked_outside(std::vector<JobFile>& files, const FirstName& first) {
  if (first.links <= 1 || first.names.size() >= first.links) return;
  const std::string note = kestrum::strfmt(
      P_("is a hard link: %zu of its %zu names are outside the files converted, which would keep "
         "the old text",
         "is a hard link: %zu of its %zu names are outside the files converted, which would keep "
         "the old text",
         first.links),
      static_cast<size_t>(first.links) - first.names.size(), static_cast<size_t>(first.links));
  for (const size_t i : first.members) {
    files[i].identity = Outcome::outside;
    files[i].identity_note = note;
    files[i].hard_links.clear();
  }
}

}  // namespace

bool same_directory(const std::string& input, const std::string& output) {
  struct stat a, b;
  return platform::sysio().stat(input.c_str(), &a) == 0 &&
         platform::sysio().stat(output.c_str(), &b) == 0 && S_ISDIR(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void resolve_in_place(const std::string& input, const std::vector<std::string>& roots,
                      std::vector<JobFile>& files) {
  const std::vector<std::string> areas = areas_of(input, roots);
  std::map<std::pair<dev_t, ino_t>, FirstName> seen;
  for (size_t i = 0; i < files.size(); ++i) {
    JobFile& f = files[i];
    if (f.identity != Outcome::converted) continue;
    // Important: what an undo keeps is never converted itself.
    if (in_undo_store(f.relative_path())) {
      f.identity = Outcome::skipped;
      f.identity_note = _("is kept in an undo store");
      continue;
    }
    const std::string path = input + "/" + f.relative_path();
    struct stat st;
    if (platform::sysio().lstat(path.c_str(), &st) != 0) continue;  // gone: reading it reports why
    const bool link = S_ISLNK(st.st_mode);
    if (link) {
      // Important: a link is written through to the file it names, and only when that file
      // lies inside what the run converts; the link itself stays a link.
      const std::string real = real_path(path);
      if (real.empty() || !within(areas, real) || platform::sysio().stat(real.c_str(), &st) != 0) {
        f.identity = Outcome::outside;
        if (real.empty())
          f.identity_note = roots.empty()
                                ? _("links to a missing file, outside the input directory")
                                : _("links to a missing file, outside the paths named");
        else
          f.identity_note =
              kestrum::strfmt(roots.empty() ? _("links to %s, outside the input directory")
                                            : _("links to %s, outside the paths named"),
                              real.c_str());
        continue;
      }
      f.write_path = real;
    }
    // What the conversion must find again when it reads the file.
    if (S_ISREG(st.st_mode)) {
      f.entry = link ? JobFile::Entry::link : JobFile::Entry::file;
      f.dev = st.st_dev;
      f.ino = st.st_ino;
    }
    const auto key = std::make_pair(st.st_dev, st.st_ino);
    auto it = seen.find(key);
    const bool first_name = it == seen.end();
    if (first_name)
      it = seen.emplace(key, FirstName{i, link ? f.write_path : path, 1, {}, {}}).first;
    it->second.links = st.st_nlink;
    it->second.members.push_back(i);
    if (st.st_nlink > 1) it->second.names.insert(link ? f.write_path : real_path(path));
    if (first_name) continue;
    JobFile& first = files[it->second.index];
    f.identity = Outcome::same_file;
    f.identity_note = kestrum::strfmt(_("same file as %s"), first.relative_path().c_str());
    // A second hard link keeps the new content too once the first name is written.
    if (!link && st.st_nlink > 1 && real_path(path) != real_path(it->second.written))
      first.hard_links.push_back(path);
  }
  for (const auto& [key, first] : seen) keep_linked_outside(files, first);
}
