// Manifest lines: tab-separated fields, escaped, with an XXH3 check sum of the line last.
#include "undo/manifest.h"

#include <fcntl.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>

#include "platform/fs.h"
#include "platform/sys_io.h"
#include "util/i18n.h"

namespace undo {
namespace {

constexpr std::string_view kFormat = "ouzel-undo";
constexpr std::string_view kVersion = "1";

void put_field(std::string& line, std::string_view field) {
  if (!line.empty()) line += '\t';
  for (const char c : field) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      default:
        line += c;
    }
  }
}

template <typename T>
void put_number(std::string& line, T value) {
  put_field(line, std::to_string(value));
}

std::string checksum(std::string_view text) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%08x",
                static_cast<unsigned>(XXH3_64bits(text.data(), text.size()) & 0xffffffffu));
  return buf;
}

std::string finished_line(std::string line) {
  const std::string sum = checksum(line);
  put_field(line, sum);
  line += '\n';
  return line;
}

// The fields of one line, unescaped; empty when its check sum is wrong.
std::vector<std::string> fields_of(std::string_view line) {
  const size_t tab = line.rfind('\t');
  if (tab == std::string_view::npos || checksum(line.substr(0, tab)) != line.substr(tab + 1))
    return {};
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < tab; ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < tab) {
      const char e = line[++i];
      fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

template <typename T>
bool number_of(const std::string& text, T& out, int base = 10) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
  return ec == std::errc() && ptr == end && !text.empty();
}

std::optional<KeptBy> kept_by_of(std::string_view name) {
  for (const KeptBy how : {KeptBy::link, KeptBy::reflink, KeptBy::copy})
    if (kept_by_name(how) == name) return how;
  return std::nullopt;
}

// keep NUMBER HOW PATH OLD_SIZE OLD_HASH NEW_SIZE NEW_HASH MODE UID GID ATIME MTIME OUTCOME
// LINKS LINK...
bool parse_keep(const std::vector<std::string>& f, KeptFile& k) {
  constexpr size_t kFixed = 15;
  if (f.size() < kFixed) return false;
  const std::optional<KeptBy> how = kept_by_of(f[2]);
  const std::optional<ContentHash> old_hash = parse_hash(f[5]);
  const std::optional<ContentHash> new_hash = parse_hash(f[7]);
  size_t links = 0;
  if (!how || !old_hash || !new_hash || !number_of(f[1], k.number) ||
      !number_of(f[4], k.old_size) || !number_of(f[6], k.new_size) || !number_of(f[8], k.mode, 8) ||
      !number_of(f[9], k.uid) || !number_of(f[10], k.gid) || !number_of(f[11], k.atime_ns) ||
      !number_of(f[12], k.mtime_ns) || !number_of(f[14], links) || f.size() != kFixed + links ||
      f[3].empty())
    return false;
  k.how = *how;
  k.path = f[3];
  k.old_hash = *old_hash;
  k.new_hash = *new_hash;
  k.outcome = f[13];
  k.links.assign(f.begin() + kFixed, f.end());
  return true;
}

void take_line(const std::vector<std::string>& f, Manifest& m) {
  if (f[0] == "keep") {
    KeptFile k;
    if (parse_keep(f, k)) m.files.push_back(std::move(k));
  } else if (f[0] == "void" && f.size() == 2) {
    uint64_t number = 0;
    if (!number_of(f[1], number)) return;
    for (KeptFile& k : m.files)
      if (k.number == number) k.voided = true;
  } else if (f[0] == "end" && f.size() == 5) {
    m.finished =
        number_of(f[1], m.ended_ns) && number_of(f[3], m.end_files) && number_of(f[4], m.end_bytes);
    m.stopped = f[2] == "1";
  }
}

}  // namespace

std::string_view kept_by_name(KeptBy how) {
  switch (how) {
    case KeptBy::link:
      return "link";
    case KeptBy::reflink:
      return "reflink";
    default:
      return "copy";
  }
}

size_t Manifest::kept_count() const {
  if (!whole) return end_files;
  size_t n = 0;
  for (const KeptFile& k : files) n += k.voided ? 0 : 1;
  return n;
}

uint64_t Manifest::kept_bytes() const {
  if (!whole) return end_bytes;
  uint64_t n = 0;
  for (const KeptFile& k : files) n += k.voided ? 0 : k.old_size;
  return n;
}

