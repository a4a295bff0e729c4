// Detection accuracy on the labelled real-text corpus (scripts/detect_corpus.py): the
// product's detecting dry-run job in four layouts and two candidate settings against uchardet
// and ICU in the same run, scored by decoded text; and detection speed on a tree of small files.
//
// Usage: bench_detect_accuracy [--corpus DIR] [--build] [--size short|full] [--half held|tune]
//          [--gate] [--floors FILE] [--print-floors] [--tsv FILE] [--show-wrong N]
//          [--speed] [--no-accuracy] [--work DIR]
// Important: report on the held half (the default); --half tune is for tuning, never for
// published figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect_calibrate.h"
#include "detect_layouts.h"
#include "detect_score.h"
#include "labelled_corpus.h"
#include "peer_detectors.h"

namespace {

using Files = std::vector<labelled::File>;
using Answers = std::map<size_t, layouts::Answer>;

struct Options {
  std::string corpus = "bench-data/detect-corpus";
  std::string size = "full", half = "held", floors, tsv, work, calibrate;
  bool build = false, gate = false, print_floors = false, speed = false, accuracy = true;
  size_t show_wrong = 0;
};

const char* const kOwn = "own preset";
const char* const kEvery = "every preset";
const char* const kAll = "all";
const char* const kOutside = score::kOutsideSetting;
// The command line's default --from: what "every preset" runs prefer.
const char* const kDefaultFrom = "GBK";

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--corpus" && has_value)
      o->corpus = argv[++i];
    else if (a == "--size" && has_value)
      o->size = argv[++i];
    else if (a == "--half" && has_value)
      o->half = argv[++i];
    else if (a == "--floors" && has_value)
      o->floors = argv[++i];
    else if (a == "--tsv" && has_value)
      o->tsv = argv[++i];
    else if (a == "--work" && has_value)
      o->work = argv[++i];
    else if (a == "--calibrate" && has_value)
      o->calibrate = argv[++i];
    else if (a == "--show-wrong" && has_value)
      o->show_wrong = std::strtoul(argv[++i], nullptr, 10);
    else if (a == "--build")
      o->build = true;
    else if (a == "--gate")
      o->gate = true;
    else if (a == "--print-floors")
      o->print_floors = true;
    else if (a == "--speed")
      o->speed = true;
    else if (a == "--no-accuracy")
      o->accuracy = false;
    else
      return false;
  }
  if (o->gate) o->build = true, o->size = "short", o->half = "held";
  return (o->size == "short" || o->size == "full") && (o->half == "held" || o->half == "tune");
}

bool read_text(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return true;
}

class Scorer {
 public:
  Scorer(const Files& files, size_t show_wrong) : files_(files), show_wrong_(show_wrong) {}

  void record(const score::Run& run, const std::vector<size_t>& members, const Answers& answers) {
    for (size_t i : members) {
      const auto it = answers.find(i);
      if (it == answers.end()) ++missing_;
      const layouts::Answer a = it == answers.end() ? layouts::Answer{"", "missing"} : it->second;
      const score::Verdict v = score::judge(files_[i], a.named, a.outcome);
      board_.add(run, files_[i], v);
      if (run.detector == "tool") verdicts_[run.layout + "\t" + run.setting][i] = v;
      if (v == score::Verdict::wrong && run.detector == "tool" && shown_ < show_wrong_) {
        ++shown_;
        std::fprintf(stderr, "wrong: %s, %s: %s (%s %s) read as %s (%s)\n", run.layout.c_str(),
                     run.setting.c_str(), files_[i].path.c_str(), files_[i].language.c_str(),
                     files_[i].encoding.c_str(), a.named.c_str(), a.outcome.c_str());
      }
    }
  }

  const score::Board& board() const { return board_; }

  // Files right with their own preset that every preset as candidates does not get right.
  struct Hurt {
    size_t own_right = 0, wrong = 0, refused = 0;
  };
  Hurt hurt(const std::string& layout) const {
    Hurt h;
    const auto own = verdicts_.find(layout + "\t" + kOwn);
    const auto every = verdicts_.find(layout + "\t" + kEvery);
    if (own == verdicts_.end() || every == verdicts_.end()) return h;
    for (const auto& [i, v] : own->second) {
      if (v != score::Verdict::right) continue;
      ++h.own_right;
      const auto it = every->second.find(i);
      const score::Verdict e = it == every->second.end() ? score::Verdict::refused : it->second;
      h.wrong += e == score::Verdict::wrong ? 1 : 0;
      h.refused += e == score::Verdict::refused ? 1 : 0;
    }
    return h;
  }
  size_t missing() const { return missing_; }

