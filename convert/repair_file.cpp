// Double-encoded and mixed files held whole: reported, or repaired when the user opted in.
#include "convert/detect.h"
#include "convert/file_convert.h"
#include "convert/repair_double.h"
#include "convert/repair_mixed.h"
#include "convert/stream_convert.h"
#include "convert/utf8.h"

std::string named_legacy(const RunEncodings& enc) {
  if (enc.source.form != UnicodeForm::none) return {};
  if (enc.source.ascii_compatible) return enc.source_charset;
  const std::string wider = detect::wider_label(enc.source_charset);
  return !wider.empty() && detect::keeps_ascii(wider) ? wider : std::string();
}

std::string escaped_legacy(const RunContext& run) {
  for (const std::string& name : run.repair_candidates)
    if (repair::switches_by_escapes(name)) return name;
  return {};
}

namespace {

void mixed_report(const repair::MixedFacts& facts, FileReport& report, bool samples) {
  report.note = facts.counts_text();
  if (!samples) return;
  report.sample = facts.first_utf8_misread;
  report.repaired_sample = facts.first_utf8;
}

}  // namespace

void FileConverter::publish_utf8(const JobFile& file, const RunEncodings& enc,
                                 std::string_view text, FileReport& report, uint64_t token) {
  // Important: repaired text takes the run's line ends like any converted text; rewritten in
  // UTF-8, whose line ends are single bytes, before the target encoding is made.
  EolRewriter eol(eol_, EolUnits{1, false});
  std::string ended;
  if (eol.passes_through()) {
    eol.count(text);
  } else {
    eol.feed(text, ended);
    eol.finish(ended);
    text = ended;
  }
  note_line_ends(eol, report);
  if (enc.target_is_utf8())
    return publish(file, output_mark(enc, bom_, false), text, report, token);
  std::string out;
  StreamConverter conv("UTF-8", enc.target_charset);
  if (!conv.feed(text.data(), text.size(), out) || !conv.finish(out)) {
    report.outcome = conv.outcome().unsupported ? Outcome::not_supported : Outcome::cannot_convert;
    report.error = conv.outcome().error;
    report.note += "; the repaired text has no form in " + enc.target_name;
    return publish_as_read(file, report, token);
  }
  publish(file, {}, out, report, token);
}

bool FileConverter::repair_double_whole(const JobFile& file, const RunEncodings& enc,
                                        std::string_view body, FileReport& report, uint64_t token) {
  const repair::DoubleEncoding found = repair::find_double_encoding(body);
  if (found.chain.empty()) return false;
  const std::string chain = repair::chain_text(found.chain);
  report.source = "UTF-8";
  if (run_.samples) report.sample = detect::sample_line(body, "UTF-8");
  if (run_.samples) report.repaired_sample = detect::sample_line(found.repaired, "UTF-8");
  if (!run_.repair && !file.repair) {
    report.outcome = Outcome::double_encoded;
    report.note = chain;
    publish_as_read(file, report, token);
    return true;
  }
  report.outcome = Outcome::converted;
  report.note = "repaired: " + chain;
  publish_utf8(file, enc, found.repaired, report, token);
  return true;
}

bool FileConverter::repair_mixed_whole(const JobFile& file, const RunEncodings& enc,
                                       std::string_view body, const std::string& legacy,
                                       FileReport& report, uint64_t token) {
  const repair::MixedFacts facts = repair::scan_mixed(body, legacy);
  if (facts.utf8_lines == 0) return false;
  if (facts.bad_line != 0) {
    report.outcome = Outcome::cannot_convert;
    report.source = legacy;
    report.note = facts.bad_line_text();
    report.stop.reset();
    publish_as_read(file, report, token);
    return true;
  }
  report.source = legacy;
  mixed_report(facts, report, run_.samples);
  if (!run_.repair && !file.repair) {
    report.outcome = Outcome::mixed;
    publish_as_read(file, report, token);
    return true;
  }
  std::string text;
  text.reserve(body.size() * 2);
  repair::LineSplitter split;
  const repair::LineSplitter::Take take = [&](std::string_view line) {
    repair::line_to_utf8(line, legacy, text);
  };
  split.feed(body, take);
  split.finish(take);
  report.outcome = Outcome::converted;
  report.note = "repaired: " + report.note;
  publish_utf8(file, enc, text, report, token);
  return true;
}

bool FileConverter::repair_utf8_whole(const JobFile& file, const RunEncodings& enc,
                                      std::string_view body, FileReport& report, uint64_t token) {
  if (repair_double_whole(file, enc, body, report, token)) return true;
  // Important: lines of an encoding that switches by escapes are 7-bit, so a file of them
  // beside UTF-8 lines is valid UTF-8 as a whole.
  const std::string escaped = escaped_legacy(run_);
  if (escaped.empty() || !repair::has_escapes(body)) return false;
  return repair_mixed_whole(file, enc, body, escaped, report, token);
}

bool FileConverter::repair_ambiguous_whole(const JobFile& file, const RunEncodings& enc,
                                           std::string_view body, FileReport& report,
                                           uint64_t token) {
  // Important: undoing a misreading exactly, or reading the lines beside the UTF-8 ones, does
  // not depend on the readings in question; when those lines alone are still in question the
  // file stays ambiguous.
  if (utf8_check(body).valid) return repair_utf8_whole(file, enc, body, report, token);
  const std::string legacy =
      repair::legacy_of(body, run_.repair_candidates, run_.encodings.source_charset, true);
  if (legacy.empty()) return false;
  return repair_mixed_whole(file, enc, body, legacy, report, token);
}

bool FileConverter::repair_whole(const JobFile& file, const RunEncodings& enc,
                                 const Classification& cls, FileReport& report, uint64_t token) {
  if (!run_.repair_check) return false;
  const std::string_view body = std::string_view(content_).substr(cls.mark_length);
  if (report.outcome == Outcome::already_utf8)
    return repair_utf8_whole(file, enc, body, report, token);
  if (report.outcome == Outcome::ambiguous)
    return repair_ambiguous_whole(file, enc, body, report, token);
  const bool undetected = report.outcome == Outcome::undetected;
  const std::string named = named_legacy(enc);
  // A source that misreads ASCII (SHIFT_JIS) stops at the first UTF-8 line.
  const bool stopped =
      report.outcome == Outcome::cannot_convert && !named.empty() && named != enc.source_charset;
  if (report.outcome != Outcome::converted && !undetected && !stopped) return false;
  if (!undetected && named.empty()) return false;
  if (utf8_check(body).valid) {
    // Important: valid UTF-8 taken for the source's text because it reads as such may be
    // double-encoded ("Ã©" pairs read as GBK text); a misreading undone exactly explains it.
    if (report.outcome != Outcome::converted || !enc.target_is_utf8()) return false;
    return repair_double_whole(file, enc, body, report, token);
  }
  // Important: a file no candidate reads whole may still be lines of UTF-8 beside lines of one;
  // and a detected one was weighed with its UTF-8 lines too, so once some are found its
  // legacy lines alone choose their encoding.
  const bool detected = file.evidence != "chosen" && file.evidence != "override";
  std::string legacy = undetected ? enc.source_charset : named;
  if (!undetected) {
    const repair::MixedFacts facts = repair::scan_mixed(body, legacy);
    if (facts.utf8_lines == 0) return false;
    if (!detected) return repair_mixed_whole(file, enc, body, legacy, report, token);
  }
  legacy = repair::legacy_of(body, run_.repair_candidates, run_.encodings.source_charset);
  if (legacy.empty()) return false;
  return repair_mixed_whole(file, enc, body, legacy, report, token);
}
