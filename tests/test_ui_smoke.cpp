// The UI library links and a headless ImGui context runs a frame.
#include <gtest/gtest.h>
#include <imgui.h>

TEST(UiSmoke, HeadlessFrame) {
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(800, 500);
  unsigned char* pixels;
  int w, h;
  io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
  ImGui::NewFrame();
  ImGui::Begin("x");
  ImGui::End();
  ImGui::Render();
  ImGui::DestroyContext();
}
