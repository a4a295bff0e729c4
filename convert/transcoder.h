// Converting a buffer through iconv into one growing output.
#pragma once

#include <cstdint>
#include <string>

// Outcome of convert_buffer. On failure `output` is left as it was given (prefix only).
struct BufferOutcome {
  bool ok = true;
  bool unsupported = false;  // iconv_open failed
  uint64_t stop_offset = 0;  // offset into the given input where conversion stopped
  int error = 0;             // errno of the failing call (EILSEQ, EINVAL, ...)
};

// Appends the conversion of `input` to `output` (bytes already there, the prefix, stay).
BufferOutcome convert_buffer(std::string& output, const char* input, size_t length,
                             const char* from, const char* to);
