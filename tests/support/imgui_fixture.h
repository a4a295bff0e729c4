// Headless Dear ImGui: a context with no renderer, frames driven by synthetic input.
#pragma once

#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ItemRect {
  ImVec2 min, max;
  ImVec2 center() const { return ImVec2((min.x + max.x) / 2, (min.y + max.y) / 2); }
};

class ImGuiFixture : public ::testing::Test {
 protected:
  using Body = std::function<void()>;

  void SetUp() override;
  void TearDown() override;

  // One frame: input already queued in io, then `body` between NewFrame and Render.
  void frame(const Body& body);
  // Several frames of `body` with no new input (lets popups and layouts settle).
  void frames(int count, const Body& body);

  // Moves the mouse to `pos`, presses in one frame and releases in the next.
  void click_at(ImVec2 pos, const Body& body);
  // Clicks the centre of the widget reported under `id` in the last frame; fails if unseen.
  void click_item(const std::string& id, const Body& body);
  // Types UTF-8 text into the focused widget (one frame).
  void type_text(const char* text, const Body& body);
  // Presses and releases one key (two frames).
  void press_key(ImGuiKey key, const Body& body);

  // Loads the system's text fonts into the atlas, as the tool does before its first frame.
  void load_text_fonts(float font_size = 15.0f);
  // Between frames, as the frame loop does: glyphs for the characters drawn so far are added
  // and the atlas rebuilt. True when it was.
  bool add_requested_glyphs();

  bool seen(const std::string& id) const { return items_.count(id) != 0; }
  // Identifiers reported in the last frame that start with `prefix`.
  int count_seen(const std::string& prefix) const;
  // Those identifiers themselves, in order.
  std::vector<std::string> seen_with(const std::string& prefix) const;
  ItemRect rect(const std::string& id) const;

  ImGuiContext* ctx_ = nullptr;

 private:
  static void record(const char* id, const ImVec2& min, const ImVec2& max);
  std::map<std::string, ItemRect> items_;       // widgets reported in the last frame
  std::map<std::string, ItemRect> collecting_;  // widgets reported in the frame being drawn
  static ImGuiFixture* current_;
};
