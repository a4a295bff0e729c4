// The tree detector: files decided on their own text; a file with too little text is helped by
// the files of its own folder whose readings agree with its plausible ones, and a close call
// nothing separates is ambiguous.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include "detect/detect.h"
#include "detect/detect_choice.h"
#include "detect/detect_file.h"
#include "detect/detect_libs.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace detect {
namespace {

constexpr double kOwnWeight = 64.0;    // a file decided alone counts as this many characters
constexpr double kFailPenalty = 30.0;  // points per pooled file a candidate cannot read
constexpr double kPoolMargin = 6.0;    // lead a pool needs to decide a weak file
// Readings this close to a file's best are the ones a pool may choose among; a file's lead
// beyond it is never overturned by its neighbours.
constexpr double kPoolRange = 6.0;
constexpr size_t kPoolBytes = 4096;  // evidence bytes a folder keeps for the libraries

struct FileRecord {
  size_t id = 0;
  int folder = 0;
  bool decided = false;
  Decision decision;
  std::vector<float> points;  // per candidate; NaN where it cannot read the file
  std::vector<float> chars;   // per candidate, the characters behind the points
  std::vector<uint64_t> signature;
  double scale = 1.0;  // its weight in its folder's pool
  int own = -1;        // the file's own best reading
  int rival = -1;      // and the best that reads differently
  double own_margin = 0;
  double own_points = 0, own_chars = 0;  // of the own reading's text
  int own_confidence = 0;
  std::string own_note;
  std::string close_call, readings;
  uint64_t plausible = 0;
  bool utf8_doubted = false;  // valid UTF-8 set aside: its legacy reading must be clear
  // The best reading of an encoding outside the candidates that no candidate reads alike.
  std::string outsider;
  double outside_points = 0;
  std::string outside_note;
};

bool outside_leads(const FileRecord& f, double points) {
  return !f.outsider.empty() && f.outside_points - points >= kOutsideLead;
}

// Files of one folder that share their own choice and their set of plausible readings.
struct Kind {
  int own = -1;
  uint64_t plausible = 0;      // bit i: candidate i reads it within kPoolRange of its best
  std::vector<double> points;  // per candidate, summed
  std::vector<double> fails;   // per candidate, files it cannot read
  std::vector<double> chars;   // per candidate, summed
  size_t files = 0;
};

struct Folder {
  std::string path;
  std::vector<Kind> kinds;
  std::string pool;  // evidence bytes for the libraries, bounded
};

std::string clean_dir(std::string_view dir) {
  std::string d(dir);
  while (!d.empty() && d.back() == '/') d.pop_back();
  while (!d.empty() && d.front() == '/') d.erase(0, 1);
  return d;
}

bool viable(const FileRecord& f, size_t i) { return !std::isnan(f.points[i]); }

// Bit i set: candidate i reads the file within kPoolRange of its best reading. Candidates past
// the 64th count as plausible, which only widens a pool.
uint64_t plausible_set(const FileRecord& f) {
  uint64_t mask = 0;
  // The best reading of the file's own text, whichever label of it carries the name.
  double best = f.points[static_cast<size_t>(f.own)];
  for (size_t i = 0; i < f.points.size(); ++i)
    if (viable(f, i) && f.signature[i] == f.signature[static_cast<size_t>(f.own)])
      best = std::max(best, static_cast<double>(f.points[i]));
  for (size_t i = 0; i < f.points.size(); ++i)
    if (i >= 64 || (viable(f, i) && f.points[i] >= best - kPoolRange))
      mask |= i < 64 ? uint64_t{1} << i : 0;
  return mask;
}

bool has(uint64_t mask, int i) { return i >= 64 || (mask >> i & 1) != 0; }

// Every preset's encodings as candidates (a narrow label as its wider one).
// Important: made once; a repair builds a detector per file, and making a candidate looks its
// name up in every table.
const std::vector<Candidate>& preset_candidates() {
  static const std::vector<Candidate> every = [] {
    std::vector<Candidate> all;
    for (const Preset& p : presets())
      for (const std::string& name : p.encodings) {
        const std::string wide = keeps_ascii(name) ? "" : wider_label(name);
        const std::string kept = wide.empty() ? name : wide;
        const auto is_kept = [&kept](const Candidate& c) { return c.name == kept; };
        if (std::none_of(all.begin(), all.end(), is_kept)) all.push_back(make_candidate(kept));
      }
    return all;
  }();
  return every;
}

Candidate candidate_for(const std::string& name) {
  for (const Candidate& c : preset_candidates())
    if (c.name == name) return c;
  return make_candidate(name);
}

// Every preset's encodings that are not among `names`.
std::vector<Candidate> outsiders_of(const std::vector<std::string>& names) {
  std::vector<Candidate> out;
  for (const Candidate& c : preset_candidates())
    if (std::find(names.begin(), names.end(), c.name) == names.end()) out.push_back(c);
  return out;
}

}  // namespace

