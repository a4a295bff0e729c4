// Per-file pipeline: read, classify, produce the bytes, publish them.
#include "job/file_convert.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "detect/detect.h"
#include "job/output_dirs.h"
#include "job/source_detection.h"
#include "platform/fs.h"
#include "platform/publisher.h"
#include "platform/target_file.h"
#include "policy/conformance.h"
#include "transcode/stream_convert.h"
#include "transcode/utf8.h"
#include "undo/recorder.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

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
    report.note = _("changed while it was converted, left as it is; the next run converts it");
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
  const platform::Result<platform::FileStamp> now =
      platform::stamp_file(source_path_, !source_direct_);
  return !now || *now != *source_stamp_;
}

FileReport& FileConverter::replaced(FileReport& report, const char* what) {
  source_stamp_.reset();
  content_.clear();
  report.outcome = Outcome::changed;
  report.note =
      kestrum::strfmt(_("%s since the search, left as it is; the next run converts it"), _(what));
  return report;
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
      e.source_keeps_ascii = probed.source_keeps_ascii;
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

OutputDirs& FileConverter::dirs() {
  if (run_.dirs != nullptr) return *run_.dirs;
  if (!own_dirs_) own_dirs_ = OutputDirs::for_root(run_.output, nullptr);
  return *own_dirs_;
}

int FileConverter::open_target(const JobFile& file, platform::TargetFile& target,
                               std::string& path) {
  // Important: a link found at the target is never followed. In place a link the search found
  // (checked to stay inside the tree) is written through as its file's own path (write_path)
  // and stays a link; one found where the search saw the file replaced it since, and the source
  // guard below refuses it at publishing.
  const platform::LinkPolicy links = platform::LinkPolicy::replace_link;
  int err = 0;
  if (!file.write_path.empty()) {
    path = file.write_path;
    err = target.open(path, links).err();
  } else {
    std::string dir;
    bool made = false, staged = false;
    if (staged_known_ && staged_relative_ == file.relative_dir) {
      dir = staged_dir_;  // this run's own hidden folder: nobody else makes or replaces it
      staged = true;
    } else {
      if ((err = dirs().prepare(file.relative_dir, dir, &made, &staged)) != 0) return err;
      staged_known_ = staged;
      if (staged) {
        staged_relative_ = file.relative_dir;
        staged_dir_ = dir;
      }
    }
    path = dir + "/" + file.file_name;
    err = (staged ? target.open_staged(path, target_dirs_.fd_for(dir))
           : made ? target.open_new(path)
                  : target.open(path, links))
              .err();
    if (err == ENOENT) {  // the directory went away during the run
      staged_known_ = false;
      if ((err = dirs().prepare_again(file.relative_dir, dir)) != 0) return err;
      err = target.open(path, links).err();
    }
  }
  // A staged file gets its name with its folder at the run's end, and its source is looked at
  // again then (OutputDirs::publish_staged): once is enough.
  if (err == 0 && source_stamp_ && !target.is_staged())
    target.guard_source(source_path_, *source_stamp_, /*follow=*/!source_direct_);
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
    published_later_ = run_.dirs != nullptr;
    return 0;
  }
  if (run_.publisher != nullptr && file.hard_links.empty()) {
    published_later_ = true;
    run_.publisher->submit(std::move(target), token);
    return 0;
  }
  std::vector<std::pair<std::string, int>> unlinked;
  int err = 0;
  if (run_.publisher != nullptr) {
    err = run_.publisher->publish_linked(std::move(target), file.hard_links, unlinked);
    if (err != 0 && run_.undo != nullptr) run_.undo->discard(token);
  } else {
    // No job around it (a single file): published at once, unflushed, like write_target.
    const std::string path = target.final_path();
    err = target.commit();
    for (const auto& name : file.hard_links)
      if (const int e = err == 0 ? platform::relink(path, name).err() : 0)
        unlinked.emplace_back(name, e);
  }
  for (const auto& [name, e] : unlinked)
    report.note = kestrum::strfmt(_("cannot link %s to the new content, error: %s"), name.c_str(),
                                  errno_text(e).c_str());
  return err;
}

