// Encoding detection for files that no mark, UTF-8 or ASCII check decided: per file, or pooled
// per folder and per tree when one file holds too little text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace detect {

// Why a file got its encoding. The engine sets mark, utf8, ascii, chosen and override_.
enum class Evidence {
  mark,
  utf8,
  ascii,
  chosen,
  override_,
  file_statistics,
  tree_statistics,
  only_decoder,
  undetected,
  ambiguous,  // the best candidates read different text and nothing separates them
};

const char* evidence_name(Evidence evidence);  // "mark", "utf8", ..., "undetected"

struct Decision {
  std::string encoding;  // a glibc iconv name from the candidates; empty when undetected
  Evidence evidence = Evidence::undetected;
  int confidence = 0;               // 0-100
  std::string note;                 // short, for the log and the preview
  std::vector<std::string> rivals;  // ambiguous, undetected: the best two readings
  std::string readings = "";        // and where they part, short and side by side (readings_apart)
  double plausibility = 0;          // points per character of the reading chosen (or of its pool)
  double chars = 0;                 // the non-ASCII characters behind it
  double lead = 0;                  // points ahead of the best reading of other text
  double outside = -1e9;  // points a reading of an encoding not among the candidates leads by
  bool guess = false;     // below the line, taken only because unsure readings are accepted
};

struct Preset {
  std::string name;                    // "Chinese", "Cyrillic", ...
  std::vector<std::string> encodings;  // most likely first
};

const std::vector<Preset>& presets();

// The candidate name that stands for every encoding detection knows ("--candidates all").
inline constexpr const char* kEveryEncoding = "ALL";

// Every preset's encodings in order, then those no preset offers (EBCDIC): what "all" means.
const std::vector<std::string>& every_encoding();

// The upper-case glibc name for an alias ("sjis" -> "SHIFT_JIS", "windows-1251" -> "CP1251").
std::string canonical_name(std::string_view encoding);

// Preset names and encoding names mixed, case-insensitive, duplicates dropped, order kept.
// Names that are neither a preset nor an encoding iconv knows go to `unknown` when given.
std::vector<std::string> expand_candidates(const std::vector<std::string>& names_or_presets,
                                           std::vector<std::string>* unknown = nullptr);

// The preset holding `encoding` (or the wider label of it); nullptr for UTF forms and others.
const Preset* preset_of(std::string_view encoding);

// True for the Unicode forms the detector always considers besides the candidates.
bool is_unicode_form(std::string_view encoding);

// True for an encoding met far less often than the Windows and common ISO pages of its script
// (ISO-8859-4, MacRoman, CP437, JOHAB...): it needs more evidence to be chosen.
bool is_rare(std::string_view encoding);

// The wider label that reads everything `encoding` reads ("SHIFT_JIS" -> "CP932"); "" if none.
std::string wider_label(std::string_view encoding);

// True when `encoding` reads every printable ASCII byte as itself (SHIFT_JIS does not: 0x5C is
// ¥ and 0x7E is ‾). Unknown encodings and those that are not ASCII-based count as keeping it.
bool keeps_ascii(std::string_view encoding);

// The printable ASCII bytes `encoding` reads as other characters ("\\~" for SHIFT_JIS); "" for
// those that keep ASCII and those that are not ASCII-based.
std::string ascii_changes(std::string_view encoding);

// Why the wider label was taken over a narrow one that also reads the text; "" if not a pair.
std::string wider_label_note(std::string_view wide, std::string_view narrow);

// For a narrow label chosen by hand: how the wider label would read `content` differently,
// e.g. "SHIFT_JIS reads 0x5C as ¥; CP932 would read it as \". "" when they agree.
std::string narrow_label_hint(std::string_view content, std::string_view chosen);

// Valid UTF-8 is evidence, not proof: true when `content`, valid UTF-8 with few non-ASCII
// characters, reads as implausible text in UTF-8 (the GBK "模式" reads "ģʽ") while one of
// `encodings` (names or presets) reads it as plausible text.
bool utf8_doubtful(std::string_view content, const std::vector<std::string>& encodings);

