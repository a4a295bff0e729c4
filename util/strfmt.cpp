// Two-pass vsnprintf formatting with a bounded retry loop for formatters that report errors.
#include "util/strfmt.h"

#include <cstdio>
#include <cstring>

namespace kestrum {
namespace {

constexpr size_t kFirstRegion = 128;
constexpr size_t kRetryLimit = 1048576;
constexpr const char* kErrorText = "kestrum::_strfmt: an error is encountered!";

int format_into(std::string& out, size_t offset, size_t size, const char* format, va_list args)
    __attribute__((format(printf, 4, 0)));

int format_into(std::string& out, size_t offset, size_t size, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  // size counts the string's own terminator as the last usable slot.
  int n = vsnprintf(out.data() + offset, size, format, copy);
  va_end(copy);
  return n;
}

// Appends the formatted text after `offset`; false when the formatter keeps failing.
bool append_format(std::string& out, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

bool append_format(std::string& out, const char* format, va_list args) {
  const size_t offset = out.size();
  size_t region = kFirstRegion;
  out.resize(offset + region, '\0');
  int n = format_into(out, offset, region + 1, format, args);
  if (n >= 0) {
    const size_t len = static_cast<size_t>(n);
    if (len < region) {
      out.resize(offset + len);
    } else if (len > region) {
      out.resize(offset + len);
      format_into(out, offset, len + 1, format, args);
    }
    return true;
  }
  while (n < 0 && region <= kRetryLimit) {
    region *= 2;
    out.resize(offset + region, '\0');
    n = format_into(out, offset, region + 1, format, args);
  }
  if (n > 0) {
    out.resize(offset + static_cast<size_t>(n));
    return true;
  }
  return false;
}

}  // namespace

std::string _strfmt(const char* format, va_list args) {
  std::string out;
  if (!append_format(out, format, args)) {
    std::string().swap(out);
    return kErrorText;
  }
  return out;
}

std::string strfmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = _strfmt(format, args);
  va_end(args);
  return out;
}

}  // namespace kestrum
