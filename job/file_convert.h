// One file of a job: read, classify, convert or pass through, and publish the target.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "detect/classify.h"
#include "platform/dir_cache.h"
#include "platform/fs.h"
#include "policy/file_policy.h"
#include "report/report.h"
#include "transcode/line_endings.h"
#include "transcode/marks.h"
#include "transcode/stream_convert.h"

class NarrowLabelCheck;
class OutputDirs;
class OutputSink;
namespace platform {
class Publisher;
class TargetFile;
}  // namespace platform
namespace undo {
class Hasher;
class Recorder;
}  // namespace undo

// What stays fixed for a whole run; shared read-only by the conversion threads.
struct RunContext {
  std::string input;  // as entered
  std::string output;
  bool in_place = false;  // output names the input directory itself
  bool dry_run = false;   // classify and convert in memory, write nothing
  bool samples = false;   // keep each file's first non-ASCII line in the report
  RunEncodings encodings;
  EolMode eol = EolMode::keep;  // line endings of the text written anew
  BomMode bom = kDefaultBom;    // the mark of UTF targets
  // Each file's target, line ends and mark (rules first); null: the run's for every file.
  std::shared_ptr<const PolicyResolver> policy;
  // Files above whole_file_limit are classified and converted in chunks of stream_chunk, so
  // memory stays bounded whatever the sizes. Output is made and written in pieces of at most
  // min(stream_chunk, kPieceBytes) input bytes. Per conversion thread at most the whole-file
  // content (or one chunk) plus one piece's output (1.5x the piece, doubled as often as the
  // widest pairs need): about 33 MiB by default.
  uint64_t whole_file_limit = uint64_t{32} << 20;
  size_t stream_chunk = size_t{8} << 20;
  // Double-encoded and mixed files are repaired, not only reported.
  bool repair = false;
  bool repair_check = true;  // false: double-encoded and mixed files are not looked for
  // Each file is checked against its policy: read as its own target, and what is wrong named.
  bool conform = false;
  // Where the legacy lines of a mixed file that detection left undetected may come from.
  std::vector<std::string> repair_candidates;
  NarrowLabelCheck* narrow = nullptr;        // set when a hand-picked label has a wider one
  OutputDirs* dirs = nullptr;                // null: each converter prepares its own
  platform::Publisher* publisher = nullptr;  // null: each target published at once
  // In place: what each file's new content replaces is kept here first; null: not kept.
  undo::Recorder* undo = nullptr;
};

// One accepted file as the job hands it to a converter.
struct JobFile {
  std::string relative_dir;  // "a/b", empty in the root
  std::string file_name;
  EncodingEntry source;  // a source chosen for this file alone; empty for the run's
  std::string evidence = "chosen";
  int confidence = -1;
  std::string detection_note;
  // Settled before reading: same_file, outside or excluded; converted means "process it".
  Outcome identity = Outcome::converted;
  std::string identity_note;
  std::string identity_readings;        // undetected, ambiguous: the best two readings, short
  std::string write_path;               // in place: the file a link inside the tree names
  std::vector<std::string> hard_links;  // in place: other names of the same file to re-link
  bool repair = false;                  // repaired even when the run does not repair
  // What was found under the file's name: the file itself is opened without following a link
  // (one there now replaced it since). Unknown for files named or planned, not searched.
  enum class Entry : unsigned char { unknown, file, link };
  Entry entry = Entry::unknown;
  // How much of relative_dir the user named, whose links are followed; the folders below it
  // are opened one by one without following any (one swapped for a link was replaced since).
  uint32_t followed_dirs = 0;
  // In place: the file the search found (0: not known), which the file read must be.
  dev_t dev = 0;
  ino_t ino = 0;

  std::string relative_path() const;
};

// The encoding of the legacy lines beside UTF-8 ones in a file of the run's source: the source,
// or for a narrow label that misreads ASCII its wider one (SHIFT_JIS: CP932), as detection
// names it; "" when lines of the source cannot sit beside UTF-8 ones (repair_file.cpp).
std::string named_legacy(const RunEncodings& enc);
// The run's encoding that switches by escapes, whose lines are valid UTF-8 too; "" if none.
std::string escaped_legacy(const RunContext& run);

