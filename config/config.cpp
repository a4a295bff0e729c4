// Settings file: per-key fallbacks on load, in-place update and safe replace on save.
#include "config/config.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "config/rules_yaml.h"
#include "config/settings_aside.h"
#include "config/yaml_quotes.h"
#include "config/yaml_text.h"
#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/sys_io.h"
#include "util/encoding_lookup.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr const char* kDefaultFilters[] = {"*.cpp;*.h;*.c;*.hpp;*.lua", "*.xml;*.json;*.yml",
                                           "*.*"};
// The keys the settings live under, in the order loading looks them up. Those from kThreads
// on are optional: absent from a new file, written only once they hold something other
// than their default or the file already had them.
constexpr const char* kKeys[] = {
    "input",   "output",       "filters",       "filter-index", "from",      "to",
    "threads", "detect",       "candidates",    "eol",          "repair",    "bom",
    "rules",   "editorconfig", "accept-unsure", "undo",         "undo-runs", "undo-megabytes"};
enum Key {
  kInput,
  kOutput,
  kFilters,
  kFilterIndex,
  kFrom,
  kTo,
  kThreads,
  kDetect,
  kCandidates,
  kEol,
  kRepair,
  kBom,
  kRules,
  kEditorconfig,
  kAcceptUnsure,
  kUndo,
  kUndoRuns,
  kUndoMegabytes,
  kKeyCount
};
constexpr int32_t kMaxThreads = 256;
constexpr double kMinScale = 0.5, kMaxScale = 5.0;
constexpr int32_t kDefaultUndoRuns = 10;
constexpr int64_t kDefaultUndoMegabytes = 1024;

// A scalar's text; "null" for a null; `fallback` when missing or a collection.
std::string text_or(const YAML::Node& value, const char* fallback) {
  if (value.IsScalar()) return value.Scalar();
  if (value.IsNull()) return "null";
  return fallback;
}

void read_filters(ConvertConfig& cfg, const YAML::Node& value) {
  if (value.IsSequence()) {
    cfg.filters.clear();
    for (const auto& element : value) {
      std::string f = text_or(element, "");
      if (!f.empty()) cfg.filters.push_back(std::move(f));
    }
  }
  if (cfg.filters.empty())
    cfg.filters.assign(std::begin(kDefaultFilters), std::end(kDefaultFilters));
}

// The position of the entry `name` stands for (find_encoding), or the number of entries.
int32_t found_index(const EncodingList& encodings, const std::string& name) {
  const EncodingEntry* e = find_encoding(encodings, name);
  return e ? static_cast<int32_t>(e - encodings.data()) : static_cast<int32_t>(encodings.size());
}

// What loading and saving work on.
struct Settings {
  ConvertConfig& cfg;
  const EncodingList& encodings;
  std::vector<std::string>* diagnostics = nullptr;  // loading: what was read but not taken
  std::vector<std::string>* fallbacks = nullptr;    // loading: names replaced by a fallback
};

bool repeated(const YAML::Node& doc, const char* key) {
  int seen = 0;
  for (auto it = doc.begin(); it != doc.end() && seen < 2; ++it)
    seen += it->first.IsScalar() && it->first.Scalar() == key ? 1 : 0;
  return seen > 1;
}

// "from names no encoding of the From list: "X"", in the user's language.
std::string no_encoding_text(const char* key, const char* list, const std::string& name) {
  return kestrum::strfmt(_("%s names no encoding of %s: \"%s\""), key, _(list), name.c_str());
}

// Why the value of `key` names no encoding of `list`, or empty when it names one (`index`).
std::string unread_encoding(const Settings& s, const char* key, const YAML::Node& value,
                            const char* list, int32_t& index) {
  // Translators: the first word is the settings file's key (from, to); it stays.
  using kestrum::strfmt;
  if (repeated(s.cfg.document, key)) return strfmt(_("%s is given more than once"), key);
  if (value.IsNull() || (value.IsScalar() && value.Scalar().empty()))
    return strfmt(_("%s is empty"), key);
  if (!value.IsScalar())
    return strfmt(_("%s holds a list or a mapping, not one encoding name"), key);
  index = found_index(s.encodings, value.Scalar());
  if (index < static_cast<int32_t>(s.encodings.size())) return {};
  return no_encoding_text(key, list, value.Scalar());
}

