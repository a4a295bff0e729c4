// Trees of labelled files (by encoding, mixed, alone) and detecting dry-run jobs over them.
#include "detect_layouts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "detect/detect.h"
#include "job/job.h"

namespace layouts {

namespace {

class Quiet : public JobObserver {
 public:
  void message(const std::string&) override {}
};

std::string extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

// The index in a name "f<index>.<ext>"; SIZE_MAX for any other name.
size_t index_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() < 2 || name[0] != 'f') return SIZE_MAX;
  size_t value = 0, i = 1;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i)
    value = value * 10 + static_cast<size_t>(name[i] - '0');
  return i > 1 && i < name.size() && name[i] == '.' ? value : SIZE_MAX;
}

}  // namespace

std::string preset_folder(const labelled::File& file) {
  std::string name = labelled::own_preset(file);
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

Placement by_encoding(const std::vector<labelled::File>& files) {
  Placement p;
  for (const labelled::File& f : files) p.push_back("enc/" + preset_folder(f) + "/" + f.encoding);
  return p;
}

Placement mixed(const std::vector<labelled::File>& files, size_t per_folder) {
  // Within a preset, files ordered by a hash of their path: the encodings interleave, the
  // same way on every run.
  std::map<std::string, std::vector<size_t>> by_preset;
  for (size_t i = 0; i < files.size(); ++i) by_preset[preset_folder(files[i])].push_back(i);
  Placement p(files.size());
  for (auto& [preset, members] : by_preset) {
    std::sort(members.begin(), members.end(), [&files](size_t a, size_t b) {
      const size_t ha = std::hash<std::string>{}(files[a].path);
      const size_t hb = std::hash<std::string>{}(files[b].path);
      return ha != hb ? ha < hb : a < b;
    });
    for (size_t k = 0; k < members.size(); ++k)
      p[members[k]] = "mixed/" + preset + "/m" + std::to_string(k / per_folder);
  }
  return p;
}

Placement alone(const std::vector<labelled::File>& files) {
  Placement p;
  for (size_t i = 0; i < files.size(); ++i) p.push_back("alone/f" + std::to_string(i));
  return p;
}

bool write_tree(const std::string& root, const std::vector<labelled::File>& files,
                const Placement& placement, std::string* error) {
  std::error_code ec;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string dir = root + "/" + placement[i];
    std::filesystem::create_directories(dir, ec);
    const std::string path = dir + "/f" + std::to_string(i) + extension(files[i].path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(files[i].bytes.data(), static_cast<std::streamsize>(files[i].bytes.size()));
    if (ec || !out) {
      *error = "cannot write " + path;
      return false;
    }
  }
  return true;
}

std::map<std::string, std::vector<size_t>> folders(const Placement& placement) {
  std::map<std::string, std::vector<size_t>> out;
  for (size_t i = 0; i < placement.size(); ++i) out[placement[i]].push_back(i);
  return out;
}

std::map<size_t, Answer> run_job(const std::string& input,
                                 const std::vector<std::string>& candidates,
                                 const std::string& preferred, bool detect) {
  JobPlan plan;
  plan.input = input;
  plan.output = input + ".out";  // a dry run creates nothing there
  plan.filter = "*.*";
  plan.source = EncodingEntry(preferred);
  plan.target = EncodingEntry("UTF-8");
  plan.options.threads = 1;
  plan.options.dry_run = true;
  plan.options.durable = false;
  plan.options.detect = detect;
  plan.options.candidates = candidates;
  ConvertJob job(std::move(plan));
  Quiet quiet;
  const JobReport report = job.run(quiet);
  std::map<size_t, Answer> answers;
  for (const FileReport& r : report.files) {
    const size_t index = index_of(r.path);
    if (index != SIZE_MAX) answers[index] = {r.source, std::string(outcome_name(r.outcome))};
  }
  return answers;
}

std::vector<std::string> preset_names() {
  std::vector<std::string> names;
  for (const detect::Preset& p : detect::presets()) names.push_back(p.name);
  return names;
}

std::string first_encoding(const std::string& preset) {
  for (const detect::Preset& p : detect::presets())
    if (p.name == preset) return p.encodings.front();
  return "UTF-8";
}

}  // namespace layouts
