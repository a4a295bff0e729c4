// The rules that decide, before anything is written, what happens to one file's content.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "report/outcome.h"
#include "transcode/charset.h"
#include "transcode/marks.h"
#include "util/encoding_catalogue.h"

// Source and target of a run (or of one file whose source was overridden), probed once.
struct RunEncodings {
  std::string source_name;  // as chosen, for the log and the report
  std::string target_name;
  std::string source_charset;  // handed to the converter
  std::string target_charset;
  CharsetTraits source;
  CharsetTraits target;
  bool target_mark = false;  // "UTF-8 with BOM": EF BB BF written first
  // The source label reads ASCII as itself (detect::keeps_ascii), asked once, not per file.
  bool source_keeps_ascii = true;

  static RunEncodings resolve(const EncodingEntry& source, const EncodingEntry& target);

  bool target_is_utf8() const { return target.form == UnicodeForm::utf8; }
  // Pure ASCII content may be written without the converter.
  bool ascii_passthrough() const { return source.ascii_compatible && target.ascii_compatible; }
};

inline constexpr size_t kBinaryScanBytes = 64 * 1024;

// What the rules look at in the content after the source's own mark.
struct BodyFacts {
  size_t nul_offset = std::string_view::npos;  // first NUL among the first 64 KiB
  bool utf8_valid = true;
  bool non_ascii = false;
};
BodyFacts body_facts(std::string_view body);

struct Classification {
  Outcome outcome = Outcome::converted;  // converted means: hand it to the converter
  // The source's own mark (every copy of it), dropped before anything else; a self-marking
  // form keeps one copy for its converter.
  size_t mark_length = 0;
  bool own_mark = false;                         // the source starts with a mark of its own
  UnicodeForm foreign_mark = UnicodeForm::none;  // for marked: what the mark names
  size_t nul_offset = 0;                         // for binary
};

// The mark rule alone: marked, or how many mark bytes the source drops (a mark repeated
// counts whole). Looks at the first kMarkHead bytes.
Classification classify_mark(std::string_view head, const RunEncodings& enc);

// Every rule, the first that matches deciding: marked, binary, already UTF-8, ASCII only,
// else converted.
Classification classify(std::string_view content, const RunEncodings& enc);

// The rules after the mark, on facts gathered at once or chunk by chunk.
Outcome classify_body(const BodyFacts& facts, const RunEncodings& enc);

// Important: valid UTF-8 text going from a legacy source to a target other than UTF-8 is
// converted from UTF-8, never read as the legacy source (into UTF-8 it is left as it is:
// already-utf8), unless the language statistics say otherwise (detect::utf8_doubt decides,
// as for already-utf8). Never when checking (`conform`).
bool utf8_text_for_legacy(const RunEncodings& enc, bool conform, const BodyFacts& facts,
                          bool unmarked);

// Important: UTF-16 and UTF-32 text has a NUL byte in every character below U+0100 (a line
// end, a space, a digit). A file of a UTF-16 or UTF-32 source without its own mark, without a
// NUL byte and valid UTF-8 is UTF-8 (most often this tool's own output of an earlier run),
// which reading as the source would garble. Never when checking (`conform`).
bool utf8_text_for_wide(const RunEncodings& enc, bool conform, const BodyFacts& facts,
                        bool own_mark);
