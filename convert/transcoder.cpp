// Converting a buffer through iconv into one growing output.
#include "convert/transcoder.h"

#include "convert/iconv_handle.h"

BufferOutcome convert_buffer(std::string& output, const char* input, size_t length,
                             const char* from, const char* to) {
  BufferOutcome outcome;
  if (length == 0) return outcome;
  IconvHandle cd(to, from);
  if (!cd.is_open()) {
    outcome.ok = false;
    outcome.unsupported = true;
    outcome.error = cd.open_error();
    return outcome;
  }
  const size_t prefix = output.size();
  char* in = const_cast<char*>(input);
  size_t in_left = length;
  int err = cd.append(&in, &in_left, output);
  // Important: the closing call returns a stateful target (ISO-2022-*) to its initial shift
  // state; without it the file would end in the middle of a shift sequence.
  if (err == 0) err = cd.append(nullptr, nullptr, output);
  if (err != 0) {
    outcome.ok = false;
    outcome.error = err;
    outcome.stop_offset = static_cast<uint64_t>(in - input);
    output.resize(prefix);
  }
  return outcome;
}
