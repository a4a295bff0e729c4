// Fuzz target: random bytes through convert_buffer over a dozen encoding pairs. Never a
// crash; the output is exactly one plain iconv call's into a buffer big enough for all of it,
// and a failure is the same failure (error and offset) with the caller's prefix untouched.
// Input: the first byte picks the pair, the rest is the text.
#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/transcoder.h"

namespace {

struct Pair {
  const char* from;
  const char* to;
};

constexpr Pair kPairs[] = {
    {"GBK", "UTF-8"},         {"UTF-8", "GBK"},     {"BIG5", "UTF-8"},
    {"SHIFT_JIS", "UTF-8"},   {"CP1252", "UTF-8"},  {"KOI8-R", "UTF-8"},
    {"UTF-16LE", "UTF-8"},    {"UTF-8", "UTF-16"},  {"UTF-8", "ISO-2022-JP"},
    {"ISO-2022-JP", "UTF-8"}, {"GB18030", "UTF-8"}, {"EUC-JP", "UTF-8"},
    {"UTF-8", "UTF-7"},       {"UTF-16", "GBK"},
};

struct Reference {
  bool ok = true;
  int error = 0;
  size_t stop = 0;
  std::string output;
};

// One iconv call with room for everything, then the closing call.
Reference plain_iconv(const std::string& input, const Pair& pair) {
  Reference ref;
  const iconv_t cd = ::iconv_open(pair.to, pair.from);
  if (cd == reinterpret_cast<iconv_t>(-1)) std::abort();  // every pair is known
  ref.output.resize(input.size() * 8 + 64);
  char* in = const_cast<char*>(input.data());
  size_t in_left = input.size();
  char* out = ref.output.data();
  size_t out_left = ref.output.size();
  if (::iconv(cd, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1) ||
      ::iconv(cd, nullptr, nullptr, &out, &out_left) == static_cast<size_t>(-1)) {
    ref.ok = false;
    ref.error = errno;
  }
  ref.stop = static_cast<size_t>(in - input.data());
  ref.output.resize(ref.output.size() - out_left);
  ::iconv_close(cd);
  return ref;
}

void fail(const char* what, const Pair& pair) {
  std::fprintf(stderr, "%s-->%s: %s\n", pair.from, pair.to, what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Pair& pair = kPairs[data[0] % std::size(kPairs)];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string prefix = "\xEF\xBB\xBF";
  std::string output = prefix;
  const BufferOutcome got = convert_buffer(output, input.data(), input.size(), pair.from, pair.to);
  if (input.empty()) {
    if (!got.ok || output != prefix) fail("empty input changed the output", pair);
    return 0;
  }
  const Reference ref = plain_iconv(input, pair);
  if (ref.error == E2BIG) fail("the reference buffer was too small", pair);
  if (got.ok != ref.ok)
    fail(got.ok ? "success where iconv fails" : "failure where iconv succeeds", pair);
  if (got.ok) {
    if (output != prefix + ref.output) fail("output differs from iconv", pair);
    return 0;
  }
  if (output != prefix) fail("a failure left output behind", pair);
  if (got.error != ref.error) fail("another error than iconv", pair);
  if (got.stop_offset != ref.stop) fail("another stop offset than iconv", pair);
  return 0;
}