// The index `key` names. Important: only a missing key takes the fallback unsaid; anything else
// the file holds that names no encoding is said, so that a run never takes the fallback
// unseen, and kept as written by a save (`unread`).
int32_t read_encoding(const Settings& s, const char* key, const char* list, const char* missing,
                      const char* fallback, ConvertConfig::Unread& unread) {
  unread = {};
  const auto names = static_cast<int32_t>(s.encodings.size());
  const auto say = [&](const std::string& why, int32_t used) {
    if (s.fallbacks == nullptr) return;
    const bool listed = used >= 0 && used < names;
    s.fallbacks->push_back(
        kestrum::strfmt(_("%s; %s is used"), why.c_str(),
                        listed ? s.encodings[static_cast<size_t>(used)].name.c_str() : _("none")));
  };
  const YAML::Node value = s.cfg.document[key];
  if (!value.IsDefined()) {
    const int32_t index = found_index(s.encodings, missing);
    if (index == names) say(no_encoding_text(key, list, missing), index);
    return index;
  }
  const int32_t fallback_index = index_of(s.encodings, fallback);
  int32_t index = fallback_index;
  unread.why = unread_encoding(s, key, value, list, index);
  if (unread.why.empty()) return index;
  unread.index = fallback_index;
  say(unread.why, fallback_index);
  return fallback_index;
}

// Important: looked up through a const node, since `scale` is no key a save writes and the
// non-const subscript would add it to the document.
void read_scale(ConvertConfig& cfg, const YAML::Node& doc, std::vector<std::string>* fallbacks) {
  cfg.scale = 0.0;
  const YAML::Node value = doc["scale"];
  if (!value.IsDefined() || value.IsNull()) return;
  const double scale = value.as<double>(-1.0);
  if (scale == 0.0 || (scale >= kMinScale && scale <= kMaxScale)) {
    cfg.scale = scale;
  } else if (fallbacks) {
    fallbacks->push_back(kestrum::strfmt(
        _("scale takes a number from 0.5 to 5 (0: the desktop's), not \"%s\"; the desktop's is "
          "used"),
        value.IsScalar() ? value.Scalar().c_str() : _("a collection")));
  }
}

void read_options(ConvertConfig& cfg, YAML::Node& doc, std::vector<std::string>* fallbacks) {
  const int32_t threads = doc[kKeys[kThreads]].as<int32_t>(0);
  cfg.threads = threads < 0 || threads > kMaxThreads ? 0 : threads;
  cfg.detect = doc[kKeys[kDetect]].as<bool>(false);
  cfg.repair = doc[kKeys[kRepair]].as<bool>(false);
  cfg.editorconfig = doc[kKeys[kEditorconfig]].as<bool>(false);
  cfg.accept_unsure = doc[kKeys[kAcceptUnsure]].as<bool>(false);
  cfg.undo = doc[kKeys[kUndo]].as<bool>(true);
  const int32_t runs = doc[kKeys[kUndoRuns]].as<int32_t>(kDefaultUndoRuns);
  cfg.undo_runs = runs < 1 || runs > 1000 ? kDefaultUndoRuns : runs;
  const int64_t megabytes = doc[kKeys[kUndoMegabytes]].as<int64_t>(kDefaultUndoMegabytes);
  cfg.undo_megabytes =
      megabytes < 1 || megabytes > (int64_t{1} << 40) ? kDefaultUndoMegabytes : megabytes;
  cfg.candidates.clear();
  const YAML::Node list = doc[kKeys[kCandidates]];
  if (list.IsSequence())
    for (const auto& element : list)
      if (element.IsScalar() && !element.Scalar().empty())
        cfg.candidates.push_back(element.Scalar());
  cfg.eol = EolMode::keep;
  const YAML::Node eol = doc[kKeys[kEol]];
  if (eol.IsScalar() && !parse_eol_mode(eol.Scalar(), cfg.eol) && fallbacks)
    fallbacks->push_back(kestrum::strfmt(_("eol takes keep, lf or crlf, not \"%s\"; keep is used"),
                                         eol.Scalar().c_str()));
  read_scale(cfg, doc, fallbacks);
  cfg.bom = kDefaultBom;
  const YAML::Node bom = doc[kKeys[kBom]];
  if (bom.IsScalar() && !parse_bom_mode(bom.Scalar(), cfg.bom) && fallbacks)
    fallbacks->push_back(kestrum::strfmt(_("bom takes keep, add or remove, not \"%s\"; %s is used"),
                                         bom.Scalar().c_str(),
                                         std::string(bom_mode_name(kDefaultBom)).c_str()));
}

