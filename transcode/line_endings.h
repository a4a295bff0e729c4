// Line endings: counted and rewritten in the target's code units, streamed chunk by chunk.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Important: cr is only ever asked for by an .editorconfig; settings and the command line take
// keep, lf and crlf (parse_eol_mode).
enum class EolMode { keep, lf, crlf, cr };

// "keep", "lf", "crlf" as settings and the command line spell them.
const char* eol_mode_name(EolMode mode);
// false for any other text (letter case ignored).
bool parse_eol_mode(std::string_view text, EolMode& mode);

struct EolCounts {
  uint64_t lf = 0;
  uint64_t crlf = 0;
  uint64_t cr = 0;  // a CR not followed by LF
  uint64_t total() const { return lf + crlf + cr; }
  bool mixed() const { return (lf != 0) + (crlf != 0) + (cr != 0) > 1; }
  bool operator==(const EolCounts&) const = default;
};

// "none", "LF 12", "CRLF 3", "CR 1", "mixed (LF 2, CRLF 1, CR 1)".
std::string eol_counts_text(const EolCounts& counts);

// How CR and LF are written in an encoding: one code unit of `width` bytes holding 0x0D or
// 0x0A. width 0: the encoding writes them otherwise (EBCDIC), and line endings are left alone.
struct EolUnits {
  unsigned width = 1;
  bool big_endian = false;
};

// EolRewriter's state over single-byte text, as a value a decoding loop keeps in registers
// (written through a char pointer, a member would be reloaded at every byte).
struct EolPass {
  EolMode mode = EolMode::keep;
  bool pending_cr = false;
  EolCounts before;

  // Before the next text at `p` (not at its end): a CR held back ends a line now, as the first
  // byte says. Writes at `o` (two bytes of room) and returns the bytes of `p` taken (0 or 1).
  size_t held_cr(const char* p, char*& o) {
    if (!pending_cr) return 0;
    pending_cr = false;
    const bool pair = *p == '\n';
    ++(pair ? before.crlf : before.cr);
    put(o);
    return pair ? 1 : 0;
  }
  // `p` at a CR or LF of text ending at `end`: writes its line end at `o` (two bytes of room)
  // and returns the bytes taken. Important: a CR ending the text is held back, as feed holds it.
  size_t line_end_at(const char* p, const char* end, char*& o) {
    if (*p == '\n') {
      ++before.lf;
      put(o);
      return 1;
    }
    if (p + 1 == end) {
      pending_cr = true;
      return 1;
    }
    const bool pair = p[1] == '\n';
    ++(pair ? before.crlf : before.cr);
    put(o);
    return pair ? 2 : 1;
  }
  // Important: two bytes are written whatever the mode, and `o` moves by the line end's length.
  void put(char*& o) const {
    std::memcpy(o, written, 2);
    o += length;
  }

  EolPass(EolMode m, bool pending, const EolCounts& counts)
      : mode(m), pending_cr(pending), before(counts) {
    written[0] = mode == EolMode::lf ? '\n' : '\r';
    written[1] = '\n';
    length = mode == EolMode::crlf ? 2 : 1;
  }
  EolPass() = default;

 private:
  char written[2] = {'\n', '\n'};
  size_t length = 1;
};

// Rewrites the line ends of a stream given in pieces of any size. Important: a CR at the end
// of one piece and an LF at the start of the next are one line end, and a code unit cut by a
// piece's end is completed from the next, so the output never depends on where pieces end.
class EolRewriter {
 public:
  EolRewriter(EolMode mode, EolUnits units);

  // Appends the rewritten `in` to `out`; a trailing CR or partial unit is held back.
  void feed(std::string_view in, std::string& out);
  // When passes_through(): counts `in`, which goes out as it is, without copying it.
  void count(std::string_view in);
  // Ends the stream: what was held back is written.
  void finish(std::string& out);

  // Line ends seen so far, and as written.
  const EolCounts& before() const { return before_; }
  EolCounts after() const;
  // Whether the output differs from the input (line ends were replaced).
  bool changed() const { return after() != before_; }
  // Whether the stream's bytes pass through as they are (keep, or an encoding without ASCII
  // line ends): feed then only counts.
  bool passes_through() const { return mode_ == EolMode::keep || units_.width == 0; }
  // false for an encoding without ASCII line ends: nothing was counted.
  bool counts_known() const { return units_.width != 0; }

  // For a loop that copies single-byte text and rewrites its line ends in the same pass (the
  // table decoder's): it takes the state as an EolPass and gives it back, so it and feed can
  // take turns on one stream. Only when rewrites_bytes().
  bool rewrites_bytes() const { return units_.width == 1 && !passes_through(); }
  EolPass take_pass() const { return EolPass(mode_, pending_cr_, before_); }
  void give_back(const EolPass& pass) {
    pending_cr_ = pass.pending_cr;
    before_ = pass.before;
  }

 private:
  void feed_bytes(std::string_view in, std::string& out);
  void feed_lf_only(std::string_view in, std::string& out);
  void feed_units(std::string_view in, std::string& out);
  void count_bytes(std::string_view in);
  uint32_t unit_at(const char* p) const;
  void put_unit(uint32_t value, std::string& out) const;
  // Writes one line end of the kind seen (`kind`: 0 LF, 1 CRLF, 2 lone CR) as the mode says.
  void put_line_end(int kind, std::string& out);

  EolMode mode_;
  EolUnits units_;
  EolCounts before_;
  bool pending_cr_ = false;
  std::string partial_;  // a code unit cut by the last piece's end
};
