// Line-by-line reading of a file of two encodings.
#include "repair/repair_mixed.h"

#include <algorithm>

#include "detect/detect.h"
#include "detect/detect_decode.h"
#include "detect/detect_model.h"
#include "repair/repair_codec.h"
#include "repair/repair_score.h"
#include "repair/repair_script.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace repair {
namespace {

// Points per character a UTF-8 reading must lead the legacy one by: legacy text is valid
// UTF-8 now and then ("模式" in GBK reads "ģʽ"), and must then keep its own reading.
constexpr double kUtf8Lead = 0.5;
constexpr size_t kShownBytes = 120;
// A line of a multi-byte code page that is valid UTF-8 by chance holds one or two characters
// ("Ϊ" is GBK 0xCF 0xAA); a real UTF-8 line among them holds more, or is of its script.
constexpr size_t kCjkChars = 3;

std::string shortened(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() <= kShownBytes) return text;
  text.resize(kShownBytes);
  text.resize(text.size() - utf8_incomplete_tail(text));
  return text + "…";
}

bool cjk_code_page(const std::string& encoding) {
  using detect::Family;
  const Family f = detect::family_of(encoding);
  return f == Family::gb || f == Family::big5 || f == Family::japanese || f == Family::korean;
}

// Important: a short line (one or two characters) is UTF-8 only when they are of the script
// the code page writes: one of GBK read as UTF-8 by chance is of another ("ģʽ").
bool enough_for_cjk(std::string_view line, const std::string& legacy) {
  if (non_ascii_chars(line) >= kCjkChars) return true;
  const std::vector<detect::Family> families = families_of_script(line, 1);
  return std::find(families.begin(), families.end(), detect::family_of(legacy)) != families.end();
}

bool escaped(std::string_view line, const std::string& legacy) {
  return switches_by_escapes(legacy) && has_escapes(line);
}

// Such text ends each line back in a one-byte set (ESC ( B); a line left in a two-byte one
// runs on into the next, which alone would read as ASCII nonsense.
bool ends_in_one_byte_set(std::string_view line) {
  const size_t last = line.rfind('\x1b');
  return last + 1 < line.size() && line[last + 1] == '(';
}

}  // namespace

bool switches_by_escapes(std::string_view encoding) { return encoding.rfind("ISO-2022-", 0) == 0; }

bool has_escapes(std::string_view text) {
  for (size_t at = text.find('\x1b'); at != std::string_view::npos && at + 1 < text.size();
       at = text.find('\x1b', at + 1)) {
    if (text[at + 1] == '$' || text[at + 1] == '(') return true;
  }
  return false;
}

LineKind line_kind(std::string_view line, const std::string& legacy) {
  if (escaped(line, legacy)) {
    // Important: 7-bit text read per line; a line whose escapes do not read exactly (a state
    // carried from the line before) is named, never left as escape codes.
    std::string decoded;
    if (!ends_in_one_byte_set(line) || !decode_exact(line, legacy, decoded))
      return LineKind::neither;
    return decoded == line ? LineKind::ascii : LineKind::legacy;
  }
  if (is_ascii(line)) return LineKind::ascii;
  std::string decoded;
  const bool legacy_reads = decode_exact(line, legacy, decoded);
  if (utf8_check(line).valid) {
    if (!legacy_reads) return LineKind::utf8;
    // Important: short text of a multi-byte code page is valid UTF-8 now and then, and keeps
    // its own reading unless UTF-8 reads clearly better; text of a single-byte one almost
    // never is ("Ã©"), and is UTF-8 unless its own reading is clearly better.
    const double as_utf8 = plausibility(line);
    const double as_legacy = plausibility_as(decoded, legacy);
    const bool utf8 = cjk_code_page(legacy)
                          ? as_utf8 > as_legacy + kUtf8Lead && enough_for_cjk(line, legacy)
                          : as_legacy <= as_utf8 + kUtf8Lead;
    if (utf8) return LineKind::utf8;
  }
  return legacy_reads ? LineKind::legacy : LineKind::neither;
}

void LineSplitter::feed(std::string_view chunk, const Take& take) {
  while (!chunk.empty()) {
    const size_t nl = chunk.find('\n');
    if (nl == std::string_view::npos) {
      carry_.append(chunk);
      return;
    }
    if (carry_.empty()) {
      take(chunk.substr(0, nl + 1));
    } else {
      carry_.append(chunk.substr(0, nl + 1));
      take(carry_);
      carry_.clear();
    }
    chunk.remove_prefix(nl + 1);
  }
}

void LineSplitter::finish(const Take& take) {
  if (!carry_.empty()) take(carry_);
  carry_.clear();
}

