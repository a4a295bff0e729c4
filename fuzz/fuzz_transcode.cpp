// Fuzz target: random bytes through a file's conversion (one converter fed in pieces) over two
// dozen encoding pairs, the tables' both ways among them, on either loop path (SSE2 blocks or
// words). Never a crash; the output is exactly one plain iconv call's into a buffer big enough
// for all of it, and a failure is the same failure (error and offset).
// Input: the first byte picks the pair, the piece size and the path, the rest is the text.
#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transcode/stream_convert.h"
#include "util/ascii_blocks.h"

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
    {"UTF-8", "UTF-7"},       {"UTF-16", "GBK"},    {"UTF-8", "BIG5"},
    {"UTF-8", "CP932"},       {"UTF-8", "EUC-KR"},  {"UTF-8", "CP1251"},
    {"UTF-8", "CP1252"},      {"UTF-8", "GB18030"}, {"UTF-8", "EUC-JP"},
    {"UTF-8", "SHIFT_JIS"},   {"UTF-16LE", "GBK"},  {"UTF-16BE", "CP1251"},
    {"CP1251", "UTF-8"},
};

// Piece sizes: every byte apart, odd cuts, and the size the product uses.
constexpr size_t kPieces[] = {1, 3, 7, 64, kPieceBytes};

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
  const size_t piece = kPieces[data[0] / std::size(kPairs) % std::size(kPieces)];
  ascii::use_vectors(data[0] / (std::size(kPairs) * std::size(kPieces)) % 2 == 0);
  StreamConverter conv(pair.from, pair.to);
  std::string output, scratch;
  int take_error = 0;
  const auto take = [&output](std::string_view p) {
    output.append(p);
    return 0;
  };
  const bool ok = feed_in_pieces(conv, input, piece, scratch, take, take_error) &&
                  conv.finish(scratch) && take(scratch) == 0;
  if (input.empty()) {
    if (!ok || !output.empty()) fail("empty input made output", pair);
    return 0;
  }
  const Reference ref = plain_iconv(input, pair);
  if (ref.error == E2BIG) fail("the reference buffer was too small", pair);
  if (ok != ref.ok) fail(ok ? "success where iconv fails" : "failure where iconv succeeds", pair);
  if (ok) {
    if (output != ref.output) fail("output differs from iconv", pair);
    return 0;
  }
  if (conv.outcome().error != ref.error) fail("another error than iconv", pair);
  if (conv.outcome().stop_offset != ref.stop) fail("another stop offset than iconv", pair);
  return 0;
}
