// Per-file pipeline: read, classify, produce the bytes, publish them.
#include "convert/file_convert.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "convert/conformance.h"
#include "convert/detect.h"
#include "convert/output_dirs.h"
#include "convert/source_detection.h"
#include "convert/stream_convert.h"
#include "convert/utf8.h"
#include "platform/fs.h"
#include "platform/publisher.h"
#include "platform/target_file.h"

namespace {

// A whole page of zero bytes: where a copied file may hold a hole.
bool has_zero_block(std::string_view content) {
  constexpr size_t kBlock = 4096;
  static const std::string zeros(kBlock, '\0');
  for (size_t at = 0; at + kBlock <= content.size(); at += kBlock)
    if (content[at] == '\0' && content.compare(at, kBlock, zeros) == 0) return true;
  return false;
}

std::string join_path(const std::string& dir, const std::string& rel, const std::string& name) {
  std::string p = dir;
  p += '/';
  if (!rel.empty()) {
    p += rel;
    p += '/';
  }
  p += name;
  return p;
}

}  // namespace

std::string join_relative(const std::string& relative_dir, const std::string& name) {
  return relative_dir.empty() ? name : relative_dir + "/" + name;
}

void note_line_ends(const EolRewriter& eol, FileReport& report) {
  report.eol_counted = eol.counts_known();
  report.eol_before = eol.before();
  report.eol_after = eol.after();
}

void set_write_failure(FileReport& report, int error) {
  report.stop.reset();
  if (error == platform::kSourceChanged) {
    report.outcome = Outcome::changed;
    report.error = 0;
    report.note = "changed while it was converted, left as it is; the next run converts it";
    return;
  }
  report.outcome = Outcome::cannot_write;
  report.error = error;
}

std::string JobFile::relative_path() const { return join_relative(relative_dir, file_name); }

FileConverter::FileConverter(const RunContext& run) : run_(run) {}

FileConverter::~FileConverter() = default;

bool FileConverter::source_changed() const {
  if (!source_stamp_) return false;
  const platform::Result<platform::FileStamp> now = platform::stamp_file(source_path_);
  return !now || *now != *source_stamp_;
}

void FileConverter::release() {
  std::string().swap(content_);
  std::string().swap(scratch_);
  std::string().swap(eol_out_);
}

const RunEncodings& FileConverter::encodings_for(const EncodingEntry& source,
                                                 const EncodingEntry& to) {
  const bool own_source = !source.empty() && source.name != run_.encodings.source_name;
  const bool own_target = !to.empty() && to.name != run_.encodings.target_name;
  if (!own_source && !own_target) return run_.encodings;
  const std::string key =
      (own_source ? source.name : std::string()) + '\n' + (own_target ? to.name : std::string());
  auto it = overrides_.find(key);
  if (it == overrides_.end()) {
    RunEncodings e = run_.encodings;
    const RunEncodings probed =
        RunEncodings::resolve(own_source ? source : EncodingEntry(e.source_name),
                              own_target ? to : EncodingEntry(e.target_name));
    if (own_source) {
      e.source_name = probed.source_name;
      e.source_charset = probed.source_charset;
      e.source = probed.source;
    }
    if (own_target) {
      e.target_name = probed.target_name;
      e.target_charset = probed.target_charset;
      e.target = probed.target;
      e.target_mark = probed.target_mark;
    }
    it = overrides_.emplace(key, std::move(e)).first;
  }
  return it->second;
}

const EncodingEntry& FileConverter::apply_policy(const JobFile& file, FileReport& report) {
  static const EncodingEntry kRunTarget;
  if (!run_.policy) {
    eol_ = run_.eol;
    bom_ = run_.bom;
    return kRunTarget;
  }
  policy_ =
      run_.policy->resolve(report.path, join_path(run_.input, file.relative_dir, file.file_name));
  report.rule = policy_.decided_by;
  eol_ = policy_.eol;
  bom_ = policy_.bom;
  return policy_.to;
}

