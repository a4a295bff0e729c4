// Cheap looks at content: unmarked UTF-16, ISO-2022 escapes, strict decodability.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect/detect_decode.h"
#include "detect/lang_model.h"

namespace detect {
namespace {

// Decoded text that a person wrote: no NUL and no control but tab, line and page breaks.
bool plain_text(std::u32string_view text) {
  for (char32_t c : text)
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0xFFFE) return false;
  return true;
}

}  // namespace

std::string unmarked_utf16(std::string_view content) {
  const size_t n = std::min<size_t>(content.size(), 4096) & ~size_t{1};
  if (n < 4) return "";
  size_t zero_even = 0, zero_odd = 0;
  for (size_t i = 0; i < n; i += 2) {
    zero_even += content[i] == 0 ? 1 : 0;
    zero_odd += content[i + 1] == 0 ? 1 : 0;
  }
  const size_t pairs = n / 2;
  std::string name;
  if (zero_odd * 10 >= pairs * 3 && zero_even * 50 <= pairs) name = "UTF-16LE";
  if (zero_even * 10 >= pairs * 3 && zero_odd * 50 <= pairs) name = "UTF-16BE";
  if (name.empty()) return "";
  const size_t probe = std::min<size_t>(content.size(), 1 << 16) & ~size_t{1};
  std::u32string text;
  const Decoded d = decode_strict(content.substr(0, probe), name, text);
  // A probe cut inside a surrogate pair stops as incomplete; that is fine.
  const bool read = d.ok || (d.incomplete && probe < content.size());
  return read && plain_text(text) ? name : "";
}

namespace {

// Zero bytes at each position modulo `width` over the first 4 KiB.
std::vector<size_t> zeros_by_position(std::string_view content, size_t width, size_t* units) {
  const size_t n = std::min<size_t>(content.size(), 4096) / width * width;
  std::vector<size_t> zeros(width, 0);
  for (size_t i = 0; i < n; ++i) zeros[i % width] += content[i] == 0 ? 1 : 0;
  *units = n / width;
  return zeros;
}

// The probe read strictly as `name` is text a person wrote; `plausible`: and reads as text in
// some language the statistics know.
bool reads_as(std::string_view content, const std::string& name, bool plausible) {
  const size_t probe = std::min<size_t>(content.size(), 1 << 16) & ~size_t{3};
  std::u32string text;
  const Decoded d = decode_strict(content.substr(0, probe), name, text);
  if (!(d.ok || (d.incomplete && probe < content.size())) || !plain_text(text)) return false;
  double chars = 0;
  return !plausible || best_language_points(text, &chars) > 0 || chars == 0;
}

std::string unmarked_utf32(std::string_view content) {
  size_t units = 0;
  const std::vector<size_t> z = zeros_by_position(content, 4, &units);
  if (units < 2) return "";
  // Every character's top byte is zero; the next one too below U+10000.
  if (z[3] == units && z[2] * 10 >= units * 9 && z[0] < units) {
    if (reads_as(content, "UTF-32LE", false)) return "UTF-32LE";
  }
  if (z[0] == units && z[1] * 10 >= units * 9 && z[3] < units) {
    if (reads_as(content, "UTF-32BE", false)) return "UTF-32BE";
  }
  return "";
}

// UTF-16 of a script above Latin (Chinese, Russian) has zero bytes only where it holds ASCII
// (line ends, blanks, digits): too few for unmarked_utf16, so the text itself must read as
// writing in some language.
std::string sparse_utf16(std::string_view content) {
  size_t units = 0;
  const std::vector<size_t> z = zeros_by_position(content, 2, &units);
  if (units < 4) return "";
  if (z[1] >= 2 && z[0] * 8 <= z[1] && reads_as(content, "UTF-16LE", true)) return "UTF-16LE";
  if (z[0] >= 2 && z[1] * 8 <= z[0] && reads_as(content, "UTF-16BE", true)) return "UTF-16BE";
  return "";
}

}  // namespace

std::string unmarked_wide(std::string_view content) {
  if (content.find('\0') == std::string_view::npos) return "";
  if (std::string form = unmarked_utf32(content); !form.empty()) return form;
  if (std::string form = unmarked_utf16(content); !form.empty()) return form;
  return sparse_utf16(content);
}

bool has_iso2022_escapes(std::string_view content) {
  for (size_t at = content.find('\x1b'); at != std::string_view::npos;
       at = content.find('\x1b', at + 1)) {
    const std::string_view rest = content.substr(at + 1, 3);
    if (rest.rfind("$B", 0) == 0 || rest.rfind("$@", 0) == 0 || rest.rfind("$A", 0) == 0 ||
        rest.rfind("$(", 0) == 0 || rest.rfind("$)", 0) == 0 || rest.rfind("$*", 0) == 0)
      return true;
  }
  return false;
}

std::string iso2022_form(std::string_view content) {
  for (size_t at = content.find('\x1b'); at != std::string_view::npos;
       at = content.find('\x1b', at + 1)) {
    const std::string_view rest = content.substr(at + 1, 3);
    // ESC $ ) C designates KS X 1001 (Korean); ESC $ ) A, $ ) G, $ * H the Chinese sets.
    if (rest == "$)C") return "ISO-2022-KR";
    if (rest == "$)A" || rest == "$)G" || rest == "$)E" || rest == "$*H") return "ISO-2022-CN";
    if (rest.rfind("$B", 0) == 0 || rest.rfind("$@", 0) == 0 || rest.rfind("$(", 0) == 0)
      return "ISO-2022-JP";
  }
  return "";
}

bool decodes_strictly(std::string_view content, const std::string& encoding) {
  return check_strict(content, canonical_name(encoding));
}

}  // namespace detect
