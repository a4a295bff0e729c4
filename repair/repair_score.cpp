// Plausibility of decoded text through the detection's per-language statistics.
#include "repair/repair_score.h"

#include "detect/lang_model.h"
#include "transcode/utf8.h"

namespace repair {
namespace {

constexpr size_t kWeighedBytes = 64 * 1024;

std::u32string weighed_part(std::string_view utf8) {
  if (utf8.size() > kWeighedBytes) {
    utf8 = utf8.substr(0, kWeighedBytes);
    utf8 = utf8.substr(0, utf8.size() - utf8_incomplete_tail(utf8));
  }
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out.push_back(utf8_next(utf8, i));
  return out;
}

double per_char(double points, double chars) { return chars > 0 ? points / chars : 0; }

}  // namespace

size_t non_ascii_chars(std::string_view utf8) {
  size_t n = 0;
  for (char ch : utf8) {
    const auto b = static_cast<unsigned char>(ch);
    n += b >= 0xC0 ? 1 : 0;
  }
  return n;
}

double plausibility(std::string_view utf8) {
  double chars = 0;
  const double points = detect::best_language_points(weighed_part(utf8), &chars);
  return per_char(points, chars);
}

double plausibility_as(std::string_view utf8, const std::string& encoding) {
  double chars = 0;
  const double points = detect::language_points(weighed_part(utf8), encoding, &chars);
  return per_char(points, chars);
}

}  // namespace repair
