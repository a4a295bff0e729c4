// From the settings as persisted, and what a front end sets over them, to a job's plan.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "job/job.h"
#include "platform/result.h"
#include "util/encoding_catalogue.h"

// What a front end sets over the settings; an unset field keeps the settings' value. The
// directories are the front end's own (the command line's paths have rules of their own).
struct PlanOverrides {
  std::optional<std::string> filter;
  std::optional<std::string> from;  // by name, as a user types it
  std::optional<std::string> to;
  std::optional<unsigned> threads;
  std::optional<bool> detect;
  std::optional<std::vector<std::string>> candidates;
  std::optional<bool> accept_unsure;
  std::optional<std::string> eol;
  std::optional<std::string> bom;
  std::optional<bool> repair;
  std::optional<bool> editorconfig;
  std::optional<bool> undo;  // in place, what the run replaces is kept to undo it
  // Names the settings file holds but loading replaced by its fallback (an unknown from, to,
  // eol or bom; an unknown candidate) are refused rather than taken as loaded.
  bool strict = false;
};

// The settings of a run without a settings file: every field at its resolving fallback.
ConvertConfig no_settings();

// The plan, or why there is none (the error's context is one line for a person). Fallbacks,
// the same for every front end: a filter index naming no filter is "*.*"; an encoding index
// naming no entry is GBK (from) or UTF-8 (to). Cheap enough for every frame: no file reads.
platform::Result<JobPlan> resolve_plan(const ConvertConfig& settings, const EncodingList& encodings,
                                       const PlanOverrides& overrides = {});