 private:
  const Files& files_;
  score::Board board_;
  std::map<std::string, std::map<size_t, score::Verdict>> verdicts_;  // per layout and setting
  size_t show_wrong_, shown_ = 0, missing_ = 0;
};

// The tool over every folder of a placement, with each candidate setting.
void run_tool(const std::string& root, const Files& files, const layouts::Placement& own,
              const layouts::Placement& every, const std::string& layout, Scorer& scorer) {
  for (const char* setting : {kOwn, kEvery, kAll}) {
    const bool is_own = std::strcmp(setting, kOwn) == 0;
    for (const auto& [folder, members] : layouts::folders(is_own ? own : every)) {
      const std::string preset = labelled::own_preset(files[members.front()]);
      const std::vector<std::string> all = {"all"};
      const Answers answers =
          is_own ? layouts::run_job(root + "/" + folder, {preset}, layouts::first_encoding(preset))
                 : layouts::run_job(root + "/" + folder,
                                    setting == kAll ? all : layouts::preset_names(), kDefaultFrom);
      scorer.record({"tool", layout, setting}, members, answers);
    }
  }
}

// What a packaged detector's answer comes to for a user who gave `candidates`: a name outside
// them is no answer (refused), as the tool refuses.
layouts::Answer restricted(const std::string& named, const std::vector<std::string>& candidates) {
  const std::string name = detect::canonical_name(named);
  for (const std::string& c : detect::expand_candidates(candidates))
    if (c == name || c == detect::wider_label(name)) return {named, ""};
  return {"", "undetected"};
}

// Files run with candidates that lack their encoding (labelled::outside_candidates), each
// file alone and a folder per encoding; uchardet and ICU held to the same candidates.
void run_outside(const std::string& root, const Files& files, const layouts::Placement& by_encoding,
                 const layouts::Placement& alone, Scorer& scorer) {
  for (const auto& [layout, placement] :
       {std::pair{"each file alone", &alone}, std::pair{"folder per encoding", &by_encoding}}) {
    for (const auto& [folder, members] : layouts::folders(*placement)) {
      const std::vector<std::string> outside = labelled::outside_candidates(files[members.front()]);
      if (outside.empty()) continue;
      const Answers answers =
          layouts::run_job(root + "/" + folder, outside, layouts::first_encoding(outside.front()));
      scorer.record({"tool", layout, kOutside}, members, answers);
    }
  }
  Answers uchardet, icu;
  std::vector<size_t> all;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::vector<std::string> outside = labelled::outside_candidates(files[i]);
    if (outside.empty()) continue;
    uchardet[i] = restricted(peers::iconv_label(peers::uchardet_name(files[i].bytes)), outside);
    icu[i] = restricted(peers::iconv_label(peers::icu_name(files[i].bytes)), outside);
    all.push_back(i);
  }
  scorer.record({"uchardet", "per file", kOutside}, all, uchardet);
  scorer.record({"ICU", "per file", kOutside}, all, icu);
}

// uchardet and ICU per file, and pooled over each folder of the two folder layouts.
void run_peers(const Files& files, const layouts::Placement& by_encoding,
               const layouts::Placement& mixed, Scorer& scorer) {
  Answers uchardet, icu;
  std::vector<size_t> all;
  for (size_t i = 0; i < files.size(); ++i) {
    uchardet[i] = {peers::iconv_label(peers::uchardet_name(files[i].bytes)), ""};
    icu[i] = {peers::iconv_label(peers::icu_name(files[i].bytes)), ""};
    all.push_back(i);
  }
  scorer.record({"uchardet", "per file", "-"}, all, uchardet);
  scorer.record({"ICU", "per file", "-"}, all, icu);
  const std::pair<const char*, const layouts::Placement*> pools[] = {
      {"pooled, folder per encoding", &by_encoding}, {"pooled, mixed folders", &mixed}};
  for (const auto& [layout, placement] : pools) {
    for (const auto& [folder, members] : layouts::folders(*placement)) {
      std::vector<std::string_view> views;
      for (size_t i : members) views.push_back(files[i].bytes);
      const std::string u = peers::iconv_label(peers::uchardet_pooled(views));
      const std::string c = peers::iconv_label(peers::icu_pooled(views));
      Answers pooled_u, pooled_c;
      for (size_t i : members) pooled_u[i] = {u, ""}, pooled_c[i] = {c, ""};
      scorer.record({"uchardet", layout, "-"}, members, pooled_u);
      scorer.record({"ICU", layout, "-"}, members, pooled_c);
    }
  }
}

