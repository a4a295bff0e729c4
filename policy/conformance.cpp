// Naming the first thing wrong in a file checked against its own policy.
#include "policy/conformance.h"

#include "detect/classify.h"
#include "transcode/charset.h"

namespace {

const char* kind_name(int kind) {
  static const char* const kNames[] = {"LF", "CRLF", "CR"};
  return kNames[kind];
}

int wanted_kind(EolMode want) { return want == EolMode::lf ? 0 : want == EolMode::crlf ? 1 : 2; }

uint32_t unit_at(std::string_view text, size_t at, EolUnits units) {
  uint32_t v = 0;
  for (unsigned i = 0; i < units.width; ++i) {
    const unsigned shift = units.big_endian ? 8 * (units.width - 1 - i) : 8 * i;
    v |= static_cast<uint32_t>(static_cast<unsigned char>(text[at + i])) << shift;
  }
  return v;
}

// Line ends counted as a whole: the kinds present other than the wanted one.
std::string counts_offence(const EolCounts& counts, EolMode want) {
  const uint64_t n[] = {counts.lf, counts.crlf, counts.cr};
  std::string wrong;
  for (int k = 0; k < 3; ++k) {
    if (k == wanted_kind(want) || n[k] == 0) continue;
    if (!wrong.empty()) wrong += ", ";
    wrong += std::to_string(n[k]) + " " + kind_name(k);
  }
  if (wrong.empty()) return {};
  return "line ends " + wrong + ", " + kind_name(wanted_kind(want)) + " wanted";
}

}  // namespace

std::optional<Offence> first_wrong_line_end(std::string_view text, EolUnits units, EolMode want) {
  if (want == EolMode::keep || units.width == 0) return std::nullopt;
  const size_t w = units.width;
  const int wanted = wanted_kind(want);
  uint64_t line = 1;
  for (size_t at = 0; at + w <= text.size(); at += w) {
    const uint32_t v = unit_at(text, at, units);
    if (v != 0x0A && v != 0x0D) continue;
    int kind = 0;
    if (v == 0x0D) {
      const bool pair = at + 2 * w <= text.size() && unit_at(text, at + w, units) == 0x0A;
      kind = pair ? 1 : 2;
      if (pair) at += w;
    }
    if (kind != wanted)
      return Offence{line,
                     std::string(kind_name(kind)) + " line end, " + kind_name(wanted) + " wanted"};
    ++line;
  }
  return std::nullopt;
}

std::optional<Offence> describe_offence(std::string_view content, const RunEncodings& enc,
                                        const Classification& cls, const FileReport& report,
                                        EolMode want) {
  if (report.outcome == Outcome::marked) {
    // A file read in chunks has only the note ("marked as UTF-16LE") to say which mark.
    constexpr std::string_view kMarkedAs = "marked as ";
    std::string form = cls.foreign_mark != UnicodeForm::none ? form_name(cls.foreign_mark) : "";
    if (form.empty() && report.note.starts_with(kMarkedAs))
      form = report.note.substr(kMarkedAs.size());
    const std::string mark = form.empty() ? "a byte-order mark" : "a " + form + " byte-order mark";
    return Offence{1, mark + ", not " + enc.target_name};
  }
  if (report.outcome == Outcome::cannot_convert && report.stop)
    return Offence{report.stop->line, "not " + enc.target_name + " (column " +
                                          std::to_string(report.stop->column) + ")"};
  if (!outcome_is_done(report.outcome) || report.unchanged) return std::nullopt;
  if (report.mark_known && report.mark_before != report.mark_after)
    return Offence{1, report.mark_before ? "a byte-order mark, none wanted"
                                         : "no byte-order mark, one wanted"};
  if (!content.empty()) {
    const EolUnits units =
        report.outcome == Outcome::converted ? enc.target.eol_units : EolUnits{1, false};
    if (auto eol = first_wrong_line_end(content.substr(cls.mark_length), units, want)) return eol;
  } else if (report.eol_counted) {
    const std::string what = counts_offence(report.eol_before, want);
    if (!what.empty()) return Offence{0, what};
  }
  return Offence{0, "would change"};
}
