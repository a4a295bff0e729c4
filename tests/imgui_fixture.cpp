// Headless Dear ImGui fixture: no back end, the atlas built in memory, input set on io.
#include "tests/imgui_fixture.h"

#include "ui/ui_probe.h"

ImGuiFixture* ImGuiFixture::current_ = nullptr;

void ImGuiFixture::SetUp() {
  ctx_ = ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.DisplaySize = ImVec2(1280, 800);
  io.DeltaTime = 1.0f / 60.0f;
  io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
  // Keys map to themselves so tests can press any ImGuiKey directly.
  for (int k = 0; k < ImGuiKey_COUNT; ++k) io.KeyMap[k] = k;
  unsigned char* pixels = nullptr;
  int w = 0, h = 0;
  io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
  io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(1));
  current_ = this;
  ui_probe::hook = &ImGuiFixture::record;
}

void ImGuiFixture::TearDown() {
  ui_probe::hook = nullptr;
  current_ = nullptr;
  ImGui::DestroyContext(ctx_);
  ctx_ = nullptr;
}

void ImGuiFixture::record(const char* id, const ImVec2& min, const ImVec2& max) {
  if (current_) current_->collecting_[id] = ItemRect{min, max};
}

void ImGuiFixture::frame(const Body& body) {
  collecting_.clear();
  ImGui::NewFrame();
  body();
  ImGui::Render();
  items_ = collecting_;
}

void ImGuiFixture::frames(int count, const Body& body) {
  for (int i = 0; i < count; ++i) frame(body);
}

void ImGuiFixture::click_at(ImVec2 pos, const Body& body) {
  ImGuiIO& io = ImGui::GetIO();
  io.MousePos = pos;
  frame(body);  // hover first, as a real pointer would
  io.MouseDown[0] = true;
  frame(body);
  io.MouseDown[0] = false;
  frame(body);
}

void ImGuiFixture::click_item(const std::string& id, const Body& body) {
  ASSERT_TRUE(seen(id)) << "widget not drawn: " << id;
  click_at(rect(id).center(), body);
}

void ImGuiFixture::type_text(const char* text, const Body& body) {
  ImGui::GetIO().AddInputCharactersUTF8(text);
  frame(body);
}

void ImGuiFixture::press_key(ImGuiKey key, const Body& body) {
  ImGuiIO& io = ImGui::GetIO();
  io.KeysDown[key] = true;
  frame(body);
  io.KeysDown[key] = false;
  frame(body);
}

ItemRect ImGuiFixture::rect(const std::string& id) const {
  auto it = items_.find(id);
  return it == items_.end() ? ItemRect{} : it->second;
}
