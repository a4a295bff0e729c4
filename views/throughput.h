// The throughput amount shown beside "Start Convert": B, KB, MB or GB by size.
#pragma once

#include <cstddef>

// Writes `bytes_per_second` scaled to its unit ("3KB", "1.5MB") into `out` (no "/s").
void format_speed(double bytes_per_second, char* out, size_t size);
