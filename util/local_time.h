// Local times as text, for names and for people.
#pragma once

#include <cstdint>
#include <string>

// The local time `ns` nanoseconds after the epoch, through strftime's `format`.
std::string local_time_text(int64_t ns, const char* format);
