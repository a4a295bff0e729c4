// Reading and writing per-pattern rules as YAML.
#include "config/rules_yaml.h"

#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr const char* kRuleKeys[] = {"filter", "to", "eol", "bom"};

std::string scalar(const YAML::Node& map, const char* key) {
  const YAML::Node v = map[key];
  return v.IsDefined() && v.IsScalar() ? v.Scalar() : std::string();
}

// A key this version does not know, or one that is not a scalar; empty when none.
std::string odd_key(const YAML::Node& entry) {
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    const std::string key = it->first.IsScalar() ? it->first.Scalar() : std::string("?");
    bool known = false;
    for (const char* k : kRuleKeys) known = known || key == k;
    if (!known)
      return kestrum::strfmt(_("has an unknown key \"%s\" (filter, to, eol, bom)"), key.c_str());
    if (!it->second.IsScalar() && !it->second.IsNull())
      return kestrum::strfmt(_("%s is not a single value"), key.c_str());
  }
  return {};
}

// The entry as a rule, or why it cannot be one.
std::string parse_entry(const YAML::Node& entry, const EncodingList& encodings, FileRule& rule) {
  if (!entry.IsMap()) return _("is not a map of filter, to, eol and bom");
  if (std::string odd = odd_key(entry); !odd.empty()) return odd;
  rule.filter = scalar(entry, "filter");
  if (rule.filter.empty()) return _("has no filter");
  const std::string to = scalar(entry, "to");
  if (!to.empty() && index_of(encodings, to) == static_cast<int32_t>(encodings.size()))
    return kestrum::strfmt(_("to names no encoding of the To list: \"%s\""), to.c_str());
  rule.to = EncodingEntry(to);
  const std::string e = scalar(entry, "eol");
  EolMode eol = EolMode::keep;
  if (!e.empty() && !parse_eol_mode(e, eol))
    return kestrum::strfmt(_("eol takes keep, lf or crlf, not \"%s\""), e.c_str());
  if (!e.empty()) rule.eol = eol;
  const std::string b = scalar(entry, "bom");
  BomMode bom = kDefaultBom;
  if (!b.empty() && !parse_bom_mode(b, bom))
    return kestrum::strfmt(_("bom takes keep, add or remove, not \"%s\""), b.c_str());
  if (!b.empty()) rule.bom = bom;
  return {};
}

std::string entry_name(size_t number, const YAML::Node& entry) {
  const std::string filter = entry.IsMap() ? scalar(entry, "filter") : std::string();
  if (filter.empty()) return kestrum::strfmt(_("rule %zu"), number);
  return kestrum::strfmt(_("rule %zu (%s)"), number, filter.c_str());
}

}  // namespace

std::vector<FileRule> read_rules(const YAML::Node& list, const EncodingList& encodings,
                                 std::vector<std::string>& problems) {
  std::vector<FileRule> rules;
  if (!list.IsDefined() || list.IsNull()) return rules;
  if (!list.IsSequence()) {
    problems.push_back(_("rules is not a list of rules; none is used"));
    return rules;
  }
  size_t number = 0;
  for (const auto& entry : list) {
    ++number;
    FileRule rule;
    const std::string why = parse_entry(entry, encodings, rule);
    if (why.empty())
      rules.push_back(std::move(rule));
    else
      problems.push_back(kestrum::strfmt(_("%s %s; it is left out"),
                                         entry_name(number, entry).c_str(), why.c_str()));
  }
  return rules;
}

YAML::Node write_rules(const std::vector<FileRule>& rules, const YAML::Node& old,
                       const EncodingList& encodings) {
  std::vector<std::string> ignored;
  if (old.IsDefined() && !old.IsNull() && read_rules(old, encodings, ignored) == rules) return old;
  // Important: a list that is not a list is kept as written while no rule is set.
  if (rules.empty() && old.IsDefined() && !old.IsNull() && !old.IsSequence()) return old;
  YAML::Node list(YAML::NodeType::Sequence);
  for (const FileRule& r : rules) {
    YAML::Node entry(YAML::NodeType::Map);
    entry["filter"] = r.filter;
    if (!r.to.empty()) entry["to"] = r.to.name;
    if (r.eol) entry["eol"] = std::string(eol_mode_name(*r.eol));
    if (r.bom) entry["bom"] = std::string(bom_mode_name(*r.bom));
    list.push_back(entry);
  }
  if (old.IsSequence())
    for (const auto& entry : old) {
      FileRule unused;
      if (!parse_entry(entry, encodings, unused).empty()) list.push_back(entry);
    }
  return list;
}
