// Right, wrong and refused answers of detectors on labelled files: tallies, tables, floors.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "labelled_corpus.h"

namespace score {

enum class Verdict { right, wrong, refused };

// Right when decoding the file with `named` gives exactly its text (labels that read it alike
// are right); refused when `outcome` is "ambiguous" or "undetected", or nothing is named;
// wrong otherwise: a wrong answer corrupts the file.
Verdict judge(const labelled::File& file, const std::string& named, const std::string& outcome);

struct Tally {
  size_t files = 0, right = 0, wrong = 0, refused = 0;
  void add(Verdict v);
  void add(const Tally& o);
  double right_pct() const;
  double wrong_pct() const;
  double refused_pct() const;
};

// Who answered, how the files lay (or how a library was fed), and the candidates.
struct Run {
  std::string detector, layout, setting;
  bool operator<(const Run& o) const {
    return std::tie(detector, layout, setting) < std::tie(o.detector, o.layout, o.setting);
  }
  bool operator==(const Run& o) const {
    return detector == o.detector && layout == o.layout && setting == o.setting;
  }
};

struct Cell {
  Run run;
  std::string encoding, size_class;
  bool operator<(const Cell& o) const {
    return std::tie(run, encoding, size_class) < std::tie(o.run, o.encoding, o.size_class);
  }
};

class Board {
 public:
  void add(const Run& run, const labelled::File& file, Verdict v);
  // The runs in the order they were first added.
  const std::vector<Run>& runs() const { return runs_; }
  const std::map<Cell, Tally>& cells() const { return cells_; }
  // A run's files of one class ("all": every class; "non-ascii": all but the ASCII files).
  Tally of_class(const Run& run, const std::string& size_class) const;
  Tally of_encoding(const Run& run, const std::string& encoding) const;

 private:
  std::vector<Run> runs_;
  std::map<Cell, Tally> cells_;
};

// Every cell as a tab-separated row with a header.
std::string tsv(const Board& board);

// The candidate setting of runs whose candidates lack each file's encoding.
inline constexpr const char* kOutsideSetting = "outside";

// Per run: right % per size class and in all, wrong and refused counts (markdown); the
// outside runs left out.
std::string summary_table(const Board& board);

// Per encoding, the outside runs' wrong and refused counts (markdown); "" without such runs.
std::string outside_table(const Board& board);

// Per encoding: right % (and wrong answers) of the chosen runs (markdown).
std::string encoding_table(const Board& board, const std::vector<Run>& columns);

// The summary rows the regression gate keeps: the tool's runs, each class and "all".
struct Floor {
  std::string layout, setting, size_class;
  double min_right = 0, max_wrong = 100;
};

// Floors a `margin` (points) below the measured right and above the measured wrong.
std::vector<Floor> measured_floors(const Board& board, double margin);
std::string floors_text(const std::vector<Floor>& floors);
// Parses a floors file; false with *error on a malformed one.
bool parse_floors(const std::string& text, std::vector<Floor>* floors, std::string* error);
// One line per floor the board falls below (or a floor's row it did not measure).
std::vector<std::string> check_floors(const Board& board, const std::vector<Floor>& floors);

}  // namespace score