std::string MixedFacts::counts_text() const {
  using ull = unsigned long long;
  const std::string utf8 = kestrum::strfmt(
      P_("%llu line UTF-8 (line %llu: %s)", "%llu lines UTF-8 (line %llu: %s)", utf8_lines),
      static_cast<ull>(utf8_lines), static_cast<ull>(first_utf8_line), first_utf8.c_str());
  const std::string other = kestrum::strfmt(
      P_("%llu line %s (line %llu: %s)", "%llu lines %s (line %llu: %s)", legacy_lines),
      static_cast<ull>(legacy_lines), legacy.c_str(), static_cast<ull>(first_legacy_line),
      first_legacy.c_str());
  return utf8 + ", " + other;
}

std::string MixedFacts::bad_line_text() const {
  return kestrum::strfmt(_("line %llu is neither UTF-8 nor %s"),
                         static_cast<unsigned long long>(bad_line), legacy.c_str());
}

std::string legacy_of(std::string_view text, const std::vector<std::string>& candidates,
                      const std::string& preferred, bool sure) {
  // The lines that are not UTF-8, and which candidates read them all.
  std::string legacy_lines, utf8_lines;
  LineSplitter split;
  const LineSplitter::Take take = [&](std::string_view line) {
    (utf8_check(line).valid ? utf8_lines : legacy_lines).append(line);
  };
  split.feed(text, take);
  split.finish(take);
  if (legacy_lines.empty()) return {};
  std::vector<std::string> readers;
  std::string decoded;
  for (const std::string& c : candidates) {
    decoded.clear();
    if (decode_exact(legacy_lines, c, decoded)) readers.push_back(c);
  }
  if (readers.size() <= 1) return readers.empty() ? std::string() : readers.front();
  // Important: the lines of one file are of one language. The script of its UTF-8 lines is
  // sure where a few short legacy lines leave the statistics unsure (Hebrew read as Greek).
  const std::vector<detect::Family> families = families_of_script(utf8_lines);
  std::vector<std::string> same_script;
  for (const std::string& r : readers)
    if (std::find(families.begin(), families.end(), detect::family_of(r)) != families.end())
      same_script.push_back(r);
  if (!same_script.empty()) readers.swap(same_script);
  if (readers.size() == 1) return readers.front();
  // The detection's own statistics choose among them, on those lines alone.
  detect::TreeDetector::Options options;
  options.pooling = false;
  options.listed = candidates;
  detect::TreeDetector detector(readers, preferred, options);
  detector.add(0, "", legacy_lines);
  detector.finish();
  const detect::Decision& decision = detector.decision(0);
  const bool unsure = decision.evidence == detect::Evidence::ambiguous ||
                      decision.evidence == detect::Evidence::undetected;
  // Important: lines no candidate reads as plausible text, or that an encoding outside the
  // candidates reads better, are no candidate's, even where the lines beside them left
  // detection unsure (Mac Czech read as ISO-8859-2, Ukrainian CP866 as CP1252).
  if ((sure && unsure) || decision.evidence == detect::Evidence::undetected) return {};
  const std::string chosen = decision.encoding;
  return std::find(readers.begin(), readers.end(), chosen) != readers.end() ? chosen
                                                                            : readers.front();
}

bool line_to_utf8(std::string_view line, const std::string& legacy, std::string& out) {
  switch (line_kind(line, legacy)) {
    case LineKind::ascii:
    case LineKind::utf8:
      out.append(line);
      return true;
    case LineKind::legacy:
      return decode_exact(line, legacy, out);
    case LineKind::neither:
      return false;
  }
  return false;
}

namespace {

// Gathers the facts line by line. Lines that are not UTF-8 are taken as legacy ones at first
// (decoding each would cost a clean legacy file its time); `check_legacy` then looks at each
// again in a second pass, only for a file that has UTF-8 lines. Lines with escapes, against
// an encoding that switches by them, are read at once in the first pass.
class MixedScan {
 public:
  MixedScan(std::string legacy, bool check_legacy) : check_legacy_(check_legacy) {
    facts_.legacy = std::move(legacy);
  }
  void line(std::string_view line);
  const MixedFacts& facts() const { return facts_; }

 private:
  MixedFacts facts_;
  bool check_legacy_;
};

void MixedScan::line(std::string_view line) {
  ++facts_.lines;
  const bool escapes = escaped(line, facts_.legacy);
  if (!escapes && is_ascii(line)) return;
  const bool utf8 = !escapes && utf8_check(line).valid;
  if (!utf8 && !escapes && !check_legacy_) {
    if (facts_.legacy_lines++ == 0) facts_.first_legacy_line = facts_.lines;
    return;
  }
  if ((utf8 || escapes) && check_legacy_) return;  // counted in the first pass
  switch (line_kind(line, facts_.legacy)) {
    case LineKind::ascii:
      return;
    case LineKind::utf8:
      if (facts_.utf8_lines++ == 0) {
        facts_.first_utf8_line = facts_.lines;
        facts_.first_utf8 = shortened(std::string(line));
        std::u32string misread;
        detect::decode_lenient(line, facts_.legacy, misread);
        std::string text;
        detect::append_utf8(text, misread);
        facts_.first_utf8_misread = shortened(std::move(text));
      }
      return;
    case LineKind::legacy:
      if (!check_legacy_ && facts_.legacy_lines++ == 0) facts_.first_legacy_line = facts_.lines;
      if (facts_.first_legacy.empty() &&
          (check_legacy_ || facts_.first_legacy_line == facts_.lines)) {
        std::string decoded;
        decode_exact(line, facts_.legacy, decoded);
        facts_.first_legacy = shortened(std::move(decoded));
      }
      return;
    case LineKind::neither:
      if (facts_.bad_line == 0) facts_.bad_line = facts_.lines;
      return;
  }
}

}  // namespace

