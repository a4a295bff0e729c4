// The tree detector: files decided on their own text, the rest pooled per folder, then upward
// to the tree, and each pooled file checked against the pool's choice.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>

#include "convert/detect.h"
#include "convert/detect_choice.h"
#include "convert/detect_file.h"
#include "convert/detect_libs.h"

namespace detect {
namespace {

constexpr double kOwnWeight = 64.0;     // a file decided alone counts as this many characters
constexpr double kFailPenalty = 30.0;   // points per pooled file a candidate cannot read
constexpr double kNodeMargin = 6.0;     // lead a folder's pool needs to stand on its own
constexpr size_t kPoolBytes = 4096;     // evidence bytes a folder keeps for the libraries
constexpr double kLibraryWeight = 4.0;  // points a full library vote is worth
constexpr double kLibraryRange = 12.0;  // margins below this are close calls for the libraries

struct Node {
  std::string path;
  int parent = -1;
  int depth = 0;
  std::vector<Tally> tally;  // per candidate
  std::vector<uint64_t> signature;
  std::vector<double> fails;
  size_t files = 0;
  std::string pool;  // evidence bytes for the libraries, bounded
  Choice choice;
  int resolved = -1;  // the node whose choice this folder's pooled files take
};

struct FileRecord {
  size_t id = 0;
  int node = 0;
  bool decided = false;
  Decision decision;
  std::vector<float> points;  // per candidate; NaN where it cannot read the file
  int own = -1;               // the file's own best reading
  float own_margin = 0;       // and its lead
  int own_confidence = 0;
};

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string clean_dir(std::string_view dir) {
  std::string d(dir);
  while (!d.empty() && d.back() == '/') d.pop_back();
  while (!d.empty() && d.front() == '/') d.erase(0, 1);
  return d;
}

}  // namespace

struct TreeDetector::State {
  std::vector<Candidate> candidates;
  std::vector<std::string> names;
  int preferred = -1;
  Options options;

  mutable std::mutex mutex;  // guards everything below
  std::unordered_map<std::string, int> node_of;
  std::vector<Node> nodes;
  std::vector<FileRecord> files;
  std::unordered_map<size_t, size_t> file_of;
  bool finished = false;
  std::string tree_encoding;

  int node_for(const std::string& dir);
  void merge(Node& node, const FileAnalysis& fa, double scale);
  Choice choose_node(Node& node);
  Decision decide_pooled(const FileRecord& f) const;
};

int TreeDetector::State::node_for(const std::string& dir) {
  if (auto it = node_of.find(dir); it != node_of.end()) return it->second;
  const int parent = dir.empty() ? -1 : node_for(parent_of(dir));
  Node n;
  n.path = dir;
  n.parent = parent;
  n.depth = parent < 0 ? 0 : nodes[static_cast<size_t>(parent)].depth + 1;
  n.tally.resize(candidates.size());
  n.signature.resize(candidates.size());
  n.fails.resize(candidates.size());
  nodes.push_back(std::move(n));
  const int index = static_cast<int>(nodes.size() - 1);
  node_of.emplace(dir, index);
  return index;
}

void TreeDetector::State::merge(Node& node, const FileAnalysis& fa, double scale) {
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Standing& st = fa.standings[i];
    if (st.viable) {
      node.tally[i].add(fa.tallies[i], scale);
      node.signature[i] += st.signature;
    } else {
      node.fails[i] += scale;
      node.signature[i] += 0x9E3779B97F4A7C15ull * (i + 1);
    }
  }
  ++node.files;
  if (node.pool.size() < kPoolBytes) {
    node.pool.append(fa.excerpt.substr(0, kPoolBytes - node.pool.size()));
    node.pool += '\n';
  }
}

Choice TreeDetector::State::choose_node(Node& node) {
  std::vector<Standing> s(candidates.size());
  for (size_t i = 0; i < s.size(); ++i) {
    s[i].points = total_points(candidates[i].family, node.tally[i]) - kFailPenalty * node.fails[i];
    s[i].chars = node.tally[i].chars;
    s[i].signature = node.signature[i];
  }
  Choice c = choose(candidates, s, preferred);
  // The libraries are slow next to the rest (ICU runs all its recognisers), so they are asked
  // only where the detector's own points leave a close call.
  if (!options.libraries || node.pool.empty() || c.margin >= kLibraryRange) return c;
  const std::vector<double> votes = library_votes(node.pool, candidates);
  for (size_t i = 0; i < s.size(); ++i) s[i].points += kLibraryWeight * votes[i];
  return choose(candidates, s, preferred);
}

Decision TreeDetector::State::decide_pooled(const FileRecord& f) const {
  const Node& home = nodes[static_cast<size_t>(f.node)];
  const Node& pool = nodes[static_cast<size_t>(home.resolved)];
  const int pick = pool.choice.index;
  const std::string where = pool.path.empty() ? "the tree" : pool.path;
  const std::string pooled = "pooled with " + std::to_string(pool.files) + " file" +
                             (pool.files == 1 ? "" : "s") + " in " + where;
  // A pool that barely leans one way does not outweigh a file that clearly leans another.
  const bool own_stronger = f.own >= 0 && f.own != pick &&
                            f.own_margin > std::max(pool.choice.margin, 0.0) + kPreferBonus;
  if (own_stronger && pick >= 0 && !std::isnan(f.points[static_cast<size_t>(pick)])) {
    return {candidates[static_cast<size_t>(f.own)].name, Evidence::file_statistics,
            f.own_confidence, "its own text outweighs the pool of " + where};
  }
  if (pick >= 0 && !std::isnan(f.points[static_cast<size_t>(pick)])) {
    int conf = pool.choice.confidence;
    if (f.own >= 0 && f.own != pick &&
        f.points[static_cast<size_t>(f.own)] > f.points[static_cast<size_t>(pick)] + kPreferBonus)
      conf = conf * 2 / 3;  // its own few characters point elsewhere
    std::string note = pooled;
    if (!pool.choice.note.empty()) note += "; " + pool.choice.note;
    return {candidates[static_cast<size_t>(pick)].name, Evidence::tree_statistics, conf, note};
  }
  // The pool's encoding cannot read it: its own best reading among those that can.
  const std::string other = pick >= 0 ? candidates[static_cast<size_t>(pick)].name : "the pool";
  return {candidates[static_cast<size_t>(f.own)].name, Evidence::file_statistics, 30,
          other + ", the encoding of " + where + ", cannot read it"};
}

