// Source detection for a run, and the narrow-label check of a hand-picked source.
#include "job/source_detection.h"

#include <map>
#include <tuple>

#include "transcode/charset.h"
#include "transcode/utf8.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

void decide(JobFile& file, const std::string& source, const char* evidence, int confidence) {
  if (!source.empty()) file.source = EncodingEntry(source);
  file.evidence = evidence;
  file.confidence = confidence;
}

}  // namespace

namespace {

detect::TreeDetector::Options detector_options(bool accept_unsure) {
  detect::TreeDetector::Options o;
  o.accept_unsure = accept_unsure;
  return o;
}

}  // namespace

SourceDetection::SourceDetection(const std::vector<std::string>& candidates,
                                 const EncodingEntry& preferred, size_t files, bool accept_unsure)
    : preferred_(preferred),
      tree_(candidates, preferred.charset, detector_options(accept_unsure)),
      pooled_(files, 0) {}

std::string SourceDetection::opening_line() const {
  return kestrum::strfmt(_("Detecting each file's encoding among %s and the UTF forms..."),
                         joined(tree_.candidates()).c_str());
}

void SourceDetection::examine(size_t index, JobFile& file, std::string_view content) {
  if (content.size() > kBytes) content = content.substr(0, kBytes);
  const MarkInfo mark = mark_at_start(content);
  if (mark.form != UnicodeForm::none) return decide(file, form_name(mark.form), "mark", 100);
  // 7-bit ISO-2022 text and unmarked UTF-16 would pass for ASCII or binary below.
  if (detect::has_iso2022_escapes(content) || !detect::unmarked_wide(content).empty()) {
    pooled_[index] = 1;
    return tree_.add(index, file.relative_dir, content);
  }
  const std::string_view whole = content.substr(0, content.size() - utf8_incomplete_tail(content));
  const Utf8Check utf8 = utf8_check(whole);
  // Short legacy text can be valid UTF-8 by chance ("模式" in GBK): then the statistics decide.
  if (utf8.valid && utf8.non_ascii && !tree_.doubts_utf8(whole))
    return decide(file, "UTF-8", "utf8", 100);
  // ASCII and binary files keep the chosen source; the rules after this decide them.
  if (!utf8.non_ascii) return decide(file, "", "ascii", 100);
  if (find_nul(content, 64 * 1024) != std::string_view::npos) return decide(file, "", "", -1);
  pooled_[index] = 1;
  tree_.add(index, file.relative_dir, content);
}

std::vector<std::string> SourceDetection::finish(std::vector<JobFile>& files) {
  tree_.finish();
  std::map<std::tuple<std::string, std::string>, std::pair<size_t, int>> groups;
  std::map<std::string, size_t> notes;
  size_t undetected = 0, ambiguous = 0, guesses = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    JobFile& f = files[i];
    if (i < pooled_.size() && pooled_[i]) {
      const detect::Decision d = tree_.decision(i);
      if (d.evidence == detect::Evidence::ambiguous) {
        f.identity = Outcome::ambiguous;
        f.identity_note = d.note;
        f.identity_readings = d.readings;
        f.evidence = "ambiguous";
        f.confidence = d.confidence;
        ++ambiguous;
        continue;
      }
      if (d.encoding.empty()) {
        f.identity = Outcome::undetected;
        f.identity_note = d.note.empty() ? _("no candidate encoding reads it") : d.note;
        f.identity_readings = d.readings;
        f.evidence = "undetected";
        ++undetected;
        continue;
      }
      if (d.guess) {
        // Important: named as a guess in the report, with where its readings part.
        decide(f, d.encoding, "guess", d.confidence);
        f.detection_note = d.note;
        ++guesses;
      } else {
        decide(f, d.encoding, detect::evidence_name(d.evidence), d.confidence);
        if (!d.note.empty()) ++notes[d.note];
      }
    }
    if (f.evidence.empty() || f.identity != Outcome::converted) continue;
    const std::string name = f.source.empty() ? std::string("ASCII") : f.source.name;
    auto& g = groups[{name, f.evidence}];
    g.second = g.first == 0 ? f.confidence : std::min(g.second, f.confidence);
    ++g.first;
  }
  std::string summary;
  for (const auto& [key, g] : groups) {
    const auto& [name, evidence] = key;
    summary += summary.empty() ? "" : ", ";
    // The evidence and outcome names are the report's: they stay in English.
    summary += g.second >= 0 && g.second < 100
                   ? kestrum::strfmt(_("%s %zu (%s, confidence %d+)"), name.c_str(), g.first,
                                     evidence.c_str(), g.second)
                   : kestrum::strfmt("%s %zu (%s)", name.c_str(), g.first, evidence.c_str());
  }
  if (undetected > 0)
    summary += kestrum::strfmt("%sundetected %zu", summary.empty() ? "" : ", ", undetected);
  if (ambiguous > 0)
    summary += kestrum::strfmt("%sambiguous %zu", summary.empty() ? "" : ", ", ambiguous);
  std::vector<std::string> lines;
  lines.push_back(kestrum::strfmt(_("Detected: %s"),
                                  summary.empty() ? _("nothing to decide") : summary.c_str()));
  if (guesses > 0)
    lines.push_back(kestrum::strfmt(
        P_("Note: %zu file read as a guess, below the line detection trusts (look at them)",
           "Note: %zu files read as a guess, below the line detection trusts (look at them)",
           guesses),
        guesses));
  for (const auto& [note, count] : notes)
    lines.push_back(kestrum::strfmt(P_("Note: %s (%zu files)", "Note: %s (%zu files)", count),
                                    note.c_str(), count));
  return lines;
}

NarrowLabelCheck::NarrowLabelCheck(const std::string& charset)
    : charset_(charset),
      // Labels that change ASCII get a warning on each file instead (see FileConverter).
      wider_(detect::keeps_ascii(charset) ? detect::wider_label(charset) : std::string()) {}

bool NarrowLabelCheck::wanted() const {
  return !wider_.empty() && !given_.load(std::memory_order_relaxed) &&
         budget_.load(std::memory_order_relaxed) > 0;
}

std::string NarrowLabelCheck::check(std::string_view content, const std::string& path) {
  if (!wanted() || is_ascii(content)) return {};
  const uint64_t take = std::min<uint64_t>(content.size(), 1u << 20);
  const uint64_t left = budget_.fetch_sub(std::min(take, budget_.load()));
  if (left == 0) return {};
  const std::string hint = detect::narrow_label_hint(content.substr(0, take), charset_);
  if (hint.empty() || given_.exchange(true)) return {};
  return kestrum::strfmt(_("Hint: %s (first seen in %s); choose %s to read it that way"),
                         hint.c_str(), path.c_str(), wider_.c_str());
}