std::string hurt_table(const Scorer& scorer) {
  std::string out =
      "### More candidates: files right with their own preset, and how many of them every "
      "preset gets wrong or refuses\n\n| layout | right with own preset | wrong with every "
      "preset | refused with every preset |\n|---|---|---|---|\n";
  for (const char* layout :
       {"folder per encoding", "mixed folders", "each file alone", "whole tree"}) {
    const Scorer::Hurt h = scorer.hurt(layout);
    out += std::string("| ") + layout + " | " + std::to_string(h.own_right) + " | " +
           std::to_string(h.wrong) + " | " + std::to_string(h.refused) + " |\n";
  }
  return out + "\n";
}

score::Board measure(const std::string& root, const Files& files, const Options& o,
                     std::string* hurt) {
  const layouts::Placement by_encoding = layouts::by_encoding(files);
  const layouts::Placement mixed = layouts::mixed(files, 10);
  const layouts::Placement alone = layouts::alone(files);
  std::string error;
  for (const layouts::Placement* p : {&by_encoding, &mixed, &alone}) {
    if (!layouts::write_tree(root, files, *p, &error)) {
      std::fprintf(stderr, "bench_detect_accuracy: %s\n", error.c_str());
      std::exit(2);
    }
  }
  layouts::Placement tree_own, tree_every(files.size(), "enc");
  for (const labelled::File& f : files) tree_own.push_back("enc/" + layouts::preset_folder(f));
  Scorer scorer(files, o.show_wrong);
  run_tool(root, files, by_encoding, by_encoding, "folder per encoding", scorer);
  run_tool(root, files, mixed, mixed, "mixed folders", scorer);
  run_tool(root, files, alone, alone, "each file alone", scorer);
  run_tool(root, files, tree_own, tree_every, "whole tree", scorer);
  run_peers(files, by_encoding, mixed, scorer);
  run_outside(root, files, by_encoding, alone, scorer);
  *hurt = hurt_table(scorer);
  if (scorer.missing())
    std::fprintf(stderr,
                 "bench_detect_accuracy: %zu answers missing from job reports "
                 "(counted as refused)\n",
                 scorer.missing());
  return scorer.board();
}