TreeDetector::TreeDetector(std::vector<std::string> candidates, std::string preferred)
    : TreeDetector(std::move(candidates), std::move(preferred), Options{}) {}

TreeDetector::TreeDetector(std::vector<std::string> candidates, std::string preferred,
                           Options options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.options = options;
  for (const std::string& name : expand_candidates(candidates))
    if (!is_unicode_form(name)) s.names.push_back(name);
  const std::string pref = canonical_name(preferred);
  if (s.names.empty() && !pref.empty()) {
    // No candidates configured: the preset of the chosen encoding, else that encoding alone.
    if (const Preset* p = preset_of(pref)) s.names = p->encodings;
    if (std::find(s.names.begin(), s.names.end(), pref) == s.names.end() && !is_unicode_form(pref))
      s.names.push_back(pref);
  }
  for (const std::string& name : s.names) s.candidates.push_back({name, family_of(name), -1});
  for (size_t i = 0; i < s.names.size(); ++i) {
    const auto it = std::find(s.names.begin(), s.names.end(), wider_label(s.names[i]));
    if (it != s.names.end()) s.candidates[i].wide = static_cast<int>(it - s.names.begin());
    if (s.names[i] == pref) s.preferred = static_cast<int>(i);
  }
}

TreeDetector::~TreeDetector() = default;

const std::vector<std::string>& TreeDetector::candidates() const { return state_->names; }

void TreeDetector::add(size_t id, std::string_view relative_dir, std::string_view content) {
  State& s = *state_;
  // Important: the analysis reads only the immutable candidate list, so it runs unlocked.
  FileAnalysis fa = analyse_file(s.candidates, s.preferred, content, s.options);
  FileRecord rec;
  rec.id = id;
  rec.decided = fa.decided;
  rec.decision = std::move(fa.decision);
  rec.own = fa.own.index;
  rec.own_margin = static_cast<float>(std::min(fa.own.margin, 1e6));
  rec.own_confidence = fa.own.confidence;
  rec.points.reserve(fa.standings.size());
  for (const Standing& st : fa.standings)
    rec.points.push_back(st.viable ? static_cast<float>(st.points) : NAN);
  const std::string dir = clean_dir(relative_dir);

  std::lock_guard<std::mutex> lock(s.mutex);
  rec.node = s.node_for(dir);
  if (!fa.tallies.empty() && s.options.pooling) {
    // A file decided alone still tells its folder something, but no more than a few lines.
    const double chars =
        std::max(1.0, fa.tallies[static_cast<size_t>(fa.own.index >= 0 ? fa.own.index : 0)].chars);
    s.merge(s.nodes[static_cast<size_t>(rec.node)], fa,
            rec.decided ? std::min(1.0, kOwnWeight / chars) : 1.0);
  }
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
  if (s.nodes.empty()) return;
  // Subtree sums, deepest folders first.
  std::vector<int> order(s.nodes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::sort(order.begin(), order.end(), [&s](int a, int b) {
    return s.nodes[static_cast<size_t>(a)].depth > s.nodes[static_cast<size_t>(b)].depth;
  });
  for (int i : order) {
    Node& n = s.nodes[static_cast<size_t>(i)];
    if (n.parent < 0) continue;
    Node& p = s.nodes[static_cast<size_t>(n.parent)];
    for (size_t c = 0; c < s.candidates.size(); ++c) {
      p.tally[c].add(n.tally[c]);
      p.signature[c] += n.signature[c];
      p.fails[c] += n.fails[c];
    }
    p.files += n.files;
    if (p.pool.size() < kPoolBytes) p.pool.append(n.pool.substr(0, kPoolBytes - p.pool.size()));
  }
  // Each folder takes the nearest pool, itself first, whose lead is clear; the tree's last.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    Node& n = s.nodes[static_cast<size_t>(*it)];
    if (n.files == 0) continue;
    n.choice = s.choose_node(n);
    const bool clear = n.choice.index >= 0 && n.choice.margin >= kNodeMargin;
    n.resolved = clear || n.parent < 0 ? *it : s.nodes[static_cast<size_t>(n.parent)].resolved;
  }
  const Node& root = s.nodes[static_cast<size_t>(s.node_of.at(""))];
  if (root.choice.index >= 0)
    s.tree_encoding = s.candidates[static_cast<size_t>(root.choice.index)].name;
  for (FileRecord& f : s.files)
    if (!f.decided) {
      f.decision = s.decide_pooled(f);
      f.decided = true;
    }
}

Decision TreeDetector::decision(size_t id) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = s.file_of.find(id);
  if (it == s.file_of.end()) return {"", Evidence::undetected, 0, "not added to the detector"};
  const FileRecord& f = s.files[it->second];
  if (!f.decided) return {"", Evidence::undetected, 0, "the tree is not finished yet"};
  return f.decision;
}

std::string TreeDetector::tree_encoding() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->tree_encoding;
}

}  // namespace detect
