// Scoring by decoded text, the benchmark's tables and the regression gate's floors.
#include "detect_score.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace score {

namespace {

const std::vector<std::string> kClasses = {"title", "tiny", "small", "medium", "ascii", "boxed"};

std::string pct(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// Files a floor must be measured over: fewer cannot tell a fault from chance. The short
// corpus holds about 1,600 files, 6 of them ASCII.
constexpr size_t kMinGateFiles = 5;
constexpr size_t kMinGateFilesAll = 500;

double ratio(size_t part, size_t whole) {
  return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

bool in_class(const std::string& cls, const std::string& wanted) {
  return wanted == "all" || cls == wanted || (wanted == "non-ascii" && cls != "ascii");
}

std::vector<std::string> cells_of(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream s(line);
  std::string cell;
  while (std::getline(s, cell, '\t')) out.push_back(cell);
  return out;
}

}  // namespace

Verdict judge(const labelled::File& file, const std::string& named, const std::string& outcome) {
  if (outcome == "ambiguous" || outcome == "undetected" || named.empty()) return Verdict::refused;
  std::string text;
  return labelled::decode(file.bytes, named, &text) && text == file.text ? Verdict::right
                                                                         : Verdict::wrong;
}

void Tally::add(Verdict v) {
  ++files;
  if (v == Verdict::right) ++right;
  if (v == Verdict::wrong) ++wrong;
  if (v == Verdict::refused) ++refused;
}

void Tally::add(const Tally& o) {
  files += o.files, right += o.right, wrong += o.wrong, refused += o.refused;
}

double Tally::right_pct() const { return ratio(right, files); }
double Tally::wrong_pct() const { return ratio(wrong, files); }
double Tally::refused_pct() const { return ratio(refused, files); }

void Board::add(const Run& run, const labelled::File& file, Verdict v) {
  if (std::find(runs_.begin(), runs_.end(), run) == runs_.end()) runs_.push_back(run);
  cells_[Cell{run, file.encoding, file.size_class}].add(v);
}

Tally Board::of_class(const Run& run, const std::string& size_class) const {
  Tally t;
  for (const auto& [cell, tally] : cells_)
    if (cell.run == run && in_class(cell.size_class, size_class)) t.add(tally);
  return t;
}

Tally Board::of_encoding(const Run& run, const std::string& encoding) const {
  Tally t;
  for (const auto& [cell, tally] : cells_)
    if (cell.run == run && cell.encoding == encoding) t.add(tally);
  return t;
}

std::string tsv(const Board& board) {
  std::string out = "detector\tlayout\tcandidates\tencoding\tclass\tfiles\tright\twrong\trefused\n";
  for (const auto& [cell, t] : board.cells()) {
    out += cell.run.detector + "\t" + cell.run.layout + "\t" + cell.run.setting + "\t" +
           cell.encoding + "\t" + cell.size_class + "\t" + std::to_string(t.files) + "\t" +
           std::to_string(t.right) + "\t" + std::to_string(t.wrong) + "\t" +
           std::to_string(t.refused) + "\n";
  }
  return out;
}

std::string summary_table(const Board& board) {
  std::string out = "| detector | layout | candidates |";
  for (const std::string& c : kClasses) out += " " + c + " |";
  out += " all | wrong | refused |\n|---|---|---|";
  for (size_t i = 0; i < kClasses.size(); ++i) out += "---|";
  out += "---|---|---|\n";
  for (const Run& run : board.runs()) {
    if (run.setting == kOutsideSetting) continue;
    out += "| " + run.detector + " | " + run.layout + " | " + run.setting + " |";
    for (const std::string& c : kClasses) {
      const Tally t = board.of_class(run, c);
      // Important: appended piece by piece; GCC 12 at -O3 warns (-Wrestrict) on "x" + string.
      if (t.files)
        out.append(" ").append(pct(t.right_pct())).append(" % |");
      else
        out += " - |";
    }
    const Tally all = board.of_class(run, "all");
    const Tally high = board.of_class(run, "non-ascii");
    out += " " + pct(all.right_pct()) + " % | " + std::to_string(all.wrong) + " (" +
           pct(high.wrong_pct()) + " %) | " + std::to_string(all.refused) + " (" +
           pct(high.refused_pct()) + " %) |\n";
  }
  return out;
}

std::string encoding_table(const Board& board, const std::vector<Run>& columns) {
  std::vector<std::string> encodings;
  for (const auto& [cell, t] : board.cells())
    if (std::find(encodings.begin(), encodings.end(), cell.encoding) == encodings.end())
      encodings.push_back(cell.encoding);
  std::string out = "| encoding | files |";
  std::string rule = "|---|---|";
  for (const Run& run : columns) {
    out += " " + run.detector + ", " + run.layout +
           (run.setting == "-" ? std::string() : ", " + run.setting) + " |";
    rule += "---|";
  }
  out += "\n" + rule + "\n";
  for (const std::string& e : encodings) {
    out += "| " + e + " | " + std::to_string(board.of_encoding(columns.front(), e).files) + " |";
    for (const Run& run : columns) {
      const Tally t = board.of_encoding(run, e);
      out.append(" ").append(pct(t.right_pct()));
      if (t.wrong) out.append(" (").append(std::to_string(t.wrong)).append(" wrong)");
      out += " |";
    }
    out += "\n";
  }
  return out;
}

std::string outside_table(const Board& board) {
  std::vector<Run> runs;
  for (const Run& run : board.runs())
    if (run.setting == kOutsideSetting) runs.push_back(run);
  if (runs.empty()) return "";
  std::vector<std::string> encodings;
  for (const auto& [cell, t] : board.cells())
    if (cell.run.setting == kOutsideSetting &&
        std::find(encodings.begin(), encodings.end(), cell.encoding) == encodings.end())
      encodings.push_back(cell.encoding);
  std::string out = "| encoding | files |", rule = "|---|---|";
  for (const Run& run : runs) {
    out += " " + run.detector + ", " + run.layout + ": wrong / refused |";
    rule += "---|";
  }
  out += "\n" + rule + "\n";
  encodings.push_back("all");
  for (const std::string& e : encodings) {
    const auto tally = [&](const Run& run) {
      return e == "all" ? board.of_class(run, "all") : board.of_encoding(run, e);
    };
    out += "| " + e + " | " + std::to_string(tally(runs.front()).files) + " |";
    for (const Run& run : runs) {
      const Tally t = tally(run);
      out.append(" ").append(std::to_string(t.wrong)).append(" / ");
      out.append(std::to_string(t.refused)).append(" |");
    }
    out += "\n";
  }
  return out;
}

std::vector<Floor> measured_floors(const Board& board, double margin) {
  std::vector<Floor> floors;
  for (const Run& run : board.runs()) {
    if (run.detector != "tool") continue;
    if (run.setting == kOutsideSetting) {  // what matters is that it is seldom wrong
      const Tally t = board.of_class(run, "all");
      const double high = std::ceil((t.wrong_pct() + margin) * 10.0) / 10.0;
      floors.push_back({run.layout, run.setting, "all", 0.0, std::min(100.0, high)});
      continue;
    }
    std::vector<std::string> classes = kClasses;
    classes.push_back("all");
    for (const std::string& c : classes) {
      const Tally t = board.of_class(run, c);
      if (t.files == 0) continue;
      // Rounded outward to a tenth, so the printed figure is the one compared.
      const double low = std::floor((t.right_pct() - margin) * 10.0) / 10.0;
      const double high = std::ceil((t.wrong_pct() + margin) * 10.0) / 10.0;
      floors.push_back({run.layout, run.setting, c, std::max(0.0, low), std::min(100.0, high)});
    }
  }
  return floors;
}

std::string floors_text(const std::vector<Floor>& floors) {
  std::string out =
      "# Floors of the detection regression gate (ctest -L detect): the tool's right answers\n"
      "# may not fall below min_right_pct nor its wrong answers rise above max_wrong_pct, per\n"
      "# layout, candidates and size class, on the short held-out corpus. Refresh after an\n"
      "# improvement with (from the repository's root, after building):\n"
      "#   build/bench/bench_detect_accuracy --gate --corpus build/detect-corpus-gate \\\n"
      "#     --print-floors > bench/detect_floor.tsv\n"
      "layout\tcandidates\tclass\tmin_right_pct\tmax_wrong_pct\n";
  for (const Floor& f : floors)
    out += f.layout + "\t" + f.setting + "\t" + f.size_class + "\t" + pct(f.min_right) + "\t" +
           pct(f.max_wrong) + "\n";
  return out;
}

bool parse_floors(const std::string& text, std::vector<Floor>* floors, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  bool header = false;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> c = cells_of(line);
    if (!header) {
      header = true;
      if (c.size() == 5 && c[0] == "layout") continue;
      *error = "the floors file has no header line";
      return false;
    }
    Floor f;
    char* end_right = nullptr;
    char* end_wrong = nullptr;
    if (c.size() == 5) {
      f.min_right = std::strtod(c[3].c_str(), &end_right);
      f.max_wrong = std::strtod(c[4].c_str(), &end_wrong);
    }
    if (c.size() != 5 || *end_right != '\0' || *end_wrong != '\0' || c[3].empty() || c[4].empty()) {
      *error = "a malformed floor line: " + line;
      return false;
    }
    f.layout = c[0], f.setting = c[1], f.size_class = c[2];
    floors->push_back(f);
  }
  if (floors->empty()) *error = "the floors file holds no floor";
  return !floors->empty();
}

std::vector<std::string> check_floors(const Board& board, const std::vector<Floor>& floors) {
  std::vector<std::string> failures;
  for (const Floor& f : floors) {
    const Run run{"tool", f.layout, f.setting};
    const Tally t = board.of_class(run, f.size_class);
    const std::string name = f.layout + ", " + f.setting + ", " + f.size_class;
    // Important: a corpus built on a machine lacking the packages it reads must fail the
    // gate, not pass it on a handful of files.
    const size_t least = f.size_class == "all" ? kMinGateFilesAll : kMinGateFiles;
    if (t.files < least) {
      failures.push_back(name + ": " + std::to_string(t.files) + " files measured, fewer than " +
                         std::to_string(least) + " (run scripts/setup.sh)");
      continue;
    }
    // Compared at the tenth the file records.
    const double right = std::round(t.right_pct() * 10.0) / 10.0;
    const double wrong = std::round(t.wrong_pct() * 10.0) / 10.0;
    if (right < f.min_right)
      failures.push_back(name + ": right " + pct(right) + " % below the floor " + pct(f.min_right) +
                         " %");
    if (wrong > f.max_wrong)
      failures.push_back(name + ": wrong " + pct(wrong) + " % above the ceiling " +
                         pct(f.max_wrong) + " %");
  }
  return failures;
}

}  // namespace score
