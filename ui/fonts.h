// Fonts and style of the GUI: DPI-scaled sizes, the text fonts, the merged icon glyphs, and
// glyphs added to the atlas as the window meets characters that need them.
#pragma once

#include <imgui.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

struct AppState;

struct TextFontPaths {
  std::string preferred;
  std::string fallback;  // a collection: its first face is used
};

// DejaVu Sans Mono, then WenQuanYi Micro Hei, where Debian installs them.
TextFontPaths system_text_fonts();

// The preferred file when it exists and is not a directory, else the fallback, unchecked.
std::string choose_text_font(const TextFontPaths& paths);

// The whole file when it is a regular file whose face 0 is a usable TrueType/OpenType font;
// empty otherwise.
std::vector<unsigned char> read_font_file(const std::string& path);

enum class TextFontSource { Preferred, Fallback, BuiltIn };

// The chosen file, the other one when the chosen one cannot be loaded, else the built-in font.
TextFontSource pick_text_font(const TextFontPaths& paths, std::vector<unsigned char>& data);

// Face 0 of a font file kept in memory, and which characters it can draw.
class FontFace {
 public:
  FontFace();
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  // Takes the file's bytes (as read_font_file returns them); false, and empty, when unusable.
  bool assign(std::vector<unsigned char> bytes);
  void clear();
  bool empty() const { return bytes_.empty(); }
  bool has_glyph(unsigned int code_point) const;
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  struct Info;
  std::vector<unsigned char> bytes_;
  std::unique_ptr<Info> info_;
};

// The text font of the window: the first usable file, the other one merged for what the first
// lacks, the icons merged last. Scripts that cost little (Latin, Greek, Cyrillic, kana, ...)
// are in the atlas from the start; every other character is added when first drawn.
class TextFonts {
 public:
  static TextFonts& instance();

  // Scales the style by dpi_scale, loads the fonts and adds them to the GUI's atlas at
  // font_size; gives ".cpp" its colour in the file dialog. Once, before the first frame.
  TextFontSource setup(const AppState& app, const TextFontPaths& paths);
  // Between frames only: the characters noted since the last call that a loaded file can
  // draw are added, and the atlas rebuilt. True when it was: its texture must be made anew.
  bool add_requested_glyphs();
  // Characters added beyond the ones loaded at the start.
  size_t added_glyphs() const { return extra_.size(); }

 private:
  void add_fonts_to_atlas();
  // The characters noted since the last call that a loaded file can draw join extra_; true
  // when any did.
  bool take_requested_glyphs();
  bool secondary_has_glyph(ImWchar c);  // reads the second file at the first call

  TextFontSource source_ = TextFontSource::BuiltIn;
  FontFace primary_, secondary_;
  std::string primary_name_, secondary_name_;
  std::string secondary_path_;  // still to be read
  float size_ = 0.0f;
  std::set<ImWchar> extra_;
  // Important: the atlas reads its glyph ranges again at every build; they live here.
  std::vector<ImWchar> ranges_;
};

// TextFonts::instance().setup(app, paths).
TextFontSource setup_fonts_and_style(const AppState& app,
                                     const TextFontPaths& paths = system_text_fonts());
