// The per-file policy resolver: what target, line ends and mark each file of a run gets.
//
// Precedence, field by field (target encoding, line ends, mark):
//   1. the first rule (`rules:`) whose filter accepts the file: what it sets;
//   2. then each extra source in the order added (.editorconfig plugs in here): what it sets;
//   3. then the run's own settings fill whatever is still unset.
// A rule that matches but leaves a field out lets the later sources fill that field.
// `decided_by` names the sources that set something, the rule first ("rule 1: *.cpp;*.h").
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "policy/rules.h"
#include "transcode/line_endings.h"
#include "transcode/marks.h"
#include "util/encoding_catalogue.h"

// What one source sets for a file; an unset field is left to the sources after it.
struct PolicyPart {
  EncodingEntry to;  // empty: not set
  std::optional<EolMode> eol;
  std::optional<BomMode> bom;
  std::string label;  // how the report names this source for the file; empty: it set nothing
  // A source named per property: `source` ("`.editorconfig`") and what set the target (and a
  // mark that goes with it) and the line ends; the report then names only what a file took.
  std::string source, to_text, eol_text;
  std::string
      error;  // the source could not say (a broken .editorconfig): the file is not converted

  bool sets_anything() const { return !to.empty() || eol || bom; }
};

// What a file gets: every field settled.
struct FilePolicy {
  EncodingEntry to;  // empty: the run's target
  EolMode eol = EolMode::keep;
  BomMode bom = kDefaultBom;
  std::string decided_by;  // the rule (and sources) that set anything, "; "-joined; empty: none
  std::string error;       // a source could not say; the file is left as it is
};

// A source between the rules and the run's settings. Called from the conversion threads at
// once: it must be safe to call concurrently. `relative_path` is "a/b/name" under the input,
// `full_path` the file as opened.
using PolicySource =
    std::function<PolicyPart(std::string_view relative_path, const std::string& full_path)>;

class PolicyResolver {
 public:
  PolicyResolver(EolMode run_eol, BomMode run_bom, const std::vector<FileRule>& rules);

  // Consulted after the rules, in the order added. Before the run starts only.
  void add_source(PolicySource source);

  // The policy of one file. Thread-safe once the run has started.
  FilePolicy resolve(std::string_view relative_path, const std::string& full_path) const;

  // Without rules or sources every file gets the run's settings.
  bool trivial() const { return rules_.empty() && sources_.empty(); }

 private:
  EolMode run_eol_;
  BomMode run_bom_;
  RuleSet rules_;
  std::vector<PolicySource> sources_;
};
