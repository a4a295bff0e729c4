// The one writer of a file's target: what its settled outcome calls for, made from a chunk
// source (a file held whole is one chunk) and written into a target opened only once the output
// differs from the content as read.
#include <cerrno>
#include <functional>
#include <optional>

#include "job/file_convert.h"
#include "platform/target_file.h"
#include "repair/repair_mixed.h"
#include "transcode/stop_point.h"
#include "transcode/stream_convert.h"
#include "transcode/utf8.h"
#include "undo/content_hash.h"
#include "undo/recorder.h"
#include "util/i18n.h"
#include "util/strfmt.h"

std::string_view output_mark(const RunEncodings& enc, BomMode mode, bool source_marked) {
  return target_mark(enc.target.form, enc.target_mark ? BomMode::add : mode, source_marked);
}

void note_marks(const RunEncodings& enc, bool source_marked, std::string_view written,
                FileReport& report) {
  report.mark_known = true;
  report.mark_before = source_marked;
  const UnicodeForm form = enc.target.form;
  report.mark_after = !written.empty() || form == UnicodeForm::utf16 || form == UnicodeForm::utf32;
}

// Where the output goes. While it repeats the content as read nothing is opened, so a file
// whose conversion changes nothing is not rewritten in place; at the first piece that differs
// the target is opened and given the matching part first.
class OutputSink {
 public:
  using Open = std::function<int(platform::TargetFile&)>;
  // `open` null: a dry run, nothing is ever written. `hasher`, when set, sees all the output.
  OutputSink(ChunkSource& original, Open open, undo::Hasher* hasher)
      : original_(original), open_(std::move(open)), hasher_(hasher) {}

  // 0 or the errno of opening or writing the target.
  int take(std::string_view piece) {
    if (hasher_ != nullptr) hasher_->update(piece);
    if (same_) {
      if (original_.holds(matched_, piece)) {
        matched_ += piece.size();
        return 0;
      }
      same_ = false;
      if (const int err = start()) return err;
    }
    return open_ ? target_.append(piece) : 0;
  }
  // The output is the content as read, all of it, without comparing.
  void take_as_read() { matched_ = original_.size(); }
  // The output was the content as read, all of it.
  bool unchanged() const { return same_ && matched_ == original_.size(); }
  // Makes sure the target holds the whole output (the matching part too); 0 or errno.
  int complete() { return same_ ? start() : 0; }
  platform::TargetFile& target() { return target_; }
  undo::Hasher* hasher() { return hasher_; }
  // The errno of reading the source, which the output is made from.
  int read_error = 0;

 private:
  int start() {
    if (!open_) return 0;
    if (const int err = open_(target_)) return err;
    const StreamFileResult r = original_.copy_start(matched_, target_);
    read_error = r.read_error;
    return r.write_error;
  }

  ChunkSource& original_;
  Open open_;
  undo::Hasher* hasher_;
  platform::TargetFile target_;
  uint64_t matched_ = 0;
  bool same_ = true;
};

namespace {

// Repaired text handed to the writer at a time.
constexpr size_t kRepairedPiece = 1u << 20;

}  // namespace

std::function<int(platform::TargetFile&)> FileConverter::target_opener(const JobFile& file) {
  if (run_.dry_run) return {};
  return [this, &file](platform::TargetFile& target) {
    std::string path;
    return open_target(file, target, path);
  };
}

bool FileConverter::produce(const RunEncodings& enc, const Classification& cls,
                            StreamConverter* conv, const EachChunk& text, OutputSink& sink,
                            FileReport& report, int& err) {
  // Important: line ends are rewritten in the target's code units, by the converter; text copied
  // without one is ASCII-compatible, its line ends single bytes. Kept, they are only counted.
  EolRewriter eol(eol_, conv != nullptr ? enc.target.eol_units : EolUnits{1, false});
  const bool counted = eol.passes_through();
  if (conv != nullptr && !counted) conv->rewrite_line_ends(eol);
  const std::function<int(std::string_view)> take = [&](std::string_view p) {
    if (counted) eol.count(p);
    return sink.take(p);
  };
  const size_t piece = std::min(run_.stream_chunk, kPieceBytes);
  const std::string_view mark = output_mark(enc, bom_, cls.own_mark);
  std::string_view head = mark;  // goes out with the first piece: one write, not two
  sink.read_error = text([&](std::string_view chunk) {
    if (conv != nullptr) {
      if (!feed_in_pieces(*conv, chunk, piece, scratch_, take, err, head)) return false;
      if (chunk.empty()) return true;  // the head is still to go
    } else if (counted) {
      if (!head.empty()) err = sink.take(head);
      if (err == 0) err = take(chunk);
    } else {
      eol_out_.assign(head);
      eol.feed(chunk, eol_out_);
      err = sink.take(eol_out_);
    }
    head = {};
    return err == 0;
  });
  if (err != 0 || sink.read_error != 0) return false;
  std::string& rest = conv != nullptr ? scratch_ : eol_out_;
  rest.assign(head);
  if (conv != nullptr && !conv->finish(rest)) return false;  // ends a rewriting `eol` too
  if (conv == nullptr && !counted) eol.finish(rest);
  err = take(rest);
  std::string none;
  if (counted) eol.finish(none);  // a CR at the very end is counted
  note_line_ends(eol, report);
  note_marks(enc, cls.own_mark, mark, report);
  return err == 0;
}

