// Sources of encoding names on glibc: the converter cache file, or the `iconv -l` command.
#include "util/encoding_sources.h"

#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_set>

#include "platform/fs.h"
#include "platform/spawn.h"
#include "platform/sys_io.h"

namespace {

// Layout of glibc's gconv-modules.cache (native byte order, 16-bit offsets), stable since its
// magic number's date.
constexpr uint32_t kCacheMagic = 0x20010324;
constexpr size_t kHeaderSize = 4 + 5 * 2;
constexpr size_t kHashEntrySize = 2 * 2;
constexpr size_t kModuleEntrySize = 6 * 2;

uint16_t u16_at(const std::string& data, size_t at) {
  uint16_t v;
  std::memcpy(&v, data.data() + at, sizeof v);
  return v;
}

std::string_view without_trailing_slashes(std::string_view name) {
  while (!name.empty() && name.back() == '/') name.remove_suffix(1);
  return name;
}

// A NUL-terminated string of the string table, or nullptr when it leaves the file.
const char* table_string(const std::string& data, size_t table, size_t offset) {
  const size_t at = table + offset;
  if (at >= data.size() || std::memchr(data.data() + at, '\0', data.size() - at) == nullptr)
    return nullptr;
  return data.data() + at;
}

int collect_libc_dir(dl_phdr_info* info, size_t, void* data) {
  const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
  const size_t slash = name.rfind('/');
  if (slash == std::string_view::npos || name.substr(slash + 1).substr(0, 7) != "libc.so") return 0;
  *static_cast<std::string*>(data) = std::string(name.substr(0, slash));
  return 1;
}

void append_unique(std::vector<std::string>& group, std::unordered_set<std::string>& seen,
                   std::string_view name) {
  if (name.empty()) return;
  std::string s(name);
  if (seen.insert(s).second) group.push_back(std::move(s));
}

}  // namespace

std::string gconv_cache_path() {
  // glibc keeps its converters in <libdir>/gconv, where libdir is libc's own directory (under
  // /usr when libc is loaded from /lib).
  std::string libdir;
  ::dl_iterate_phdr(collect_libc_dir, &libdir);
  std::vector<std::string> candidates;
  if (!libdir.empty()) {
    if (libdir.compare(0, 5, "/lib/") == 0 || libdir == "/lib" ||
        libdir.compare(0, 6, "/lib64") == 0)
      candidates.push_back("/usr" + libdir + "/gconv/gconv-modules.cache");
    candidates.push_back(libdir + "/gconv/gconv-modules.cache");
  }
  candidates.push_back("/usr/lib64/gconv/gconv-modules.cache");
  candidates.push_back("/usr/lib/gconv/gconv-modules.cache");
  for (const auto& c : candidates)
    if (platform::sysio().access(c.c_str(), R_OK) == 0) return c;
  return {};
}

platform::Result<EncodingGroups> groups_from_gconv_cache(const std::string& path) {
  std::string data;
  if (const platform::Status read = platform::read_file(path, data); !read)
    return platform::Error{read.err(), path + ": " + std::strerror(read.err())};
  const auto bad = [&](const char* what) { return platform::Error{EINVAL, path + ": " + what}; };
  EncodingGroups groups;
  if (data.size() < kHeaderSize) return bad("too short");
  uint32_t magic;
  std::memcpy(&magic, data.data(), sizeof magic);
  if (magic != kCacheMagic) return bad("unknown format");
  const size_t strings = u16_at(data, 4);
  const size_t hash = u16_at(data, 6);
  const size_t hash_size = u16_at(data, 8);
  const size_t modules = u16_at(data, 10);
  if (hash + hash_size * kHashEntrySize > data.size()) return bad("hash table out of bounds");

  std::map<uint16_t, std::vector<std::string>> by_module;
  std::unordered_set<std::string> seen;
  for (size_t i = 0; i < hash_size; ++i) {
    const size_t entry = hash + i * kHashEntrySize;
    const uint16_t name_offset = u16_at(data, entry);
    if (name_offset == 0) continue;  // free slot
    const uint16_t module = u16_at(data, entry + 2);
    const char* raw = table_string(data, strings, name_offset);
    if (raw == nullptr) return bad("name out of bounds");
    if (std::strcmp(raw, "INTERNAL") == 0) continue;  // the converter's pivot, not a charset
    const size_t module_at = modules + module * kModuleEntrySize;
    if (module_at + kModuleEntrySize > data.size()) return bad("module out of bounds");
    append_unique(by_module[module], seen, without_trailing_slashes(raw));
  }
  for (auto& [module, names] : by_module) {
    const char* canon =
        table_string(data, strings, u16_at(data, modules + module * kModuleEntrySize));
    const std::string_view canonical = without_trailing_slashes(canon != nullptr ? canon : "");
    const auto it = std::find(names.begin(), names.end(), canonical);
    if (it != names.end()) std::rotate(names.begin(), it, it + 1);
    groups.push_back(std::move(names));
  }
  if (groups.empty()) return bad("no names");
  return groups;
}

platform::Result<EncodingGroups> groups_from_iconv_command() {
  const platform::Result<platform::captured_run> ran =
      platform::run_captured("iconv", {"iconv", "-l"});
  if (!ran) return platform::Error{ran.err(), std::string("iconv -l: ") + std::strerror(ran.err())};
  const platform::captured_run& run = *ran;
  if (run.exit_status != 0)
    return platform::Error{ECHILD, "iconv -l: exit status " + std::to_string(run.exit_status)};
  EncodingGroups groups;
  const std::string& text = run.output;
  // One name a line when piped; commas and blanks separate them in the human form.
  std::unordered_set<std::string> seen;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find_first_of(", \t\r\n", pos), text.size());
    std::vector<std::string> group;
    append_unique(group, seen,
                  without_trailing_slashes(std::string_view(text).substr(pos, end - pos)));
    if (!group.empty()) groups.push_back(std::move(group));
    pos = end + 1;
  }
  if (groups.empty()) return platform::Error{EINVAL, "iconv -l: no names"};
  return groups;
}

platform::Result<EncodingGroups> list_encoding_groups() {
  // The cache is what glibc itself reads, and it knows the groups; glibc ignores it when
  // GCONV_PATH is set, and then so do we, asking `iconv -l`, which sees the same modules.
  std::string why;
  if (std::getenv("GCONV_PATH") == nullptr) {
    const std::string cache = gconv_cache_path();
    if (!cache.empty()) {
      platform::Result<EncodingGroups> cached = groups_from_gconv_cache(cache);
      if (cached) return cached;
      why = cached.error().context + "; ";
    }
  }
  platform::Result<EncodingGroups> listed = groups_from_iconv_command();
  if (listed) return listed;
  return platform::Error{listed.err(), why + listed.error().context};
}

void sort_groups(EncodingGroups& groups) {
  const auto less = [](const std::string& a, const std::string& b) {
    return ::strverscmp(a.c_str(), b.c_str()) < 0;
  };
  for (auto& g : groups)
    if (g.size() > 2) std::sort(g.begin() + 1, g.end(), less);
  std::erase_if(groups, [](const auto& g) { return g.empty(); });
  std::sort(groups.begin(), groups.end(),
            [&](const auto& a, const auto& b) { return less(a.front(), b.front()); });
}
