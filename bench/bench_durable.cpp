// Crash-safe and durable target writes against plain writes, and a streamed big-file conversion
// against the whole-file one, in interleaved rounds.
//
// Usage: bench_durable [data-dir] [rounds] [big-file-MB]   (rounds: best a multiple of 4)
// Every round writes into a fresh folder under data-dir/durable-out and nothing is deleted:
// creating files right after removing many is several times slower here for minutes. Remove
// data-dir/durable-out by hand afterwards.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "job/job.h"
#include "platform/fs.h"
#include "platform/publisher.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "transcode/stream_convert.h"

namespace fs = std::filesystem;

namespace {

// Files to write: relative paths, contents, and the folders they need.
struct FileSet {
  std::string name;
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  std::vector<std::string> dirs;
  uint64_t bytes = 0;
};

FileSet make_set(const std::string& name, const std::string& text, size_t files, size_t min_bytes,
                 size_t max_bytes) {
  FileSet set{name, {}, {}, {}, 0};
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> size(min_bytes, max_bytes);
  std::string big = text;
  while (big.size() < max_bytes * 2) big += text;
  for (size_t d = 0; d < std::min<size_t>(files, 37); ++d)
    for (size_t e = 0; e < std::min<size_t>(files, 11); ++e)
      set.dirs.push_back("d" + std::to_string(d) + "/e" + std::to_string(e));
  for (size_t i = 0; i < files; ++i) {
    set.paths.push_back("d" + std::to_string(i % 37 % std::min<size_t>(files, 37)) + "/e" +
                        std::to_string(i % 11 % std::min<size_t>(files, 11)) + "/f" +
                        std::to_string(i) + ".txt");
    const size_t len = size(rng);
    set.contents.push_back(big.substr(rng() % (big.size() - len), len));
    set.bytes += len;
  }
  return set;
}

using Writer = std::function<int(const std::string& root, const FileSet& set)>;

// Baseline: open, write, close under the final name.
int write_plain(const std::string& root, const FileSet& set) {
  int failures = 0;
  for (size_t i = 0; i < set.paths.size(); ++i) {
    const std::string path = root + "/" + set.paths[i];
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const std::string& c = set.contents[i];
    if (fd < 0 || ::write(fd, c.data(), c.size()) != static_cast<ssize_t>(c.size())) ++failures;
    if (fd >= 0) ::close(fd);
  }
  return failures;
}

int write_with(const std::string& root, const FileSet& set, platform::PublisherOptions options) {
  int failures = 0;
  {
    platform::Publisher publisher(options, [&](uint64_t, const std::string&, int err) {
      if (err != 0) ++failures;  // one thread submits; the callback runs on one other
    });
    for (size_t i = 0; i < set.paths.size(); ++i) {
      platform::TargetFile file;
      if (!file.open(root + "/" + set.paths[i], platform::LinkPolicy::replace_link) ||
          file.append(set.contents[i]) != 0) {
        ++failures;
        continue;
      }
      publisher.submit(std::move(file), i);
    }
    publisher.finish();
  }
  return failures;
}

int write_safe(const std::string& root, const FileSet& set) {
  platform::PublisherOptions o;
  o.durable = false;
  return write_with(root, set, o);
}

int open_no_tmpfile(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return platform::real_sysio().open(path, flags, mode);
}

// The same with named temporary files, as on file systems without unnamed ones.
int write_safe_named(const std::string& root, const FileSet& set) {
  platform::ScopedSysIo scope;
  platform::sysio().open = open_no_tmpfile;
  return write_safe(root, set);
}

int write_durable(const std::string& root, const FileSet& set) {
  return write_with(root, set, platform::PublisherOptions{});
}

double seconds_of(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string fresh_dir(const std::string& out_root, const std::string& what) {
  static int serial = 0;
  return out_root + "/" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
}

struct Variant {
  const char* name;
  Writer write;
};

void measure_writes(const FileSet& set, const std::vector<Variant>& variants,
                    const std::string& out_root, int rounds) {
  auto prepare = [&](const std::string& what) {
    const std::string root = fresh_dir(out_root, what);
    for (const auto& d : set.dirs) fs::create_directories(root + "/" + d);
    return root;
  };
  write_plain(prepare("warm"), set);  // untimed: page cache, first-touch memory
  std::vector<std::vector<double>> times(variants.size());
  int failures = 0;
  for (int r = 0; r < rounds; ++r) {
    // Each round starts one variant later, so none always runs right after another.
    for (size_t k = 0; k < variants.size(); ++k) {
      const size_t v = (k + static_cast<size_t>(r)) % variants.size();
      const std::string root = prepare(variants[v].name);
      // Untimed: every variant starts with nothing dirty, so a sync pays for its own data only.
      ::sync();
      times[v].push_back(seconds_of([&] { failures += variants[v].write(root, set); }));
    }
  }
  const double mb = static_cast<double>(set.bytes) / 1e6;
  std::printf("%s: %zu files, %.1f MB, median of %d rounds\n", set.name.c_str(), set.paths.size(),
              mb, rounds);
  for (size_t v = 0; v < variants.size(); ++v) {
    const double s = median(times[v]);
    std::printf("  %-22s %8.3f s %9.0f files/s %8.1f MB/s %7.1f us/file  x%.2f\n", variants[v].name,
                s, static_cast<double>(set.paths.size()) / s, mb / s,
                s * 1e6 / static_cast<double>(set.paths.size()), s / median(times[0]));
  }
  if (failures != 0) std::printf("  %d writes FAILED\n", failures);
  std::printf("\n");
}

// ---- big file: whole against streamed, each in a fresh process for its own peak memory ----

// Discards the job's messages.
struct Quiet : JobObserver {
  void message(const std::string&) override {}
};

// `source` through the job into the directory `target`: held whole ("whole") or read in
// chunks ("stream"), published without a flush as the plain writes are.
int convert_one(const char* how, const char* source, const char* target) {
  const std::string path = source;
  const size_t slash = path.rfind('/');
  JobPlan plan;
  plan.input = slash == std::string::npos ? "." : path.substr(0, slash);
  plan.output = target;
  plan.filter = "*.*";
  plan.source = EncodingEntry("GBK");
  plan.target = EncodingEntry("UTF-8");
  plan.options.durable = false;
  if (std::strcmp(how, "whole") == 0) plan.options.whole_file_limit = UINT64_MAX;
  PlannedFile file;
  file.file_name = slash == std::string::npos ? path : path.substr(slash + 1);
  plan.files = std::vector<PlannedFile>{file};
  Quiet quiet;
  const JobReport r = ConvertJob(plan).run(quiet);
  return r.files.size() == 1 && r.files[0].outcome == Outcome::converted ? 0 : 3;
}

// Runs this program on one file; seconds, and the child's peak resident size in MB.
std::pair<double, double> run_child(const char* how, const std::string& source,
                                    const std::string& target) {
  struct rusage usage {};
  int status = 0;
  const double s = seconds_of([&] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/proc/self/exe", "bench_durable", "--convert-one", how, source.c_str(),
              target.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::wait4(pid, &status, 0, &usage);
  });
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("  %s FAILED\n", how);
  return {s, static_cast<double>(usage.ru_maxrss) / 1024.0};
}

void measure_big_file(const std::string& data, const std::string& out_root, int rounds,
                      size_t megabytes) {
  const std::string source = data + "/durable-big-" + std::to_string(megabytes) + "MB.gbk";
  if (!fs::exists(source)) {
    const std::string text = bench_corpus::gbk_text(megabytes << 20);
    FILE* f = std::fopen(source.c_str(), "wb");
    if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size()) return;
    std::fclose(f);
  }
  const char* hows[] = {"whole", "stream"};
  std::vector<double> secs[2], rss[2];
  run_child("stream", source, fresh_dir(out_root, "warm"));
  for (int r = 0; r < rounds; ++r) {
    for (int h = 0; h < 2; ++h) {
      ::sync();
      const auto [s, mb] = run_child(hows[h], source, fresh_dir(out_root, hows[h]));
      secs[h].push_back(s);
      rss[h].push_back(mb);
    }
  }
  const double mb = static_cast<double>(fs::file_size(source)) / 1e6;
  std::printf("one %.0f MB GBK file -> UTF-8, whole file against 8 MiB chunks, median of %d\n", mb,
              rounds);
  for (int h = 0; h < 2; ++h)
    std::printf("  %-8s %8.3f s %8.1f MB/s  peak %7.1f MB  x%.2f\n", hows[h], median(secs[h]),
                mb / median(secs[h]), median(rss[h]), median(secs[h]) / median(secs[0]));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--convert-one") == 0)
    return convert_one(argv[2], argv[3], argv[4]);
  const std::string data = argc > 1 ? argv[1] : "bench-data";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
  const size_t big_mb = argc > 3 ? static_cast<size_t>(std::atol(argv[3])) : 256;
  const std::string out_root = data + "/durable-out";
  fs::create_directories(out_root);
  if (big_mb > 0) measure_big_file(data, out_root, rounds, big_mb);

  std::string text = bench_corpus::utf8_text(1 << 20);
  if (text.empty()) text.assign(1 << 20, 'x');
  const std::vector<Variant> variants = {{"plain open/write/close", write_plain},
                                         {"crash-safe", write_safe},
                                         {"crash-safe, named temp", write_safe_named},
                                         {"crash-safe + durable", write_durable}};
  measure_writes(make_set("50,000 files of 1-4 KB", text, 50000, 1000, 4000), variants, out_root,
                 rounds);
  measure_writes(make_set("20 files of 12-19 MB", text, 20, 12000000, 19000000), variants, out_root,
                 rounds);
  return 0;
}
