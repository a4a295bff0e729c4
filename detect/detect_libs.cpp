// ICU and uchardet as voters: each one's answer adds to the detector's own points what its
// record on the tune half of the corpus says it is worth.
#include "detect/detect_libs.h"

#include <uchardet.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>

#include "detect/detect.h"

namespace detect {
namespace {

// Right and wrong per file on the tune half (bench_detect_accuracy --half tune --size full):
// uchardet 93.2 % and 6.3 %, ICU 81.1 % and 19.1 %. A vote is worth the log-odds of its
// being right, in the same natural-log points as the language statistics.
const double kUchardetVote = std::log(93.2 / 6.3);
const double kIcuVote = std::log(81.1 / 19.1);

// Labels that a library's answer stands for when the exact one is not a candidate.
const std::initializer_list<std::initializer_list<const char*>> kSiblings = {
    {"GB18030", "GBK", "GB2312"},
    {"BIG5", "BIG5-HKSCS"},
    {"CP932", "SHIFT_JIS"},
    {"CP949", "EUC-KR"},
    {"CP1252", "ISO-8859-15", "ISO-8859-1"},
    {"CP1250", "ISO-8859-2"},
    {"KOI8-R", "KOI8-U"},
    {"CP1253", "ISO-8859-7"},
    {"CP1254", "ISO-8859-9"},
    {"CP1255", "ISO-8859-8"},
    {"CP1256", "ISO-8859-6"},
    {"CP874", "TIS-620"},
};

// Important: a library's answer counts for its whole group of labels. ICU says "Shift_JIS"
// for CP932 text too; giving the exact label the vote would pull pools to the narrow label.
void vote(std::string_view library_name, double weight, const std::vector<Candidate>& cands,
          std::vector<double>& votes) {
  std::string name = canonical_name(library_name);
  if (name == "ISO-8859-8-I") name = "ISO-8859-8";
  if (name == "ISO-8859-1") name = "CP1252";
  for (size_t i = 0; i < cands.size(); ++i)
    if (cands[i].name == name) votes[i] = std::max(votes[i], weight);
  for (const auto& group : kSiblings) {
    if (std::find(group.begin(), group.end(), name) == group.end()) continue;
    for (size_t i = 0; i < cands.size(); ++i)
      if (std::find(group.begin(), group.end(), cands[i].name) != group.end())
        votes[i] = std::max(votes[i], weight);
  }
}

void icu_votes(std::string_view bytes, const std::vector<Candidate>& cands,
               std::vector<double>& votes) {
  UErrorCode err = U_ZERO_ERROR;
  // Important: one detector object per call; ICU's detectors are not shared between threads.
  UCharsetDetector* det = ucsdet_open(&err);
  if (U_FAILURE(err)) return;
  ucsdet_setText(det, bytes.data(), static_cast<int32_t>(bytes.size()), &err);
  // Only the best match: that is the answer whose record the weight stands for.
  const UCharsetMatch* match = ucsdet_detect(det, &err);
  const char* name = U_SUCCESS(err) && match ? ucsdet_getName(match, &err) : nullptr;
  if (U_SUCCESS(err) && name) vote(name, kIcuVote, cands, votes);
  ucsdet_close(det);
}

void uchardet_vote(std::string_view bytes, const std::vector<Candidate>& cands,
                   std::vector<double>& votes) {
  uchardet_t u = uchardet_new();
  if (!u) return;
  if (uchardet_handle_data(u, bytes.data(), bytes.size()) == 0) {
    uchardet_data_end(u);
    const char* name = uchardet_get_charset(u);
    if (name && *name) vote(name, kUchardetVote, cands, votes);
  }
  uchardet_delete(u);
}

}  // namespace

std::vector<double> library_votes(std::string_view bytes,
                                  const std::vector<Candidate>& candidates) {
  std::vector<double> icu(candidates.size(), 0.0), uch(candidates.size(), 0.0);
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return icu;
  icu_votes(bytes, candidates, icu);
  uchardet_vote(bytes, candidates, uch);
  for (size_t i = 0; i < icu.size(); ++i) icu[i] += uch[i];
  return icu;
}

}  // namespace detect
