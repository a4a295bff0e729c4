// The window's conversion job without a window: the baseline of bench/window_vs_headless.py.
//
// Usage: bench_headless_job INPUT OUTPUT FROM TO
//          runs the job as "Start Convert" does (AppState, its worker thread, filter "*.*",
//          one thread per core) and prints "wall S convert S search S entries N failures F"
//        bench_headless_job --make-tree DIR FILES MIN_BYTES MAX_BYTES
//          creates DIR (unless it exists) with FILES GBK files cut from the Chinese manual
//          pages, as bench_job's trees are made
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_state.h"
#include "bench_corpus.h"

namespace {

int make_tree(char** argv) {
  const size_t files = std::strtoull(argv[3], nullptr, 10);
  const size_t min_bytes = std::strtoull(argv[4], nullptr, 10);
  const size_t max_bytes = std::strtoull(argv[5], nullptr, 10);
  const std::string gbk = bench_corpus::gbk_text(1 << 20);
  if (gbk.empty()) {
    std::fprintf(stderr, "no Chinese text: install manpages-zh\n");
    return 1;
  }
  bench_corpus::make_tree(argv[2], gbk, files, min_bytes, max_bytes);
  return 0;
}

int run_job(char** argv) {
  AppState app(AppState::no_config);
  app.input = argv[1];
  app.output = argv[2];
  app.filters = {"*.*"};
  app.filter_index = 0;
  app.from_index = app.index_of(argv[3]);
  app.to_index = app.index_of(argv[4]);
  if (app.from_index >= static_cast<int32_t>(app.encodings.size()) ||
      app.to_index >= static_cast<int32_t>(app.encodings.size())) {
    std::fprintf(stderr, "unknown encoding name\n");
    return 2;
  }
  const auto t0 = std::chrono::steady_clock::now();
  app.request_convert();
  app.jobs.wait();  // the job ends on its own
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const std::shared_ptr<const JobReport> report = app.last_report();
  if (!report || !report->ran) {
    std::fprintf(stderr, "the job did not run\n");
    return 1;
  }
  std::printf("wall %.4f convert %.4f search %.4f entries %zu failures %zu\n", wall,
              report->convert_seconds, report->search_seconds, report->entries(),
              report->failures());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--make-tree") return make_tree(argv);
  if (argc == 5) return run_job(argv);
  std::fprintf(stderr,
               "usage: bench_headless_job INPUT OUTPUT FROM TO\n"
               "       bench_headless_job --make-tree DIR FILES MIN_BYTES MAX_BYTES\n");
  return 2;
}