// Important: the non-const subscript turns a null or sequence document into a mapping and adds
// a valueless entry for each missing key; such entries are never written (see
// settings_document for where a save puts those keys).
void read_settings(Settings& s) {
  ConvertConfig& cfg = s.cfg;
  YAML::Node& doc = cfg.document;
  cfg.input = text_or(doc[kKeys[kInput]], "");
  cfg.output = text_or(doc[kKeys[kOutput]], kDefaultOutputDir);
  cfg.filters.clear();
  read_filters(cfg, doc[kKeys[kFilters]]);
  const int32_t index = doc[kKeys[kFilterIndex]].as<int32_t>(0);
  const auto count = static_cast<int32_t>(cfg.filters.size());
  cfg.filter_index = index < 0 || index >= count ? 0 : index;
  // Names as the command line reads them ("big5", "utf8"), so both take a file alike.
  cfg.from_index =
      read_encoding(s, kKeys[kFrom], N_("the From list"), "GBK", "GBK", cfg.from_unread);
  cfg.to_index = read_encoding(s, kKeys[kTo], N_("the To list"), "UTF-8", "UTF8", cfg.to_unread);
  read_options(cfg, doc, s.fallbacks);
  std::vector<std::string> dropped;
  cfg.rules = read_rules(doc[kKeys[kRules]], s.encodings, s.diagnostics ? *s.diagnostics : dropped);
}

// The parsed file, the default document when there is no file, or null with `problem` set.
YAML::Node read_document(ConvertConfig& cfg, ConfigProblem& problem) {
  const std::string& path = cfg.path;
  struct stat st;
  if (platform::sysio().stat(path.c_str(), &st) != 0) {
    // Important: only a missing file gets the defaults; they are written over `path`, and a
    // file that failed to stat for another reason is still the user's.
    if (errno == ENOENT) return YAML::Load(make_default_config(path));
    problem.error = errno;
    problem.why = errno_text(problem.error);
    cfg.unreadable = fsutil::full_path(path).value_or(path);
    return YAML::Node();
  }
  if (S_ISDIR(st.st_mode)) return YAML::Load(make_default_config(path));
  if (!S_ISREG(st.st_mode)) {
    // A FIFO or device would block the start or never end.
    problem.error = EINVAL;
    problem.why = _("not a regular file");
    return YAML::Node();
  }
  std::string text;
  // Important: refused before it is read; a parse of tens of megabytes takes gigabytes and
  // half a minute, and no settings file comes near this.
  constexpr uint64_t kMaxSettingsBytes = uint64_t{1} << 20;
  if (const platform::Status read = platform::read_file(path, text, kMaxSettingsBytes); !read) {
    const int err = read.err();
    const std::string why =
        err == EFBIG ? _("larger than 1 MiB, too big for a settings file") : errno_text(err);
    problem.error = err;
    problem.why = why;
    cfg.unreadable = fsutil::full_path(path).value_or(path);
    return YAML::Node();
  }
  try {
    YAML::Node doc = YAML::Load(text);
    if (const auto mark = unclosed_quote(doc, text)) {
      throw YAML::ParserException(*mark, _("a quoted value has no closing quote"));
    }
    return doc;
  } catch (const YAML::Exception& e) {
    problem.error = 0;
    problem.why = e.what();
    cfg.unreadable = fsutil::full_path(path).value_or(path);
    return YAML::Node();
  }
}

YAML::Node encoding_name(const Settings& s, int32_t index, const char* fallback) {
  const EncodingEntry* entry = entry_at(s.encodings, index);
  return YAML::Node(entry != nullptr ? entry->name : std::string(fallback));
}

