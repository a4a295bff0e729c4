// The conversion a file goes through against one plain iconv call into a buffer sized for the
// whole result and against ICU's converter, both directions, on several shapes of real text.
//
//   bench_transcode --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//                   --benchmark_report_aggregates_only=true --benchmark_filter=shape
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ucnv.h>

#include <map>
#include <string>
#include <vector>

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

// ---- Shapes of text, both directions, against iconv and ICU --------------------------------

struct Shape {
  const char* name;
  const char* language;
  const char* legacy;      // the iconv name
  const char* icu_legacy;  // ICU's name of the same encoding
  bool source;             // C++ source with comments in the language, else prose
};

constexpr Shape kShapes[] = {
    {"cpp_chinese_comments", "zh_CN", "GBK", "GBK", true},
    {"chinese_prose", "zh_CN", "GBK", "GBK", false},
    {"japanese", "ja", "CP932", "windows-31j", false},
    {"russian", "ru", "CP1251", "windows-1251", false},
    {"latin1", "de", "CP1252", "windows-1252", false},
};

// The shape's text in UTF-8 and in its legacy encoding, made once.
const std::pair<std::string, std::string>& texts(const Shape& s) {
  static std::map<std::string, std::pair<std::string, std::string>> made;
  auto it = made.find(s.name);
  if (it == made.end()) {
    std::string utf8 = s.source ? bench_corpus::source_text(s.language, s.legacy, kBytes)
                                : bench_corpus::prose_text(s.language, s.legacy, kBytes);
    std::string legacy = bench_corpus::encoded(utf8, s.legacy);
    it = made.emplace(s.name, std::make_pair(std::move(utf8), std::move(legacy))).first;
  }
  return it->second;
}

enum class Peer { iconv, icu, ours };

// One conversion of `in`, whole, by a converter opened for it; false when it failed.
bool by_iconv(const std::string& in, std::string& out, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
  iconv_close(cd);
  return ok;
}

bool by_icu(const std::string& in, std::string& out, const char* from, const char* to) {
  static std::vector<UChar> pivot(1 << 16);
  UErrorCode status = U_ZERO_ERROR;
  UConverter* source = ucnv_open(from, &status);
  UConverter* target = ucnv_open(to, &status);
  const char* ip = in.data();
  char* op = out.data();
  UChar* pivot_source = pivot.data();
  UChar* pivot_target = pivot.data();
  ucnv_convertEx(target, source, &op, out.data() + out.size(), &ip, in.data() + in.size(),
                 pivot.data(), &pivot_source, &pivot_target, pivot.data() + pivot.size(), true,
                 true, &status);
  ucnv_close(source);
  ucnv_close(target);
  return U_SUCCESS(status);
}

bool by_ours(const std::string& in, std::string& scratch, const char* from, const char* to) {
  StreamConverter conv(from, to);
  size_t made = 0;
  int take_error = 0;
  const auto take = [&made](std::string_view piece) {
    made += piece.size();
    return 0;
  };
  const bool ok =
      feed_in_pieces(conv, in, kPieceBytes, scratch, take, take_error) && conv.finish(scratch);
  benchmark::DoNotOptimize(made += scratch.size());
  return ok;
}

void shape(benchmark::State& state, const Shape& s, bool to_utf8, Peer peer) {
  const auto& [utf8, legacy] = texts(s);
  if (utf8.empty() || legacy.empty()) return state.SkipWithError("no text (manual pages)");
  const std::string& in = to_utf8 ? legacy : utf8;
  const char* from = to_utf8 ? (peer == Peer::icu ? s.icu_legacy : s.legacy) : "UTF-8";
  const char* to = to_utf8 ? "UTF-8" : (peer == Peer::icu ? s.icu_legacy : s.legacy);
  std::string out(in.size() * 4, '\0');
  for (auto _ : state) {
    const bool ok = peer == Peer::iconv ? by_iconv(in, out, from, to)
                    : peer == Peer::icu ? by_icu(in, out, from, to)
                                        : by_ours(in, out, from, to);
    if (!ok) return state.SkipWithError("the conversion failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void register_shapes() {
  for (const Shape& s : kShapes)
    for (bool to_utf8 : {true, false})
      for (Peer peer : {Peer::iconv, Peer::icu, Peer::ours}) {
        const std::string name = std::string("shape/") + s.name + "/" +
                                 (to_utf8 ? "to_utf8/" : "from_utf8/") +
                                 (peer == Peer::iconv ? "iconv"
                                  : peer == Peer::icu ? "icu"
                                                      : "ours");
        benchmark::RegisterBenchmark(name.c_str(), shape, s, to_utf8, peer)
            ->Unit(benchmark::kMillisecond);
      }
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

int main(int argc, char** argv) {
  register_shapes();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