Outcome FileConverter::settle(const RunEncodings& enc, const Classification& cls,
                              FileReport& report) {
  switch (cls.outcome) {
    case Outcome::marked:
      report.note = std::string("marked as ") + form_name(cls.foreign_mark);
      return cls.outcome;
    case Outcome::binary:
      report.note = "NUL byte at offset " + std::to_string(cls.nul_offset);
      return cls.outcome;
    case Outcome::already_utf8:
      report.source = "UTF-8";  // what it was read as
      return cls.outcome;
    case Outcome::converted:
      break;
    default:
      return cls.outcome;
  }
  // UTF-8 to UTF-8 re-encodes nothing: valid text keeps its bytes, only the mark policy applies.
  if (enc.source.form == UnicodeForm::utf8 && enc.target_is_utf8() &&
      utf8_check(std::string_view(content_).substr(cls.mark_length)).valid)
    return Outcome::already_utf8;
  return Outcome::converted;
}

void FileConverter::write(const JobFile& file, const RunEncodings& enc, const Classification& cls,
                          FileReport& report, uint64_t token) {
  const std::string_view body = std::string_view(content_).substr(cls.mark_length);
  switch (report.outcome) {
    case Outcome::ascii:
    case Outcome::already_utf8: {
      // Text that needs no converter is ASCII-compatible: its line ends are single bytes.
      EolRewriter eol(eol_, EolUnits{1, false});
      const std::string_view mark = output_mark(enc, bom_, cls.own_mark);
      note_marks(enc, cls.own_mark, mark, report);
      if (eol.passes_through()) {
        eol.count(body);
        eol.finish(eol_out_);
        note_line_ends(eol, report);
        publish(file, mark, body, report, token);
        return;
      }
      // The mark leads the rewritten text: one write.
      eol_out_.assign(mark);
      eol.feed(body, eol_out_);
      eol.finish(eol_out_);
      note_line_ends(eol, report);
      publish(file, {}, eol_out_, report, token);
      return;
    }
    case Outcome::converted:
      convert_whole(file, enc, cls, report, token);
      return;
    default:  // marked, binary: never a mark before raw bytes
      publish_as_read(file, report, token);
  }
}

OutputDirs& FileConverter::dirs() {
  if (run_.dirs != nullptr) return *run_.dirs;
  if (!own_dirs_) own_dirs_ = OutputDirs::for_root(run_.output, nullptr);
  return *own_dirs_;
}

int FileConverter::open_target(const JobFile& file, platform::TargetFile& target,
                               std::string& path) {
  // Important: in place a link (checked to stay inside the tree) is written through and stays a
  // link; in a separate output tree a link found at the target is replaced, never followed.
  const platform::LinkPolicy links =
      run_.in_place ? platform::LinkPolicy::write_through : platform::LinkPolicy::replace_link;
  int err = 0;
  if (!file.write_path.empty()) {
    path = file.write_path;
    err = target.open(path, links).err();
  } else {
    std::string dir;
    bool made = false, staged = false;
    if ((err = dirs().prepare(file.relative_dir, dir, &made, &staged)) != 0) return err;
    path = dir + "/" + file.file_name;
    err = (staged ? target.open_staged(path, target_dirs_.fd_for(dir))
           : made ? target.open_new(path)
                  : target.open(path, links))
              .err();
    if (err == ENOENT) {  // the directory went away during the run
      if ((err = dirs().prepare_again(file.relative_dir, dir)) != 0) return err;
      err = target.open(path, links).err();
    }
  }
  // A staged file gets its name with its folder at the run's end, and its source is looked at
  // again then (OutputDirs::publish_staged): once is enough.
  if (err == 0 && source_stamp_ && !target.is_staged())
    target.guard_source(source_path_, *source_stamp_);
  return err;
}

