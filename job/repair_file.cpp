// Double-encoded and mixed files: decided in one place from a file's facts, checked and written
// chunk by chunk from its source (a file held whole is one chunk), or reported and left as read.
#include "detect/detect.h"
#include "job/file_convert.h"
#include "repair/repair_double.h"
#include "repair/repair_mixed.h"
#include "transcode/stream_convert.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

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

// What a file was found to be; `kind` none: no repair explains it.
struct Verdict {
  enum class Kind { none, double_encoded, mixed, unreadable } kind = Kind::none;
  repair::DoubleEncoding found;  // double-encoded: the chain, and the head undone
  repair::MixedFacts mixed;      // mixed: the lines of each encoding, or the line of neither
  int read_error = 0;
  // none: the legacy encoding whose lines are still to be looked at for UTF-8 ones, by the
  // writer as it reads them (FileConverter::repaired).
  std::string watch;
};

// Decides on the file's text after its mark, read again from `src` where the whole is needed.
// Important: a file read in chunks is decided on its beginning (facts.head, 64 KiB): the chain
// that undoes it, whether it has escapes, and which candidate reads its legacy lines; its whole
// content is then checked against that choice. Held whole, the beginning is all of it.
class Decider {
 public:
  // `may_watch`: the one look that most often settles a legacy file (has it a line that reads
  // as UTF-8?) may be left to the writer.
  Decider(const RunContext& run, const JobFile& file, const RunEncodings& enc,
          const FileFacts& facts, const ChunkSource& src, bool may_watch)
      : run_(run), file_(file), enc_(enc), facts_(facts), src_(src), may_watch_(may_watch) {
    const std::string_view head = facts.head;
    utf8_head_ = head.substr(0, head.size() - utf8_incomplete_tail(head));
    lines_ = src.whole() ? head : head.substr(0, head.rfind('\n') + 1);
  }

  Verdict decide(Outcome outcome) const {
    if (outcome == Outcome::already_utf8) return utf8_file();
    if (outcome == Outcome::ambiguous) return ambiguous();
    if (outcome != Outcome::converted && outcome != Outcome::undetected) return {};
    // Important: UTF-8 converted into another encoding may have been misread once as well; its
    // validity is looked at only once a repair is found (FileFacts::utf8_known).
    if (outcome == Outcome::converted && enc_.source.form == UnicodeForm::utf8 &&
        facts_.body.utf8_valid) {
      const Verdict v = utf8_file();
      if (v.kind == Verdict::Kind::none || facts_.utf8_known) return v;
      int read_error = 0;
      if (!valid_utf8(read_error)) return read_error != 0 ? unreadable(read_error) : Verdict();
      return v;
    }
    return legacy_file(outcome == Outcome::undetected);
  }

 private:
  int each(const std::function<bool(std::string_view)>& take) const {
    return src_.each(facts_.cls.mark_length, take);
  }

  Verdict double_encoded() const {
    Verdict v;
    v.found = repair::find_double_encoding(utf8_head_);
    if (v.found.chain.empty()) return {};
    // The whole file must undo exactly, not only its beginning.
    repair::ChainUndo undo(v.found.chain);
    Utf8Scanner check;
    std::string out;
    bool exact = true;
    v.read_error = each([&](std::string_view chunk) {
      out.clear();
      exact = undo.feed(chunk, out);
      check.feed(out);
      return exact = exact && check.valid_so_far();
    });
    if (v.read_error != 0) return unreadable(v.read_error);
    if (!exact || !undo.finish() || !check.finish().valid) return {};
    v.kind = Verdict::Kind::double_encoded;
    return v;
  }

  Verdict mixed(const std::string& legacy) const {
    Verdict v;
    v.mixed =
        repair::scan_mixed([this](const auto& take) { return each(take); }, legacy, v.read_error);
    if (v.read_error != 0) return unreadable(v.read_error);
    // Lines of UTF-8 beside none of the legacy encoding (ESC ( B alone) are not two encodings.
    if (v.mixed.utf8_lines == 0 || (v.mixed.legacy_lines == 0 && v.mixed.bad_line == 0)) return {};
    v.kind = Verdict::Kind::mixed;
    return v;
  }

  // The text after the mark is valid UTF-8, all of it.
  bool valid_utf8(int& read_error) const {
    if (src_.whole()) return utf8_check(facts_.head).valid;
    Utf8Scanner check;
    read_error = each([&](std::string_view chunk) {
      check.feed(chunk);
      return check.valid_so_far();
    });
    return read_error == 0 && check.finish().valid;
  }

  static Verdict unreadable(int err) {
    Verdict v;
    v.kind = Verdict::Kind::unreadable;
    v.read_error = err;
    return v;
  }

  Verdict utf8_file() const {
    Verdict v = double_encoded();
    if (v.kind != Verdict::Kind::none) return v;
    // Important: lines of an encoding that switches by escapes are 7-bit, so a file of them
    // beside UTF-8 lines is valid UTF-8 as a whole.
    const std::string escaped = escaped_legacy(run_);
    if (escaped.empty() || !repair::has_escapes(facts_.head)) return {};
    return mixed(escaped);
  }

