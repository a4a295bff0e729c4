// Headless Dear ImGui fixture: no back end, the atlas built in memory, input set on io.
#include "tests/support/imgui_fixture.h"

#include "app/app_state.h"
#include "ui/fonts.h"
#include "widgets/ui_probe.h"

namespace {

void upload_atlas() {
  unsigned char* pixels = nullptr;
  int w = 0, h = 0;
  ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
  ImGui::GetIO().Fonts->SetTexID(reinterpret_cast<ImTextureID>(1));
}

}  // namespace

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
  upload_atlas();
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

void ImGuiFixture::load_text_fonts(float font_size) {
  AppState app(AppState::no_config);
  app.dpi_scale = 1.0f;
  app.font_size = font_size;
  setup_fonts_and_style(app);
  upload_atlas();
}

bool ImGuiFixture::add_requested_glyphs() {
  if (!TextFonts::instance().add_requested_glyphs()) return false;
  upload_atlas();
  return true;
}

int ImGuiFixture::count_seen(const std::string& prefix) const {
  int n = 0;
  for (const auto& [id, rect] : items_)
    if (id.rfind(prefix, 0) == 0) ++n;
  return n;
}

std::vector<std::string> ImGuiFixture::seen_with(const std::string& prefix) const {
  std::vector<std::string> ids;
  for (auto it = items_.lower_bound(prefix); it != items_.end() && it->first.rfind(prefix, 0) == 0;
       ++it)
    ids.push_back(it->first);
  return ids;
}

ItemRect ImGuiFixture::rect(const std::string& id) const {
  auto it = items_.find(id);
  return it == items_.end() ? ItemRect{} : it->second;
}
