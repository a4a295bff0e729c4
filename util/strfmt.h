// printf-style formatting into a std::string of any length.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/result.h"  // errno_text

namespace kestrum {

// Formats with a caller-started va_list; the list is copied for every pass, never consumed.
std::string _strfmt(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Convenience form for callers that hold the arguments themselves.
std::string strfmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kestrum