std::string header_records(const RunHeader& h) {
  std::string format;
  put_field(format, kFormat);
  put_field(format, kVersion);
  std::string run;
  put_field(run, "run");
  put_field(run, h.id);
  put_number(run, h.started_ns);
  put_field(run, h.root);
  put_field(run, h.source);
  put_field(run, h.target);
  return finished_line(std::move(format)) + finished_line(std::move(run));
}

std::string keep_record(const KeptFile& k) {
  std::string line;
  put_field(line, "keep");
  put_number(line, k.number);
  put_field(line, kept_by_name(k.how));
  put_field(line, k.path);
  put_number(line, k.old_size);
  put_field(line, hash_text(k.old_hash));
  put_number(line, k.new_size);
  put_field(line, hash_text(k.new_hash));
  char mode[16];
  std::snprintf(mode, sizeof mode, "%o", k.mode);
  put_field(line, mode);
  put_number(line, k.uid);
  put_number(line, k.gid);
  put_number(line, k.atime_ns);
  put_number(line, k.mtime_ns);
  put_field(line, k.outcome);
  put_number(line, k.links.size());
  for (const std::string& name : k.links) put_field(line, name);
  return finished_line(std::move(line));
}

std::string void_record(uint64_t number) {
  std::string line;
  put_field(line, "void");
  put_number(line, number);
  return finished_line(std::move(line));
}

std::string end_record(int64_t ended_ns, bool stopped, size_t files, uint64_t bytes) {
  std::string line;
  put_field(line, "end");
  put_number(line, ended_ns);
  put_field(line, stopped ? "1" : "0");
  put_number(line, files);
  put_number(line, bytes);
  return finished_line(std::move(line));
}

platform::Result<Manifest> parse_manifest(std::string_view text) {
  Manifest m;
  bool format = false, header = false;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;  // cut short by a kill: never finished
    const std::vector<std::string> f = fields_of(text.substr(at, end - at));
    at = end + 1;
    if (f.empty()) continue;
    if (!format) {
      format = f.size() == 2 && f[0] == kFormat && f[1] == kVersion;
      if (!format) break;
    } else if (!header) {
      int64_t started = 0;
      header = f.size() == 6 && f[0] == "run" && number_of(f[2], started);
      if (!header) break;
      m.header = {f[1], started, f[3], f[4], f[5]};
    } else {
      take_line(f, m);
    }
  }
  if (!header) return platform::Error{EINVAL, _("not an undo manifest")};
  return m;
}

platform::Result<Manifest> read_manifest_ends(const std::string& path) {
  const int fd = platform::retry_eintr(
      [&] { return platform::sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0); });
  if (fd < 0) return platform::last_error("open " + path);
  const platform::Result<int64_t> size = platform::file_size(fd);
  // The header is two short lines; the last record one.
  constexpr size_t kHead = 64 << 10, kTail = 4 << 10;
  std::string head(kHead, '\0'), tail(kTail, '\0');
  const ssize_t got_head = size ? platform::sysio().pread(fd, head.data(), kHead, 0) : -1;
  const off_t from = size ? static_cast<off_t>(std::max<int64_t>(0, *size - int64_t{kTail})) : 0;
  const ssize_t got_tail = size ? platform::sysio().pread(fd, tail.data(), kTail, from) : -1;
  platform::sysio().close(fd);
  if (got_head < 0 || got_tail < 0) return read_manifest(path);
  head.resize(static_cast<size_t>(got_head));
  tail.resize(static_cast<size_t>(got_tail));
  const size_t end = tail.rfind('\n', tail.empty() ? 0 : tail.size() - 2);
  const size_t start = end == std::string::npos ? 0 : end + 1;
  const size_t header_end = head.find('\n', head.find('\n') + 1);
  if (header_end == std::string::npos || tail.empty() || tail.back() != '\n')
    return read_manifest(path);
  platform::Result<Manifest> m =
      parse_manifest(head.substr(0, header_end + 1) + tail.substr(start));
  if (!m || !m->finished) return read_manifest(path);
  m->whole = false;
  return m;
}

platform::Result<Manifest> read_manifest(const std::string& path) {
  std::string text;
  if (platform::Status read = platform::read_file(path, text); !read) return read.error();
  platform::Result<Manifest> m = parse_manifest(text);
  if (!m) return platform::Error{m.err(), path + ": " + m.error().context};
  return m;
}

}  // namespace undo
