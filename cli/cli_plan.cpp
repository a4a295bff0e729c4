// Resolving a command-line run: settings file, paths, encodings, filter and job options.
#include "cli/cli_plan.h"

#include <sys/stat.h>

#include <cerrno>

#include "cli/encoding_lookup.h"
#include "cli/named_paths.h"
#include "config/config.h"
#include "convert/detect.h"
#include "platform/fs.h"
#include "platform/sys_io.h"
#include "util/strfmt.h"

namespace {

// The paths and names a run takes before the catalogue is consulted.
struct Choices {
  std::string input;
  std::string output;
  std::string filter = "*.*";
  std::string from = "GBK";
  std::string to = "UTF-8";
  unsigned threads = 0;
  bool detect = false;
  std::vector<std::string> candidates;
  EolMode eol = EolMode::keep;
  BomMode bom = kDefaultBom;
  bool repair = false;
  bool editorconfig = false;
  std::vector<FileRule> rules;
};

// A scalar the settings file names for `key`, or empty.
std::string named_in(const ConvertConfig& cfg, const char* key) {
  const YAML::Node& doc = cfg.document;
  if (!doc.IsMap()) return {};
  const YAML::Node value = doc[key];
  return value.IsScalar() ? value.Scalar() : std::string();
}

// Takes the settings file's choices. Important: load_config writes a default file where
// none exists, so a missing file is refused before it is called.
std::string read_settings(const std::string& path, const EncodingList& encodings, Choices& c) {
  struct stat st;
  if (platform::sysio().stat(path.c_str(), &st) != 0)
    return "cannot read settings file " + path + ": " + errno_text(errno);
  if (!S_ISREG(st.st_mode)) return "cannot read settings file " + path + ": not a regular file";
  ConvertConfig cfg;
  const ConfigProblem problem = load_config(cfg, encodings, path);
  if (!problem.empty()) return "cannot read settings file " + path + ": " + problem.why;
  // A rule left out would convert its files by the run's settings: a run refuses it instead.
  if (!problem.diagnostics.empty())
    return "settings file " + path + ": " + problem.diagnostics.front();
  c.rules = cfg.rules;
  c.input = cfg.input;
  c.output = cfg.output;
  c.filter = cfg.filters[static_cast<size_t>(cfg.filter_index)];
  c.threads = static_cast<unsigned>(cfg.threads);
  c.detect = cfg.detect;
  c.candidates = cfg.candidates;
  c.eol = cfg.eol;
  // The loader falls back to keep for a value it does not know; a run refuses it instead.
  const std::string eol = named_in(cfg, "eol");
  EolMode parsed = EolMode::keep;
  if (!eol.empty() && !parse_eol_mode(eol, parsed))
    return "settings file " + path + ": eol takes keep, lf or crlf, not \"" + eol + "\"";
  c.bom = cfg.bom;
  const std::string bom = named_in(cfg, "bom");
  BomMode bom_parsed = kDefaultBom;
  if (!bom.empty() && !parse_bom_mode(bom, bom_parsed))
    return "settings file " + path + ": bom takes keep, add or remove, not \"" + bom + "\"";
  c.repair = cfg.repair;
  c.editorconfig = cfg.editorconfig;
  // Important: the loader falls back to GBK and UTF8 for names it does not know; a run
  // must not convert from a guess, so such a name is refused like an unknown --from.
  for (const auto& [key, name] : {std::pair{"from", &c.from}, std::pair{"to", &c.to}}) {
    const std::string typed = named_in(cfg, key);
    if (!typed.empty()) *name = typed;
  }
  return {};
}

// Files and folders as paths, rather than INPUT [OUTPUT].
bool names_paths(const CliOptions& o) {
  if (o.in_place || o.output || o.paths.size() > 2) return true;
  for (const std::string& p : o.paths) {
    const platform::Result<platform::PathKind> kind = platform::path_kind(p);
    if (kind && *kind != platform::PathKind::directory) return true;
  }
  return false;
}

// Important: files named without --in-place or --output are only looked at; writing them
// where they are is never a guess.
std::string take_named_paths(const CliOptions& o, Choices& c, std::vector<std::string>& roots) {
  if (o.paths.empty()) return "no files or folders given (see --help)";
  const NamedPaths named = resolve_named_paths(o.paths);
  if (!named.error.empty()) return named.error;
  c.input = named.base;
  roots = named.roots;
  if (o.output) c.output = *o.output;
  if (o.in_place || (!o.output && (o.dry_run || o.check))) c.output = c.input;
  if (c.output.empty())
    return "files named: add --in-place to convert them where they are, or --output DIR";
  return {};
}

std::string take_paths(const CliOptions& o, Choices& c, std::vector<std::string>& roots) {
  if (names_paths(o)) return take_named_paths(o, c, roots);
  if (!o.paths.empty()) c.input = o.paths[0];
  if (o.paths.size() > 1) c.output = o.paths[1];
  if (c.input.empty()) return "no INPUT directory given (see --help)";
  if (!platform::is_directory(c.input)) return "input directory " + c.input + " does not exist";
  // Nothing is written when only looking: the tree is seen as it would be in place.
  if (c.output.empty() && (o.dry_run || o.check)) c.output = c.input;
  if (c.output.empty()) return "no OUTPUT directory given (see --help)";
  return {};
}

}  // namespace

