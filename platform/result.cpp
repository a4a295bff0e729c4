// Error texts for a person.
#include "platform/result.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string Error::message() const {
  return context.empty() ? errno_text(err) : context + ": " + errno_text(err);
}

Error last_error(std::string context) { return Error{errno, std::move(context)}; }

}  // namespace platform

std::string errno_text(int error) {
  char buf[256];
  // GNU strerror_r: returns the text, which may or may not be in `buf`.
  const char* text = ::strerror_r(error, buf, sizeof buf);
  return std::to_string(error) + " (" + text + ")";
}