// What a file's outcome is decided from, gathered from its content held whole or chunk by chunk.
struct FileFacts {
  Classification cls;  // the mark rule; the body's rules are settled from `body`
  BodyFacts body;
  std::string_view head;  // after the mark (a big file's first 64 KiB): samples, hints, repairs
  // What the UTF-8 doubt weighs: the text (a big file's lines above ASCII); unknown when a big
  // file has too many such lines to be anything but UTF-8.
  std::string_view doubt;
  bool doubt_known = true;
  // Whether body.utf8_valid was looked at (else it is true): see utf8_validity_needed.
  bool utf8_known = true;
  std::string kept_head, kept_doubt;  // a big file's, which head and doubt view

  FileFacts() = default;
  // Important: a copy's views would still point into the original's strings.
  FileFacts(const FileFacts&) = delete;
  FileFacts& operator=(const FileFacts&) = delete;
};

// Whether a file's outcome may depend on its being valid UTF-8 as a whole. Not for UTF-8 text
// into another encoding that is settled by the file's own source: nothing but a repair looks at
// it, and a repair found looks at it then (the conversion stops at an invalid byte anyway).
bool utf8_validity_needed(const RunEncodings& enc, bool conform, Outcome identity);

// A file's facts from its content held whole (file_facts.cpp); `utf8`: utf8_validity_needed.
void whole_facts(std::string_view content, const RunEncodings& enc, bool utf8, FileFacts& facts);
// The same gathered chunk by chunk from the file at `source`; 0 or the errno of reading.
int gather_facts(const std::string& source, const RunEncodings& enc, bool utf8, size_t chunk_size,
                 FileFacts& facts);

// Appends what a repair makes of the next chunk to `out`; called once more with `last` and no
// chunk. false when the content does not repair as it was found to.
using TextRepair = std::function<bool(std::string_view chunk, bool last, std::string& out)>;

// Per conversion thread: its buffers are reused from file to file.
class FileConverter {
 public:
  explicit FileConverter(const RunContext& run);
  ~FileConverter();
  FileConverter(const FileConverter&) = delete;
  FileConverter& operator=(const FileConverter&) = delete;

  // `token` names the file to the publisher's callback (the job's index of it).
  FileReport process(const JobFile& file, uint64_t token = 0);

  // A line for the log that the last file gave rise to (a narrow-label hint), once.
  std::string take_hint() { return std::move(hint_); }
  // The last file's target is published later (by the run's publisher, or with its folder):
  // its outcome may still turn out otherwise.
  bool published_later() const { return published_later_; }

  // Drops the buffers a big file left behind.
  void release();