CliPlan make_cli_plan(const CliOptions& o, const EncodingList& encodings) {
  CliPlan result;
  Choices c;
  if (o.config) {
    result.error = read_settings(*o.config, encodings, c);
    if (!result.error.empty()) return result;
  }
  if (o.from) c.from = *o.from;
  if (o.to) c.to = *o.to;
  if (o.filter) c.filter = *o.filter;
  if (o.threads) c.threads = *o.threads;
  if (o.detect) c.detect = *o.detect;
  if (o.candidates) c.candidates = *o.candidates;
  if (o.eol && !parse_eol_mode(*o.eol, c.eol)) {
    result.error = "--eol takes keep, lf or crlf, not \"" + *o.eol + "\"";
    return result;
  }
  if (o.bom && !parse_bom_mode(*o.bom, c.bom)) {
    result.error = "--bom takes keep, add or remove, not \"" + *o.bom + "\"";
    return result;
  }
  if (o.repair) c.repair = *o.repair;
  if (o.editorconfig) c.editorconfig = *o.editorconfig;
  if (c.detect) {
    std::vector<std::string> unknown;
    detect::expand_candidates(c.candidates, &unknown);
    if (!unknown.empty()) {
      result.error = "unknown candidate \"" + unknown.front() +
                     "\": name a preset (Chinese, Japanese, ...) or an encoding";
      return result;
    }
  }
  for (const std::string* name : {&c.from, &c.to}) {
    if (find_encoding(encodings, *name) == nullptr) {
      result.error = unknown_encoding_text(encodings, *name);
      return result;
    }
  }
  result.error = take_paths(o, c, result.plan.roots);
  if (!result.error.empty()) return result;
  JobPlan& plan = result.plan;
  plan.input = c.input;
  plan.output = c.output;
  plan.filter = c.filter;
  plan.source = *find_encoding(encodings, c.from);
  plan.target = *find_encoding(encodings, c.to);
  plan.options.threads = c.threads;
  plan.options.dry_run = o.dry_run || o.check;
  plan.options.durable = !o.no_sync;
  plan.options.detect = c.detect;
  plan.options.candidates = c.candidates;
  plan.options.eol = c.eol;
  plan.options.bom = c.bom;
  plan.options.rules = c.rules;
  plan.options.repair = c.repair;
  plan.options.editorconfig = c.editorconfig;
  // Checked against .editorconfig, each file is read as what it should be: nothing is
  // detected, and a double-encoded file is valid text in its charset.
  plan.options.conform = o.check && c.editorconfig;
  if (plan.options.conform) {
    plan.options.detect = false;
    plan.options.repair_check = false;
  }
  return result;
}
