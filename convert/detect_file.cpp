// File-level analysis: Unicode forms and 7-bit escapes, then the statistics of the candidates.
#include "convert/detect_file.h"

#include <cstdio>

#include "convert/detect_decode.h"
#include "convert/detect_excerpt.h"

namespace detect {
namespace {

uint64_t fnv1a(std::u32string_view text) {
  uint64_t h = 1469598103934665603ull;
  for (char32_t c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string undetected_reason(const std::vector<Candidate>& candidates, int preferred,
                              std::string_view content, const Excerpt& ex,
                              const std::vector<size_t>& stops) {
  const size_t who = preferred >= 0 ? static_cast<size_t>(preferred) : 0;
  const uint64_t at = ex.file_offset(stops[who]);
  const LineColumn lc = line_column(content, at);
  char bytes[16] = "";
  if (at < content.size()) {
    std::snprintf(bytes, sizeof bytes, " (byte 0x%02X)",
                  static_cast<unsigned>(static_cast<unsigned char>(content[at])));
  }
  return "no candidate reads it: " + candidates[who].name + " stops at line " +
         std::to_string(lc.line) + ", column " + std::to_string(lc.column) + bytes;
}

bool special_form(const std::vector<Candidate>& candidates, int preferred, std::string_view content,
                  FileAnalysis& fa) {
  Decision& d = fa.decision;
  if (const std::string utf16 = unmarked_utf16(content); !utf16.empty()) {
    d = {utf16, Evidence::file_statistics, 90, "no byte-order mark; every other byte is NUL"};
    return true;
  }
  if (!has_high_byte(content)) {
    if (has_iso2022_escapes(content)) {
      for (const Candidate& c : candidates) {
        std::u32string out;
        if (c.name.rfind("ISO-2022", 0) == 0 &&
            decode_strict(content.substr(0, 1 << 16), c.name, out).ok) {
          d = {c.name, Evidence::file_statistics, 95, "escape sequences of " + c.name};
          return true;
        }
      }
    }
    const std::string label =
        candidates.empty() ? "US-ASCII"
                           : candidates[static_cast<size_t>(preferred >= 0 ? preferred : 0)].name;
    d = {label, Evidence::ascii, 100, "no byte above 0x7F"};
    return true;
  }
  if (valid_utf8(content)) {
    d = {"UTF-8", Evidence::utf8, 100, ""};
    return true;
  }
  return false;
}

}  // namespace

FileAnalysis analyse_file(const std::vector<Candidate>& candidates, int preferred,
                          std::string_view content, const TreeDetector::Options& options) {
  FileAnalysis fa;
  if (special_form(candidates, preferred, content, fa)) {
    fa.decided = true;
    return fa;
  }
  const Excerpt ex = cut_excerpt(content, options.window);
  fa.tallies.resize(candidates.size());
  fa.standings.resize(candidates.size());
  std::vector<size_t> stops(candidates.size(), 0);
  bool any = false;
  std::u32string text;
  for (size_t i = 0; i < candidates.size(); ++i) {
    text.clear();
    const Decoded dec = decode_strict(ex.bytes, candidates[i].name, text);
    // A window cut inside a character leaves it incomplete: that is not the file's fault.
    const bool ok = dec.ok || (ex.truncated && dec.incomplete && dec.stop + 4 >= ex.bytes.size());
    stops[i] = dec.stop;
    Standing& st = fa.standings[i];
    st.viable = ok;
    if (!ok) continue;
    any = true;
    score_text(candidates[i].family, text, fa.tallies[i]);
    st.points = total_points(candidates[i].family, fa.tallies[i]);
    st.chars = fa.tallies[i].chars;
    st.signature = fnv1a(text);
  }
  if (!any) {
    fa.decided = true;
    fa.decision = {"", Evidence::undetected, 0,
                   undetected_reason(candidates, preferred, content, ex, stops)};
    return fa;
  }
  fa.own = choose(candidates, fa.standings, preferred);
  const std::string& name = candidates[static_cast<size_t>(fa.own.index)].name;
  if (fa.own.alone) {
    size_t viable = 0;
    for (const Standing& st : fa.standings) viable += st.viable ? 1 : 0;
    if (viable == 1) {
      fa.decided = true;
      fa.decision = {name, Evidence::only_decoder, fa.own.confidence,
                     "the only candidate that reads it"};
    }
  }
  if (!fa.decided && (fa.own.margin >= kOwnMargin || !options.pooling)) {
    fa.decided = true;
    fa.decision = {name, Evidence::file_statistics, fa.own.confidence, fa.own.note};
  }
  fa.excerpt = ex.bytes;
  return fa;
}

}  // namespace detect