// New value of one settings key; `old` is the document's current value for it.
YAML::Node settings_value(const Settings& s, int key, const YAML::Node& old) {
  const ConvertConfig& cfg = s.cfg;
  switch (key) {
    case kInput:
      return YAML::Node(cfg.input);
    case kOutput:
      return YAML::Node(cfg.output);
    case kFilters: {
      // The file's own non-empty list stays as written, skipped entries included.
      if (old.IsSequence() && old.size() > 0) return old;
      YAML::Node list(YAML::NodeType::Sequence);
      for (const auto& f : cfg.filters) list.push_back(f);
      return list;
    }
    case kFilterIndex:
      return YAML::Node(cfg.filter_index);
    case kFrom:
      if (!cfg.from_unread.why.empty() && cfg.from_index == cfg.from_unread.index) return old;
      return encoding_name(s, cfg.from_index, "GBK");
    case kTo:
      if (!cfg.to_unread.why.empty() && cfg.to_index == cfg.to_unread.index) return old;
      return encoding_name(s, cfg.to_index, "UTF-8");
    case kThreads:
      return YAML::Node(cfg.threads);
    case kDetect:
      return YAML::Node(cfg.detect);
    case kEol:
      // A value this version does not know stays as written while the setting is "keep".
      if (cfg.eol == EolMode::keep && old.IsDefined() && !old.IsNull()) {
        EolMode read = EolMode::keep;
        if (!old.IsScalar() || !parse_eol_mode(old.Scalar(), read)) return old;
      }
      return YAML::Node(std::string(eol_mode_name(cfg.eol)));
    case kRepair:
      return YAML::Node(cfg.repair);
    case kBom:
      // Like eol: an unknown value stays as written while the setting is the default.
      if (cfg.bom == kDefaultBom && old.IsDefined() && !old.IsNull()) {
        BomMode read = kDefaultBom;
        if (!old.IsScalar() || !parse_bom_mode(old.Scalar(), read)) return old;
      }
      return YAML::Node(std::string(bom_mode_name(cfg.bom)));
    case kRules:
      return write_rules(cfg.rules, old, s.encodings);
    case kEditorconfig:
      return YAML::Node(cfg.editorconfig);
    case kAcceptUnsure:
      return YAML::Node(cfg.accept_unsure);
    case kUndo:
      return YAML::Node(cfg.undo);
    case kUndoRuns:
      return YAML::Node(cfg.undo_runs);
    case kUndoMegabytes:
      return YAML::Node(cfg.undo_megabytes);
    default: {
      YAML::Node list(YAML::NodeType::Sequence);
      for (const auto& c : cfg.candidates) list.push_back(c);
      return list;
    }
  }
}

// An optional key that the file lacks is added only when it holds something.
bool worth_adding(const ConvertConfig& cfg, int key) {
  switch (key) {
    case kThreads:
      return cfg.threads != 0;
    case kDetect:
      return cfg.detect;
    case kCandidates:
      return !cfg.candidates.empty();
    case kEol:
      return cfg.eol != EolMode::keep;
    case kRepair:
      return cfg.repair;
    case kBom:
      return cfg.bom != kDefaultBom;
    case kRules:
      return !cfg.rules.empty();
    case kEditorconfig:
      return cfg.editorconfig;
    case kAcceptUnsure:
      return cfg.accept_unsure;
    case kUndo:
      return !cfg.undo;
    case kUndoRuns:
      return cfg.undo_runs != kDefaultUndoRuns;
    case kUndoMegabytes:
      return cfg.undo_megabytes != kDefaultUndoMegabytes;
    default:
      return true;
  }
}

int settings_key(const YAML::Node& key) {
  if (!key.IsScalar()) return -1;
  for (int k = 0; k < kKeyCount; ++k)
    if (key.Scalar() == kKeys[k]) return k;
  return -1;
}

// A new mapping: the document's entries in place with the six keys' values replaced, then
// the keys it lacked. Important: the document itself is not touched, since assigning through
// a node would also change every alias of it in the file.
YAML::Node settings_document(const Settings& s) {
  YAML::Node out(YAML::NodeType::Map);
  bool placed[kKeyCount] = {};
  bool replaced[kKeyCount] = {};
  const YAML::Node& doc = s.cfg.document;
  if (doc.IsMap()) {
    for (auto it = doc.begin(); it != doc.end(); ++it) {
      const int k = settings_key(it->first);
      if (k >= 0 && !placed[k]) {
        YAML::Node value = settings_value(s, k, it->second);
        // A source or target chosen anew replaces every copy the file held, not the first.
        replaced[k] = (k == kFrom || k == kTo) && !value.is(it->second);
        out.force_insert(it->first, value);
        placed[k] = true;
      } else if (k >= 0 && replaced[k]) {
        continue;
      } else {
        out.force_insert(it->first, it->second);
      }
    }
  }
  for (int k = 0; k < kKeyCount; ++k)
    if (!placed[k] && worth_adding(s.cfg, k))
      out.force_insert(std::string(kKeys[k]), settings_value(s, k, YAML::Node()));
  return out;
}

