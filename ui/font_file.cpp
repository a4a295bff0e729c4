// Font file choice, a check that a file holds a face the atlas can use, and glyph coverage.
#include <sys/stat.h>

#include <cstdint>

#include "platform/fs.h"
#include "ui/fonts.h"

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

constexpr uint64_t kMaxFontBytes = uint64_t{64} << 20;

bool init_face(const std::vector<unsigned char>& data, stbtt_fontinfo& info) {
  if (data.size() < 12) return false;
  const int offset = stbtt_GetFontOffsetForIndex(data.data(), 0);
  if (offset < 0) return false;
  return stbtt_InitFont(&info, data.data(), offset) != 0;
}

}  // namespace

struct FontFace::Info {
  stbtt_fontinfo stb{};
};

FontFace::FontFace() = default;
FontFace::~FontFace() = default;

bool FontFace::assign(std::vector<unsigned char> bytes) {
  clear();
  auto info = std::make_unique<Info>();
  // The reader keeps a pointer into the bytes; moving the vector keeps its buffer.
  bytes_ = std::move(bytes);
  if (!init_face(bytes_, info->stb)) {
    bytes_.clear();
    return false;
  }
  info_ = std::move(info);
  return true;
}

void FontFace::clear() {
  info_.reset();
  bytes_.clear();
}

bool FontFace::has_glyph(unsigned int code_point) const {
  return info_ && stbtt_FindGlyphIndex(&info_->stb, static_cast<int>(code_point)) != 0;
}

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
  std::string bytes;
  std::vector<unsigned char> data;
  if (!platform::read_file(path, bytes, kMaxFontBytes)) return data;
  data.assign(bytes.begin(), bytes.end());
  stbtt_fontinfo info{};
  if (!init_face(data, info)) data.clear();
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
