// The "Detect" checkbox and the encodings detection may choose from: presets ticked in a list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct AppState;

// Whether `candidates` holds `name` (a preset or an encoding), ignoring letter case.
bool has_candidate(const std::vector<std::string>& candidates, std::string_view name);
// Adds `name` at the end, or removes every spelling of it; the others keep their order.
void set_candidate(std::vector<std::string>& candidates, const std::string& name, bool on);
// What detection will choose from, for people: the ticked names, or what an empty list means
// with `from` as the From Encoding.
std::string describe_candidates(const std::vector<std::string>& candidates, std::string_view from);

// Kept between frames by the panel.
class CandidateChooser {
 public:
  // "Detect" bound to app.detect, then the candidates' combo (greyed while Detect is off),
  // on the line of the widget drawn last. True in the frame either changed.
  bool draw(AppState& app);

 private:
  bool draw_list(std::vector<std::string>& candidates, const std::string& from);

  std::vector<std::string> preset_labels_;  // per preset: "GB18030, GBK, ..."; made once
  std::vector<std::string> others_;         // names in the list that are no preset, while open
  std::string summary_;
};