// The same question with its third answer: a toss-up, when a legacy reading is as plausible as
// an implausible UTF-8 reading without leading it clearly (GBK 式 against UTF-8 ʽ, a lone
// letter of another script); such a file is neither UTF-8 nor the legacy encoding's.
enum class Utf8Verdict { utf8, legacy, toss_up };
struct Utf8Doubt {
  Utf8Verdict verdict = Utf8Verdict::utf8;
  std::string encoding;  // legacy, toss_up: the legacy reading's
  std::string note;      // toss_up: where the two readings part in `shown`, for a person
  std::string readings;  // toss_up: the same, short and side by side (readings_apart)
};
// `shown`: the file's beginning, whose line numbers the note names (`content` may be only its
// lines above ASCII).
Utf8Doubt utf8_doubt(std::string_view content, const std::vector<std::string>& encodings,
                     std::string_view shown);

// True when `content` converts from `encoding` with no invalid or incomplete sequence.
bool decodes_strictly(std::string_view content, const std::string& encoding);

// The first line holding non-ASCII text, in UTF-8, at most `max_bytes` bytes and never cut
// inside a character; "" when there is none or the encoding is unknown.
std::string sample_line(std::string_view content, const std::string& encoding,
                        size_t max_bytes = 120);

// "UTF-16LE" or "UTF-16BE" for text with no mark whose every other byte is mostly NUL; "".
std::string unmarked_utf16(std::string_view content);

// The UTF form of text with no mark that holds NUL bytes: UTF-32 (LE/BE), UTF-16 as above, or
// UTF-16 with few NUL bytes (Chinese, Russian) whose text reads as some language; "" if none.
std::string unmarked_wide(std::string_view content);

// True when 7-bit content carries the escape sequences of ISO-2022-JP/KR/CN.
bool has_iso2022_escapes(std::string_view content);

// "ISO-2022-JP", "ISO-2022-KR" or "ISO-2022-CN" by the character sets the first escape
// sequence designates; "" when there is none.
std::string iso2022_form(std::string_view content);

// Decides a tree of files: first each file on its own text; a file with too little text of its
// own is helped by the files of its folder whose own readings agree with it, never by other
// folders. A close call nothing separates is `ambiguous`.
class TreeDetector {
 public:
  struct Options {
    bool pooling = true;    // false: every file on its own text alone (for measurements)
    bool libraries = true;  // let ICU and uchardet vote on the pools
    size_t window = 8192;   // bytes of non-ASCII evidence read per file
    // Take the best reading of a close call or of implausible text as a guess (Decision::guess)
    // instead of refusing the file.
    bool accept_unsure = false;
    // Encodings the user listed that are not among the candidates given (a repair weighs only
    // those that read the lines): never counted among those outside the candidates, which
    // refuse a file they read as clearly better text.
    std::vector<std::string> listed;
  };

  // `candidates` are glibc names or preset names; `preferred` wins ties and close calls.
  TreeDetector(std::vector<std::string> candidates, std::string preferred);
  TreeDetector(std::vector<std::string> candidates, std::string preferred, Options options);
  ~TreeDetector();
  TreeDetector(const TreeDetector&) = delete;
  TreeDetector& operator=(const TreeDetector&) = delete;

  // Important: thread-safe; the heavy work runs outside the lock. `relative_dir` is the
  // '/'-joined folder of the file below the tree root ("" for the root). Ids need not be dense.
  void add(size_t id, std::string_view relative_dir, std::string_view content);

  // Decides every file added. Call once, after the last add().
  void finish();

  // The decision for `id` after finish(); undetected with a note for an unknown id.
  Decision decision(size_t id) const;

  // True unless utf8_doubt against this detector's candidates leaves it UTF-8.
  bool doubts_utf8(std::string_view content) const;

  // The candidates after expansion, UTF forms excluded.
  const std::vector<std::string>& candidates() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace detect
