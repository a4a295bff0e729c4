// Font file choice and a check that a file holds a face the atlas can use.
#include <sys/stat.h>

#include <cstdio>

#include "app/fonts.h"

// Important: a face the atlas builder cannot read trips an assertion inside the GUI library,
// so every file is checked here with the same TrueType reader before it is handed over.
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <imstb_truetype.h>
#pragma GCC diagnostic pop

namespace {

constexpr long kMaxFontBytes = 64L << 20;

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool usable_face(const std::vector<unsigned char>& data) {
  if (data.size() < 12) return false;
  const int offset = stbtt_GetFontOffsetForIndex(data.data(), 0);
  if (offset < 0) return false;
  stbtt_fontinfo info{};
  return stbtt_InitFont(&info, data.data(), offset) != 0;
}

}  // namespace

TextFontPaths system_text_fonts() {
  return {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
          "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"};
}

std::string choose_text_font(const TextFontPaths& paths) {
  struct stat st {};
  if (stat(paths.preferred.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return paths.preferred;
  return paths.fallback;
}

std::vector<unsigned char> read_font_file(const std::string& path) {
  std::vector<unsigned char> data;
  if (!is_regular_file(path)) return data;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > 0 && size <= kMaxFontBytes && std::fseek(f, 0, SEEK_SET) == 0) {
      data.resize(static_cast<size_t>(size));
      if (std::fread(data.data(), 1, data.size(), f) != data.size()) data.clear();
    }
  }
  std::fclose(f);
  if (!usable_face(data)) data.clear();
  return data;
}

TextFontSource pick_text_font(const TextFontPaths& paths, std::vector<unsigned char>& data) {
  if (choose_text_font(paths) == paths.preferred) {
    data = read_font_file(paths.preferred);
    if (!data.empty()) return TextFontSource::Preferred;
  }
  data = read_font_file(paths.fallback);
  if (!data.empty()) return TextFontSource::Fallback;
  return TextFontSource::BuiltIn;
}
