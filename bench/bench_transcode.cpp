// The conversion a file goes through against one plain iconv call into a buffer sized for the
// whole result.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>

#include "bench_corpus.h"
#include "transcode/line_endings.h"
#include "transcode/stream_convert.h"

namespace {

constexpr size_t kBytes = 4 << 20;

const std::string& source_for(const char* from) {
  static const std::string gbk = bench_corpus::gbk_text(kBytes);
  static const std::string utf8 = bench_corpus::utf8_text(kBytes);
  return std::string(from) == "GBK" ? gbk : utf8;
}

// The baseline: open, one call into a preallocated buffer of ample size, close.
void plain_iconv(benchmark::State& state, const char* from, const char* to) {
  const std::string& in = source_for(from);
  if (in.empty()) return state.SkipWithError("no Chinese text (install manpages-zh)");
  std::string out(in.size() * 4, '\0');
  for (auto _ : state) {
    iconv_t cd = iconv_open(to, from);
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = out.data();
    size_t ol = out.size();
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1))
      return state.SkipWithError("iconv failed");
    iconv_close(cd);
    benchmark::DoNotOptimize(op);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// What a file's conversion does: one converter fed in pieces, each piece's output handed on
// (here counted) before the next; `crlf`: every LF made CRLF by the converter as it decodes.
void ours(benchmark::State& state, const char* from, const char* to, bool crlf = false) {
  const std::string& in = source_for(from);
  if (in.empty()) return state.SkipWithError("no Chinese text (install manpages-zh)");
  std::string scratch;
  for (auto _ : state) {
    StreamConverter conv(from, to);
    EolRewriter eol(EolMode::crlf, EolUnits{});
    if (crlf) conv.rewrite_line_ends(eol);
    size_t made = 0;
    int take_error = 0;
    const auto take = [&made](std::string_view piece) {
      made += piece.size();
      return 0;
    };
    if (!feed_in_pieces(conv, in, kPieceBytes, scratch, take, take_error) || !conv.finish(scratch))
      return state.SkipWithError("the conversion failed");
    benchmark::DoNotOptimize(made += scratch.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// GBK into UTF-8 with every LF made CRLF, piece by piece: the converter's output rewritten by
// the rewriter afterwards (the baseline), or the converter rewriting them as it decodes.
void line_ends_two_passes(benchmark::State& state) {
  const std::string& in = source_for("GBK");
  if (in.empty()) return state.SkipWithError("no Chinese text (install manpages-zh)");
  std::string scratch, out;
  for (auto _ : state) {
    StreamConverter conv("GBK", "UTF-8");
    EolRewriter eol(EolMode::crlf, EolUnits{});
    size_t made = 0;
    int take_error = 0;
    const auto take = [&](std::string_view piece) {
      out.clear();
      eol.feed(piece, out);
      made += out.size();
      return 0;
    };
    if (!feed_in_pieces(conv, in, kPieceBytes, scratch, take, take_error) || !conv.finish(scratch))
      return state.SkipWithError("the conversion failed");
    eol.finish(out);
    benchmark::DoNotOptimize(made += out.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void line_ends_one_pass(benchmark::State& state) { ours(state, "GBK", "UTF-8", true); }

// A small file's conversion (2.5 KB of GBK): a converter opened and closed for it, against one
// kept open and reset to its initial state (what a per-thread cache would do).
constexpr size_t kSmallFile = 2500;

void small_file_opened(benchmark::State& state) {
  const std::string& in = source_for("GBK");
  if (in.empty()) return state.SkipWithError("no Chinese text (install manpages-zh)");
  std::string out(kSmallFile * 2, '\0');
  size_t at = 0;
  for (auto _ : state) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    char* ip = const_cast<char*>(in.data()) + at;
    size_t il = kSmallFile;
    char* op = out.data();
    size_t ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);  // may stop inside a character at the end: the same for both
    iconv_close(cd);
    at = (at + kSmallFile) % (in.size() - kSmallFile);
    benchmark::DoNotOptimize(op);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSmallFile));
}

void small_file_kept(benchmark::State& state) {
  const std::string& in = source_for("GBK");
  if (in.empty()) return state.SkipWithError("no Chinese text (install manpages-zh)");
  std::string out(kSmallFile * 2, '\0');
  size_t at = 0;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in.data()) + at;
    size_t il = kSmallFile;
    char* op = out.data();
    size_t ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    at = (at + kSmallFile) % (in.size() - kSmallFile);
    benchmark::DoNotOptimize(op);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSmallFile));
}

}  // namespace

BENCHMARK(small_file_opened);
BENCHMARK(small_file_kept);
BENCHMARK_CAPTURE(plain_iconv, gbk_to_utf8, "GBK", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, gbk_to_utf8, "GBK", "UTF-8")->Unit(benchmark::kMillisecond);
BENCHMARK(line_ends_two_passes)->Unit(benchmark::kMillisecond);
BENCHMARK(line_ends_one_pass)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(plain_iconv, utf8_to_gbk, "UTF-8", "GBK")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, utf8_to_gbk, "UTF-8", "GBK")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(plain_iconv, utf8_to_utf16le, "UTF-8", "UTF-16LE")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ours, utf8_to_utf16le, "UTF-8", "UTF-16LE")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