 private:
  // The file's encodings: its own source, and the target its policy names (empty: the run's).
  const RunEncodings& encodings_for(const EncodingEntry& source, const EncodingEntry& to);
  // Resolves the file's policy (what decided goes in the report), sets eol_ and bom_, and
  // returns the target it names.
  const EncodingEntry& apply_policy(const JobFile& file, FileReport& report);
  // The one policy for a file held whole or read in chunks: settles the outcome, its notes and
  // sample from the facts, repairs or writes it.
  void convert_read(const JobFile& file, const RunEncodings& enc, const EncodingEntry& to,
                    FileFacts& facts, ChunkSource& src, FileReport& report, uint64_t token);
  // The one decision of a file's outcome, with its notes and sample, from its facts (the mark
  // rule, the body's rules, the UTF-8 doubt, then UTF-8 to UTF-8 re-encoding nothing).
  void settle(const RunEncodings& enc, FileFacts& facts, FileReport& report);
  // The encodings the file is converted with: `enc`, or UTF-8's for UTF-8 text read as legacy.
  const RunEncodings& utf8_instead(const RunEncodings& enc, const EncodingEntry& to,
                                   const FileFacts& facts, FileReport& report);
  // Writes what the settled outcome calls for from `src` (converted_file.cpp): the text copied
  // or converted, with the target's mark and line ends, else the content exactly as read.
  // `watch` (a legacy encoding): false, and nothing written, when a line reads as UTF-8 rather
  // than it (or the text was not read to its end): the repair check has to look first.
  bool write(const JobFile& file, const RunEncodings& enc, const Classification& cls,
             ChunkSource& src, FileReport& report, uint64_t token, const std::string& watch = {});
  // Hands the text (after the mark) to `sink`, through `conv` when set, with the line ends
  // rewritten; false when converting failed (conv's outcome) or an errno is in `err`.
  bool produce(const RunEncodings& enc, const Classification& cls, StreamConverter* conv,
               const EachChunk& text, OutputSink& sink, FileReport& report, int& err);
  // Publishes what `sink` was given (nothing in a dry run, nor in place when unchanged).
  void finish(const JobFile& file, const ChunkSource& src, OutputSink& sink, int err,
              FileReport& report, uint64_t token);
  // The content exactly as read is the target: a file that is not converted.
  void write_as_read(const JobFile& file, ChunkSource& src, FileReport& report, uint64_t token);
  // The run's target directories, or this converter's own when the run has none.
  OutputDirs& dirs();
  // Opens the target of `file` when called (OutputSink); null in a dry run.
  std::function<int(platform::TargetFile&)> target_opener(const JobFile& file);
  // Opens the crash-safe target of `file`; 0 or errno.
  int open_target(const JobFile& file, platform::TargetFile& target, std::string& path);
  // Hands a fully written target on: to the publisher, or published at once.
  int finish_target(const JobFile& file, platform::TargetFile&& target, uint64_t token,
                    FileReport& report);
  // Keeps the content the target replaces in the run's undo store; 0 or errno (the note says
  // why it could not be kept).
  int keep_old(const JobFile& file, const ChunkSource& src, OutputSink& sink, FileReport& report,
               uint64_t token);
  // The hasher of the output when the run keeps what it replaces, reset; else null.
  undo::Hasher* output_hasher();
  // A file whose policy could not be settled (a broken .editorconfig): cannot-convert, and
  // copied as it is into a separate output tree, whole or big.
  void leave_unsettled_policy(const JobFile& file, ChunkSource& src, FileReport& report,
                              uint64_t token);
  // Writes the text `repair` makes of the content after the mark (UTF-8) as converted text
  // through the one writer; the outcome set when it has no form in the target.
  void write_repaired(const JobFile& file, const RunEncodings& enc, const Classification& cls,
                      ChunkSource& src, const TextRepair& repair, FileReport& report,
                      uint64_t token);
  // The source no longer has the stamp it had when its reading began.
  bool source_changed() const;
  // The file or a folder on its way is not what the search found (`what` says how): changed,
  // nothing read from it nor written.
  FileReport& replaced(FileReport& report, const char* what);
  // A double-encoded or mixed file (repair_file.cpp): true when the repair settled it (written,
  // or reported and written as read); the content is read again from `src` for it. `watch`
  // set: the look for lines that read as UTF-8 may be left to write(), the legacy encoding
  // they would be read against put there ("" when none is left).
  bool repaired(const JobFile& file, const RunEncodings& enc, const FileFacts& facts,
                ChunkSource& src, FileReport& report, uint64_t token, std::string* watch = nullptr);

  const RunContext& run_;
  std::map<std::string, RunEncodings> overrides_;  // per overriding source and target name
  FilePolicy policy_;                              // the current file's
  EolMode eol_ = EolMode::keep;                    // the current file's line ends and mark
  BomMode bom_ = kDefaultBom;
  std::string source_path_;
  std::optional<platform::FileStamp> source_stamp_;  // set once the source is read
  bool source_direct_ = false;                       // its path named no link
  platform::DirCache source_dirs_;                   // the last source's folder
  std::string watched_folder_;                       // the last folder added to the watch
  platform::DirCache target_dirs_;                   // the last staged target's folder
  // The last staged folder prepared, by its relative path: most files follow one of their own
  // folder, and asking OutputDirs again takes its lock once more per file.
  bool staged_known_ = false;
  std::string staged_relative_;
  std::string staged_dir_;
  std::string content_;
  std::string scratch_;  // one piece's output
  std::string eol_out_;  // one piece's output with its line ends rewritten
  std::unique_ptr<OutputDirs> own_dirs_;
  std::unique_ptr<undo::Hasher> output_hash_;  // made at the first file an undo keeps
  std::string hint_;
  bool published_later_ = false;
  ConverterShelf shelf_;  // this thread's converters, from file to file
};

// Puts the line ends a rewriter saw and wrote into the report.
void note_line_ends(const EolRewriter& eol, FileReport& report);

// The mark written before a file's text: "UTF-8 with BOM" adds one whatever `mode` says.
std::string_view output_mark(const RunEncodings& enc, BomMode mode, bool source_marked);

// Puts the marks of a file written anew into the report: `written` the mark written first
// (a self-marking target's converter writes its own).
void note_marks(const RunEncodings& enc, bool source_marked, std::string_view written,
                FileReport& report);

// A target that could not be published: cannot_write with its error, or changed when the source
// changed since it was read.
void set_write_failure(FileReport& report, int error);

// "a/b/name" of a file (bare name in the root).
std::string join_relative(const std::string& relative_dir, const std::string& name);
