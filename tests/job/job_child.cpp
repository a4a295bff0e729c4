// A conversion job run from the command line, for the crash test that kills it.
//
//   job_child IN OUT FROM TO [--threads N] [--no-durable] [--named-temp] [--whole-limit BYTES]
//             [--chunk BYTES] [--no-link]   (--no-link: in place, the old content is copied)
//   job_child --undo DIR [--no-durable]   (the last run in place over DIR taken back; exit 2:
//             none is kept)
// Prints every message and every file's lines, one per line, as they come.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "job/job.h"
#include "job/undo_job.h"
#include "platform/sys_io.h"

namespace {

class PrintingObserver final : public JobObserver {
 public:
  void message(const std::string& text) override { print(text); }
  void file_done(size_t, const FileReport&, const std::vector<std::string>& lines,
                 const JobProgress&) override {
    for (const auto& l : lines) print(l);
  }

 private:
  static void print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
};

// As where a second name cannot be given: what a run in place replaces is copied to be kept.
int refuse_link(const char*, const char*) {
  errno = EXDEV;
  return -1;
}

// As on a file system without unnamed files: every temporary file gets a name.
int open_without_tmpfile(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return platform::real_sysio().open(path, flags, mode);
}

unsigned long long number(const char* text) { return std::strtoull(text, nullptr, 10); }

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--undo") {
    UndoPlan undo;
    undo.root = argv[2];
    undo.durable = !(argc == 4 && std::string(argv[3]) == "--no-durable");
    PrintingObserver observer;
    const JobReport report = UndoJob(undo).run(observer);
    return !report.ran ? 2 : report.failures() == 0 ? 0 : 1;
  }
  if (argc < 5) {
    std::fprintf(stderr, "usage: job_child IN OUT FROM TO [options]\n");
    return 2;
  }
  JobPlan plan;
  plan.input = argv[1];
  plan.output = argv[2];
  plan.filter = "*.*";
  plan.source = EncodingEntry(argv[3]);
  plan.target = EncodingEntry(argv[4]);
  for (int i = 5; i < argc; ++i) {
    const std::string o = argv[i];
    const bool has_value = i + 1 < argc;
    if (o == "--threads" && has_value) {
      plan.options.threads = static_cast<unsigned>(number(argv[++i]));
    } else if (o == "--no-durable") {
      plan.options.durable = false;
    } else if (o == "--no-link") {
      platform::sysio().link = refuse_link;
    } else if (o == "--named-temp") {
      platform::sysio().open = open_without_tmpfile;
    } else if (o == "--whole-limit" && has_value) {
      plan.options.whole_file_limit = number(argv[++i]);
    } else if (o == "--chunk" && has_value) {
      plan.options.stream_chunk = static_cast<size_t>(number(argv[++i]));
    } else {
      std::fprintf(stderr, "unknown option %s\n", o.c_str());
      return 2;
    }
  }
  PrintingObserver observer;
  const JobReport report = ConvertJob(plan).run(observer);
  return report.ran && report.failures() == 0 ? 0 : 1;
}
