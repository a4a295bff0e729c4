// One resolver from settings to a plan, for the window and the command line alike.
#include "config/plan_resolver.h"

#include <cerrno>

#include "detect/detect.h"
#include "util/encoding_lookup.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

platform::Error refused(std::string why) { return platform::Error{EINVAL, std::move(why)}; }

// What the settings file itself holds for `key` when the resolve is strict, else empty.
std::string written(const ConvertConfig& cfg, bool strict, const char* key) {
  if (!strict || !cfg.document.IsMap()) return {};
  const YAML::Node value = cfg.document[key];
  return value.IsScalar() ? value.Scalar() : std::string();
}

// The override's name, else what the file holds (strict), else the settings' index, else the
// default name.
platform::Status take_encoding(EncodingEntry& out, const ConvertConfig& cfg,
                               const EncodingList& encodings, const PlanOverrides& o,
                               const std::optional<std::string>& typed, const char* key,
                               int32_t index, const char* fallback) {
  if (typed && typed->empty())
    return refused(kestrum::strfmt(_("%s names no encoding"), (std::string("--") + key).c_str()));
  const ConvertConfig::Unread& unread =
      key == std::string("from") ? cfg.from_unread : cfg.to_unread;
  std::string name = typed.value_or(written(cfg, o.strict, key));
  // Important: what the file holds in place of one name is never taken as the fallback.
  if (!typed && o.strict && !unread.why.empty() &&
      (name.empty() || find_encoding(encodings, name) != nullptr))
    return refused(
        kestrum::strfmt(_("settings file %s: %s"), cfg.path.c_str(), unread.why.c_str()));
  if (const EncodingEntry* e = entry_at(encodings, index); name.empty() && e) {
    out = *e;
    return {};
  }
  if (name.empty()) name = fallback;
  const EncodingEntry* e = find_encoding(encodings, name);
  if (e == nullptr) return refused(unknown_encoding_text(encodings, name));
  out = *e;
  return {};
}

// The override, else the settings' value (strict: refused when the file's text is not one).
template <typename Mode, typename Parse>
platform::Status take_mode(Mode& out, const ConvertConfig& cfg, const PlanOverrides& o,
                           const std::optional<std::string>& typed, const char* key, Parse parse,
                           const char* choices) {
  const std::string text = typed.value_or(written(cfg, o.strict, key));
  if (text.empty() || parse(text, out)) return {};
  // Translators: the first word is an option or settings key (eol, bom); it stays.
  const std::string why =
      kestrum::strfmt(_("%s takes %s, not \"%s\""), key, _(choices), text.c_str());
  if (typed) return refused("--" + why);
  return refused(kestrum::strfmt(_("settings file %s: %s"), cfg.path.c_str(), why.c_str()));
}

platform::Status check_candidates(const std::vector<std::string>& candidates) {
  std::vector<std::string> unknown;
  detect::expand_candidates(candidates, &unknown);
  if (unknown.empty()) return {};
  return refused(kestrum::strfmt(
      _("unknown candidate \"%s\": name a preset (Chinese, Japanese, ...) or an encoding"),
      unknown.front().c_str()));
}

}  // namespace

ConvertConfig no_settings() {
  ConvertConfig cfg;
  cfg.output.clear();
  cfg.from_index = cfg.to_index = -1;
  return cfg;
}

platform::Result<JobPlan> resolve_plan(const ConvertConfig& cfg, const EncodingList& encodings,
                                       const PlanOverrides& o) {
  JobPlan plan;
  JobOptions& opt = plan.options;
  opt.eol = cfg.eol;
  opt.bom = cfg.bom;
  opt.detect = o.detect.value_or(cfg.detect);
  opt.candidates = o.candidates.value_or(cfg.candidates);
  opt.accept_unsure = o.accept_unsure.value_or(cfg.accept_unsure);
  platform::Status ok =
      take_mode(opt.eol, cfg, o, o.eol, "eol", parse_eol_mode, N_("keep, lf or crlf"));
  if (ok) ok = take_mode(opt.bom, cfg, o, o.bom, "bom", parse_bom_mode, N_("keep, add or remove"));
  // Important: the window lists a candidate it does not know beside the others and the file
  // keeps it; a run from the command line cannot show that, so it refuses the name instead.
  if (ok && opt.detect && (o.strict || o.candidates)) ok = check_candidates(opt.candidates);
  if (ok) ok = take_encoding(plan.source, cfg, encodings, o, o.from, "from", cfg.from_index, "GBK");
  if (ok) ok = take_encoding(plan.target, cfg, encodings, o, o.to, "to", cfg.to_index, "UTF-8");
  if (!ok) return ok.error();
  plan.input = cfg.input;
  plan.output = cfg.output;
  const auto index = static_cast<size_t>(cfg.filter_index);
  plan.filter = o.filter.value_or(index < cfg.filters.size() ? cfg.filters[index] : "*.*");
  opt.threads = o.threads.value_or(static_cast<unsigned>(cfg.threads));  // 0: one per core
  opt.rules = cfg.rules;
  opt.repair = o.repair.value_or(cfg.repair);
  opt.editorconfig = o.editorconfig.value_or(cfg.editorconfig);
  opt.undo = o.undo.value_or(cfg.undo);
  opt.undo_limits.runs = static_cast<size_t>(cfg.undo_runs);
  opt.undo_limits.bytes = static_cast<uint64_t>(cfg.undo_megabytes) * 1000000;
  return plan;
}
