// Outcome names and classes.
#include "report/outcome.h"

namespace {

constexpr std::array<std::string_view, kOutcomeCount> kNames = {
    "converted",     "ascii",       "already-utf8",   "marked",         "binary",       "same-file",
    "outside",       "cannot-read", "cannot-convert", "not-supported",  "cannot-write", "changed",
    "search-failed", "undetected",  "ambiguous",      "double-encoded", "mixed",        "excluded",
    "skipped",       "restored",    "changed-since",  "deleted-since",  "not-reached"};

}  // namespace

std::string_view outcome_name(Outcome outcome) { return kNames[static_cast<size_t>(outcome)]; }

std::optional<Outcome> outcome_from_name(std::string_view name) {
  for (size_t i = 0; i < kNames.size(); ++i)
    if (kNames[i] == name) return static_cast<Outcome>(i);
  return std::nullopt;
}

bool outcome_is_done(Outcome outcome) {
  switch (outcome) {
    case Outcome::converted:
    case Outcome::ascii:
    case Outcome::already_utf8:
    case Outcome::same_file:
    case Outcome::restored:
      return true;
    default:
      return false;
  }
}

bool outcome_is_unsettled(Outcome outcome) {
  return outcome == Outcome::undetected || outcome == Outcome::ambiguous;
}

bool outcome_is_failure(Outcome outcome) {
  return !outcome_is_done(outcome) && outcome != Outcome::binary && outcome != Outcome::excluded &&
         outcome != Outcome::skipped;
}
