// A whole file's conversion, written piece by piece into a target opened only once the output
// differs from the content as read.
#include <cerrno>
#include <functional>

#include "convert/file_convert.h"
#include "convert/stop_point.h"
#include "convert/stream_convert.h"
#include "convert/utf8.h"
#include "platform/target_file.h"

namespace {

// Where the pieces go. While they repeat the content as read nothing is opened, so a file
// whose conversion changes nothing is not rewritten in place; at the first piece that differs
// the target is opened and given the matching part first.
class PieceSink {
 public:
  using Open = std::function<int(platform::TargetFile&)>;
  // `open` null: a dry run, nothing is ever written.
  PieceSink(std::string_view content, Open open) : content_(content), open_(std::move(open)) {}

  // 0 or the errno of opening or writing the target.
  int take(std::string_view piece) {
    if (same_) {
      if (content_.substr(matched_, piece.size()) == piece) {
        matched_ += piece.size();
        return 0;
      }
      same_ = false;
      if (const int err = start()) return err;
    }
    return open_ ? target_.append(piece) : 0;
  }
  // The output was the content as read, all of it.
  bool unchanged() const { return same_ && matched_ == content_.size(); }
  // Makes sure the target holds the whole output (the matching part too); 0 or errno.
  int complete() { return same_ ? start() : 0; }
  platform::TargetFile& target() { return target_; }

 private:
  int start() {
    if (!open_) return 0;
    if (const int err = open_(target_)) return err;
    return target_.append(content_.substr(0, matched_));
  }

  std::string_view content_;
  Open open_;
  platform::TargetFile target_;
  size_t matched_ = 0;
  bool same_ = true;
};

}  // namespace

void FileConverter::convert_whole(const JobFile& file, const RunEncodings& enc,
                                  const Classification& cls, FileReport& report, uint64_t token) {
  PieceSink::Open open;
  if (!run_.dry_run) {
    open = [this, &file](platform::TargetFile& target) {
      std::string path;
      return open_target(file, target, path);
    };
  }
  PieceSink sink(content_, std::move(open));
  // A converter of its own for each file: a reused one, even reset, would read a UTF-16 file in
  // the byte order of the file before it (glibc keeps that beyond the shift state).
  StreamConverter conv(enc.source_charset, enc.target_charset);
  // Important: line ends are rewritten in the target's code units, by the converter; kept, they
  // are only counted here.
  EolRewriter eol(eol_, enc.target.eol_units);
  if (!eol.passes_through()) conv.rewrite_line_ends(eol);
  const std::function<int(std::string_view)> take = [&](std::string_view p) {
    if (eol.passes_through()) eol.count(p);
    return sink.take(p);
  };
  const size_t piece = std::min(run_.stream_chunk, kPieceBytes);
  // The mark goes out with the first piece: one write, not two.
  const std::string_view mark = output_mark(enc, bom_, cls.own_mark);
  int write_error = 0;
  if (feed_in_pieces(conv, std::string_view(content_).substr(cls.mark_length), piece, scratch_,
                     take, write_error, mark) &&
      conv.finish(scratch_)) {
    write_error = take(scratch_);
    std::string none;
    if (eol.passes_through()) eol.finish(none);  // a CR at the very end is counted
    note_line_ends(eol, report);
    note_marks(enc, cls.own_mark, mark, report);
  }
  if (write_error == 0 && !conv.outcome().ok) {
    // The content exactly as read: never half converted, never a mark before raw bytes.
    sink.target().abort();
    if (conv.outcome().unsupported) {
      report.outcome = Outcome::not_supported;
      report.note = enc.source_name + "-->" + enc.target_name + " is not supported";
    } else {
      report.outcome = Outcome::cannot_convert;
      report.error = conv.outcome().error;
      report.stop = locate_stop(content_, cls.mark_length + conv.outcome().stop_offset,
                                enc.source_charset, enc.source.form);
    }
    publish_as_read(file, report, token);
    return;
  }
  report.unchanged = sink.unchanged();
  if (write_error == 0 && (run_.dry_run || (run_.in_place && report.unchanged))) return;
  if (write_error == 0) write_error = sink.complete();
  if (write_error == 0) write_error = finish_target(file, std::move(sink.target()), token, report);
  if (write_error != 0) {
    sink.target().abort();
    set_write_failure(report, write_error);
  }
}