FileReport FileConverter::process(const JobFile& file, uint64_t token) {
  published_later_ = false;
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
  source_stamp_.emplace();
  const std::string folder =
      file.relative_dir.empty() ? run_.input : run_.input + "/" + file.relative_dir;
  // Important: only a file below the output's root may be staged (OutputDirs), so only its
  // folder is watched: a watch costs its closing a wait of some 10 ms at the run's end.
  if (run_.dirs != nullptr && !file.relative_dir.empty() && folder != watched_folder_) {
    run_.dirs->watch_source_folder(folder);  // before its first source here is read
    watched_folder_ = folder;
  }
  // Important: the folder is kept open, so a tree of small files is not walked path by path.
  // Below what the user named, neither a folder nor a file the search found is followed if it
  // is a link now: swapped for one meanwhile, it could lead out of the tree.
  const int dir_fd = source_dirs_.fd_below(run_.input, file.relative_dir, file.followed_dirs);
  if (dir_fd < 0 && (errno == ENOTDIR || errno == ELOOP))
    return replaced(report, N_("a folder on its way was replaced"));
  const bool follow = file.entry != JobFile::Entry::file;
  const int read_error =
      dir_fd < 0
          ? errno
          : platform::read_file_at(dir_fd, file.file_name, source_path_, content_,
                                   run_.whole_file_limit, &*source_stamp_, &source_direct_, follow)
                .err();
  if (read_error == ELOOP && !follow) return replaced(report, N_("replaced by a link"));
  // A file too big to hold is stamped too: before its first chunk is read.
  if (read_error != 0 && read_error != EFBIG) {
    // Nothing is written: with output == input the source would be destroyed.
    source_stamp_.reset();
    report.outcome = Outcome::cannot_read;
    report.error = read_error;
    return report;
  }
  if (file.ino != 0 && (source_stamp_->dev != file.dev || source_stamp_->ino != file.ino))
    return replaced(report, N_("replaced by another file"));
  // Above the whole-file limit the file is read in chunks, so memory stays bounded.
  // Read a piece at a time, a file too big to hold is converted while it is in the cache.
  ChunkSource src(source_path_, std::min(run_.stream_chunk, kPieceBytes),
                  read_error == 0 ? &content_ : nullptr);
  if (!policy_.error.empty()) {
    leave_unsettled_policy(file, src, report, token);
    return report;
  }
  FileFacts facts;
  const bool utf8 = utf8_validity_needed(enc, run_.conform, file.identity);
  if (const int err = src.whole()
                          ? (whole_facts(content_, enc, utf8, facts), 0)
                          : gather_facts(source_path_, enc, utf8, run_.stream_chunk, facts)) {
    report.outcome = Outcome::cannot_read;
    report.error = err;
    return report;
  }
  report.bytes = src.size();
  convert_read(file, enc, to, facts, src, report, token);
  return report;
}

const RunEncodings& FileConverter::utf8_instead(const RunEncodings& enc, const EncodingEntry& to,
                                                const FileFacts& facts, FileReport& report) {
  const bool unmarked = facts.cls.outcome != Outcome::marked && facts.cls.mark_length == 0;
  if (!utf8_text_for_legacy(enc, run_.conform, facts.body, unmarked)) return enc;
  const detect::Utf8Doubt doubt =
      facts.doubt_known ? detect::utf8_doubt(facts.doubt, {enc.source_charset}, facts.head)
                        : detect::Utf8Doubt();
  if (doubt.verdict == detect::Utf8Verdict::legacy) return enc;
  if (doubt.verdict == detect::Utf8Verdict::toss_up) {
    // Important: read either way it would be a guess; refused, as into UTF-8.
    report.outcome = Outcome::ambiguous;
    report.source.clear();  // read as neither
    report.note = doubt.note;
    if (run_.samples) report.sample = doubt.readings.empty() ? doubt.note : doubt.readings;
    return enc;
  }
  const RunEncodings& utf8 = encodings_for(EncodingEntry("UTF-8"), to);
  report.source = utf8.source_name;
  report.note =
      kestrum::strfmt(_("valid UTF-8: read as UTF-8, not as %s"), enc.source_name.c_str());
  return utf8;
}

namespace {

// UTF-8 found where the source is UTF-16 or UTF-32: left as it is into UTF-8, written without
// the converter as ASCII into a target that keeps ASCII; else converted as asked.
Outcome utf8_not_wide(const RunEncodings& enc, const BodyFacts& body, FileReport& report) {
  const bool as_is = enc.target_is_utf8() || (!body.non_ascii && enc.target.ascii_compatible);
  if (!as_is) return Outcome::converted;
  report.note =
      kestrum::strfmt(_("no NUL byte and valid UTF-8: not %s text"), enc.source_name.c_str());
  return enc.target_is_utf8() ? Outcome::already_utf8 : Outcome::ascii;
}

}  // namespace