struct TreeDetector::State {
  std::vector<Candidate> candidates;
  std::vector<Candidate> outsiders;  // every preset's other encodings, weighed only to refuse
  std::vector<std::string> names;
  int preferred = -1;
  Options options;

  mutable std::mutex mutex;  // guards everything below
  std::unordered_map<std::string, int> folder_of;
  std::vector<Folder> folders;
  std::vector<FileRecord> files;
  std::unordered_map<size_t, size_t> file_of;
  bool finished = false;

  int folder_for(const std::string& dir);
  void count(const FileRecord& f, const FileAnalysis& fa);
  Decision decide_weak(const FileRecord& f) const;
  Decision decide_alone(const FileRecord& f, bool vouched = false) const;
  Decision unsure(const FileRecord& f, Decision taken, bool implausible, bool outside) const;
};

int TreeDetector::State::folder_for(const std::string& dir) {
  if (auto it = folder_of.find(dir); it != folder_of.end()) return it->second;
  Folder folder;
  folder.path = dir;
  folders.push_back(std::move(folder));
  folder_of.emplace(dir, static_cast<int>(folders.size() - 1));
  return static_cast<int>(folders.size() - 1);
}

void TreeDetector::State::count(const FileRecord& f, const FileAnalysis& fa) {
  if (f.own < 0) return;
  Folder& folder = folders[static_cast<size_t>(f.folder)];
  Kind* kind = nullptr;
  for (Kind& k : folder.kinds)
    if (k.own == f.own && k.plausible == f.plausible) kind = &k;
  if (!kind) {
    const std::vector<double> zero(candidates.size(), 0.0);
    folder.kinds.push_back({f.own, f.plausible, zero, zero, zero, 0});
    kind = &folder.kinds.back();
  }
  for (size_t i = 0; i < candidates.size(); ++i) {
    kind->chars[i] += f.scale * f.chars[i];
    if (viable(f, i))
      kind->points[i] += f.scale * f.points[i];
    else
      kind->fails[i] += f.scale;
  }
  ++kind->files;
  if (folder.pool.size() < kPoolBytes) {
    folder.pool.append(fa.excerpt.substr(0, kPoolBytes - folder.pool.size()));
    folder.pool += '\n';
  }
}

// Its own reading; ambiguous when it barely leads a reading of other text, undetected when
// no reading is plausible text or an encoding outside the candidates reads it better (unless
// the folder's plausible pool `vouched` for it). The
// preferred encoding settles a close call only when the file's own text puts it ahead: a bonus
// alone (a two-byte file read either way) is no evidence.
Decision TreeDetector::State::decide_alone(const FileRecord& f, bool vouched) const {
  const std::string& name = candidates[static_cast<size_t>(f.own)].name;
  const bool preferred_leads = f.own == preferred && f.own_margin > 0;
  Decision d{name, Evidence::file_statistics, f.own_confidence, f.own_note, {}};
  d.plausibility = f.own_chars > 0 ? f.own_points / f.own_chars : 0;
  d.chars = f.own_chars, d.lead = f.own_margin;
  const double own_bare = f.own_points - candidates[static_cast<size_t>(f.own)].prior;
  if (!f.outsider.empty()) d.outside = f.outside_points - own_bare;
  // Important: valid UTF-8 read as legacy text on a close call would be a guess written over
  // what may be right; such a file needs a clearer lead.
  const double margin = f.utf8_doubted ? kDoubtedMargin : kAmbiguousMargin;
  const bool close = f.rival >= 0 && f.own_margin < margin && !preferred_leads;
  const bool implausible =
      !vouched && !plausible(candidates[static_cast<size_t>(f.own)], f.own_points, f.own_chars);
  const bool outside = !vouched && outside_leads(f, own_bare);
  if (!close && !implausible && !outside) {
    d.confidence = reported_confidence(d.confidence, true);
    return d;
  }
  return unsure(f, std::move(d), implausible, outside);
}