int FileConverter::finish_target(const JobFile& file, platform::TargetFile&& target, uint64_t token,
                                 FileReport& report) {
  if (target.is_staged()) {  // named with its folder at the end of the run
    const std::string path = target.path();
    const uint64_t bytes = target.size();
    if (const int err = target.commit()) return err;
    // Only a file of one name, not reached through a link, is seen changing by its folder's watch.
    const bool watchable = source_direct_ && source_stamp_ && source_stamp_->links == 1;
    if (run_.dirs != nullptr)
      run_.dirs->staged_file(path, bytes, token, source_path_, source_stamp_, watchable);
    return 0;
  }
  if (run_.publisher != nullptr && file.hard_links.empty()) {
    run_.publisher->submit(std::move(target), token);
    return 0;
  }
  std::vector<std::pair<std::string, int>> unlinked;
  int err = 0;
  if (run_.publisher != nullptr) {
    err = run_.publisher->publish_linked(std::move(target), file.hard_links, unlinked);
  } else {
    // No job around it (a single file): published at once, unflushed, like write_target.
    const std::string path = target.final_path();
    err = target.commit();
    for (const auto& name : file.hard_links)
      if (const int e = err == 0 ? platform::relink(path, name).err() : 0)
        unlinked.emplace_back(name, e);
  }
  for (const auto& [name, e] : unlinked)
    report.note = "cannot link " + name + " to the new content, error: " + errno_text(e);
  return err;
}

void FileConverter::publish(const JobFile& file, std::string_view head, std::string_view body,
                            FileReport& report, uint64_t token) {
  const std::string_view content = content_;
  // `body` is most often the content itself or its end: then only the head needs a look.
  const bool tail_of_content = body.data() + body.size() == content.data() + content.size();
  report.unchanged = head.size() + body.size() == content.size() &&
                     content.substr(0, head.size()) == head &&
                     (tail_of_content || content.substr(head.size()) == body);
  // In place, unchanged bytes are not rewritten: inode, links and times stay as they are.
  if ((run_.in_place && report.unchanged) || run_.dry_run) return;
  platform::TargetFile target;
  std::string path;
  int err = open_target(file, target, path);
  if (err == 0 && report.unchanged && head.empty() && has_zero_block(content)) {
    // Important: a copy of bytes held in memory would allocate the source's holes; the
    // source's own extents keep them (a change since the read is caught before publishing).
    const StreamFileResult r = copy_whole_file(source_path_, target);
    err = r.read_error != 0 ? r.read_error : r.write_error;
  } else {
    if (err == 0 && !head.empty()) err = target.append(head);
    if (err == 0) err = target.append(body);
  }
  if (err == 0) err = finish_target(file, std::move(target), token, report);
  if (err != 0) set_write_failure(report, err);
}

void FileConverter::leave_unsettled_policy(const JobFile& file, FileReport& report,
                                           uint64_t token) {
  report.outcome = Outcome::cannot_convert;
  report.note = policy_.error;
  report.unchanged = true;
  if (run_.dry_run || run_.in_place) return;
  platform::TargetFile target;
  std::string path;
  int err = open_target(file, target, path);
  if (err == 0) {
    const StreamFileResult r = copy_whole_file(source_path_, target);
    err = r.read_error != 0 ? r.read_error : r.write_error;
  }
  if (err == 0) err = finish_target(file, std::move(target), token, report);
  if (err != 0) set_write_failure(report, err);
}

