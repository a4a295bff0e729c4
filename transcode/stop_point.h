// Line and column of the byte where conversion stopped, for a message a person can act on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "transcode/charset.h"

// Where conversion stopped, counted in the content as read.
struct StopPoint {
  uint64_t offset = 0;
  uint64_t line = 1;    // from 1
  uint64_t column = 1;  // characters from 1 (bytes where the line cannot be decoded)
};

// `offset` counts bytes of `content` as read. Lines are counted by the line feeds of the
// source's code unit size; the column counts the characters of the line before the offset
// (decoded with `charset`), or its bytes when that part cannot be decoded.
StopPoint locate_stop(std::string_view content, uint64_t offset, const std::string& charset,
                      UnicodeForm form);

// The same for a file too big to hold: read up to `offset` in chunks.
StopPoint locate_stop_in_file(const std::string& path, uint64_t offset, const std::string& charset,
                              UnicodeForm form);
