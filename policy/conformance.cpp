// Naming the first thing wrong in a file checked against its own policy.
#include "policy/conformance.h"

#include "detect/classify.h"
#include "transcode/charset.h"
#include "util/i18n.h"
#include "util/strfmt.h"

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
  return kestrum::strfmt(_("line ends %s, %s wanted"), wrong.c_str(), kind_name(wanted_kind(want)));
}

// Translators: the note of a file with another form's byte-order mark ("marked as UTF-16LE").
const char* marked_as_format() { return _("marked as %s"); }

}  // namespace

std::string marked_as_note(std::string_view form) {
  return kestrum::strfmt(marked_as_format(), std::string(form).c_str());
}

std::string form_of_marked_note(std::string_view note) {
  const std::string_view format = marked_as_format();
  const size_t slot = format.find("%s");
  if (slot == std::string_view::npos) return {};
  const std::string_view before = format.substr(0, slot), after = format.substr(slot + 2);
  if (note.size() <= before.size() + after.size() || !note.starts_with(before) ||
      !note.ends_with(after))
    return {};
  return std::string(note.substr(before.size(), note.size() - before.size() - after.size()));
}

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
      return Offence{
          line, kestrum::strfmt(_("%s line end, %s wanted"), kind_name(kind), kind_name(wanted))};
    ++line;
  }
  return std::nullopt;
}

std::optional<Offence> describe_offence(std::string_view content, const RunEncodings& enc,
                                        const Classification& cls, const FileReport& report,
                                        EolMode want) {
  if (report.outcome == Outcome::marked) {
    // A file read in chunks has only the note ("marked as UTF-16LE") to say which mark.
    // Important: the note is in the user's language; its form is found through the same text.
    std::string form = cls.foreign_mark != UnicodeForm::none ? form_name(cls.foreign_mark) : "";
    if (form.empty()) form = form_of_marked_note(report.note);
    return Offence{1, form.empty()
                          ? kestrum::strfmt(_("a byte-order mark, not %s"), enc.target_name.c_str())
                          : kestrum::strfmt(_("a %s byte-order mark, not %s"), form.c_str(),
                                            enc.target_name.c_str())};
  }
  if (report.outcome == Outcome::cannot_convert && report.stop)
    return Offence{report.stop->line,
                   kestrum::strfmt(_("not %s (column %llu)"), enc.target_name.c_str(),
                                   static_cast<unsigned long long>(report.stop->column))};
  if (!outcome_is_done(report.outcome) || report.unchanged) return std::nullopt;
  if (report.mark_known && report.mark_before != report.mark_after)
    return Offence{1, report.mark_before ? _("a byte-order mark, none wanted")
                                         : _("no byte-order mark, one wanted")};
  if (!content.empty()) {
    const EolUnits units =
        report.outcome == Outcome::converted ? enc.target.eol_units : EolUnits{1, false};
    if (auto eol = first_wrong_line_end(content.substr(cls.mark_length), units, want)) return eol;
  } else if (report.eol_counted) {
    const std::string what = counts_offence(report.eol_before, want);
    if (!what.empty()) return Offence{0, what};
  }
  return Offence{0, _("would change")};
}
