// Double-encoded and mixed files too big to hold whole: decided on their beginning, verified
// and written chunk by chunk, lines and characters carried across chunk ends.
#include "convert/detect.h"
#include "convert/file_convert.h"
#include "convert/repair_double.h"
#include "convert/repair_mixed.h"
#include "convert/stream_convert.h"
#include "convert/utf8.h"

namespace {

constexpr size_t kFlushBytes = 1u << 20;

// Reads the source after its mark in chunks; false when reading failed or `take` refused.
bool each_chunk(const ChunkSource& src, size_t mark_length,
                const std::function<bool(std::string_view)>& take) {
  bool ok = true;
  const int read_error =
      src.each(mark_length, [&](std::string_view chunk) { return ok = take(chunk); });
  return ok && read_error == 0;
}

}  // namespace

FileConverter::StreamRepair FileConverter::double_streamed(const JobFile& file, ChunkSource& src,
                                                           const RunEncodings& enc,
                                                           size_t mark_length,
                                                           std::string_view head,
                                                           FileReport& report, uint64_t token) {
  head = head.substr(0, head.size() - utf8_incomplete_tail(head));
  const repair::DoubleEncoding found = repair::find_double_encoding(head);
  if (found.chain.empty()) return StreamRepair::none;
  // The whole file must undo exactly, not only its beginning.
  const auto undo_all = [&](const std::function<bool(std::string_view)>& take) {
    repair::ChainUndo undo(found.chain);
    Utf8Scanner check;
    std::string out, carry;
    const bool ok = each_chunk(src, mark_length, [&](std::string_view chunk) {
      out.clear();
      if (!undo.feed(chunk, out)) return false;
      check.feed(out);
      if (!check.valid_so_far()) return false;
      carry += out;
      const size_t whole = carry.size() - utf8_incomplete_tail(carry);
      if (!take(std::string_view(carry).substr(0, whole))) return false;
      carry.erase(0, whole);
      return true;
    });
    return ok && undo.finish() && check.finish().valid && carry.empty();
  };
  if (!undo_all([](std::string_view) { return true; })) return StreamRepair::none;
  report.source = "UTF-8";
  if (run_.samples) report.sample = detect::sample_line(head, "UTF-8");
  if (run_.samples) report.repaired_sample = detect::sample_line(found.repaired, "UTF-8");
  const std::string chain = repair::chain_text(found.chain);
  if (!run_.repair && !file.repair) {
    report.outcome = Outcome::double_encoded;
    report.note = chain;
    return StreamRepair::as_read;
  }
  report.outcome = Outcome::converted;
  report.note = "repaired: " + chain;
  write_streamed(file, src, enc, undo_all, report, token);
  return StreamRepair::written;
}

FileConverter::StreamRepair FileConverter::mixed_streamed(const JobFile& file, ChunkSource& src,
                                                          const RunEncodings& enc,
                                                          size_t mark_length, std::string_view head,
                                                          FileReport& report, uint64_t token) {
  const bool undetected = report.outcome == Outcome::undetected;
  // Important: lines of an encoding that switches by escapes leave the file valid UTF-8.
  const bool utf8_file = report.outcome == Outcome::already_utf8;
  // An undetected file's legacy lines are looked for in its beginning, cut at a line's end.
  const std::string legacy =
      utf8_file    ? escaped_legacy(run_)
      : undetected ? repair::legacy_of(head.substr(0, head.rfind('\n') + 1), run_.repair_candidates,
                                       run_.encodings.source_charset)
                   : named_legacy(enc);
  if (legacy.empty()) return StreamRepair::none;
  const auto scan = [&](bool check_legacy, repair::MixedFacts& facts, bool& utf8_valid) {
    repair::MixedScan scanner(legacy, check_legacy);
    repair::LineSplitter split;
    Utf8Scanner utf8;
    const repair::LineSplitter::Take take = [&](std::string_view line) { scanner.line(line); };
    const bool ok = each_chunk(src, mark_length, [&](std::string_view chunk) {
      utf8.feed(chunk);
      split.feed(chunk, take);
      return true;
    });
    split.finish(take);
    facts = scanner.facts();
    utf8_valid = utf8.finish().valid;
    return ok;
  };
  repair::MixedFacts facts, second;
  bool utf8_valid = false;
  if (!scan(false, facts, utf8_valid) || (utf8_valid && !utf8_file) || facts.utf8_lines == 0 ||
      facts.legacy_lines == 0)
    return StreamRepair::none;
  if (!scan(true, second, utf8_valid)) return StreamRepair::none;
  repair::merge_second_pass(facts, second);
  report.source = legacy;
  if (facts.bad_line != 0) {
    report.outcome = Outcome::cannot_convert;
    report.note = facts.bad_line_text();
    return StreamRepair::as_read;
  }
  report.note = facts.counts_text();
  if (run_.samples) {
    report.sample = facts.first_utf8_misread;
    report.repaired_sample = facts.first_utf8;
  }
  if (!run_.repair && !file.repair) {
    report.outcome = Outcome::mixed;
    return StreamRepair::as_read;
  }
  report.outcome = Outcome::converted;
  report.note = "repaired: " + report.note;
  const Produce produce = [&](const std::function<bool(std::string_view)>& take) {
    repair::LineSplitter split;
    std::string out;
    bool ok = true;
    const repair::LineSplitter::Take line = [&](std::string_view l) {
      if (!ok) return;
      ok = repair::line_to_utf8(l, legacy, out);
      if (ok && out.size() >= kFlushBytes) {
        ok = take(out);
        out.clear();
      }
    };
    const bool read = each_chunk(src, mark_length, [&](std::string_view chunk) {
      split.feed(chunk, line);
      return ok;
    });
    split.finish(line);
    return read && ok && take(out);
  };
  write_streamed(file, src, enc, produce, report, token);
  return StreamRepair::written;
}

FileConverter::StreamRepair FileConverter::repair_streamed(const JobFile& file, ChunkSource& src,
                                                           const RunEncodings& enc,
                                                           size_t mark_length,
                                                           std::string_view head,
                                                           FileReport& report, uint64_t token) {
  if (!run_.repair_check) return StreamRepair::none;
  if (report.outcome == Outcome::already_utf8) {
    const StreamRepair undone = double_streamed(file, src, enc, mark_length, head, report, token);
    if (undone != StreamRepair::none || escaped_legacy(run_).empty() || !repair::has_escapes(head))
      return undone;
    return mixed_streamed(file, src, enc, mark_length, head, report, token);
  }
  const bool legacy = enc.source.form == UnicodeForm::none && enc.source.ascii_compatible;
  if (report.outcome == Outcome::converted && legacy && enc.target_is_utf8() &&
      utf8_check(head.substr(0, head.size() - utf8_incomplete_tail(head))).valid) {
    // Important: as for a file read whole, valid UTF-8 taken for the source's text because it
    // reads as such may be double-encoded; undoing it is then exact for the whole file.
    const StreamRepair undone = double_streamed(file, src, enc, mark_length, head, report, token);
    if (undone != StreamRepair::none) return undone;
  }
  // A narrow label that misreads ASCII (SHIFT_JIS) has its lines read as its wider one.
  if (report.outcome == Outcome::undetected ||
      (report.outcome == Outcome::converted && !named_legacy(enc).empty()))
    return mixed_streamed(file, src, enc, mark_length, head, report, token);
  return StreamRepair::none;
}