bool FileConverter::write(const JobFile& file, const RunEncodings& enc, const Classification& cls,
                          ChunkSource& src, FileReport& report, uint64_t token,
                          const std::string& watch) {
  const bool copied = report.outcome == Outcome::ascii || report.outcome == Outcome::already_utf8;
  // Marked and binary content: never a mark before raw bytes.
  if (!copied && report.outcome != Outcome::converted) {
    if (!watch.empty()) return false;
    write_as_read(file, src, report, token);
    return true;
  }
  OutputSink sink(src, target_opener(file), output_hasher());
  // The shelf lends converters only for the pairs where reuse is safe (ConverterShelf).
  std::optional<StreamConverter> conv;
  if (!copied) conv.emplace(enc.source_charset, enc.target_charset, &shelf_);
  std::optional<repair::Utf8LineWatch> lines;
  if (!watch.empty()) lines.emplace(watch);
  int err = 0;
  const EachChunk text = [&](const std::function<bool(std::string_view)>& take) {
    bool all = true;
    const int read_error = src.each(cls.mark_length, [&](std::string_view chunk) {
      return all = (!lines || lines->feed(chunk)) && take(chunk);
    });
    if (lines && all && read_error == 0) lines->finish();
    return read_error;
  };
  const bool produced = produce(enc, cls, conv ? &*conv : nullptr, text, sink, report, err);
  // Important: nothing is published or reported before every line was looked at; stopped
  // early (by a conversion, reading or writing error) the rest is read for it first.
  if (lines && !lines->finished() && !lines->found()) {
    lines.emplace(watch);
    const int read_error =
        src.each(cls.mark_length, [&](std::string_view chunk) { return lines->feed(chunk); });
    if (read_error == 0) lines->finish();
  }
  if (lines && (!lines->finished() || lines->found())) {
    sink.target().abort();
    return false;
  }
  if (!produced && err == 0 && sink.read_error == 0) {
    // The content exactly as read: never half converted.
    sink.target().abort();
    const StreamOutcome& failed = conv->outcome();
    if (failed.unsupported) {
      report.outcome = Outcome::not_supported;
      report.note = kestrum::strfmt(_("%s-->%s is not supported"), enc.source_name.c_str(),
                                    enc.target_name.c_str());
    } else {
      report.outcome = Outcome::cannot_convert;
      report.error = failed.error;
      const uint64_t at = cls.mark_length + failed.stop_offset;
      report.stop = src.whole()
                        ? locate_stop(content_, at, enc.source_charset, enc.source.form)
                        : locate_stop_in_file(src.path(), at, enc.source_charset, enc.source.form);
    }
    write_as_read(file, src, report, token);
    return true;
  }
  finish(file, src, sink, err, report, token);
  return true;
}

void FileConverter::finish(const JobFile& file, const ChunkSource& src, OutputSink& sink, int err,
                           FileReport& report, uint64_t token) {
  report.unchanged = sink.unchanged();
  const bool skip = run_.dry_run || (run_.in_place && report.unchanged);
  if (err == 0 && sink.read_error == 0 && skip) return;
  if (err == 0 && sink.read_error == 0) err = sink.complete();
  // A file read in chunks is looked at again once the last is read, and when it is published.
  if (err == 0 && sink.read_error == 0 && !src.whole() && source_changed())
    err = platform::kSourceChanged;
  if (err == 0 && sink.read_error == 0 && run_.undo != nullptr)
    err = keep_old(file, src, sink, report, token);
  if (err == 0 && sink.read_error == 0)
    err = finish_target(file, std::move(sink.target()), token, report);
  if (err == 0 && sink.read_error == 0) return;
  sink.target().abort();
  if (sink.read_error == 0) return set_write_failure(report, err);
  report.outcome = Outcome::cannot_read;
  report.error = sink.read_error;
  report.stop.reset();
}