// A reading below the line: refused (kept as it is) or, when unsure readings are accepted,
// taken as a guess; either way the note shows where the best two readings part.
// Important: a reading of an encoding the user did not list that is clearly better text refuses
// the file even where the candidates' own reading is plausible (Lithuanian ų read as Czech ů).
Decision TreeDetector::State::unsure(const FileRecord& f, Decision taken, bool implausible,
                                     bool outside) const {
  taken.confidence = reported_confidence(taken.confidence, false);
  taken.readings = f.readings;
  taken.rivals = {taken.encoding};
  if (f.rival >= 0) taken.rivals.push_back(candidates[static_cast<size_t>(f.rival)].name);
  const std::string why =
      outside       ? kestrum::strfmt(_("it reads better as %s, which is not a candidate"),
                                      f.outsider.c_str())
      : implausible ? _("no candidate reads it as plausible text")
                    : "";
  const std::string& call = outside && !f.outside_note.empty() ? f.outside_note : f.close_call;
  if (options.accept_unsure) {
    taken.guess = true;
    taken.note = kestrum::strfmt(_("guess: %s; %s"), why.empty() ? _("a close call") : why.c_str(),
                                 call.c_str());
    return taken;
  }
  taken.encoding.clear();
  taken.evidence = implausible || outside ? Evidence::undetected : Evidence::ambiguous;
  taken.note = why.empty() ? call : why + ": " + call;
  return taken;
}

// A file too short to decide alone: the files of its folder that agree with it (each one's
// own choice is a plausible reading of the other) pool their points, and the pool chooses
// among this file's plausible readings only.
// Important: files of the folder that read it otherwise are left out, so a folder of mixed
// encodings cannot pull a file to an encoding its own text does not support.
Decision TreeDetector::State::decide_weak(const FileRecord& f) const {
  const Folder& folder = folders[static_cast<size_t>(f.folder)];
  const size_t n = candidates.size();
  std::vector<Standing> s(n);
  size_t members = 0;
  for (const Kind& k : folder.kinds) {
    if (!has(f.plausible, k.own) || !has(k.plausible, f.own)) continue;
    members += k.files;
    for (size_t i = 0; i < n; ++i) {
      s[i].points += k.points[i] - kFailPenalty * k.fails[i];
      s[i].chars += k.chars[i];
    }
  }
  for (size_t i = 0; i < n; ++i) {
    s[i].viable = viable(f, i) && has(f.plausible, static_cast<int>(i));
    s[i].signature = f.signature[i];
  }
  if (members <= 1) return decide_alone(f);
  Choice c = choose(candidates, s, preferred);
  if (options.libraries && !folder.pool.empty() && c.margin < kPoolMargin) {
    const std::vector<double> votes = library_votes(folder.pool, candidates);
    for (size_t i = 0; i < n; ++i) s[i].points += votes[i];
    c = choose(candidates, s, preferred);
  }
  // Important: a pool of files none of which reads as text decides none of them. Files that
  // agree outweigh a reading outside the candidates: that test is the lone file's own.
  if (c.index < 0 || c.margin < kPoolMargin ||
      !plausible(candidates[static_cast<size_t>(c.index)], c.points, c.chars))
    return decide_alone(f);
  const std::string where = folder.path.empty() ? _("the top folder") : folder.path;
  // Its own text already chose this reading clearly enough: the folder only agrees.
  if (f.own_margin >= kAmbiguousMargin &&
      f.signature[static_cast<size_t>(c.index)] == f.signature[static_cast<size_t>(f.own)]) {
    Decision own = decide_alone(f, true);
    own.note += std::string(own.note.empty() ? "" : "; ") +
                kestrum::strfmt(_("the files of %s that read alike agree"), where.c_str());
    return own;
  }
  std::string note = kestrum::strfmt(P_("pooled with %zu file of %s that read alike",
                                        "pooled with %zu files of %s that read alike", members - 1),
                                     members - 1, where.c_str());
  if (!c.note.empty()) note += "; " + c.note;
  Decision d{candidates[static_cast<size_t>(c.index)].name,
             Evidence::tree_statistics,
             reported_confidence(std::min(c.confidence, 90), true),
             note,
             {}};
  d.plausibility = c.chars > 0 ? c.points / c.chars : 0, d.chars = c.chars, d.lead = c.margin;
  return d;
}

TreeDetector::TreeDetector(std::vector<std::string> candidates, std::string preferred)
    : TreeDetector(std::move(candidates), std::move(preferred), Options{}) {}

