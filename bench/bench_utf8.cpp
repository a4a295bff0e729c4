// The strict UTF-8 check against a plain byte-at-a-time validator and one iconv call.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

#include "bench_corpus.h"
#include "transcode/utf8.h"

namespace {

constexpr size_t kBytes = 8 << 20;

const std::string& text_for(bool chinese) {
  static const std::string utf8 = bench_corpus::utf8_text(kBytes);
  static const std::string ascii = bench_corpus::ascii_text(kBytes);
  return chinese ? utf8 : ascii;
}

// Baseline 1: the textbook loop, one byte and one branch at a time.
bool byte_loop(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    if (len == 3 && ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] > 0x9F)))
      return false;
    if (len == 4 && ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] > 0x8F)))
      return false;
    i += len;
  }
  return true;
}

// Baseline 2: glibc's own UTF-8 decoder, converting to UTF-8 into a ready buffer.
bool iconv_check(const std::string& s, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", "UTF-8");
  char* ip = const_cast<char*>(s.data());
  size_t il = s.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
  iconv_close(cd);
  return ok;
}

void run(benchmark::State& state, bool chinese, int method) {
  const std::string& s = text_for(chinese);
  if (s.empty()) return state.SkipWithError("no corpus text");
  std::string out(s.size() + 16, '\0');
  for (auto _ : state) {
    bool ok = false;
    if (method == 0) ok = utf8_check(s).valid;
    if (method == 1) ok = byte_loop(s);
    if (method == 2) ok = iconv_check(s, out);
    if (!ok) return state.SkipWithError("the text did not validate");
    benchmark::DoNotOptimize(ok);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}

}  // namespace

BENCHMARK_CAPTURE(run, chinese_utf8_check, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run, chinese_byte_loop, true, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run, chinese_iconv, true, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run, ascii_utf8_check, false, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run, ascii_byte_loop, false, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(run, ascii_iconv, false, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
