// Resolving each file's policy from the rules, the extra sources and the run's settings.
#include "policy/file_policy.h"

namespace {

// Fills what `into` lacks from `part`; names `part` (or what of it was taken) when it set anything.
void fill(PolicyPart& into, const PolicyPart& part) {
  std::string took;
  const auto take = [&took](const std::string& text) {
    if (text.empty() || took.find(text) != std::string::npos) return;
    took += took.empty() ? text : ", " + text;
  };
  bool used = false;
  if (into.to.empty() && !part.to.empty()) {
    into.to = part.to;
    used = true;
    take(part.to_text);
  }
  if (!into.eol && part.eol) {
    into.eol = part.eol;
    used = true;
    take(part.eol_text);
  }
  if (!into.bom && part.bom) {
    into.bom = part.bom;
    used = true;
    take(part.to_text);  // a mark is set only with the target that asks for it
  }
  const std::string label =
      part.source.empty() || took.empty() ? part.label : part.source + ": " + took;
  if (used && !label.empty()) {
    if (!into.label.empty()) into.label += "; ";
    into.label += label;
  }
}

}  // namespace

PolicyResolver::PolicyResolver(EolMode run_eol, BomMode run_bom, const std::vector<FileRule>& rules)
    : run_eol_(run_eol), run_bom_(run_bom), rules_(rules) {}

void PolicyResolver::add_source(PolicySource source) { sources_.push_back(std::move(source)); }

FilePolicy PolicyResolver::resolve(std::string_view relative_path,
                                   const std::string& full_path) const {
  PolicyPart got;
  const size_t index = rules_.match(relative_path);
  if (index != std::string::npos) {
    const FileRule& rule = rules_.rule(index);
    // Important: a matching rule is named even when it sets nothing, since it still decided
    // that later rules do not apply.
    got.to = rule.to;
    got.eol = rule.eol;
    got.bom = rule.bom;
    got.label = rule_label(index, rule);
  }
  std::string error;
  for (const PolicySource& source : sources_) {
    if (!got.to.empty() && got.eol && got.bom) break;
    const PolicyPart part = source(relative_path, full_path);
    if (!part.error.empty() && error.empty()) error = part.error;
    fill(got, part);
  }
  FilePolicy policy;
  policy.to = got.to;
  policy.eol = got.eol.value_or(run_eol_);
  policy.bom = got.bom.value_or(run_bom_);
  policy.decided_by = std::move(got.label);
  policy.error = std::move(error);
  return policy;
}
