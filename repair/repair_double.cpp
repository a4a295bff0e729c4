// Undoing misreadings: every chain of up to two legacy encodings is tried, cheaply on pieces
// first, and the one whose whole undoing reads best wins when it reads better than the file.
#include "repair/repair_double.h"

#include <unicode/uchar.h>

#include "repair/repair_codec.h"
#include "repair/repair_leads.h"
#include "repair/repair_score.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace repair {
namespace {

// Growing pieces from the first non-ASCII character tried before the whole text.
constexpr size_t kPieces[] = {16, 256, 4096};
// Runs of non-ASCII text whose first characters (in the first 256 bytes) are looked up
// before any conversion.
constexpr size_t kRunStarts = 16;
// Points per character the repaired text must gain: the undoing being exact is most of the
// evidence, the statistics only have to agree (misread text scores 5 to 13 below its repair).
constexpr double kBetter = 1.0;
constexpr size_t kDepth = 2;
constexpr size_t kConvincing = 3;   // multi-byte characters in the repaired text
constexpr double kPlausible = 1.0;  // points per character of text that reads as a language

// `size` bytes from the first non-ASCII character, cut at a character boundary; empty when
// the text is ASCII. Every misreading keeps ASCII as it is, so nothing before it can fail.
std::string_view piece_of(std::string_view utf8, size_t size) {
  size_t at = 0;
  while (at < utf8.size() && static_cast<unsigned char>(utf8[at]) < 0x80) ++at;
  std::string_view w = utf8.substr(at, size);
  return w.substr(0, w.size() - utf8_incomplete_tail(w));
}

// Undoing one misreading of a piece of `text` is exact and leaves UTF-8 so far (the piece's
// end may cut a character of the result).
bool piece_undoes(std::string_view text, const std::string& encoding, size_t size,
                  std::string& out) {
  out.clear();
  const std::string_view in = piece_of(text, size);
  if (!encode_exact(in, encoding, out)) return false;
  return utf8_check(std::string_view(out).substr(0, out.size() - utf8_incomplete_tail(out))).valid;
}

// Important: each step fails whenever the next would (the misreadings are stateless, so a
// piece undoes to a prefix of what the whole does); clean text fails on its first few
// characters, so the cheap steps go first and most files never reach the whole.
bool pieces_undo(std::string_view text, const std::string& encoding, std::string& out) {
  size_t covered = 0;
  for (const size_t size : kPieces) {
    if (covered >= text.size()) break;
    if (!piece_undoes(text, encoding, size, out)) return false;
    covered = size;
  }
  return true;
}

// Whether strict UTF-8 could be someone's text: no C1 control, no noncharacter, no combining
// mark without a character to sit on. Important: an undoing that is exact by chance (a
// character or two) mostly makes such code points, and statistics alone once took this tool's
// own output for misread text.
bool could_be_text(std::string_view utf8) {
  UChar32 before = '\n';
  for (size_t at = 0; at < utf8.size();) {
    const UChar32 c = static_cast<UChar32>(utf8_next(utf8, at));
    if (c >= 0x80) {
      if (c < 0xA0 || U_IS_UNICODE_NONCHAR(c)) return false;
      const int8_t type = u_charType(c);
      const bool mark = type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK ||
                        type == U_COMBINING_SPACING_MARK;
      if (mark && (before < 0x20 || before == 0x7F || u_isUWhiteSpace(before))) return false;
    }
    before = c;
  }
  return true;
}

bool ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Important: text whose one character above ASCII stands apart from any ASCII letter (// 隆)
// is that character as likely as a misreading (¡), so its repair must also read as text on its
// own (Il file 癡 molto: è); a misread letter inside a word is glued to its letters (caf茅,
// 籀rdenes). One Chinese character alone in 3 % of comments was once taken for a misread one.
bool lone_character(std::string_view utf8) {
  size_t first = std::string_view::npos, end = 0, count = 0;
  for (size_t at = 0; at < utf8.size(); ++at) {
    const auto b = static_cast<unsigned char>(utf8[at]);
    if (b < 0x80) continue;
    if (b >= 0xC0 && ++count > 1) return false;
    if (first == std::string_view::npos) first = at;
    end = at + 1;
  }
  if (count != 1) return false;
  const bool before = first > 0 && ascii_letter(utf8[first - 1]);
  const bool after = end < utf8.size() && ascii_letter(utf8[end]);
  return !before && !after;
}

// Undoing one misreading of all of `text` is exact and leaves UTF-8 holding non-ASCII text.
bool undoes(std::string_view text, const std::string& encoding, std::string& out) {
  out.clear();
  if (!encode_exact(text, encoding, out)) return false;
  const Utf8Check c = utf8_check(out);
  return c.valid && c.non_ascii && out != text && could_be_text(out);
}

// Important: an exact undoing that leaves UTF-8 with several multi-byte characters is most of
// the evidence (clean text almost never encodes to valid UTF-8 that way); the statistics need
// then only find the result plausible and better. With fewer, it must read clearly better.
bool reads_better(double score, double original, std::string_view repaired, bool lone) {
  if (score > original + kBetter && (!lone || score >= kPlausible)) return true;
  return non_ascii_chars(repaired) >= kConvincing && score >= kPlausible && score > original;
}

struct Search {
  std::string_view original;
  double original_score = 0;
  bool scored = false;
  bool lone = false;         // one character above ASCII, apart from any ASCII letter
  double best_score = -1e9;  // the original is weighed only once some undoing is exact
  DoubleEncoding best;
};

void search(std::string_view text, std::vector<std::string>& chain, Search& s) {
  if (chain.size() == kDepth) return;
  const std::u32string starts = run_starts(text, kRunStarts, kPieces[1]);
  if (starts.empty()) return;
  std::string probe, undone;
  for (const std::string& enc : misreading_encodings()) {
    if (!may_be_misread(starts, enc)) continue;
    if (!pieces_undo(text, enc, probe) || !undoes(text, enc, undone)) continue;
    chain.insert(chain.begin(), enc);
    if (!s.scored) {
      s.original_score = plausibility(s.original);
      s.lone = lone_character(s.original);
      s.scored = true;
    }
    const double score = plausibility(undone);
    if (score > s.best_score && reads_better(score, s.original_score, undone, s.lone)) {
      s.best_score = score;
      s.best.chain = chain;
      s.best.repaired = undone;
    }
    search(undone, chain, s);
    chain.erase(chain.begin());
  }
}

}  // namespace

const std::vector<std::string>& misreading_encodings() {
  static const std::vector<std::string> list = {"CP1252", "ISO-8859-1", "GBK",    "GB18030",
                                                "BIG5",   "CP932",      "CP1251", "KOI8-R"};
  return list;
}

std::string chain_text(const std::vector<std::string>& chain) {
  std::string out = "UTF-8";
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i > 0 && chain[i] == chain[i - 1])
      out = kestrum::strfmt(_("%s, twice"), out.c_str());
    else
      out = kestrum::strfmt(i == 0 ? _("%s read as %s") : _("%s, then as %s"), out.c_str(),
                            chain[i].c_str());
  }
  return out;
}

