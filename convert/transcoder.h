// Transcoding one file: read whole, BOM policy, iconv into one growing buffer, safe write.
#pragma once

#include <cstdint>
#include <string>

enum class ConvertStatus {
  converted,       // written as asked
  cannot_read,     // nothing written; `error` is errno
  cannot_convert,  // written unchanged; `stop_offset` is where iconv stopped
  not_supported,   // the converter does not know the pair; written unchanged
  cannot_write,    // `error` is errno; an existing target is left as it was
};

struct ConvertResult {
  ConvertStatus status = ConvertStatus::converted;
  int error = 0;
  uint64_t stop_offset = 0;  // byte offset in the content as read (BOM included)
};

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

// Buffers the worker reuses from file to file: a big file then costs no fresh pages, a small
// one no allocation. Released when the job ends.
struct ConvertScratch {
  std::string content;    // the source as read
  std::string output;     // the prefix and the converted text
  std::string ready_dir;  // the last target directory known to exist
};

// Creates every missing directory along `path` ('/' separated).
void make_dirs(std::string path);
