// DPI-scaled style, the text fonts with the icon glyphs merged, glyphs added on demand, the
// file dialog's colours.
#include "ui/fonts.h"

#include <cstdio>

#include "app/app_state.h"
#include "ui/icon_font.h"
#include "util/i18n.h"
#include "widgets/glyph_demand.h"

namespace {

// Important: the atlas keeps a pointer to its glyph ranges and reads them at every build;
// they must live as long as the program.
constexpr ImWchar kIconRanges[] = {0xF002, 0xF1C9, 0};

// Loaded from the start: about 1,000 glyphs of the first font, a few milliseconds. CJK
// ideographs, kana and hangul (tens of thousands: a quarter of a second and a 4096 x 4096
// texture) are added as they are met.
// U+FFFD stays out so that a character no font has is drawn as "?", as before.
constexpr ImWchar kBaseRanges[] = {
    0x0020, 0x024F,  // Latin, Latin-1, Latin Extended-A and -B
    0x0370, 0x03FF,  // Greek
    0x0400, 0x052F,  // Cyrillic and its supplement
    0x1E00, 0x1EFF,  // Latin Extended Additional (Vietnamese)
    0x2000, 0x206F,  // punctuation
    0x20A0, 0x20CF,  // currency signs
    0x2190, 0x21FF,  // arrows
};

bool in_base_ranges(ImWchar c) {
  for (size_t i = 0; i + 1 < std::size(kBaseRanges); i += 2)
    if (c >= kBaseRanges[i] && c <= kBaseRanges[i + 1]) return true;
  return false;
}

// The base ranges and each added character, neighbours joined, zero-terminated.
std::vector<ImWchar> make_ranges(const std::set<ImWchar>& extra) {
  std::vector<ImWchar> out(std::begin(kBaseRanges), std::end(kBaseRanges));
  for (ImWchar c : extra) {
    if (out.back() + 1 == c)
      out.back() = c;
    else
      out.insert(out.end(), {c, c});
  }
  out.push_back(0);
  return out;
}

std::string file_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

void add_face(ImFontAtlas* atlas, FontFace& face, const std::string& name, float size, bool merge,
              const ImWchar* ranges) {
  ImFontConfig cfg;
  cfg.MergeMode = merge;
  cfg.FontDataOwnedByAtlas = false;  // kept by TextFonts across rebuilds
  std::snprintf(cfg.Name, sizeof cfg.Name, "%s", name.c_str());
  atlas->AddFontFromMemoryTTF(face.bytes().data(), static_cast<int>(face.bytes().size()), size,
                              &cfg, ranges);
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

TextFonts& TextFonts::instance() {
  static TextFonts fonts;
  return fonts;
}

TextFontSource TextFonts::setup(const AppState& app, const TextFontPaths& paths) {
  ImGui::GetStyle().ScaleAllSizes(app.dpi_scale);
  size_ = app.font_size;
  extra_.clear();
  primary_.clear();
  secondary_.clear();
  glyph_demand::reset();

  std::vector<unsigned char> data;
  source_ = pick_text_font(paths, data);
  primary_.assign(std::move(data));
  secondary_path_.clear();
  if (source_ == TextFontSource::Preferred) {
    // What the preferred font lacks (CJK, hangul) comes from the fallback collection, read
    // when the first such character is met: 5 MB the first frame need not wait for.
    primary_name_ = file_name(paths.preferred);
    secondary_path_ = paths.fallback;
  } else if (source_ == TextFontSource::Fallback) {
    primary_name_ = file_name(paths.fallback);
  }
  // The translations' characters are there from the first frame: no label shows "?".
  glyph_demand::note(i18n::catalogue_texts());
  take_requested_glyphs();
  add_fonts_to_atlas();

  return source_;
}

void TextFonts::add_fonts_to_atlas() {
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  atlas->Clear();
  ranges_ = make_ranges(extra_);
  if (source_ == TextFontSource::BuiltIn) {
    ImFontConfig cfg;
    cfg.SizePixels = size_;
    atlas->AddFontDefault(&cfg);
  } else {
    add_face(atlas, primary_, primary_name_, size_, false, ranges_.data());
    if (!secondary_.empty())
      add_face(atlas, secondary_, secondary_name_, size_, true, ranges_.data());
  }
  merge_icon_font(atlas, size_);
}

bool TextFonts::secondary_has_glyph(ImWchar c) {
  if (!secondary_path_.empty()) {
    if (secondary_.assign(read_font_file(secondary_path_)))
      secondary_name_ = file_name(secondary_path_);
    secondary_path_.clear();  // one attempt
  }
  return secondary_.has_glyph(c);
}

bool TextFonts::take_requested_glyphs() {
  bool added = false;
  for (ImWchar c : glyph_demand::take()) {
    if (in_base_ranges(c) || extra_.count(c) != 0) continue;
    if (c >= kIconRanges[0] && c <= kIconRanges[1]) continue;         // the icon font's own
    if (!primary_.has_glyph(c) && !secondary_has_glyph(c)) continue;  // drawn as "?"
    extra_.insert(c);
    added = true;
  }
  return added;
}

bool TextFonts::add_requested_glyphs() {
  if (!take_requested_glyphs()) return false;
  add_fonts_to_atlas();
  ImGui::GetIO().Fonts->Build();
  return true;
}

TextFontSource setup_fonts_and_style(const AppState& app, const TextFontPaths& paths) {
  return TextFonts::instance().setup(app, paths);
}