DoubleEncoding find_double_encoding(std::string_view utf8) {
  Search s;
  s.original = utf8;
  std::vector<std::string> chain;
  search(utf8, chain, s);
  return s.best;
}

bool undo_chain(std::string_view utf8, const std::vector<std::string>& chain, std::string& out) {
  std::string text(utf8);
  for (size_t i = chain.size(); i-- > 0;) {
    out.clear();
    if (!encode_exact(text, chain[i], out)) return false;
    text.swap(out);
  }
  out.swap(text);
  return true;
}

ChainUndo::ChainUndo(std::vector<std::string> chain)
    : chain_(std::move(chain)), carry_(chain_.size()) {}

bool ChainUndo::feed(std::string_view chunk, std::string& out) {
  step_in_.assign(chunk);
  for (size_t k = 0; k < chain_.size(); ++k) {
    std::string& carry = carry_[k];
    carry.append(step_in_);
    const size_t whole = carry.size() - utf8_incomplete_tail(carry);
    step_out_.clear();
    if (!encode_exact(std::string_view(carry).substr(0, whole), chain_[chain_.size() - 1 - k],
                      step_out_))
      return false;
    carry.erase(0, whole);
    step_in_.swap(step_out_);
  }
  out.append(step_in_);
  return true;
}

bool ChainUndo::finish() const {
  for (const std::string& c : carry_)
    if (!c.empty()) return false;
  return true;
}

}  // namespace repair
