// File search and encoding catalogue against straightforward baselines (Google Benchmark).
//
// Usage: bench_search [--benchmark_*...]; the tree is generated once under $BENCH_DATA
// (default ./bench-data)/search-tree and reused. Run with --benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true for interleaved medians.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "platform/fsutil.h"
#include "policy/filter.h"
#include "util/encoding_sources.h"

namespace fs = std::filesystem;

namespace {

// A source-like tree of empty files: 2,000 folders up to four deep, 24,000 files with mixed
// extensions, plus hidden folders and files the search must pass over.
const std::string& tree() {
  static const std::string dir = [] {
    const char* base = std::getenv("BENCH_DATA");
    const std::string root = std::string(base && *base ? base : "bench-data") + "/search-tree";
    if (fs::exists(root)) return root;
    const std::string staging = root + ".partial";
    fs::remove_all(staging);
    const char* ext[] = {".cpp", ".h", ".txt", ".o", ".lua", ""};
    for (int d = 0; d < 2000; ++d) {
      std::string sub = staging + "/m" + std::to_string(d % 10);
      if (d >= 10) sub += "/p" + std::to_string(d % 100);
      if (d >= 100) sub += (d % 7 == 0 ? "/test" : "/src") + std::to_string(d % 500);
      if (d >= 500) sub += "/leaf" + std::to_string(d);
      if (d % 50 == 0) sub += "/.git";
      fs::create_directories(sub);
      for (int f = 0; f < 12; ++f) {
        std::string path = sub + (f == 11 ? "/.file_" : "/file_");
        path += std::to_string(d * 12 + f);
        path += ext[f % 6];
        ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
      }
    }
    fs::rename(staging, root);
    return root;
  }();
  return dir;
}

// state.range(0): the threads that list the folders.
void run_search(benchmark::State& state, const char* filter) {
  filter_set set;
  build_filter_set(filter, set);
  fsutil::search_options options;
  options.threads = static_cast<unsigned>(state.range(0));
  size_t files = 0;
  for (auto _ : state) {
    std::vector<fsutil::search_file_info> found;
    std::string dir = tree();
    fsutil::search_files(
        tree(), dir, [&found](fsutil::search_file_info&& f) { found.push_back(std::move(f)); },
        accept_by(set), options);
    files = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["files"] = static_cast<double>(files);
  state.counters["files/s"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Search_AllFiles(benchmark::State& state) { run_search(state, "*.*"); }
void BM_Search_Filtered(benchmark::State& state) { run_search(state, "*.cpp;*.h;*.lua;!test"); }

// Baseline: the standard library's recursive iterator, collecting the same records.
void BM_Baseline_FsIterator(benchmark::State& state) {
  const fs::path root = tree();
  size_t files = 0;
  for (auto _ : state) {
    std::vector<fsutil::search_file_info> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name[0] == '.') {
        if (it->is_directory(ec)) it.disable_recursion_pending();
        continue;
      }
      if (it->is_symlink(ec) && it->is_directory(ec)) it.disable_recursion_pending();
      if (!it->is_regular_file(ec)) continue;
      found.push_back({it->path().parent_path().lexically_relative(root).string(), name});
    }
    files = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["files"] = static_cast<double>(files);
}

// Baseline: a bare readdir walk on d_type that only counts (the floor for any search).
size_t count_walk(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  size_t n = 0;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (e->d_type == DT_DIR)
      n += count_walk(dir + "/" + e->d_name);
    else if (e->d_type == DT_REG)
      ++n;
  }
  ::closedir(d);
  return n;
}

void BM_Baseline_CountingReaddir(benchmark::State& state) {
  size_t files = 0;
  for (auto _ : state) benchmark::DoNotOptimize(files = count_walk(tree()));
  state.counters["files"] = static_cast<double>(files);
}

void BM_Catalogue_Build(benchmark::State& state) {
  AppState app{AppState::no_config};
  for (auto _ : state) {
    build_encoding_catalogue(app.encodings, app.log);
    benchmark::DoNotOptimize(app.encodings.data());
  }
  state.counters["names"] = static_cast<double>(app.encodings.size());
}

// Baseline: asking `iconv -l` in a child process, which the catalogue falls back to.
void BM_Baseline_IconvListCommand(benchmark::State& state) {
  size_t groups = 0;
  for (auto _ : state) {
    const platform::Result<EncodingGroups> g = groups_from_iconv_command();
    if (!g) state.SkipWithError(g.error().context.c_str());
    groups = g ? g->size() : 0;
  }
  state.counters["names"] = static_cast<double>(groups);
}

BENCHMARK(BM_Search_AllFiles)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search_Filtered)->ArgName("threads")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_FsIterator)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_CountingReaddir)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Catalogue_Build)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_IconvListCommand)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
