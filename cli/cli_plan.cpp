// Resolving a command-line run: settings file, paths, encodings, filter and job options.
#include "cli/cli_plan.h"

#include <cerrno>

#include "cli/named_paths.h"
#include "config/config.h"
#include "config/plan_resolver.h"
#include "platform/fs.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

// The settings file's choices. Important: load_config writes a default file where none
// exists, so a missing file is refused before it is called.
std::string read_settings(const std::string& path, const EncodingList& encodings,
                          ConvertConfig& cfg) {
  const platform::Result<platform::PathKind> kind = platform::path_kind(path);
  const auto cannot_read = [&path](const std::string& why) {
    return kestrum::strfmt(_("cannot read settings file %s: %s"), path.c_str(), why.c_str());
  };
  if (!kind) return cannot_read(errno_text(kind.err()));
  if (*kind != platform::PathKind::file) return cannot_read(_("not a regular file"));
  const ConfigProblem problem = load_config(cfg, encodings, path);
  if (!problem.empty()) return cannot_read(problem.why);
  // A rule left out would convert its files by the run's settings: a run refuses it instead.
  if (!problem.diagnostics.empty())
    return kestrum::strfmt(_("settings file %s: %s"), path.c_str(),
                           problem.diagnostics.front().c_str());
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
std::string take_named_paths(const CliOptions& o, JobPlan& c) {
  if (o.paths.empty()) return _("no files or folders given (see --help)");
  const NamedPaths named = resolve_named_paths(o.paths);
  if (!named.error.empty()) return named.error;
  c.input = named.base;
  c.roots = named.roots;
  if (o.output) c.output = *o.output;
  if (o.in_place || (!o.output && (o.dry_run || o.check))) c.output = c.input;
  if (c.output.empty())
    return _("files named: add --in-place to convert them where they are, or --output DIR");
  return {};
}

std::string take_paths(const CliOptions& o, JobPlan& c) {
  if (names_paths(o)) return take_named_paths(o, c);
  if (!o.paths.empty()) c.input = o.paths[0];
  if (o.paths.size() > 1) c.output = o.paths[1];
  if (c.input.empty()) return _("no INPUT directory given (see --help)");
  if (!platform::is_directory(c.input))
    return kestrum::strfmt(_("input directory %s does not exist"), c.input.c_str());
  // Nothing is written when only looking: the tree is seen as it would be in place.
  if (c.output.empty() && (o.dry_run || o.check)) c.output = c.input;
  if (c.output.empty()) return _("no OUTPUT directory given (see --help)");
  return {};
}

}  // namespace

platform::Result<JobPlan> make_cli_plan(const CliOptions& o, const EncodingList& encodings) {
  ConvertConfig settings = no_settings();
  if (o.config)
    if (std::string e = read_settings(*o.config, encodings, settings); !e.empty())
      return platform::Error{EINVAL, std::move(e)};
  PlanOverrides overrides = o;
  overrides.strict = true;
  platform::Result<JobPlan> resolved = resolve_plan(settings, encodings, overrides);
  if (!resolved) return resolved;
  JobPlan& plan = *resolved;
  if (std::string e = take_paths(o, plan); !e.empty()) return platform::Error{EINVAL, std::move(e)};
  plan.options.dry_run = o.dry_run || o.check;
  if (o.report != "-") plan.report = o.report;  // never one of the run's files
  plan.options.durable = !o.no_sync;
  // Checked against .editorconfig, each file is read as what it should be: nothing is
  // detected, and a double-encoded file is valid text in its charset.
  plan.options.conform = o.check && plan.options.editorconfig;
  if (plan.options.conform) {
    plan.options.detect = false;
    plan.options.repair_check = false;
  }
  return resolved;
}