void print_tables(const score::Board& board, const Files& files, const Options& o) {
  std::printf("## Detection accuracy, %s half (%zu files, %s corpus)\n\n", o.half.c_str(),
              files.size(), o.size.c_str());
  std::printf(
      "Right = decoding with the named encoding gives exactly the file's text; wrong "
      "and refused counts, with their share of the files holding bytes >= 0x80.\n\n");
  std::printf("%s\n", score::summary_table(board).c_str());
  const std::vector<score::Run> columns = {{"tool", "folder per encoding", kOwn},
                                           {"tool", "mixed folders", kOwn},
                                           {"tool", "each file alone", kOwn},
                                           {"tool", "each file alone", kEvery},
                                           {"tool", "whole tree", kEvery},
                                           {"uchardet", "per file", "-"},
                                           {"ICU", "per file", "-"}};
  std::printf("### Right %% per encoding\n\n%s\n", score::encoding_table(board, columns).c_str());
  std::printf(
      "### Outside the candidates: each file run with candidates that lack its encoding "
      "(every one must be refused or read exactly; uchardet and ICU held to the same "
      "candidates: a name outside them counts as refused)\n\n%s\n",
      score::outside_table(board).c_str());
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Files/s of detection on one thread over a tree of 3,000 small files, interleaved with the
// same job without detection and with uchardet reading each file.
void speed(const std::string& root, const Files& files) {
  std::vector<size_t> small;
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i].size_class == "tiny" || files[i].size_class == "small") small.push_back(i);
  if (small.empty()) return;
  constexpr size_t kFiles = 3000;
  Files tree;
  layouts::Placement placement;
  for (size_t j = 0; j < kFiles; ++j) {
    tree.push_back(files[small[j % small.size()]]);
    placement.push_back("speed/d" + std::to_string(j / 100));
  }
  std::string error;
  if (!layouts::write_tree(root, tree, placement, &error)) return;
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/speed"))
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  std::vector<double> detect_all, plain, uchardet;
  size_t sink = 0;
  for (int round = 0; round < 6; ++round) {
    double t[3];
    for (int k = 0; k < 3; ++k) {
      const int which = (k + round) % 3;  // interleaved: each program first in turn
      const auto t0 = std::chrono::steady_clock::now();
      if (which == 0)
        sink += layouts::run_job(root + "/speed", layouts::preset_names(), kDefaultFrom).size();
      if (which == 1) sink += layouts::run_job(root + "/speed", {}, "CP1252", false).size();
      if (which == 2) {
        std::string bytes;
        for (const std::string& p : paths)
          if (read_text(p, &bytes)) sink += peers::uchardet_name(bytes).size();
      }
      t[which] = seconds_since(t0);
    }
    if (round == 0) continue;  // warm-up: the page cache
    detect_all.push_back(t[0]), plain.push_back(t[1]), uchardet.push_back(t[2]);
  }
  const double n = static_cast<double>(paths.size());
  const double a = median(detect_all), p = median(plain), u = median(uchardet);
  std::printf(
      "### Speed: %zu small files (tiny and small classes), one thread, medians of 5 "
      "interleaved rounds\n\n",
      paths.size());
  std::printf("| run | files/s | time vs. the job without detection |\n|---|---|---|\n");
  std::printf("| job, detect, every preset (%s preferred) | %.0f | %.2f |\n", kDefaultFrom, n / a,
              a / p);
  std::printf("| job without detection (CP1252) | %.0f | 1.00 |\n", n / p);
  std::printf("| uchardet per file (read + detect) | %.0f | %.2f |\n\n", n / u, u / p);
  if (sink == 0) std::printf("(no answers: the timed runs did nothing)\n");
}

std::string make_work_dir(const Options& o) {
  if (!o.work.empty()) {
    std::filesystem::remove_all(o.work + "/ouzel-detect-bench");
    return o.work + "/ouzel-detect-bench";
  }
  std::string tmpl = (std::filesystem::temp_directory_path() / "ouzel-detect-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) return "";
  return tmpl;
}

int check_floors(const score::Board& board, const std::string& path) {
  std::string text, error;
  std::vector<score::Floor> floors;
  if (!read_text(path, &text) || !score::parse_floors(text, &floors, &error)) {
    std::fprintf(stderr, "bench_detect_accuracy: %s: %s\n", path.c_str(),
                 error.empty() ? "cannot read it" : error.c_str());
    return 2;
  }
  const std::vector<std::string> failures = score::check_floors(board, floors);
  for (const std::string& f : failures) std::printf("BELOW FLOOR: %s\n", f.c_str());
  std::printf("%zu floors checked, %zu failed\n", floors.size(), failures.size());
  return failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: bench_detect_accuracy [--corpus DIR] [--build] [--size short|"
                 "full] [--half held|tune] [--gate] [--floors FILE] [--print-floors] "
                 "[--tsv FILE] [--show-wrong N] [--speed] [--no-accuracy] [--work DIR]\n");
    return 2;
  }
  std::string error;
  const Files files = labelled::load(o.corpus, o.half, o.size, o.build, &error);
  if (files.empty()) {
    std::fprintf(stderr, "bench_detect_accuracy: %s\n", error.c_str());
    return 2;
  }
  if (!o.calibrate.empty()) {
    std::ofstream(o.calibrate) << calibrate::features(files);
    return 0;
  }
  const std::string root = make_work_dir(o);
  if (root.empty()) {
    std::fprintf(stderr, "bench_detect_accuracy: cannot make a work folder\n");
    return 2;
  }
  int status = 0;
  if (o.accuracy) {
    std::string hurt;
    const score::Board board = measure(root, files, o, &hurt);
    if (o.print_floors) {
      std::printf("%s", score::floors_text(score::measured_floors(board, 1.0)).c_str());
    } else {
      print_tables(board, files, o);
      std::printf("%s", hurt.c_str());
    }
    if (!o.tsv.empty()) std::ofstream(o.tsv) << score::tsv(board);
    if (!o.floors.empty() && !o.print_floors) status = check_floors(board, o.floors);
  }
  if (o.speed) speed(root, files);
  std::filesystem::remove_all(root);
  return status;
}
