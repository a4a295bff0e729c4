// DPI-scaled style, the text font with the icon glyphs merged, the file dialog's colours.
#include "app/fonts.h"

#include <imgui.h>

#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/icon_font.h"
#include "ui/file_dialog.h"

namespace {

// Important: the atlas keeps a pointer to its glyph ranges until it is built; they must live
// as long as the program.
constexpr ImWchar kIconRanges[] = {0xF002, 0xF1C9, 0};

void add_text_font(ImFontAtlas* atlas, TextFontSource source, std::vector<unsigned char>& data,
                   const std::string& name, float size) {
  ImFontConfig cfg;
  if (source == TextFontSource::BuiltIn) {
    cfg.SizePixels = size;
    atlas->AddFontDefault(&cfg);
    return;
  }
  std::snprintf(cfg.Name, sizeof cfg.Name, "%s", name.c_str());
  // The atlas takes ownership and frees the copy with the GUI library's allocator.
  void* copy = ImGui::MemAlloc(data.size());
  std::memcpy(copy, data.data(), data.size());
  atlas->AddFontFromMemoryTTF(copy, static_cast<int>(data.size()), size, &cfg);
}

void merge_icon_font(ImFontAtlas* atlas, float size) {
  ImFontConfig cfg;
  cfg.MergeMode = true;
  cfg.PixelSnapH = true;
  cfg.FontDataOwnedByAtlas = false;  // embedded data: never freed, never written
  std::snprintf(cfg.Name, sizeof cfg.Name, "%s", "icons");
  atlas->AddFontFromMemoryTTF(const_cast<unsigned char*>(icon_font_data),
                              static_cast<int>(icon_font_size), size, &cfg, kIconRanges);
}

}  // namespace

TextFontSource setup_fonts_and_style(const AppState& app, const TextFontPaths& paths) {
  ImGui::GetStyle().ScaleAllSizes(app.dpi_scale);

  std::vector<unsigned char> data;
  const TextFontSource source = pick_text_font(paths, data);
  const std::string& name = source == TextFontSource::Preferred ? paths.preferred : paths.fallback;
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  add_text_font(atlas, source, data, name.substr(name.find_last_of('/') + 1), app.font_size);
  merge_icon_font(atlas, app.font_size);

  FileDialog::Instance().SetExtentionInfos(".cpp", ImVec4(1.0f, 1.0f, 0.0f, 0.9f), "");
  return source;
}