// Before the first save over a file that could not be read: its text is kept beside it, and
// `saved.kept_as` names where; left empty when there is nothing to keep.
platform::Status keep_unreadable(Settings& s, SavedConfig& saved) {
  ConvertConfig& cfg = s.cfg;
  // Important: a save to another file (Save As) leaves the unreadable original where it is.
  if (cfg.unreadable.empty() || fsutil::full_path(cfg.path).value_or(cfg.path) != cfg.unreadable)
    return {};
  platform::Result<std::string> moved = move_aside(cfg.path);
  if (!moved && moved.err() != ENOENT)
    return platform::Error{
        moved.err(),
        kestrum::strfmt(_("the unreadable settings file %s is left as it was"), cfg.path.c_str())};
  if (moved) saved.kept_as = std::move(*moved);
  cfg.unreadable.clear();
  return {};
}

platform::Result<SavedConfig> write_settings(Settings& s) {
  YAML::Node updated = settings_document(s);
  std::string text;
  if (!yamltext::emit_exact(updated, text))
    return platform::Error{
        EILSEQ, _("a setting holds bytes that cannot be written so that they read back unchanged")};
  SavedConfig saved;
  if (platform::Status kept = keep_unreadable(s, saved); !kept) return kept.error();
  if (const platform::Status written = platform::write_file_safely(s.cfg.path, text); !written) {
    // Nothing replaced it: the unreadable file goes back under its name.
    if (!saved.kept_as.empty() &&
        platform::sysio().rename(saved.kept_as.c_str(), s.cfg.path.c_str()) == 0)
      s.cfg.unreadable = fsutil::full_path(s.cfg.path).value_or(s.cfg.path);
    return platform::Error{written.err(), {}};
  }
  s.cfg.document.reset(updated);
  saved.path = fsutil::full_path(s.cfg.path).value_or(s.cfg.path);
  return saved;
}

}  // namespace

std::string make_default_config(const std::string& path) {
  YAML::Emitter e;
  e << YAML::BeginMap;
  e << YAML::Key << "version" << YAML::Value << "3.0";
  e << YAML::Key << "input" << YAML::Value << "";
  e << YAML::Key << "output" << YAML::Value << kDefaultOutputDir;
  e << YAML::Key << "filters" << YAML::Value << YAML::BeginSeq;
  for (const char* f : kDefaultFilters) e << f;
  e << YAML::EndSeq;
  e << YAML::Key << "filter-index" << YAML::Value << 0;
  e << YAML::Key << "from" << YAML::Value << "GBK";
  e << YAML::Key << "to" << YAML::Value << "UTF-8";
  e << YAML::EndMap;
  std::string text(e.c_str(), e.size());
  // Failures are ignored: loading parses `text`, so the defaults hold either way.
  (void)platform::write_file_safely(path, text);
  return text;
}

ConfigProblem load_config(ConvertConfig& config, const EncodingList& encodings,
                          const std::string& path) {
  ConfigProblem problem;
  Settings s{config, encodings, &problem.diagnostics, &problem.fallbacks};
  config.path = path;
  config.unreadable.clear();
  try {
    config.document.reset(read_document(config, problem));
    // A list on top would be saved as a map keyed 0, 1, ...: refused, so it is kept aside.
    if (!config.document.IsMap() && !config.document.IsNull())
      throw YAML::Exception(YAML::Mark::null_mark(), _("the top level is not a mapping"));
    read_settings(s);
  } catch (const std::exception& e) {
    problem.error = 0;
    problem.why = e.what();
    config.unreadable = fsutil::full_path(path).value_or(path);
    config.document.reset(YAML::Node(YAML::NodeType::Map));
    problem.diagnostics.clear();
    read_settings(s);
    problem.fallbacks.clear();  // about the defaults, not about anything the file holds
  }
  return problem;
}

platform::Result<SavedConfig> save_config(ConvertConfig& config, const EncodingList& encodings) {
  Settings s{config, encodings};
  try {
    return write_settings(s);
  } catch (const std::exception&) {
    return platform::Error{ENOMEM, {}};
  }
}

std::vector<std::string> save_config_lines(const platform::Result<SavedConfig>& saved,
                                           const std::string& path) {
  if (!saved) {
    std::vector<std::string> lines{
        kestrum::strfmt(_("save config failed, error: %s"), errno_text(saved.err()).c_str())};
    if (!saved.error().context.empty()) lines.push_back(saved.error().context);
    return lines;
  }
  std::vector<std::string> lines;
  if (!saved->kept_as.empty())
    lines.push_back(
        kestrum::strfmt(_("the settings file %s could not be read; its text is kept as %s"),
                        path.c_str(), saved->kept_as.c_str()));
  lines.push_back(kestrum::strfmt(_("save config to file %s success"), saved->path.c_str()));
  return lines;
}
