// File-level analysis: Unicode forms and 7-bit escapes, then the statistics of the candidates.
#include "detect/detect_file.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

#include "detect/detect_decode.h"
#include "detect/detect_excerpt.h"
#include "detect/detect_libs.h"
#include "detect/lang_model.h"
#include "util/i18n.h"
#include "util/strfmt.h"

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

std::string stop_text(const std::string& name, const LineColumn& lc) {
  return kestrum::strfmt(_("no candidate reads it: %s stops at line %llu, column %llu"),
                         name.c_str(), static_cast<unsigned long long>(lc.line),
                         static_cast<unsigned long long>(lc.column));
}

std::string undetected_reason(const std::vector<Candidate>& candidates, int preferred,
                              std::string_view content, const Excerpt& ex,
                              const std::vector<size_t>& stops) {
  // Important: the candidates may hold no legacy encoding at all (--from UTF-16 alone).
  if (candidates.empty()) return _("no candidate reads it: the candidates name no legacy encoding");
  const size_t who = preferred >= 0 ? static_cast<size_t>(preferred) : 0;
  const uint64_t at = ex.file_offset(stops[who]);
  const LineColumn lc = line_column(content, at);
  if (at >= content.size()) return stop_text(candidates[who].name, lc);
  return kestrum::strfmt(
      _("no candidate reads it: %s stops at line %llu, column %llu (byte 0x%02X)"),
      candidates[who].name.c_str(), static_cast<unsigned long long>(lc.line),
      static_cast<unsigned long long>(lc.column),
      static_cast<unsigned>(static_cast<unsigned char>(content[at])));
}

bool special_form(const std::vector<Candidate>& candidates, int preferred, std::string_view content,
                  FileAnalysis& fa) {
  Decision& d = fa.decision;
  if (const std::string wide = unmarked_wide(content); !wide.empty()) {
    d = {wide,
         Evidence::file_statistics,
         90,
         kestrum::strfmt(_("no byte-order mark; %s by its NUL bytes"), wide.c_str()),
         {}};
    return true;
  }
  if (!has_high_byte(content)) {
    if (const std::string form = iso2022_form(content); !form.empty()) {
      for (const Candidate& c : candidates) {
        std::u32string out;
        if (c.name.rfind(form, 0) == 0 &&
            decode_strict(content.substr(0, 1 << 16), c.name, out).ok) {
          d = {c.name,
               Evidence::file_statistics,
               95,
               kestrum::strfmt(_("escape sequences of %s"), c.name.c_str()),
               {}};
          return true;
        }
      }
      // Important: read as ASCII it would keep its escape sequences as text.
      d = {"",
           Evidence::undetected,
           0,
           kestrum::strfmt(_("escape sequences of %s, no candidate"), form.c_str()),
           {form}};
      return true;
    }
    const std::string label =
        candidates.empty() ? "US-ASCII"
                           : candidates[static_cast<size_t>(preferred >= 0 ? preferred : 0)].name;
    d = {label, Evidence::ascii, 100, _("no byte above 0x7F"), {}};
    return true;
  }
  if (valid_utf8(content)) {
    std::string sample;
    int legacy = -1;
    const Utf8Verdict verdict = utf8_verdict(content, candidates, &sample, &legacy);
    if (verdict == Utf8Verdict::toss_up) {
      d = utf8_toss_up(content, content, candidates[static_cast<size_t>(legacy)].name);
      return true;
    }
    if (verdict == Utf8Verdict::legacy) {
      fa.utf8_doubt =
          kestrum::strfmt(_("valid UTF-8, but it reads \u201C%s\u201D in UTF-8"), sample.c_str());
      return false;
    }
    d = {"UTF-8", Evidence::utf8, 100, "", {}};
    return true;
  }
  return false;
}

}  // namespace