bool Utf8LineWatch::feed(std::string_view chunk) {
  if (found_) return false;
  if (skipping_) {
    const size_t nl = chunk.find('\n');
    if (nl == std::string_view::npos) return true;
    skipping_ = false;
    chunk.remove_prefix(nl + 1);
  }
  const size_t end = chunk.rfind('\n') + 1;  // 0: no line ends here
  size_t from = 0;
  if (!carry_.empty() && end > 0) {
    // Important: only the carried line is completed and copied, never the chunk.
    from = chunk.find('\n') + 1;
    carry_.append(chunk.substr(0, from));
    look(carry_);
    carry_.clear();
    checked_ = 0;
  }
  look(chunk.substr(from, end - std::min(from, end)));
  carry_.append(chunk.substr(std::max(from, end)));
  drop_invalid_carry();
  return !found_;
}

void Utf8LineWatch::drop_invalid_carry() {
  // Important: a line cut by a chunk's end is kept until its end, but not a long one that is
  // no UTF-8 already: a big file without line ends would be held whole. Looked at again each
  // time it doubled, so a long line costs linear time.
  constexpr size_t kKept = 64 * 1024;
  if (carry_.size() < kKept || carry_.size() < 2 * checked_) return;
  const std::string_view line(carry_);
  if (utf8_check(line.substr(0, line.size() - utf8_incomplete_tail(line))).valid) {
    checked_ = carry_.size();
    return;
  }
  std::string().swap(carry_);
  checked_ = 0;
  skipping_ = true;
}

void Utf8LineWatch::finish() {
  if (!found_) look(carry_);
  carry_.clear();
  weigh();
  finished_ = true;
}

void Utf8LineWatch::look(std::string_view lines) {
  constexpr size_t kGathered = 64 * 1024;
  size_t at = 0;
  for (std::string_view line; !found_ && !(line = find_utf8_line(lines, at)).empty();) {
    valid_.emplace_back(line);
    if ((valid_bytes_ += line.size()) > kGathered) weigh();
  }
}

void Utf8LineWatch::weigh() {
  for (const std::string& line : valid_)
    if (!found_ && line_kind(line, legacy_) == LineKind::utf8) found_ = true;
  valid_.clear();
  valid_bytes_ = 0;
}

namespace {

// The same over chunks.
bool has_utf8_reading(const EachChunk& text, const std::string& legacy, int& read_error) {
  Utf8LineWatch watch(legacy);
  read_error = text([&](std::string_view chunk) { return watch.feed(chunk); });
  if (read_error == 0) watch.finish();
  return watch.found();
}

MixedFacts scan_pass(const EachChunk& text, const std::string& legacy, bool check_legacy,
                     int& read_error) {
  MixedScan scan(legacy, check_legacy);
  LineSplitter split;
  const LineSplitter::Take take = [&scan](std::string_view line) { scan.line(line); };
  read_error = text([&](std::string_view chunk) {
    split.feed(chunk, take);
    return true;
  });
  split.finish(take);
  return scan.facts();
}

}  // namespace

MixedFacts scan_mixed(const EachChunk& text, const std::string& legacy, int& read_error) {
  // Important: nearly every legacy file has no UTF-8 line, and its lines need no counting.
  MixedFacts facts;
  facts.legacy = legacy;
  if (!has_utf8_reading(text, legacy, read_error)) return facts;
  facts = scan_pass(text, legacy, false, read_error);
  if (read_error != 0 || facts.utf8_lines == 0) return facts;
  const MixedFacts second = scan_pass(text, legacy, true, read_error);
  // The first pass's facts completed by the second's.
  if (second.bad_line != 0 && (facts.bad_line == 0 || second.bad_line < facts.bad_line))
    facts.bad_line = second.bad_line;
  if (facts.first_legacy.empty()) facts.first_legacy = second.first_legacy;
  return facts;
}

MixedFacts scan_mixed(std::string_view text, const std::string& legacy) {
  int read_error = 0;
  return scan_mixed([text](const auto& take) { return take(text), 0; }, legacy, read_error);
}

}  // namespace repair
