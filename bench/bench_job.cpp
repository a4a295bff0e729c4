// Whole-job throughput on generated GBK and ASCII trees, interleaved with a plain iconv walk
// and cp -r.
//
// Usage: bench_job [data-dir] [rounds]
// The trees are generated once under data-dir (default ./bench-data) from the Chinese manual
// pages of manpages-zh and reused; every round writes into a fresh output folder.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "bench_corpus.h"

namespace fs = std::filesystem;

namespace {

struct Tree {
  std::string name;
  std::string dir;
  size_t files = 0;
  uint64_t bytes = 0;
};

// ---- the baseline: read whole, one whole-output iconv call, write whole ----

bool read_whole(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  ::fstat(fd, &st);
  out.resize(static_cast<size_t>(st.st_size));
  ssize_t n = ::read(fd, out.data(), out.size());
  ::close(fd);
  return n == st.st_size;
}

void plain_convert(const std::string& src, const std::string& dst, std::string& in,
                   std::string& out) {
  if (!read_whole(src, in)) return;
  iconv_t cd = ::iconv_open("UTF-8", "GBK");
  out.resize(in.size() * 2 + 16);
  char* ip = in.data();
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  ::iconv(cd, &ip, &il, &op, &ol);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  int fd = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, out.data(), out.size()) < 0) std::perror("write");
  ::close(fd);
}

void plain_walk(const std::string& src, const std::string& dst, std::string& in, std::string& out) {
  ::mkdir(dst.c_str(), 0755);
  DIR* d = ::opendir(src.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string s = src + "/" + e->d_name;
    const std::string t = dst + "/" + e->d_name;
    if (e->d_type == DT_DIR)
      plain_walk(s, t, in, out);
    else if (e->d_type == DT_REG)
      plain_convert(s, t, in, out);
  }
  ::closedir(d);
}

// ---- the candidate: the tool's own job on a real AppState ----

enum class Mode { convert, preview_detecting, convert_detecting };

// Runs the job and checks that it converted every file of the tree without a failure.
void run_job(const std::string& src, const std::string& dst, size_t files,
             Mode mode = Mode::convert) {
  AppState app(AppState::no_config);
  app.input = src;
  app.output = dst;
  app.filters = {"*.*"};
  app.from_index = app.index_of("GBK");
  app.to_index = app.index_of("UTF-8");
  app.detect = mode != Mode::convert;
  JobPlan plan = *app.plan_from_settings();
  if (mode == Mode::preview_detecting) {
    plan.options.dry_run = true;
    plan.options.samples = true;
  }
  app.jobs.prepare(std::move(plan));
  app.jobs.run();
  const std::shared_ptr<const JobReport> r = app.last_report();
  if (!r || !r->ran || r->failures() != 0 || r->files.size() != files) {
    std::fprintf(stderr, "the job on %s did not convert its %zu files\n", src.c_str(), files);
    std::exit(1);
  }
}

// Important: the job flushes what it writes (syncfs), which would also flush what the run before
// it left dirty; every timed run starts with nothing of another's left to write.
double time_it(const std::function<void()>& f) {
  ::sync();
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

Tree scan(const std::string& name, const std::string& dir) {
  Tree t{name, dir};
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) {
      ++t.files;
      t.bytes += e.file_size();
    }
  return t;
}

void measure(const Tree& t, const std::string& out_root, int rounds, bool in_place_too) {
  std::vector<double> job, plain, cp, in_place;
  static int serial = 0;
  auto fresh = [&](const char* what) {
    return out_root + "/" + what + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(serial++);
  };
  // Each walk gets fresh buffers, as each job does: a run of the tool starts with none.
  auto walk = [&](const std::string& dst) {
    std::string in, out;
    plain_walk(t.dir, dst, in, out);
  };
  // One untimed round warms the page cache and the converter modules.
  walk(fresh("warm"));
  for (int r = 0; r < rounds; ++r) {
    job.push_back(time_it([&] { run_job(t.dir, fresh("job"), t.files); }));
    // Over a tree that needs nothing the job in place reads and writes nothing back.
    if (in_place_too) in_place.push_back(time_it([&] { run_job(t.dir, t.dir, t.files); }));
    plain.push_back(time_it([&] { walk(fresh("plain")); }));
    const std::string cmd = "cp -r '" + t.dir + "' '" + fresh("cp") + "'";
    cp.push_back(time_it([&] {
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cp failed\n");
    }));
  }
  const double mb = static_cast<double>(t.bytes) / 1e6;
  auto row = [&](const char* what, double s) {
    std::printf("  %-12s %8.3f s  %9.0f files/s  %7.1f MB/s\n", what, s,
                static_cast<double>(t.files) / s, mb / s);
  };
  std::printf("%s: %zu files, %.1f MB, median of %d rounds\n", t.name.c_str(), t.files, mb, rounds);
  row("job", median(job));
  if (in_place_too) row("job in place", median(in_place));
  row("plain walk", median(plain));
  row("cp -r", median(cp));
  std::printf("  job / plain walk = %.3fx, job / cp -r = %.3fx\n", median(job) / median(plain),
              median(job) / median(cp));
  if (in_place_too)
    std::printf("  job in place / plain walk = %.3fx\n", median(in_place) / median(plain));
  std::printf("\n");
}

// What detection costs: a preview (detection, classification and conversion in memory, the
// sample lines) and a detecting conversion, against the plain conversion of the same tree.
void measure_detection(const Tree& t, const std::string& out_root, int rounds) {
  std::vector<double> job, preview, detecting;
  int serial = 0;
  auto fresh = [&](const char* what) {
    return out_root + "/" + what + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(serial++);
  };
  run_job(t.dir, fresh("warm-detect"), t.files, Mode::preview_detecting);
  for (int r = 0; r < rounds; ++r) {
    job.push_back(time_it([&] { run_job(t.dir, fresh("job"), t.files); }));
    preview.push_back(
        time_it([&] { run_job(t.dir, fresh("preview"), t.files, Mode::preview_detecting); }));
    detecting.push_back(
        time_it([&] { run_job(t.dir, fresh("detecting"), t.files, Mode::convert_detecting); }));
  }
  std::printf("detection on the %s: %zu files, median of %d rounds\n", t.name.c_str(), t.files,
              rounds);
  std::printf(
      "  job %.3f s, preview with detection %.3f s (%.2fx), job with detection %.3f s "
      "(%.2fx)\n\n",
      median(job), median(preview), median(preview) / median(job), median(detecting),
      median(detecting) / median(job));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string data = argc > 1 ? argv[1] : "bench-data";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string gbk = bench_corpus::gbk_text(1 << 20);
  if (gbk.empty()) {
    std::fprintf(stderr, "no Chinese text: install manpages-zh\n");
    return 1;
  }
  const std::string ascii = bench_corpus::ascii_text(1 << 20);
  const std::vector<Tree> trees = {
      scan("source-like tree", bench_corpus::make_tree(data + "/source", gbk, 4000, 1000, 80000)),
      scan("50,000 small files", bench_corpus::make_tree(data + "/small", gbk, 50000, 1000, 4000)),
      scan("big files", bench_corpus::make_tree(data + "/big", gbk, 6, 10000000, 20000000)),
      scan("pure-ASCII source-like tree",
           bench_corpus::make_tree(data + "/ascii", ascii, 4000, 1000, 80000)),
  };
  const std::string out_root = data + "/out";
  fs::create_directories(out_root);
  for (const auto& t : trees) measure(t, out_root, rounds, &t == &trees.back());
  measure_detection(trees.front(), out_root, rounds);
  return 0;
}
