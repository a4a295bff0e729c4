// Throughput formatting with its unit thresholds.
#include "views/throughput.h"

#include <cstdio>

void format_speed(double bytes_per_second, char* out, size_t size) {
  const double v = bytes_per_second;
  // The thresholds are "at least": exactly 1024 B/s is already "1KB".
  if (v >= 1073741824.0)
    std::snprintf(out, size, "%.1lfGB", v / 1073741824.0);
  else if (v >= 1048576.0)
    std::snprintf(out, size, "%.1lfMB", v / 1048576.0);
  else if (v >= 1024.0)
    std::snprintf(out, size, "%.0lfKB", v / 1024.0);
  else
    std::snprintf(out, size, "%.0lfB", v);
}
