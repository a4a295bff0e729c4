// uchardet and ICU asked as a user of either library would: the whole input, the best answer.
#include "peer_detectors.h"

#include <uchardet.h>
#include <unicode/ucsdet.h>

#include <climits>

namespace peers {

namespace {

// ICU takes an int32_t length; a pooled folder stays far below this.
constexpr size_t kIcuLimit = size_t{16} << 20;

}  // namespace

std::string uchardet_pooled(const std::vector<std::string_view>& files) {
  uchardet_t det = uchardet_new();
  for (std::string_view f : files) uchardet_handle_data(det, f.data(), f.size());
  uchardet_data_end(det);
  const char* name = uchardet_get_charset(det);
  std::string out = name ? name : "";
  uchardet_delete(det);
  return out;
}

std::string uchardet_name(std::string_view bytes) { return uchardet_pooled({bytes}); }

std::string icu_name(std::string_view bytes) {
  UErrorCode status = U_ZERO_ERROR;
  UCharsetDetector* det = ucsdet_open(&status);
  if (U_FAILURE(status)) return "";
  const size_t size = bytes.size() < kIcuLimit ? bytes.size() : kIcuLimit;
  ucsdet_setText(det, bytes.data(), static_cast<int32_t>(size), &status);
  int32_t found = 0;
  const UCharsetMatch** matches = ucsdet_detectAll(det, &found, &status);
  std::string out;
  if (U_SUCCESS(status) && found > 0) {
    const char* name = ucsdet_getName(matches[0], &status);
    if (U_SUCCESS(status) && name) out = name;
  }
  ucsdet_close(det);
  return out;
}

std::string icu_pooled(const std::vector<std::string_view>& files) {
  std::string joined;
  for (std::string_view f : files) joined.append(f.data(), f.size());
  return icu_name(joined);
}

std::string iconv_label(const std::string& name) {
  if (name == "ISO-8859-8-I") return "ISO-8859-8";
  if (name == "x-mac-cyrillic") return "MAC-CYRILLIC";
  // ICU's IBM420/IBM424 with a text direction: the code page is the same.
  const size_t suffix = name.rfind('_');
  if (name.rfind("IBM42", 0) == 0 && suffix != std::string::npos) return name.substr(0, suffix);
  return name;
}

}  // namespace peers
