// Features per labelled file from the tree detector with unsure readings accepted.
#include "detect_calibrate.h"

#include <cstdio>
#include <map>

#include "detect/detect.h"
#include "detect_layouts.h"
#include "detect_score.h"
#include "transcode/utf8.h"

namespace calibrate {
namespace {

struct Setting {
  std::string name;
  std::vector<std::string> candidates;
  std::string preferred;
};

Setting setting_for(const std::string& name, const labelled::File& f) {
  if (name == "own preset") {
    const std::string p = labelled::own_preset(f);
    return {name, {p}, layouts::first_encoding(p)};
  }
  if (name == "every preset") return {name, layouts::preset_names(), "GBK"};
  if (name == "all") return {name, {"all"}, "GBK"};
  const std::vector<std::string> out = labelled::outside_candidates(f);
  return {name, out, out.empty() ? "" : layouts::first_encoding(out.front())};
}

std::string row(const Setting& s, const char* layout, const labelled::File& f,
                const detect::Decision& d) {
  const score::Verdict v = score::judge(f, d.encoding, d.encoding.empty() ? "undetected" : "");
  const char* verdict = v == score::Verdict::right   ? "right"
                        : v == score::Verdict::wrong ? "wrong"
                                                     : "refused";
  char nums[128];
  std::snprintf(nums, sizeof nums, "%.3f\t%.1f\t%.2f\t%d\t%.2f", d.plausibility, d.chars, d.lead,
                d.confidence, d.outside);
  return s.name + "\t" + layout + "\t" + f.path + "\t" + f.encoding + "\t" + f.language + "\t" +
         f.size_class + "\t" + d.encoding + "\t" + detect::evidence_name(d.evidence) + "\t" +
         (d.guess ? "1" : "0") + "\t" + verdict + "\t" + nums + "\n";
}

// False for a file the job decides before the tree detector (valid UTF-8 it does not doubt).
bool legacy(const detect::TreeDetector& det, const labelled::File& f) {
  if (f.encoding == "UTF-8" || f.encoding == "ASCII") return false;
  const Utf8Check u = utf8_check(f.bytes);
  return !(u.valid && u.non_ascii && !det.doubts_utf8(f.bytes));
}

}  // namespace

std::string features(const std::vector<labelled::File>& files) {
  std::string out =
      "setting\tlayout\tpath\tencoding\tlanguage\tclass\tnamed\tevidence\tguess\tverdict\t"
      "plausibility\tchars\tlead\tconfidence\toutside\n";
  detect::TreeDetector::Options opt;
  opt.accept_unsure = true;
  for (const char* name : {"own preset", "every preset", "all", "outside"}) {
    // Each file alone.
    std::map<std::string, std::vector<size_t>> folders;
    for (size_t i = 0; i < files.size(); ++i) {
      const Setting s = setting_for(name, files[i]);
      if (s.candidates.empty()) continue;
      detect::TreeDetector det(s.candidates, s.preferred, opt);
      if (!legacy(det, files[i])) continue;
      det.add(0, "", files[i].bytes);
      det.finish();
      out += row(s, "each file alone", files[i], det.decision(0));
      folders[labelled::own_preset(files[i]) + "/" + files[i].encoding].push_back(i);
    }
    // A folder per encoding.
    for (const auto& [folder, members] : folders) {
      const Setting s = setting_for(name, files[members.front()]);
      detect::TreeDetector det(s.candidates, s.preferred, opt);
      for (size_t k = 0; k < members.size(); ++k) det.add(k, "", files[members[k]].bytes);
      det.finish();
      for (size_t k = 0; k < members.size(); ++k)
        out += row(s, "folder per encoding", files[members[k]], det.decision(k));
    }
  }
  return out;
}

}  // namespace calibrate