TreeDetector::TreeDetector(std::vector<std::string> candidates, std::string preferred,
                           Options options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.options = options;
  std::vector<std::string> listed;
  for (const std::string& name : expand_candidates(candidates))
    if (!is_unicode_form(name)) listed.push_back(name);
  std::string pref = canonical_name(preferred);
  if (listed.empty() && !pref.empty()) {
    // No candidates configured: the preset of the chosen encoding, else that encoding alone.
    if (const Preset* p = preset_of(pref)) listed = p->encodings;
    if (std::find(listed.begin(), listed.end(), pref) == listed.end() && !is_unicode_form(pref))
      listed.push_back(pref);
  }
  // Important: detection never names a label that turns an ASCII byte into another character
  // (SHIFT_JIS reads \ as ¥): its wider label stands in; one with no wider label (JOHAB reads
  // \ as ₩) is weighed only on files holding none of the bytes it changes (analyse_file).
  for (const std::string& name : listed) {
    const std::string wide = keeps_ascii(name) ? "" : wider_label(name);
    const std::string kept = wide.empty() ? name : wide;
    if (!kept.empty() && std::find(s.names.begin(), s.names.end(), kept) == s.names.end())
      s.names.push_back(kept);
  }
  if (!keeps_ascii(pref)) pref = wider_label(pref);
  for (const std::string& name : s.names) s.candidates.push_back(candidate_for(name));
  std::vector<std::string> inside = s.names;
  for (const std::string& name : expand_candidates(s.options.listed)) {
    inside.push_back(name);
    inside.push_back(wider_label(name));
  }
  s.outsiders = outsiders_of(inside);
  for (size_t i = 0; i < s.names.size(); ++i) {
    const auto it = std::find(s.names.begin(), s.names.end(), wider_label(s.names[i]));
    if (it != s.names.end()) s.candidates[i].wide = static_cast<int>(it - s.names.begin());
    if (s.names[i] == pref) s.preferred = static_cast<int>(i);
  }
}

TreeDetector::~TreeDetector() = default;

const std::vector<std::string>& TreeDetector::candidates() const { return state_->names; }

bool TreeDetector::doubts_utf8(std::string_view content) const {
  return utf8_verdict(content, state_->candidates, nullptr, nullptr) != Utf8Verdict::utf8;
}

void TreeDetector::add(size_t id, std::string_view relative_dir, std::string_view content) {
  State& s = *state_;
  // Important: the analysis reads only the immutable candidate list, so it runs unlocked.
  FileAnalysis fa = analyse_file(s.candidates, s.outsiders, s.preferred, content, s.options);
  FileRecord rec;
  rec.id = id;
  rec.decided = fa.decided;
  rec.decision = std::move(fa.decision);
  rec.own = fa.own.index;
  rec.rival = fa.rival;
  rec.own_margin = fa.own.margin;
  rec.own_points = fa.own.points;
  rec.own_chars = fa.own.chars;
  rec.own_confidence = fa.own.confidence;
  rec.own_note = fa.own.note;
  rec.close_call = std::move(fa.close_call);
  rec.readings = std::move(fa.readings);
  rec.utf8_doubted = !fa.utf8_doubt.empty();
  if (fa.outsider >= 0) {
    rec.outsider = s.outsiders[static_cast<size_t>(fa.outsider)].name;
    rec.outside_points = fa.outside_points;
    rec.outside_note = std::move(fa.outside_note);
  }
  rec.points.reserve(fa.standings.size());
  for (const Standing& st : fa.standings) {
    rec.points.push_back(st.viable ? static_cast<float>(st.points) : NAN);
    rec.chars.push_back(static_cast<float>(st.chars));
    rec.signature.push_back(st.signature);
  }
  if (rec.own >= 0) rec.plausible = plausible_set(rec);
  if (!fa.tallies.empty() && rec.own >= 0) {
    // A file decided alone still tells its folder something, but no more than a few lines.
    const double chars = std::max(1.0, fa.tallies[static_cast<size_t>(rec.own)].chars);
    rec.scale = rec.decided ? std::min(1.0, kOwnWeight / chars) : 1.0;
  }
  const std::string dir = clean_dir(relative_dir);

  std::lock_guard<std::mutex> lock(s.mutex);
  rec.folder = s.folder_for(dir);
  if (!rec.points.empty() && s.options.pooling) s.count(rec, fa);
  if (auto it = s.file_of.find(id); it != s.file_of.end()) {
    s.files[it->second] = std::move(rec);  // the same id again: the later content counts
  } else {
    s.file_of.emplace(id, s.files.size());
    s.files.push_back(std::move(rec));
  }
}

void TreeDetector::finish() {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.finished) return;
  s.finished = true;
  for (FileRecord& f : s.files) {
    if (f.decided) continue;
    f.decision = s.options.pooling ? s.decide_weak(f) : s.decide_alone(f);
    f.decided = true;
  }
}

Decision TreeDetector::decision(size_t id) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = s.file_of.find(id);
  if (it == s.file_of.end())
    return {"", Evidence::undetected, 0, _("not added to the detector"), {}};
  const FileRecord& f = s.files[it->second];
  if (!f.decided) return {"", Evidence::undetected, 0, _("the tree is not finished yet"), {}};
  return f.decision;
}

}  // namespace detect
