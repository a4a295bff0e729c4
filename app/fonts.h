// Fonts and style of the GUI: DPI-scaled sizes, the text font, the merged icon glyphs.
#pragma once

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

// Scales the style by dpi_scale, adds the text font at font_size with the icons merged and
// gives ".cpp" its colour in the file dialog. Once, before the first frame.
TextFontSource setup_fonts_and_style(const AppState& app,
                                     const TextFontPaths& paths = system_text_fonts());