FileReport FileConverter::process(const JobFile& file, uint64_t token) {
  FileReport report;
  report.path = file.relative_path();
  const EncodingEntry& to = apply_policy(file, report);
  // Checked against its policy, a file is read as what it should be: its own target.
  const RunEncodings& enc =
      run_.conform ? encodings_for(to.empty() ? EncodingEntry(run_.encodings.target_name) : to, to)
                   : encodings_for(file.source, to);
  report.source = enc.source_name;
  report.target = enc.target_name;
  report.evidence = file.evidence;
  report.confidence = file.confidence;
  report.detection_note = file.detection_note;
  // Undetected files are still copied unchanged; the others are settled without reading.
  if (file.identity != Outcome::converted && !outcome_is_unsettled(file.identity)) {
    report.outcome = file.identity;
    report.note = file.identity_note;
    return report;
  }
  source_path_ = join_path(run_.input, file.relative_dir, file.file_name);
  const std::string& source_path = source_path_;
  source_stamp_.emplace();
  // Important: the folder is kept open, so a tree of small files is not walked path by path.
  const int dir_fd = source_dirs_.fd_for(
      file.relative_dir.empty() ? run_.input : run_.input + "/" + file.relative_dir);
  const int read_error =
      platform::read_file_at(dir_fd, file.file_name, source_path, content_, run_.whole_file_limit,
                             &*source_stamp_, &source_direct_)
          .err();
  // A file too big to hold is stamped too: before its first chunk is read.
  if (read_error != 0 && read_error != EFBIG) source_stamp_.reset();
  if (!policy_.error.empty() && (read_error == 0 || read_error == EFBIG)) {
    leave_unsettled_policy(file, report, token);
    return report;
  }
  if (const int err = read_error) {
    if (err == EFBIG) {
      process_streamed(file, source_path, enc, report, token);
      if (run_.conform) {
        // Important: a dry run in chunks does not compare what it would write; read as its own
        // charset, a file converts to the same text, so only its mark and line ends differ.
        if (report.outcome == Outcome::converted && !report.stop)
          report.unchanged = (!report.mark_known || report.mark_before == report.mark_after) &&
                             (!report.eol_counted || report.eol_before == report.eol_after);
        report.offence = describe_offence({}, enc, Classification{}, report, eol_);
      }
      return report;
    }
    // Nothing is written: with output == input the source would be destroyed.
    report.outcome = Outcome::cannot_read;
    report.error = err;
    return report;
  }
  report.bytes = content_.size();
  if (outcome_is_unsettled(file.identity)) {
    report.outcome = file.identity;
    report.note = file.identity_note;
    const Classification cls = classify_mark(content_.substr(0, 4), enc);
    if (cls.outcome != Outcome::marked && repair_whole(file, enc, cls, report, token))
      return report;
    report.outcome = file.identity;
    report.note = file.identity_note;
    // The readings in question, each with its sample, are what a person settles it by.
    if (run_.samples && file.identity == Outcome::ambiguous) report.sample = file.identity_note;
    publish_as_read(file, report, token);
    return report;
  }
  const RunEncodings& read_as = utf8_instead(enc, to, report);
  if (&read_as != &enc) {
    convert_read(file, read_as, report, token);
    return report;
  }
  if (run_.narrow != nullptr && file.source.empty() && run_.narrow->wanted())
    hint_ = run_.narrow->check(content_, report.path);
  convert_read(file, enc, report, token);
  return report;
}

const RunEncodings& FileConverter::utf8_instead(const RunEncodings& enc, const EncodingEntry& to,
                                                FileReport& report) {
  const std::string_view text(content_);
  const bool unmarked = mark_at_start(text.substr(0, 4)).form == UnicodeForm::none;
  if (!unmarked || !utf8_text_for_legacy(enc, run_.conform, body_facts(text), true, text))
    return enc;
  const RunEncodings& utf8 = encodings_for(EncodingEntry("UTF-8"), to);
  report.source = utf8.source_name;
  report.note = "valid UTF-8: read as UTF-8, not as " + enc.source_name;
  return utf8;
}

void FileConverter::convert_read(const JobFile& file, const RunEncodings& enc, FileReport& report,
                                 uint64_t token) {
  Classification cls = classify(content_, enc);
  // Valid UTF-8 that reads as nonsense while the source reads it as text is the source's.
  if (cls.outcome == Outcome::already_utf8 &&
      detect::utf8_doubtful(std::string_view(content_).substr(cls.mark_length),
                            {enc.source_charset})) {
    cls.outcome = Outcome::converted;
    report.note = "valid UTF-8, but it reads as " + enc.source_name + " text";
  }
  report.outcome = settle(enc, cls, report);
  // A label chosen by hand that turns ASCII into other characters is converted as asked, with
  // a warning on each file where it made a difference.
  if (report.outcome == Outcome::converted && report.note.empty() &&
      !detect::keeps_ascii(enc.source_charset)) {
    const std::string hint = detect::narrow_label_hint(content_, enc.source_charset);
    if (!hint.empty()) report.note = "warning: " + hint;
  }
  if (run_.samples && report.outcome != Outcome::marked && report.outcome != Outcome::binary)
    report.sample = detect::sample_line(
        std::string_view(content_).substr(cls.mark_length),
        report.outcome == Outcome::already_utf8 ? std::string("UTF-8") : enc.source_charset);
  if (repair_whole(file, enc, cls, report, token)) return;
  write(file, enc, cls, report, token);
  if (run_.conform) report.offence = describe_offence(content_, enc, cls, report, eol_);
}
