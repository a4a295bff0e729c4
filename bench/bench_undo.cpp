// What keeping the old content for undo costs a run in place: the same job over fresh copies of
// a tree without undo, with it (the old file kept under a second name) and with the second name
// refused (a reflink where the file system has them, else a copy), in interleaved rounds;
// medians and ratios of wall time, the space each run leaves taken on the file system, and an
// undo of each kind that must bring the tree back exactly (a hash over every file's bytes,
// mode and modification time).
//
// Usage: bench_undo TREE DIR [ROUNDS]
//          TREE: the tree copied for each run (bench_run trees makes a source-like one)
//          DIR: a folder on the file system measured (bench/undo_filesystems.sh makes one per
//          kind); it receives a copy per round and variant, all kept: removing many files
//          slows the creation of the next ones for minutes
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "job/job.h"
#include "job/undo_job.h"
#include "platform/sys_io.h"
#include "undo/content_hash.h"
#include "undo/store.h"

namespace fs = std::filesystem;

namespace {

class Quiet : public JobObserver {
 public:
  void message(const std::string&) override {}
  bool wants_file_lines() const override { return false; }
};

enum Variant { kOff, kLink, kCopy, kVariants };
constexpr const char* kNames[] = {"without undo", "undo (second name)", "undo (reflink/copy)"};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void sync_fs(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

double free_bytes(const std::string& dir) {
  sync_fs(dir);
  struct statvfs st;
  if (::statvfs(dir.c_str(), &st) != 0) return 0;
  return static_cast<double>(st.f_bfree) * static_cast<double>(st.f_frsize);
}

// Bytes this process has had written to storage so far (counted as pages are dirtied).
double written_bytes() {
  std::FILE* f = std::fopen("/proc/self/io", "re");
  if (f == nullptr) return 0;
  char line[128];
  unsigned long long n = 0;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::sscanf(line, "write_bytes: %llu", &n) == 1) break;
  std::fclose(f);
  return static_cast<double>(n);
}

// Every entry but the undo store: path, mode, modification time and the bytes' hash.
std::string tree_hash(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const std::string rel = fs::relative(it->path(), root).string();
    if (rel.rfind(undo::kStoreName, 0) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    std::string& e = entries[rel];
    e = std::to_string(st.st_mode);
    if (S_ISDIR(st.st_mode)) continue;  // a folder's time moves with every name made in it
    e += " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode))
      if (const auto d = undo::digest_path(it->path().string()))
        e += " " + undo::hash_text(d->hash);
  }
  undo::Hasher all;
  for (const auto& [rel, e] : entries) {
    all.update(rel);
    all.update(e);
  }
  return undo::hash_text(all.digest());
}

int refuse_link(const char*, const char*) {
  errno = EXDEV;
  return -1;
}

struct Run {
  double seconds = 0, cpu = 0, taken = 0, written = 0;
  JobReport report;
};

Run convert_in_place(const std::string& tree, Variant v) {
  JobPlan plan;
  plan.input = plan.output = tree;
  plan.filter = "*.*";
  plan.source = EncodingEntry("GBK");
  plan.target = EncodingEntry("UTF-8");
  plan.options.undo = v != kOff;
  plan.options.threads = 0;  // one per core, as the tool runs
  const platform::SysIo saved = platform::sysio();
  if (v == kCopy) platform::sysio().link = refuse_link;
  const double before = free_bytes(tree);
  const double written = written_bytes();
  Quiet quiet;
  ConvertJob job(plan);
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  Run r;
  r.report = job.run(quiet);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  platform::sysio() = saved;
  r.taken = before - free_bytes(tree);
  r.written = written_bytes() - written;
  return r;
}

// How the run's files were kept: "link 8000" and so on.
std::string kept_as(const std::string& tree) {
  std::map<std::string, size_t> n;
  for (const undo::RunSummary& run : undo::list_runs(tree))
    if (const auto m = undo::read_manifest(undo::manifest_path(run.dir)))
      for (const undo::KeptFile& k : m->files) ++n[std::string(undo::kept_by_name(k.how))];
  std::string text;
  for (const auto& [how, count] : n) text += " " + how + " " + std::to_string(count);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_undo TREE DIR [ROUNDS]\n");
    return 2;
  }
  const std::string source = argv[1], dir = argv[2];
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  std::vector<double> seconds[kVariants], cpu[kVariants], taken[kVariants], written[kVariants],
      ratios[kVariants];
  JobReport last[kVariants];
  int serial = 0;
  bool back = true;
  for (int r = -1; r < rounds; ++r) {  // round -1 warms the caches, unmeasured
    double off = 0;
    double time[kVariants] = {};
    for (int i = 0; i < kVariants; ++i) {
      const auto v = static_cast<Variant>((i + std::max(r, 0)) % kVariants);
      const std::string tree = dir + "/" + std::to_string(serial++);
      fs::copy(source, tree, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
      sync_fs(tree);
      const std::string before = r == 0 && v != kOff ? tree_hash(tree) : std::string();
      Run run = convert_in_place(tree, v);
      time[v] = run.seconds;
      if (r < 0) continue;
      seconds[v].push_back(run.seconds);
      cpu[v].push_back(run.cpu);
      taken[v].push_back(run.taken);
      written[v].push_back(run.written);
      if (v == kOff) off = run.seconds;
      if (r == 0 && v != kOff) {
        // The undo of each kind brings the tree back exactly; timed once.
        const std::string how = kept_as(tree);
        UndoPlan undo;
        undo.root = tree;
        Quiet quiet;
        const auto t0 = std::chrono::steady_clock::now();
        const JobReport undone = UndoJob(undo).run(quiet);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const bool same = undone.failures() == 0 && tree_hash(tree) == before;
        back = back && same;
        std::printf("%s: kept as%s; its undo %.3f s, %zu files back, tree %s\n", kNames[v],
                    how.c_str(), s, undone.files.size(), same ? "identical" : "DIFFERENT");
      }
      last[v] = std::move(run.report);
    }
    if (r < 0) continue;
    for (int v = 0; v < kVariants; ++v) ratios[v].push_back(time[v] / time[kOff]);
    (void)off;
  }
  const JobReport& kept = last[kLink];
  std::printf("%zu files, %zu replaced, %.1f MB of old content kept; %d rounds, medians:\n",
              kept.files.size(), kept.kept.files, static_cast<double>(kept.kept.bytes) / 1e6,
              rounds);
  for (int v = 0; v < kVariants; ++v)
    std::printf(
        "  %-20s %7.3f s  ratio %.3f  processor %6.3f s  space taken %7.1f MB  written "
        "%7.1f MB\n",
        kNames[v], median(seconds[v]), median(ratios[v]), median(cpu[v]), median(taken[v]) / 1e6,
        median(written[v]) / 1e6);
  for (int v = kLink; v < kVariants; ++v) {
    std::printf("  each round's ratio, %s:", kNames[v]);
    for (const double r : ratios[v]) std::printf(" %.3f", r);
    std::printf("\n");
  }
  std::printf(
      "with undo, against without: space taken %+.1f MB and %+.1f MB, written %+.1f MB "
      "and %+.1f MB (second name, reflink/copy)\n",
      (median(taken[kLink]) - median(taken[kOff])) / 1e6,
      (median(taken[kCopy]) - median(taken[kOff])) / 1e6,
      (median(written[kLink]) - median(written[kOff])) / 1e6,
      (median(written[kCopy]) - median(written[kOff])) / 1e6);
  return back ? 0 : 1;
}
