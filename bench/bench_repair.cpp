// What the double-encoding and two-encoding check costs a job over a tree of clean UTF-8 files:
// the same job with the check and without it, in interleaved rounds, medians and their ratio,
// of wall time and of processor time (all threads; steadier on a shared, loaded machine).
//
// Usage: bench_repair DATA [ROUNDS] [FILES]
//          DATA (outside the repository) receives the tree (UTF-8 cut from the Chinese manual
//          pages, made once and kept) and one fresh output folder per run, removed after it
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "job/job.h"

namespace {

class Quiet : public JobObserver {
 public:
  void message(const std::string&) override {}
  void file_done(size_t, const FileReport&, const std::vector<std::string>&,
                 const JobProgress&) override {}
};

struct Times {
  double wall = 0, cpu = 0;
};

Times run_once(const std::string& in, const std::string& out, bool check, size_t& flagged) {
  JobPlan plan;
  plan.input = in;
  plan.output = out;
  plan.filter = "*.*";
  plan.source = EncodingEntry("GBK");
  plan.target = EncodingEntry("UTF-8");
  plan.options.repair_check = check;
  Quiet quiet;
  ConvertJob job(plan);
  const auto t0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  const JobReport report = job.run(quiet);
  Times t;
  t.cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  flagged = 0;
  for (const FileReport& f : report.files)
    flagged += f.outcome == Outcome::double_encoded || f.outcome == Outcome::mixed ? 1 : 0;
  std::filesystem::remove_all(out);
  return t;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_repair DATA [ROUNDS] [FILES]\n");
    return 2;
  }
  const std::string data = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
  const size_t files = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 5000;
  const std::string text = bench_corpus::utf8_text(8 << 20);
  if (text.empty()) {
    std::fprintf(stderr, "no Chinese text: install manpages-zh\n");
    return 1;
  }
  const std::string in = bench_corpus::make_tree(data + "/repair-utf8", text, files, 500, 8000);
  std::vector<double> with, without, ratios, cpu_with, cpu_without, cpu_ratios;
  size_t flagged = 0, flagged_any = 0;
  for (int r = 0; r < rounds; ++r) {
    // Each round starts with the other one, so neither always runs on a warmer cache.
    const bool check_first = r % 2 == 0;
    const Times a = run_once(in, data + "/repair-out-a", check_first, flagged);
    flagged_any += check_first ? flagged : 0;
    const Times b = run_once(in, data + "/repair-out-b", !check_first, flagged);
    flagged_any += check_first ? 0 : flagged;
    const Times& on = check_first ? a : b;
    const Times& off = check_first ? b : a;
    with.push_back(on.wall);
    without.push_back(off.wall);
    ratios.push_back(on.wall / off.wall);
    cpu_with.push_back(on.cpu);
    cpu_without.push_back(off.cpu);
    cpu_ratios.push_back(on.cpu / off.cpu);
    std::printf("round %d: with the check %.3f s (processor %.3f s), without %.3f s (%.3f s)\n",
                r + 1, on.wall, on.cpu, off.wall, off.cpu);
  }
  std::printf(
      "%zu clean UTF-8 files, %d rounds: median with the check %.3f s, without %.3f s, "
      "median ratio %.3f; processor time %.3f s and %.3f s, median ratio %.3f; files flagged "
      "double-encoded or mixed: %zu\n",
      files, rounds, median(with), median(without), median(ratios), median(cpu_with),
      median(cpu_without), median(cpu_ratios), flagged_any);
  return 0;
}
