// Local times as text, for names and for people.
#include "util/local_time.h"

#include <ctime>

std::string local_time_text(int64_t ns, const char* format) {
  const auto secs = static_cast<time_t>(ns / 1000000000);
  struct tm local;
  localtime_r(&secs, &local);
  char text[64];
  return std::strftime(text, sizeof text, format, &local) ? text : "";
}
