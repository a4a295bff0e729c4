// Cheap looks at content: unmarked UTF-16, ISO-2022 escapes, strict decodability.
#include <cstdint>
#include <string>

#include "detect/detect.h"
#include "detect/detect_decode.h"

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

bool decodes_strictly(std::string_view content, const std::string& encoding) {
  return check_strict(content, canonical_name(encoding));
}

}  // namespace detect