undo::Hasher* FileConverter::output_hasher() {
  if (run_.undo == nullptr || !run_.in_place || run_.dry_run) return nullptr;
  if (!output_hash_) output_hash_ = std::make_unique<undo::Hasher>();
  output_hash_->reset();
  return output_hash_.get();
}

int FileConverter::keep_old(const JobFile& file, const ChunkSource& src, OutputSink& sink,
                            FileReport& report, uint64_t token) {
  platform::TargetFile& target = sink.target();
  if (!run_.in_place || target.is_staged() || sink.hasher() == nullptr || !source_stamp_) return 0;
  undo::KeepRequest keep;
  keep.path = target.final_path();
  keep.relative = file.write_path.empty() ? run_.undo->relative(file.relative_path())
                                          : run_.undo->relative_of_real(file.write_path);
  // Other names are the input's path joined with theirs (resolve_in_place).
  const std::string input = run_.input + "/";
  for (const std::string& name : file.hard_links)
    keep.links.push_back(run_.undo->relative(
        name.compare(0, input.size(), input) == 0 ? name.substr(input.size()) : name));
  keep.stamp = *source_stamp_;
  undo::Hasher old;
  if (const int err = src.each(0, [&](std::string_view chunk) {
        old.update(chunk);
        return true;
      }))
    return err;
  keep.old_size = src.size();
  keep.old_hash = old.digest();
  keep.new_size = target.size();
  keep.new_hash = sink.hasher()->digest();
  keep.outcome = outcome_name(report.outcome);
  keep.token = token;
  platform::FileStamp after = *source_stamp_;
  const int err = run_.undo->keep(keep, after);
  if (err == 0) {
    // A second name changes the file's link count and ctime, not its content.
    source_stamp_ = after;
    target.guard_source(source_path_, after);
  } else if (err != platform::kSourceChanged) {
    report.note = run_.undo->failure_note() + (report.note.empty() ? "" : "; " + report.note);
  }
  return err;
}

void FileConverter::write_repaired(const JobFile& file, const RunEncodings& enc,
                                   const Classification& cls, ChunkSource& src,
                                   const TextRepair& repair, FileReport& report, uint64_t token) {
  // Important: the repaired text (UTF-8) goes through the one writer like any converted text:
  // the run's line ends and the target's mark, converted into a target other than UTF-8.
  std::optional<StreamConverter> conv;
  if (!enc.target_is_utf8()) conv.emplace("UTF-8", enc.target_charset);
  bool exact = true;
  std::string out;
  const EachChunk repaired = [&](const std::function<bool(std::string_view)>& take) {
    out.clear();
    bool more = true;
    const int err = src.each(cls.mark_length, [&](std::string_view chunk) {
      exact = repair(chunk, false, out);
      if (!exact || out.size() < kRepairedPiece) return exact;
      more = take(out);
      out.clear();
      return more;
    });
    if (err != 0 || !more) return err;
    if (!(exact = exact && repair({}, true, out))) return platform::kSourceChanged;
    take(out);
    return 0;
  };
  OutputSink sink(src, target_opener(file), output_hasher());
  int err = 0;
  const bool written =
      produce(enc, cls, conv ? &*conv : nullptr, repaired, sink, report, err) || err != 0;
  // It was checked to repair exactly: otherwise its content changed since.
  if (!exact) {
    sink.read_error = 0;
    err = platform::kSourceChanged;
  }
  if (written || !exact || sink.read_error != 0) return finish(file, src, sink, err, report, token);
  sink.target().abort();
  report.outcome = conv->outcome().unsupported ? Outcome::not_supported : Outcome::cannot_convert;
  report.error = conv->outcome().error;
  report.note +=
      "; " + kestrum::strfmt(_("the repaired text has no form in %s"), enc.target_name.c_str());
  write_as_read(file, src, report, token);
}

void FileConverter::write_as_read(const JobFile& file, ChunkSource& src, FileReport& report,
                                  uint64_t token) {
  OutputSink sink(src, target_opener(file), output_hasher());
  sink.take_as_read();
  finish(file, src, sink, 0, report, token);
}

void FileConverter::leave_unsettled_policy(const JobFile& file, ChunkSource& src,
                                           FileReport& report, uint64_t token) {
  report.outcome = Outcome::cannot_convert;
  report.note = policy_.error;
  write_as_read(file, src, report, token);
}
