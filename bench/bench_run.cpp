// Headless runs for bench_tool.py: the job on a tree, the plain walk baseline, the input trees.
//
//   bench_run job IN OUT [--from GBK] [--to UTF-8] [--threads N] [--no-durable] [--quiet]
//                        [--whole-limit BYTES]  (files above it in chunks; 0: all)
//                        [--eol MODE] [--bom MODE] [--rule FILTER:EOL:BOM]...
//   bench_run plain IN OUT [--from GBK] [--to UTF-8] [--threads N] [--sync]
//                        (--sync: one syncfs of OUT's file system at the end, timed: the
//                        least any walk pays to have its output on disk)
//   bench_run trees DATA          (DATA/source, DATA/small, DATA/big; kept when present)
//   bench_run bigfile PATH MIB    (one GBK file of MIB mebibytes)
//   bench_run shapes DIR MIB LANGUAGE ENCODING
//                        (DIR/{source,prose}-{legacy,utf8}/one.txt: C++ source with comments
//                        and prose in LANGUAGE, in ENCODING and in UTF-8, MIB mebibytes of UTF-8)
// job and plain print one line: files, bytes, seconds and failures, as JSON.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_corpus.h"
#include "job/job.h"
#include "util/log_buffer.h"

namespace {

struct Args {
  std::string in, out, from = "GBK", to = "UTF-8";
  unsigned threads = 0;
  bool durable = true;
  bool sync = false;  // plain only
  bool quiet = false;
  EolMode eol = EolMode::keep;
  BomMode bom = kDefaultBom;
  uint64_t whole_limit = uint64_t{32} << 20;  // 0: every file in chunks
  std::vector<FileRule> rules;
};

// "FILTER:EOL:BOM" ("*.cpp;*.h:crlf:add"); an empty part leaves that setting to the run.
bool parse_rule(const std::string& text, FileRule& rule) {
  const size_t b = text.rfind(':');
  const size_t e = b == std::string::npos || b == 0 ? std::string::npos : text.rfind(':', b - 1);
  if (e == std::string::npos) return false;
  rule.filter = text.substr(0, e);
  const std::string eol = text.substr(e + 1, b - e - 1), bom = text.substr(b + 1);
  EolMode em = EolMode::keep;
  BomMode bm = kDefaultBom;
  if (!eol.empty() && !parse_eol_mode(eol, em)) return false;
  if (!bom.empty() && !parse_bom_mode(bom, bm)) return false;
  if (!eol.empty()) rule.eol = em;
  if (!bom.empty()) rule.bom = bm;
  return true;
}

bool parse(int argc, char** argv, Args& a) {
  if (argc < 4) return false;
  a.in = argv[2];
  a.out = argv[3];
  for (int i = 4; i < argc; ++i) {
    const std::string o = argv[i];
    const bool has_value = i + 1 < argc;
    if (o == "--from" && has_value) {
      a.from = argv[++i];
    } else if (o == "--to" && has_value) {
      a.to = argv[++i];
    } else if (o == "--threads" && has_value) {
      a.threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (o == "--no-durable") {
      a.durable = false;
    } else if (o == "--sync") {
      a.sync = true;
    } else if (o == "--quiet") {
      a.quiet = true;
    } else if (o == "--whole-limit" && has_value) {
      a.whole_limit = std::strtoull(argv[++i], nullptr, 10);
    } else if (o == "--eol" && has_value && parse_eol_mode(argv[i + 1], a.eol)) {
      ++i;
    } else if (o == "--bom" && has_value && parse_bom_mode(argv[i + 1], a.bom)) {
      ++i;
    } else if (o == "--rule" && has_value) {
      FileRule rule;
      if (!parse_rule(argv[++i], rule)) {
        std::fprintf(stderr, "--rule takes FILTER:EOL:BOM, not %s\n", argv[i]);
        return false;
      }
      a.rules.push_back(std::move(rule));
    } else {
      std::fprintf(stderr, "unknown option %s\n", o.c_str());
      return false;
    }
  }
  return true;
}

double now_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void print_result(size_t files, uint64_t bytes, double seconds, size_t failures) {
  std::printf("{\"files\": %zu, \"bytes\": %llu, \"seconds\": %.6f, \"failures\": %zu}\n", files,
              static_cast<unsigned long long>(bytes), seconds, failures);
}

// What the window does with a running job: every line into the log, the progress kept.
class WindowLikeObserver final : public JobObserver {
 public:
  void message(const std::string& text) override { log_.append("%s", text.c_str()); }
  void file_done(size_t, const FileReport&, const std::vector<std::string>& lines,
                 const JobProgress& p) override {
    log_.append_lines(lines);
    done_.store(p.files_done, std::memory_order_relaxed);
  }

 private:
  LogBuffer log_;
  std::atomic<size_t> done_{0};
};

// What the command line does: its own line per file, from the report.
class QuietObserver final : public JobObserver {
 public:
  void message(const std::string&) override {}
  bool wants_file_lines() const override { return false; }
};

int run_job(const Args& a) {
  JobPlan plan;
  plan.input = a.in;
  plan.output = a.out;
  plan.filter = "*.*";
  plan.source = EncodingEntry(a.from);
  plan.target = EncodingEntry(a.to);
  plan.options.threads = a.threads;
  plan.options.durable = a.durable;
  plan.options.eol = a.eol;
  plan.options.bom = a.bom;
  plan.options.whole_file_limit = a.whole_limit;
  plan.options.rules = a.rules;
  WindowLikeObserver window;
  QuietObserver quiet;
  const double start = now_seconds();
  ConvertJob job(plan);
  const JobReport r = job.run(a.quiet ? static_cast<JobObserver&>(quiet) : window);
  print_result(r.files.size(), r.bytes, now_seconds() - start, r.failures());
  return r.ran && r.failures() == 0 ? 0 : 1;
}

// ---- the plain walk: read whole, one iconv call into an ample buffer, write whole ----

struct PlainFile {
  std::string src, dst;
};

// Lists the regular files below `src`, making their folders below `dst` on the way.
void list_tree(const std::string& src, const std::string& dst, std::vector<PlainFile>& files) {
  ::mkdir(dst.c_str(), 0755);
  DIR* d = ::opendir(src.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string s = src + "/" + e->d_name;
    std::string t = dst + "/" + e->d_name;
    if (e->d_type == DT_DIR)
      list_tree(s, t, files);
    else if (e->d_type == DT_REG)
      files.push_back({std::move(s), std::move(t)});
  }
  ::closedir(d);
}

bool read_whole(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  out.resize(static_cast<size_t>(st.st_size));
  const ssize_t n = ::read(fd, out.data(), out.size());
  ::close(fd);
  return n == st.st_size;
}

bool plain_convert(const PlainFile& f, const Args& a, std::string& in, std::string& out) {
  if (!read_whole(f.src, in)) return false;
  const iconv_t cd = ::iconv_open(a.to.c_str(), a.from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.resize(in.size() * 2 + 16);
  char* ip = in.data();
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool ok = ::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  const int fd = ::open(f.dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  return ::close(fd) == 0 && ok && written;
}

bool sync_output(const std::string& out) {
  const int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

int run_plain(const Args& a) {
  const double start = now_seconds();
  std::vector<PlainFile> files;
  list_tree(a.in, a.out, files);
  std::atomic<size_t> next{0}, failures{0};
  std::atomic<uint64_t> bytes{0};
  const auto loop = [&] {
    std::string in, out;
    for (size_t i; (i = next.fetch_add(1)) < files.size();) {
      in.clear();  // a file that cannot be opened adds nothing, not the previous file's size
      if (!plain_convert(files[i], a, in, out)) failures.fetch_add(1);
      bytes.fetch_add(in.size());
    }
  };
  std::vector<std::thread> threads;
  const unsigned count = a.threads == 0 ? std::thread::hardware_concurrency() : a.threads;
  for (unsigned t = 1; t < count; ++t) threads.emplace_back(loop);
  loop();
  for (auto& t : threads) t.join();
  if (a.sync && !sync_output(a.out)) failures.fetch_add(1);
  print_result(files.size(), bytes.load(), now_seconds() - start, failures.load());
  return failures.load() == 0 ? 0 : 1;
}

// ---- inputs ----

int make_trees(const std::string& data) {
  const std::string gbk = bench_corpus::gbk_text(size_t{4} << 20);
  if (gbk.empty()) {
    std::fprintf(stderr, "no Chinese text: install manpages-zh\n");
    return 1;
  }
  ::mkdir(data.c_str(), 0755);
  // About 11,000 files and 170 MB, the sizes of a source tree's files.
  bench_corpus::make_tree(data + "/source", gbk, 11000, 1000, 30000);
  bench_corpus::make_tree(data + "/small", gbk, 50000, 1000, 4000);
  bench_corpus::make_tree(data + "/big", gbk, 20, 12000000, 19000000);
  return 0;
}

int make_big_file(const std::string& path, uint64_t mib) {
  const std::string gbk = bench_corpus::gbk_text(size_t{16} << 20);
  if (gbk.empty()) return 1;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 1;
  uint64_t left = mib << 20;
  bool ok = true;
  while (ok && left > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, gbk.size()));
    // The text is cut at a line end, never inside a two-byte character.
    if (n < gbk.size()) n = gbk.rfind('\n', n - 1) + 1;
    ok = n > 0 && std::fwrite(gbk.data(), 1, n, f) == n;
    left = n < left && n == gbk.size() ? left - n : 0;
  }
  return std::fclose(f) == 0 && ok ? 0 : 1;
}

bool write_whole(const std::string& path, const std::string& bytes) {
  ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

int make_shapes(const std::string& dir, uint64_t mib, const std::string& language,
                const std::string& encoding) {
  ::mkdir(dir.c_str(), 0755);
  const size_t bytes = static_cast<size_t>(mib << 20);
  for (const char* shape : {"source", "prose"}) {
    const std::string utf8 = std::string(shape) == "source"
                                 ? bench_corpus::source_text(language, encoding, bytes)
                                 : bench_corpus::prose_text(language, encoding, bytes);
    const std::string legacy = bench_corpus::encoded(utf8, encoding);
    if (utf8.empty() || legacy.empty()) {
      std::fprintf(stderr, "no %s text in %s for %s\n", language.c_str(), encoding.c_str(), shape);
      return 1;
    }
    if (!write_whole(dir + "/" + shape + "-utf8/one.txt", utf8) ||
        !write_whole(dir + "/" + shape + "-legacy/one.txt", legacy))
      return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  Args a;
  if ((mode == "job" || mode == "plain") && parse(argc, argv, a))
    return mode == "job" ? run_job(a) : run_plain(a);
  if (mode == "trees" && argc == 3) return make_trees(argv[2]);
  if (mode == "bigfile" && argc == 4)
    return make_big_file(argv[2], std::strtoull(argv[3], nullptr, 10));
  if (mode == "shapes" && argc == 6)
    return make_shapes(argv[2], std::strtoull(argv[3], nullptr, 10), argv[4], argv[5]);
  std::fprintf(stderr,
               "usage: bench_run job|plain IN OUT [--from E] [--to E] [--threads N] "
               "[--no-durable] [--quiet] [--whole-limit BYTES]\n               [--eol MODE] [--bom "
               "MODE] [--rule "
               "FILTER:EOL:BOM]...\n       bench_run trees DATA\n"
               "       bench_run bigfile PATH MIB\n"
               "       bench_run shapes DIR MIB LANGUAGE ENCODING\n");
  return 2;
}
