// Tables of the characters each misreading makes of a UTF-8 lead byte, built once from iconv.
#include "repair/repair_leads.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/sys_io.h"
#include "repair/repair_codec.h"
#include "repair/repair_double.h"
#include "transcode/utf8.h"

namespace repair {
namespace {

constexpr char32_t kTableSize = 0x10000;  // characters above it are never rejected

// Per misreading encoding, which characters of the first plane start a misread sequence:
// the first character each reads `lead continuation` (or the lead alone) as.
std::vector<bool> leads_of(const std::string& encoding) {
  std::vector<bool> leads(kTableSize, false);
  bool any = false;
  std::string bytes, out;
  for (int b1 = 0xC2; b1 <= 0xF4; ++b1) {
    for (int b2 = 0x7F; b2 <= 0xBF; ++b2) {  // 0x7F: the lead byte alone
      bytes.assign(1, static_cast<char>(b1));
      if (b2 >= 0x80) bytes.push_back(static_cast<char>(b2));
      out.clear();
      if (!decode_exact(bytes, encoding, out) || out.empty()) continue;
      size_t at = 0;
      const char32_t c = utf8_next(out, at);
      if (c < kTableSize) leads[c] = true;
      any = true;
    }
  }
  return any ? leads : std::vector<bool>();
}

// Null while the converters are a test's stand-ins: tables built from them would stay.
const std::vector<std::vector<bool>>* lead_tables() {
  static std::mutex lock;
  static std::vector<std::vector<bool>> tables;
  static std::atomic<bool> built{false};
  if (built.load(std::memory_order_acquire)) return &tables;
  if (platform::sysio().iconv_open != platform::real_sysio().iconv_open) return nullptr;
  const std::lock_guard<std::mutex> hold(lock);
  if (!built.load(std::memory_order_relaxed)) {
    for (const std::string& encoding : misreading_encodings()) tables.push_back(leads_of(encoding));
    built.store(true, std::memory_order_release);
  }
  return &tables;
}

}  // namespace

std::u32string run_starts(std::string_view text, size_t max_runs, size_t max_bytes) {
  std::u32string starts;
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  bool after_ascii = true;
  const size_t end = i + std::min(text.size() - i, max_bytes);
  while (i < end && starts.size() < max_runs) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      after_ascii = true;
      ++i;
      continue;
    }
    const char32_t c = utf8_next(text, i);
    if (after_ascii) starts.push_back(c);
    after_ascii = false;
  }
  return starts;
}

bool may_be_misread(std::u32string_view starts, const std::string& encoding) {
  const std::vector<std::vector<bool>>* tables = lead_tables();
  if (tables == nullptr) return true;
  const std::vector<std::string>& names = misreading_encodings();
  for (size_t e = 0; e < names.size(); ++e) {
    if (names[e] != encoding) continue;
    const std::vector<bool>& leads = (*tables)[e];
    if (leads.empty()) return true;
    for (const char32_t c : starts)
      if (c < kTableSize && !leads[c]) return false;
    return true;
  }
  return true;
}

}  // namespace repair
