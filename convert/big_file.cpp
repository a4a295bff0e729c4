// Files too big to hold whole: classified in one pass of chunks, then converted or copied in
// chunks into their crash-safe target.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "convert/detect.h"
#include "convert/file_convert.h"
#include "convert/stop_point.h"
#include "convert/stream_convert.h"
#include "convert/utf8.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"

namespace {

constexpr size_t kSampleBytes = 64 * 1024;
// Lines kept for the UTF-8 doubt: past this many characters above ASCII, or lines this long,
// valid UTF-8 is UTF-8 (the doubt weighs only text with few such characters).
constexpr size_t kDoubtChars = 100;
constexpr size_t kDoubtLineBytes = 16 * 1024;

// The lines holding bytes above 0x7F, gathered while they stay few.
struct HighLines {
  std::string lines;  // whole lines, each ending in '\n'
  std::string line;   // the line being read
  size_t chars = 0;   // UTF-8 lead bytes above ASCII kept so far
  bool too_many = false;

  void feed(std::string_view chunk) {
    while (!too_many && !chunk.empty()) {
      const size_t end = chunk.find('\n');
      line.append(chunk.substr(0, end));
      if (line.size() > kDoubtLineBytes) too_many = true;
      if (end == std::string_view::npos) return;
      end_line();
      chunk.remove_prefix(end + 1);
    }
  }
  void end_line() {
    size_t leads = 0;
    for (char c : line) leads += static_cast<unsigned char>(c) >= 0xC0 ? 1 : 0;
    if (leads > 0) {
      chars += leads;
      lines.append(line).push_back('\n');
    }
    too_many = too_many || chars > kDoubtChars;
    line.clear();
  }
};

// What the rules need, gathered chunk by chunk; reading stops once nothing more can change.
struct StreamedFacts {
  Classification cls;
  BodyFacts facts;
  std::string head;  // the start of the text after the mark, for a preview's sample
  HighLines high;    // for the UTF-8 doubt
};

int gather(const std::string& source, const RunEncodings& enc, size_t chunk_size,
           StreamedFacts& out) {
  Utf8Scanner scanner;
  uint64_t body_pos = 0;
  bool first = true;
  const int err = read_in_chunks(source, chunk_size, [&](std::string_view chunk) {
    if (first) {
      first = false;
      out.cls = classify_mark(chunk.substr(0, 4), enc);
      if (out.cls.outcome == Outcome::marked) return false;
      chunk.remove_prefix(std::min(out.cls.mark_length, chunk.size()));
    }
    if (out.head.size() < kSampleBytes)
      out.head.append(chunk.substr(0, kSampleBytes - out.head.size()));
    if (body_pos < kBinaryScanBytes && out.facts.nul_offset == std::string_view::npos) {
      const size_t at = find_nul(chunk, static_cast<size_t>(kBinaryScanBytes - body_pos));
      if (at != std::string_view::npos) out.facts.nul_offset = static_cast<size_t>(body_pos + at);
    }
    scanner.feed(chunk);
    if (scanner.valid_so_far()) out.high.feed(chunk);
    body_pos += chunk.size();
    // Invalid UTF-8 means non-ASCII too: past the NUL window nothing is left to learn.
    // Important: not finish(), which takes a sequence cut by this chunk's end for an error.
    return scanner.valid_so_far() || body_pos < kBinaryScanBytes;
  });
  if (!out.high.too_many && !out.high.line.empty()) out.high.end_line();
  const Utf8Check check = scanner.finish();
  out.facts.utf8_valid = check.valid;
  out.facts.non_ascii = !check.valid || check.non_ascii;
  return err;
}

// A dry run's count of the line ends of text that is copied: the rewriter's output is dropped.
int count_line_ends(const std::string& source, uint64_t skip, size_t chunk_size, EolRewriter& eol) {
  std::string dropped;
  bool first = true;
  const int err = read_in_chunks(source, chunk_size, [&](std::string_view chunk) {
    if (first) chunk.remove_prefix(static_cast<size_t>(std::min<uint64_t>(skip, chunk.size())));
    first = false;
    dropped.clear();
    eol.feed(chunk, dropped);
    return true;
  });
  eol.finish(dropped);
  return err;
}

uint64_t size_of(const std::string& path) {
  struct stat st;
  return platform::sysio().stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

void FileConverter::process_streamed(const JobFile& file, const std::string& source,
                                     const RunEncodings& enc, FileReport& report, uint64_t token) {
  StreamedFacts sf;
  if (const int err = gather(source, enc, run_.stream_chunk, sf)) {
    report.outcome = Outcome::cannot_read;
    report.error = err;
    return;
  }
  report.bytes = size_of(source);
  Classification& cls = sf.cls;
  // As in a file read whole: valid UTF-8 going to a target other than UTF-8 is read as UTF-8.
  // Past the lines the doubt holds, the text is too long to be anything but UTF-8.
  const std::string_view high = sf.high.too_many ? std::string_view() : sf.high.lines;
  if (!outcome_is_unsettled(file.identity) && cls.outcome != Outcome::marked &&
      utf8_text_for_legacy(enc, run_.conform, sf.facts, cls.mark_length == 0, high)) {
    const RunEncodings& utf8 =
        encodings_for(EncodingEntry("UTF-8"), EncodingEntry(enc.target_name));
    report.source = utf8.source_name;
    process_streamed(file, source, utf8, report, token);
    if (report.note.empty()) report.note = "valid UTF-8: read as UTF-8, not as " + enc.source_name;
    return;
  }
  if (outcome_is_unsettled(file.identity)) {
    cls.outcome = file.identity;
    report.note = file.identity_note;
  } else if (cls.outcome != Outcome::marked) {
    cls.outcome = classify_body(sf.facts, enc);
    if (cls.outcome == Outcome::converted && enc.source.form == UnicodeForm::utf8 &&
        enc.target_is_utf8() && sf.facts.utf8_valid)
      cls.outcome = Outcome::already_utf8;  // UTF-8 to UTF-8 re-encodes nothing
    // Valid UTF-8 that reads as nonsense while the source reads it as text is the source's,
    // as in a file read whole.
    if (cls.outcome == Outcome::already_utf8 && !sf.high.too_many &&
        detect::utf8_doubtful(sf.high.lines, {enc.source_charset})) {
      cls.outcome = Outcome::converted;
      report.note = "valid UTF-8, but it reads as " + enc.source_name + " text";
    }
  }
  report.outcome = cls.outcome;
  // A label chosen by hand that turns ASCII into other characters: converted as asked, with
  // a warning when its start shows the difference.
  if (cls.outcome == Outcome::converted && report.note.empty() &&
      !detect::keeps_ascii(enc.source_charset)) {
    const std::string hint = detect::narrow_label_hint(sf.head, enc.source_charset);
    if (!hint.empty()) report.note = "warning: " + hint;
  }
  if (cls.outcome == Outcome::marked)
    report.note = std::string("marked as ") + form_name(cls.foreign_mark);
  if (cls.outcome == Outcome::binary)
    report.note = "NUL byte at offset " + std::to_string(cls.mark_length + sf.facts.nul_offset);
  if (cls.outcome == Outcome::already_utf8) report.source = "UTF-8";
  const StreamRepair repaired =
      cls.outcome == Outcome::marked
          ? StreamRepair::none
          : repair_streamed(file, source, enc, cls.mark_length, sf.head, report, token);
  if (repaired == StreamRepair::written) return;
  if (repaired == StreamRepair::as_read) cls.outcome = report.outcome;
  const bool as_read = repaired == StreamRepair::as_read || cls.outcome == Outcome::marked ||
                       cls.outcome == Outcome::binary || outcome_is_unsettled(cls.outcome);
  const bool copied = cls.outcome == Outcome::ascii || cls.outcome == Outcome::already_utf8;
  const std::string prefix(output_mark(enc, bom_, cls.own_mark));
  if (run_.samples && !as_read && repaired == StreamRepair::none)
    report.sample = detect::sample_line(sf.head, copied && cls.outcome == Outcome::already_utf8
                                                     ? std::string("UTF-8")
                                                     : enc.source_charset);
  // Text copied without the converter has single-byte line ends.
  EolRewriter eol(eol_, copied ? EolUnits{1, false} : enc.target.eol_units);
  // A copied file's own mark can only be UTF-8's, and so can its prefix.
  const bool same_text = copied && cls.mark_length == prefix.size();
  if (copied) note_marks(enc, cls.own_mark, prefix, report);
  report.unchanged = as_read || (same_text && eol.passes_through());
  if (copied && !eol.passes_through() && run_.dry_run) {
    const int err = count_line_ends(source, cls.mark_length, run_.stream_chunk, eol);
    if (err != 0) {
      report.outcome = Outcome::cannot_read;
      report.error = err;
      return;
    }
    note_line_ends(eol, report);
    report.unchanged = same_text && !eol.changed();
  }
  if (run_.dry_run && !(cls.outcome == Outcome::converted)) return;
  if (run_.in_place && report.unchanged) return;

  platform::TargetFile target;
  std::string path;
  int err = run_.dry_run ? 0 : open_target(file, target, path);
  StreamFileResult r;
  if (err == 0 && as_read) r = copy_whole_file(source, target);
  if (err == 0 && copied) {
    r = stream_copy_file(source, target, run_.stream_chunk, cls.mark_length, prefix, &eol);
    note_line_ends(eol, report);
    report.unchanged = same_text && !eol.changed();
    if (r.ok() && run_.in_place && report.unchanged) {
      target.abort();  // in place, unchanged bytes are not rewritten
      return;
    }
  }
  if (err == 0 && cls.outcome == Outcome::converted) {
    StreamSettings settings{enc.source_charset,
                            enc.target_charset,
                            run_.stream_chunk,
                            false,
                            cls.mark_length,
                            prefix,
                            &eol};
    r = stream_convert_file(source, run_.dry_run ? nullptr : &target, settings);
    if (r.ok()) {
      note_line_ends(eol, report);
      note_marks(enc, cls.own_mark, prefix, report);
    }
    if (!r.conversion.ok && r.read_error == 0 && r.write_error == 0) {
      // Never half converted: the content exactly as read instead.
      if (r.conversion.unsupported) {
        report.outcome = Outcome::not_supported;
        report.note = enc.source_name + "-->" + enc.target_name + " is not supported";
      } else {
        report.outcome = Outcome::cannot_convert;
        report.error = r.conversion.error;
        report.stop = locate_stop_in_file(source, r.conversion.stop_offset, enc.source_charset,
                                          enc.source.form);
      }
      report.unchanged = true;
      if (run_.dry_run || run_.in_place) return;
      target.abort();
      err = open_target(file, target, path);
      if (err == 0) r = copy_whole_file(source, target);
    }
  }
  if (run_.dry_run) return;
  if (err == 0) err = r.read_error != 0 ? r.read_error : r.write_error;
  // Once the last chunk is read, and again when the target is published.
  if (err == 0 && source_changed()) err = platform::kSourceChanged;
  if (err == 0) err = finish_target(file, std::move(target), token, report);
  if (err != 0 && r.read_error != 0) {
    report.outcome = Outcome::cannot_read;
    report.error = err;
    report.stop.reset();
  } else if (err != 0) {
    target.abort();
    set_write_failure(report, err);
  }
}