namespace {

bool is_box(char32_t c) { return c >= 0x2500 && c <= 0x257F; }
bool is_bar(char32_t c) { return c == U'│' || c == U'║' || c == U'┃'; }
bool is_blank(char32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Line-drawing characters that draw a frame (a run of three alike, a corner or tee on such a
// run, an upright bar standing between blanks) become '-': a frame is no language's text, and a DOS
// file's box must not count against the code page that draws it.
// Important: only frames; a Russian word in capitals read as CP866 is box characters too, and
// must still be weighed as the nonsense it is.
void neutral_frames(char32_t* t, size_t n) {
  if (std::none_of(t, t + n, is_box)) return;
  thread_local std::vector<char> mark;
  mark.assign(n, 0);
  bool any = false;
  for (size_t i = 0; i + 2 < n; ++i)
    if (is_box(t[i]) && t[i + 1] == t[i] && t[i + 2] == t[i])
      mark[i] = mark[i + 1] = mark[i + 2] = 1, any = true;
  for (size_t i = 0; i < n; ++i) {
    if (!is_box(t[i]) || mark[i]) continue;
    const bool left_blank = i == 0 || is_blank(t[i - 1]);
    const bool right_blank = i + 1 == n || is_blank(t[i + 1]);
    const bool on_run = (i > 0 && mark[i - 1] == 1) || (i + 1 < n && mark[i + 1] == 1);
    if (on_run || (left_blank && right_blank && is_bar(t[i]))) mark[i] = 2, any = true;
  }
  if (!any) return;
  for (size_t i = 0; i < n; ++i)
    if (mark[i]) t[i] = U'-';
}

// Letters above ASCII in runs of three or more alike: no language writes "дддд", but a frame
// of ─ read through the wrong code page does.
constexpr double kRepeatPenalty = 4.0;
double repeated_letters(std::u32string_view t) {
  size_t count = 0;
  for (size_t i = 0; i < t.size();) {
    size_t j = i + 1;
    while (j < t.size() && t[j] == t[i]) ++j;
    if (j - i >= 3 && t[i] >= 0x80 && u_isalpha(static_cast<UChar32>(t[i]))) count += j - i;
    i = j;
  }
  return static_cast<double>(count);
}

// Per-language totals of one reading's text, kept while a file's candidates are weighed.
// Important: a language's total depends only on the text, so readings that give the same text
// (CP1252, ISO-8859-1 and ISO-8859-15 on most Western files) are scored once per language.
struct TextScores {
  uint64_t signature = 0;
  size_t length = 0;
  bool wide = false;
  uint32_t done = 0;  // the languages whose totals are in
  double chars = 0;
  double totals[kMaxLanguages] = {};
};

// Words of ASCII letters after a blank, on the lines holding a byte above ASCII (a trail byte's
// letter follows no blank).
// Counted to the end of the line where the excerpt stops (at most 120 bytes on), so they
// weigh against the characters it holds.
double ascii_words(std::string_view content, const Excerpt& ex) {
  if (ex.bytes.empty()) return 0;
  const size_t last = ex.file_offset(ex.bytes.size() - 1);
  content = content.substr(0, std::min(content.find('\n', last), last + 120));
  size_t words = 0, line_words = 0;
  bool high = false;
  for (size_t i = 0; i <= content.size(); ++i) {
    const char c = i < content.size() ? content[i] : '\n';
    if (c == '\n') {
      words += high ? line_words : 0;
      line_words = 0, high = false;
      continue;
    }
    if (static_cast<unsigned char>(c) >= 0x80) high = true;
    const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    const bool after_blank = i == 0 || content[i - 1] == ' ' || content[i - 1] == '\t';
    if (letter && after_blank && i + 1 < content.size() &&
        ((content[i + 1] | 0x20) >= 'a' && (content[i + 1] | 0x20) <= 'z'))
      ++line_words;
  }
  return static_cast<double>(words);
}

// The statistics of the best language the candidate serves; family weights where it serves none.
void score_candidate(const Candidate& c, std::u32string_view text, uint64_t signature, double words,
                     std::vector<TextScores>& scored, Tally& tally) {
  if (c.languages == 0) {
    score_text(c.family, text, tally);
    tally.points = total_points(c.family, tally);
    return;
  }
  const bool wide = c.family == Family::gb || c.family == Family::big5 ||
                    c.family == Family::japanese || c.family == Family::korean;
  auto it = std::find_if(scored.begin(), scored.end(), [&](const TextScores& t) {
    return t.signature == signature && t.length == text.size() && t.wide == wide;
  });
  if (it == scored.end()) {
    scored.emplace_back();
    it = scored.end() - 1;
    it->signature = signature, it->length = text.size(), it->wide = wide;
  }
  const LangModel& model = lang_model();
  // Important: a text an encoding of its own languages read alike is not weighed again by
  // every language of the script for one no language is written in (ISO-8859-14 on German).
  uint32_t want = c.languages;
  if (c.foreign && (want & it->done) != 0) want &= it->done;
  if (const uint32_t missing = want & ~it->done) {
    it->chars = static_cast<double>(model.score(text, missing, wide ? 2 : 1, it->totals));
    it->done |= missing;
  }
  tally.chars = it->chars;
  double best = -std::numeric_limits<double>::infinity();
  for (size_t l = 0; l < model.languages(); ++l)
    if (want >> l & 1) best = std::max(best, it->totals[l] + words * model.ascii_word(l));
  tally.points = best;
}

// Weighs every candidate over `ex`; false when none reads it.
bool weigh(const std::vector<Candidate>& candidates, const std::vector<char>& banned,
           const Excerpt& ex, double words, FileAnalysis& fa, std::vector<size_t>& stops) {
  fa.tallies.assign(candidates.size(), Tally{});
  fa.standings.assign(candidates.size(), Standing{});
  stops.assign(candidates.size(), 0);
  // Important: one buffer per thread, grown once; the detector's threads never share it.
  thread_local std::u32string buffer;
  if (buffer.size() < ex.bytes.size() + 16) buffer.resize(ex.bytes.size() + 16);
  thread_local std::vector<TextScores> scored;
  scored.clear();
  bool any = false;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (banned[i]) {
      fa.standings[i].viable = false;
      continue;
    }
    size_t made = 0;
    const Decoded dec =
        decode_into(ex.bytes, candidates[i].name, buffer.data(), buffer.size(), &made);
    // A window cut inside a character leaves it incomplete: that is not the file's fault.
    const bool ok = dec.ok || (ex.truncated && dec.incomplete && dec.stop + 4 >= ex.bytes.size());
    stops[i] = dec.stop;
    Standing& st = fa.standings[i];
    st.viable = ok;
    if (!ok) continue;
    any = true;
    const std::u32string_view text(buffer.data(), made);
    st.signature = fnv1a(text);
    neutral_frames(buffer.data(), made);
    const double repeats = repeated_letters(text);
    score_candidate(candidates[i], text, st.signature, words, scored, fa.tallies[i]);
    fa.tallies[i].points -= kRepeatPenalty * repeats;
    st.points = fa.tallies[i].points + candidates[i].prior;
    st.chars = fa.tallies[i].chars;
  }
  return any;
}

// The evidence window saw part of the file: the chosen reading must hold for all of it. One
// that fails drops out and the next best is tried, so a file gets its own best strict decoder.
bool verify_whole(const std::vector<Candidate>& candidates, int preferred, std::string_view content,
                  FileAnalysis& fa) {
  std::string first_failure;
  while (fa.own.index >= 0) {
    const auto i = static_cast<size_t>(fa.own.index);
    size_t stop = 0;
    if (check_strict(content, candidates[i].name, &stop)) return true;
    if (first_failure.empty()) {
      const LineColumn lc = line_column(content, stop);
      first_failure = stop_text(candidates[i].name, lc);
    }
    fa.standings[i].viable = false;
    fa.own = choose(candidates, fa.standings, preferred);
  }
  fa.decision.note = first_failure;
  return false;
}

// The best viable reading whose text differs from the chosen one; -1 when all read alike.
int rival_of(const FileAnalysis& fa) {
  int rival = -1;
  const auto own = static_cast<size_t>(fa.own.index);
  for (size_t i = 0; i < fa.standings.size(); ++i) {
    const Standing& st = fa.standings[i];
    if (!st.viable || st.signature == fa.standings[own].signature) continue;
    if (rival < 0 || st.points > fa.standings[static_cast<size_t>(rival)].points)
      rival = static_cast<int>(i);
  }
  return rival;
}

// True when candidates that read the first look alike with `chosen` read the wider window
// differently: the first look cannot choose among them.
// Important: ISO-8859-7 and CP1253 read a Greek text alike until its first capital Ά; the
// first look must not settle which of them it is.
bool group_parts_later(const std::vector<Candidate>& candidates, const FileAnalysis& fa, int chosen,
                       std::string_view content, size_t window) {
  if (chosen < 0) return false;
  const Standing& own = fa.standings[static_cast<size_t>(chosen)];
  std::vector<size_t> members;
  for (size_t i = 0; i < fa.standings.size(); ++i)
    if (fa.standings[i].viable && fa.standings[i].signature == own.signature) members.push_back(i);
  if (members.size() < 2) return false;
  const Excerpt wide = cut_excerpt(content, window);
  uint64_t first = 0;
  for (size_t k = 0; k < members.size(); ++k) {
    std::u32string text;
    const Decoded dec = decode_strict(wide.bytes, candidates[members[k]].name, text);
    if (!dec.ok && !dec.incomplete) return true;  // one of them fails later: weigh it all
    const uint64_t h = fnv1a(text);
    if (k > 0 && h != first) return true;
    first = h;
  }
  return false;
}

// The best reading of an encoding outside the candidates whose text no candidate reads, by its
// points without its prior.
void weigh_outsiders(const std::vector<Candidate>& outsiders, std::string_view content,
                     const Excerpt& ex, double words, FileAnalysis& fa) {
  std::vector<char> banned(outsiders.size(), 0);
  for (size_t i = 0; i < outsiders.size(); ++i)
    banned[i] = !outsiders[i].changes.empty() &&
                content.find_first_of(outsiders[i].changes) != std::string_view::npos;
  FileAnalysis out;
  std::vector<size_t> stops;
  if (!weigh(outsiders, banned, ex, words, out, stops)) return;
  for (size_t i = 0; i < outsiders.size(); ++i) {
    const Standing& st = out.standings[i];
    const double bare = st.points - outsiders[i].prior;
    if (!st.viable || (fa.outsider >= 0 && bare <= fa.outside_points)) continue;
    const bool candidate_reads =
        std::any_of(fa.standings.begin(), fa.standings.end(),
                    [&](const Standing& c) { return c.viable && c.signature == st.signature; });
    if (!candidate_reads) fa.outsider = static_cast<int>(i), fa.outside_points = bare;
  }
}

}  // namespace

bool outside_leads(const FileAnalysis& fa, double points) {
  return fa.outsider >= 0 && fa.outside_points - points >= kOutsideLead;
}

// "line 2: CP1252 reads “à la ligne”, CP1250 “ŕ la ligne”": where the two readings part,
// what a person needs to settle it.
std::string close_call_note(const std::vector<Candidate>& candidates, std::string_view content,
                            int first, int second) {
  const std::string& a = candidates[static_cast<size_t>(first)].name;
  const std::string& b = candidates[static_cast<size_t>(second)].name;
  std::string note = first_difference(content, a, b);
  if (note.empty())  // they part past the first 64 KiB
    note = kestrum::strfmt(_("%s reads \u201C%s\u201D, %s \u201C%s\u201D"), a.c_str(),
                           sample_line(content, a, 60).c_str(), b.c_str(),
                           sample_line(content, b, 60).c_str());
  return note;
}

namespace {

constexpr double kLibraryRange = 12.0;  // margins below this are close calls for the libraries

// Evidence read first; a file whose reading is plain by then is not read further.
constexpr size_t kFirstLook = 1024;
constexpr double kPlainMargin = 40.0;

}  // namespace

FileAnalysis analyse_file(const std::vector<Candidate>& candidates,
                          const std::vector<Candidate>& outsiders, int preferred,
                          std::string_view content, const TreeDetector::Options& options) {
  FileAnalysis fa;
  if (special_form(candidates, preferred, content, fa)) {
    fa.decided = true;
    return fa;
  }
  std::vector<size_t> stops;
  // A label that reads an ASCII byte of this file as another character is never its answer.
  std::vector<char> banned(candidates.size(), 0);
  for (size_t i = 0; i < candidates.size(); ++i)
    banned[i] = !candidates[i].changes.empty() &&
                content.find_first_of(candidates[i].changes) != std::string_view::npos;
  Excerpt ex = cut_excerpt(content, std::min(kFirstLook, options.window));
  double words = ascii_words(content, ex);
  bool any = weigh(candidates, banned, ex, words, fa, stops);
  if (ex.truncated && options.window > kFirstLook) {
    const Choice first = any ? choose(candidates, fa.standings, preferred) : Choice{};
    if (!any || first.alone || first.margin < kPlainMargin ||
        group_parts_later(candidates, fa, first.index, content, options.window)) {
      ex = cut_excerpt(content, options.window);
      words = ascii_words(content, ex);
      any = weigh(candidates, banned, ex, words, fa, stops);
    }
  }
  if (!any) {
    fa.decided = true;
    fa.decision = {"",
                   Evidence::undetected,
                   0,
                   undetected_reason(candidates, preferred, content, ex, stops),
                   {}};
    return fa;
  }
  fa.own = choose(candidates, fa.standings, preferred);
  if (ex.truncated && !verify_whole(candidates, preferred, content, fa)) {
    fa.decided = true;
    fa.decision = {"", Evidence::undetected, 0, fa.decision.note, {}};
    return fa;
  }
  if (fa.own.alone) {
    size_t viable = 0;
    for (const Standing& st : fa.standings) viable += st.viable ? 1 : 0;
    if (viable == 1) {
      fa.decided = true;
      fa.decision = {candidates[static_cast<size_t>(fa.own.index)].name,
                     Evidence::only_decoder,
                     fa.own.confidence,
                     _("the only candidate that reads it"),
                     {}};
    }
  }
  // A close call on the file's own statistics: the packaged detectors' answers on its text
  // count too (they are slow, so they are asked only here).
  if (!fa.decided && options.libraries && fa.own.margin < kLibraryRange) {
    const std::vector<double> votes = library_votes(ex.bytes, candidates);
    for (size_t i = 0; i < votes.size(); ++i) fa.standings[i].points += votes[i];
    fa.own = choose(candidates, fa.standings, preferred);
    // Important: the votes may raise a reading the window alone vouched for.
    if (ex.truncated && !verify_whole(candidates, preferred, content, fa)) {
      fa.decided = true;
      fa.decision = {"", Evidence::undetected, 0, fa.decision.note, {}};
      return fa;
    }
  }
  if (!fa.decided && fa.own.margin >= kOwnMargin) {
    fa.decided = true;
    // Important: named after the votes, which may have changed the choice.
    fa.decision = {candidates[static_cast<size_t>(fa.own.index)].name,
                   Evidence::file_statistics,
                   fa.own.confidence,
                   fa.own.note,
                   {}};
  }
  // Compared on their text alone: the priors rank the encodings the user listed.
  const Candidate& chosen = candidates[static_cast<size_t>(fa.own.index)];
  const double own_bare = fa.own.points - chosen.prior;
  // Important: only a reading that could be taken is weighed against them; the others are
  // refused or pooled anyway, and weighing every encoding of every file costs several times
  // the detection of a few candidates.
  if (!outsiders.empty() && plausible(chosen, fa.own.points, fa.own.chars) &&
      (fa.own.chars <= kOutsideChars || own_bare < kOutsidePlausible * fa.own.chars))
    weigh_outsiders(outsiders, content, ex, words, fa);
  if (fa.decided) {
    Decision& d = fa.decision;
    d.plausibility = fa.own.chars > 0 ? fa.own.points / fa.own.chars : 0;
    d.chars = fa.own.chars;
    d.lead = fa.own.margin;
    if (fa.outsider >= 0) d.outside = fa.outside_points - own_bare;
    d.confidence = reported_confidence(d.confidence, true);
    // Important: a clear lead among readings none of which is text is no answer (a Russian
    // file in ISO-8859-5 with Western candidates); its folder, or a refusal, settles it.
    if (!plausible(candidates[static_cast<size_t>(fa.own.index)], fa.own.points, fa.own.chars) ||
        outside_leads(fa, own_bare))
      fa.decided = false;
  }
  if (!fa.utf8_doubt.empty()) {
    std::string& note = fa.decided ? fa.decision.note : fa.own.note;
    note = note.empty() ? fa.utf8_doubt : fa.utf8_doubt + "; " + note;
  }
  if (!fa.decided) {
    fa.rival = rival_of(fa);
    const std::string& own = candidates[static_cast<size_t>(fa.own.index)].name;
    fa.close_call = fa.rival >= 0 ? close_call_note(candidates, content, fa.own.index, fa.rival)
                                  : first_difference(content, own, "");
    fa.readings = readings_apart(
        content, own, fa.rival >= 0 ? candidates[static_cast<size_t>(fa.rival)].name : "");
    if (outside_leads(fa, own_bare))
      fa.outside_note = close_call_note({candidates[static_cast<size_t>(fa.own.index)],
                                         outsiders[static_cast<size_t>(fa.outsider)]},
                                        content, 0, 1);
  }
  fa.excerpt = std::move(ex.bytes);
  return fa;
}

}  // namespace detect