void FileConverter::settle(const RunEncodings& enc, FileFacts& facts, FileReport& report) {
  Classification& cls = facts.cls;
  if (cls.outcome == Outcome::marked) {
    report.note = marked_as_note(form_name(cls.foreign_mark));
  } else {
    cls.outcome = classify_body(facts.body, enc);
    cls.nul_offset = cls.mark_length + facts.body.nul_offset;
    if (cls.outcome == Outcome::converted &&
        utf8_text_for_wide(enc, run_.conform, facts.body, cls.own_mark))
      cls.outcome = utf8_not_wide(enc, facts.body, report);
  }
  // Valid UTF-8 that reads as nonsense while the source reads it as text is the source's.
  // As plausible either way, it is refused: kept as it is, both readings shown.
  const detect::Utf8Doubt doubt =
      cls.outcome == Outcome::already_utf8 && facts.doubt_known
          ? detect::utf8_doubt(facts.doubt, {enc.source_charset}, facts.head)
          : detect::Utf8Doubt();
  if (doubt.verdict == detect::Utf8Verdict::legacy) {
    cls.outcome = Outcome::converted;
    report.note =
        kestrum::strfmt(_("valid UTF-8, but it reads as %s text"), enc.source_name.c_str());
  } else if (doubt.verdict == detect::Utf8Verdict::toss_up) {
    cls.outcome = Outcome::ambiguous;
    report.source.clear();  // read as neither
    report.note = doubt.note;
  }
  if (cls.outcome == Outcome::binary)
    report.note = kestrum::strfmt(_("NUL byte at offset %llu"),
                                  static_cast<unsigned long long>(cls.nul_offset));
  if (cls.outcome == Outcome::already_utf8) report.source = "UTF-8";  // what it was read as
  // UTF-8 to UTF-8 re-encodes nothing: valid text keeps its bytes, only the mark policy applies.
  if (cls.outcome == Outcome::converted && enc.source.form == UnicodeForm::utf8 &&
      enc.target_is_utf8() && facts.body.utf8_valid)
    cls.outcome = Outcome::already_utf8;
  report.outcome = cls.outcome;
  // A label chosen by hand that turns ASCII into other characters is converted as asked, with
  // a warning on each file where it made a difference.
  if (report.outcome == Outcome::converted && report.note.empty() && !enc.source_keeps_ascii) {
    const std::string hint = detect::narrow_label_hint(facts.head, enc.source_charset);
    if (!hint.empty()) report.note = kestrum::strfmt(_("warning: %s"), hint.c_str());
  }
  if (run_.samples && report.outcome != Outcome::marked && report.outcome != Outcome::binary)
    report.sample = detect::sample_line(facts.head, report.outcome == Outcome::already_utf8
                                                        ? std::string("UTF-8")
                                                        : enc.source_charset);
  // The readings in question, as detection shows its own ambiguous files.
  if (run_.samples && report.outcome == Outcome::ambiguous)
    report.sample = doubt.readings.empty() ? doubt.note : doubt.readings;
}

void FileConverter::convert_read(const JobFile& file, const RunEncodings& run_enc,
                                 const EncodingEntry& to, FileFacts& facts, ChunkSource& src,
                                 FileReport& report, uint64_t token) {
  if (outcome_is_unsettled(file.identity)) {
    report.outcome = file.identity;
    report.note = file.identity_note;
    if (facts.cls.outcome != Outcome::marked && repaired(file, run_enc, facts, src, report, token))
      return;
    report.outcome = file.identity;
    report.note = file.identity_note;
    // The readings in question, each with its sample, are what a person settles it by.
    if (run_.samples)
      report.sample = file.identity_readings.empty() ? file.identity_note : file.identity_readings;
    return write_as_read(file, src, report, token);
  }
  const RunEncodings& enc = utf8_instead(run_enc, to, facts, report);
  if (report.outcome == Outcome::ambiguous) return write_as_read(file, src, report, token);
  if (&enc == &run_enc && run_.narrow != nullptr && file.source.empty() && run_.narrow->wanted())
    hint_ = run_.narrow->check(facts.head, report.path);
  settle(enc, facts, report);
  if (report.outcome == Outcome::ambiguous) return write_as_read(file, src, report, token);
  std::string watch;
  if (repaired(file, enc, facts, src, report, token, &watch)) return;
  const FileReport before = report;
  if (!write(file, enc, facts.cls, src, report, token, watch)) {
    // A line reads as UTF-8 after all: the repair check looks at the whole file first.
    report = before;
    if (repaired(file, enc, facts, src, report, token)) return;
    write(file, enc, facts.cls, src, report, token);
  }
  if (run_.conform)
    report.offence = describe_offence(src.whole() ? std::string_view(content_) : std::string_view(),
                                      enc, facts.cls, report, eol_);
}
