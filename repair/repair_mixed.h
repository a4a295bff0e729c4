// Files of two encodings: lines in UTF-8 beside lines in one legacy encoding.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transcode/stream_convert.h"

namespace repair {

enum class LineKind { ascii, utf8, legacy, neither };

// An encoding that switches character sets by escape sequences (ISO-2022-JP): its text is
// 7-bit, so its lines are valid UTF-8 too and are told apart by their escapes.
bool switches_by_escapes(std::string_view encoding);

// Some line of `text` switches character sets by escape (ESC $ or ESC ( ...), as such text
// does; terminal colours (ESC [) do not count.
bool has_escapes(std::string_view text);

// What one line is, read against `legacy`: UTF-8 when it is strict UTF-8 holding non-ASCII text
// that reads better as UTF-8 than as `legacy` (or `legacy` cannot read it). Against an
// encoding that switches by escapes, a line with escapes is `legacy` when it reads it exactly
// and `neither` when not.
LineKind line_kind(std::string_view line, const std::string& legacy);

// Splits text arriving in chunks into lines (each with its '\n'); a line cut by a chunk's end
// is carried into the next.
class LineSplitter {
 public:
  using Take = std::function<void(std::string_view line)>;
  void feed(std::string_view chunk, const Take& take);
  void finish(const Take& take);  // the last line, when it has no '\n'

 private:
  std::string carry_;
};

// The verdict over a whole file, gathered line by line.
struct MixedFacts {
  std::string legacy;  // the encoding of the lines that are not UTF-8
  uint64_t lines = 0;
  uint64_t utf8_lines = 0;
  uint64_t legacy_lines = 0;
  uint64_t bad_line = 0;  // the first line that fits neither (from 1); 0 when none
  uint64_t first_utf8_line = 0, first_legacy_line = 0;  // from 1
  std::string first_utf8, first_legacy;  // the first line of each, decoded, shortened
  std::string first_utf8_misread;  // the first UTF-8 line as a conversion from `legacy` reads it

  // Some lines in each encoding and none that fits neither.
  bool mixed() const { return utf8_lines > 0 && legacy_lines > 0 && bad_line == 0; }
  // "12 lines UTF-8 (line 3: …), 30 lines GBK (line 1: …)"
  std::string counts_text() const;
  // "line 7 is neither UTF-8 nor GBK"
  std::string bad_line_text() const;
};

// The legacy encoding among `candidates` that reads every line of `text` that is not UTF-8,
// chosen by detection over those lines alone (`preferred` wins close calls); "" when none reads
// them all, when `sure` and detection finds those lines ambiguous too, or when detection finds
// no plausible reading of them (or one outside `candidates` reads them better).
std::string legacy_of(std::string_view text, const std::vector<std::string>& candidates,
                      const std::string& preferred, bool sure = false);

// Appends `line` in UTF-8 to `out`, each line from its own encoding; false for a line neither
// reads.
bool line_to_utf8(std::string_view line, const std::string& legacy, std::string& out);

// Whether some line of a text given in chunks reads as UTF-8 rather than `legacy` (what
// scan_mixed asks first): one pass, each chunk's whole lines at once, a line cut by its end
// carried. Nearly every legacy file has no such line.
// Important: the few lines that are valid UTF-8 (legacy text can be, by chance) are weighed
// by the language statistics, which take a while to build: they are weighed when some 64 KiB
// of them are gathered, or at the end, so a reader converting the text meanwhile seldom waits.
class Utf8LineWatch {
 public:
  explicit Utf8LineWatch(std::string legacy) : legacy_(std::move(legacy)) {}
  // false once such a line was found: nothing more to learn.
  bool feed(std::string_view chunk);
  // The text ended: its last line, when it has no '\n', and the lines gathered are weighed.
  void finish();
  bool found() const { return found_; }
  bool finished() const { return finished_; }

 private:
  void look(std::string_view lines);
  void weigh();
  void drop_invalid_carry();

  std::string legacy_;
  std::string carry_;               // the start of a line cut by the last chunk's end
  size_t checked_ = 0;              // how much of carry_ was found valid UTF-8
  bool skipping_ = false;           // in a line already found to be no UTF-8
  std::vector<std::string> valid_;  // lines that are valid UTF-8, not weighed yet
  size_t valid_bytes_ = 0;
  bool found_ = false;
  bool finished_ = false;
};

// The facts of a text against `legacy`, line by line, lines cut by a chunk's end carried; only
// the encoding's name and no counts when no line reads as UTF-8. `read_error`: 0 or errno.
MixedFacts scan_mixed(const EachChunk& text, const std::string& legacy, int& read_error);
// The same of a text held whole.
MixedFacts scan_mixed(std::string_view text, const std::string& legacy);

}  // namespace repair