  Verdict ambiguous() const {
    // Important: undoing a misreading exactly, or reading the lines beside the UTF-8 ones, does
    // not depend on the readings in question; when those lines alone are still in question the
    // file stays ambiguous.
    if (facts_.body.utf8_valid) return utf8_file();
    const std::string legacy =
        repair::legacy_of(lines_, run_.repair_candidates, run_.encodings.source_charset, true);
    return legacy.empty() ? Verdict() : mixed(legacy);
  }

  Verdict legacy_file(bool undetected) const {
    const std::string named = named_legacy(enc_);
    if (!undetected && named.empty()) return {};
    if (facts_.body.utf8_valid) {
      // Important: valid UTF-8 taken for the source's text because it reads as such may be
      // double-encoded ("Ã©" pairs read as GBK text); a misreading undone exactly explains it.
      if (undetected || !enc_.target_is_utf8()) return {};
      return double_encoded();
    }
    // Important: a file no candidate reads whole may still be lines of UTF-8 beside lines of
    // one; and a detected one was weighed with its UTF-8 lines too, so once some are found its
    // legacy lines alone choose their encoding.
    const bool detected = file_.evidence != "chosen" && file_.evidence != "override";
    if (!undetected && may_watch_) {
      // Without a line that reads as UTF-8 nothing below finds a repair.
      Verdict v;
      v.watch = named;
      return v;
    }
    if (!undetected) {
      Verdict v = mixed(named);
      if (!detected || v.kind != Verdict::Kind::mixed) return v;
    }
    const std::string legacy =
        repair::legacy_of(lines_, run_.repair_candidates, run_.encodings.source_charset);
    return legacy.empty() ? Verdict() : mixed(legacy);
  }

  const RunContext& run_;
  const JobFile& file_;
  const RunEncodings& enc_;
  const FileFacts& facts_;
  const ChunkSource& src_;
  std::string_view utf8_head_;  // the head cut before a character its end cuts
  std::string_view lines_;      // the head cut after its last whole line
  bool may_watch_;
};

// Undoes the chain chunk by chunk.
TextRepair undo_repair(const std::vector<std::string>& chain) {
  auto undo = std::make_shared<repair::ChainUndo>(chain);
  return [undo](std::string_view chunk, bool last, std::string& out) {
    return last ? undo->finish() : undo->feed(chunk, out);
  };
}

// Reads each line in its own encoding, a line cut by a chunk's end carried.
TextRepair lines_repair(const std::string& legacy) {
  auto split = std::make_shared<repair::LineSplitter>();
  return [split, legacy](std::string_view chunk, bool last, std::string& out) {
    bool ok = true;
    const repair::LineSplitter::Take line = [&](std::string_view l) {
      ok = ok && repair::line_to_utf8(l, legacy, out);
    };
    if (last) split->finish(line);
    if (!last) split->feed(chunk, line);
    return ok;
  };
}

}  // namespace

bool FileConverter::repaired(const JobFile& file, const RunEncodings& enc, const FileFacts& facts,
                             ChunkSource& src, FileReport& report, uint64_t token,
                             std::string* watch) {
  if (!run_.repair_check) return false;
  const Verdict v = Decider(run_, file, enc, facts, src, watch != nullptr).decide(report.outcome);
  const bool repair = run_.repair || file.repair;
  switch (v.kind) {
    case Verdict::Kind::none:
      if (watch != nullptr) *watch = v.watch;
      return false;
    case Verdict::Kind::unreadable:
      report.outcome = Outcome::cannot_read;
      report.error = v.read_error;
      return true;
    case Verdict::Kind::double_encoded: {
      const std::string chain = repair::chain_text(v.found.chain);
      report.source = "UTF-8";
      if (run_.samples) report.sample = detect::sample_line(facts.head, "UTF-8");
      if (run_.samples) report.repaired_sample = detect::sample_line(v.found.repaired, "UTF-8");
      report.outcome = repair ? Outcome::converted : Outcome::double_encoded;
      report.note = repair ? kestrum::strfmt(_("repaired: %s"), chain.c_str()) : chain;
      if (!repair) break;
      write_repaired(file, enc, facts.cls, src, undo_repair(v.found.chain), report, token);
      return true;
    }
    case Verdict::Kind::mixed:
      report.source = v.mixed.legacy;
      if (v.mixed.bad_line != 0) {
        report.outcome = Outcome::cannot_convert;
        report.note = v.mixed.bad_line_text();
        report.stop.reset();
        break;
      }
      report.note = v.mixed.counts_text();
      if (run_.samples) report.sample = v.mixed.first_utf8_misread;
      if (run_.samples) report.repaired_sample = v.mixed.first_utf8;
      report.outcome = repair ? Outcome::converted : Outcome::mixed;
      if (!repair) break;
      report.note = kestrum::strfmt(_("repaired: %s"), report.note.c_str());
      write_repaired(file, enc, facts.cls, src, lines_repair(v.mixed.legacy), report, token);
      return true;
  }
  write_as_read(file, src, report, token);
  return true;
}
