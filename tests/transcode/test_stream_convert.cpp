// Streaming conversion: chunked output byte-identical to the whole-buffer conversion and the
// iconv command for every chunk size, state and cut sequences across chunks, failure offsets,
// and whole files read in chunks through the I/O seam.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "job/job.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "tests/support/test_support.h"
#include "transcode/stream_convert.h"

using namespace testing_support;
using platform::LinkPolicy;
using platform::TargetFile;

namespace {

struct Streamed {
  std::string out;
  StreamOutcome outcome;
};

// Feeds `in` to one converter in pieces of `chunk` bytes, then finishes.
Streamed stream(const std::string& in, const std::string& from, const std::string& to, size_t chunk,
                ConverterShelf* shelf = nullptr) {
  StreamConverter conv(from, to, shelf);
  Streamed r;
  bool ok = true;
  for (size_t pos = 0; ok && pos < in.size(); pos += chunk)
    ok = conv.feed(in.data() + pos, std::min(chunk, in.size() - pos), r.out);
  if (ok) conv.finish(r.out);
  r.outcome = conv.outcome();
  return r;
}

// The reference: the whole input in one iconv call into a buffer big enough for anything.
struct Whole {
  bool ok;
  uint64_t stop_offset;
};
Whole whole(const std::string& in, const char* from, const char* to, std::string& out) {
  const iconv_t cd = ::iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from << " to " << to;
  if (cd == reinterpret_cast<iconv_t>(-1)) return {false, 0};
  out.assign(in.size() * 8 + 64, '\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  const bool ok = ::iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) &&
                  ::iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(out.size() - ol);
  return {ok, static_cast<uint64_t>(ip - in.data())};
}

bool is_unicode(const std::string& enc) { return enc.rfind("UTF", 0) == 0 || enc == "GB18030"; }

// ---- Encoding x chunk size matrix -------------------------------------------------------
// UTF-7 keeps a shift state; BIG5-HKSCS and EUC-JISX0213 hold a character back in their state
// while they wait for a combining one.

using ChunkCase = std::tuple<const char*, size_t>;
class StreamMatrix : public ::testing::TestWithParam<ChunkCase> {};

std::string text_for(const std::string& enc) {
  return mixed_text(240, is_unicode(enc), is_unicode(enc));
}

// Into UTF-8: sequences cut at every chunk boundary come out as the whole buffer does.
TEST_P(StreamMatrix, IntoUtf8SameAsWhole) {
  const auto [enc, chunk] = GetParam();
  bool ok = false;
  const std::string source = iconv_command(text_for(enc), "UTF-8", enc, &ok);
  ASSERT_TRUE(ok);
  const Streamed s = stream(source, enc, "UTF-8", chunk);
  ASSERT_TRUE(s.outcome.ok) << s.outcome.error << " at " << s.outcome.stop_offset;
  std::string expected;
  ASSERT_TRUE(whole(source, enc, "UTF-8", expected).ok);
  EXPECT_EQ(s.out, expected);
  EXPECT_EQ(s.out, iconv_command(source, enc, "UTF-8"));
}

// From UTF-8: two-, three- and four-byte sequences cut anywhere, same bytes as the whole.
TEST_P(StreamMatrix, FromUtf8SameAsWhole) {
  const auto [enc, chunk] = GetParam();
  const std::string text = text_for(enc);
  const Streamed s = stream(text, "UTF-8", enc, chunk);
  ASSERT_TRUE(s.outcome.ok) << s.outcome.error << " at " << s.outcome.stop_offset;
  std::string expected;
  ASSERT_TRUE(whole(text, "UTF-8", enc, expected).ok);
  EXPECT_EQ(s.out, expected);
  EXPECT_EQ(s.out, iconv_command(text, "UTF-8", enc));
}

INSTANTIATE_TEST_SUITE_P(Encodings, StreamMatrix,
                         ::testing::Combine(::testing::Values("GBK", "GB18030", "UTF-8", "UTF-16LE",
                                                              "UTF-16BE", "UTF-16", "UTF-32BE",
                                                              "UTF-7", "BIG5", "BIG5-HKSCS",
                                                              "SHIFT_JIS", "EUC-JISX0213"),
                                            ::testing::Values(1, 2, 3, 5, 7, 64, 4096)));

// ---- State across chunks ----------------------------------------------------------------

// A stateful target keeps its shift state across chunks and ends in the initial one.
TEST(StreamConverter, StatefulTargetAcrossChunks) {
  const std::string text = mixed_text(60, false, false) + " end \xE6\x97\xA5";  // ends in Kanji
  const std::string expected = iconv_command(text, "UTF-8", "ISO-2022-JP");
  ASSERT_EQ(expected.substr(expected.size() - 3), "\x1B(B");
  for (size_t chunk = 1; chunk <= 9; ++chunk) {
    const Streamed s = stream(text, "UTF-8", "ISO-2022-JP", chunk);
    ASSERT_TRUE(s.outcome.ok) << chunk;
    EXPECT_EQ(s.out, expected) << chunk;
  }
}

// A stateful source: escape sequences cut by chunk boundaries still switch the decoder.
TEST(StreamConverter, StatefulSourceAcrossChunks) {
  const std::string text = mixed_text(60, false, false);
  const std::string source = iconv_command(text, "UTF-8", "ISO-2022-JP");
  for (size_t chunk = 1; chunk <= 9; ++chunk) {
    const Streamed s = stream(source, "ISO-2022-JP", "UTF-8", chunk);
    ASSERT_TRUE(s.outcome.ok) << chunk;
    EXPECT_EQ(s.out, text) << chunk;
  }
}

// Targets that hold a character back until they see whether a combining one follows keep it
// across chunk boundaries and write it at the end.
TEST(StreamConverter, CombiningTargetsAcrossChunks) {
  const std::string kana = "\xE3\x81\x8B";  // か
  const std::string semi = "\xE3\x82\x9A";  // combining semi-voiced mark
  const std::string e_hat = "\xC3\x8A";     // Ê
  const std::string macron = "\xCC\x84";    // combining macron
  const struct {
    const char* target;
    std::string text;
  } cases[] = {
      {"EUC-JISX0213", kana + semi + kana + "a" + kana + kana + semi + "\n" + kana},
      {"BIG5-HKSCS", e_hat + macron + e_hat + "a" + e_hat + e_hat + macron + "\n" + e_hat},
  };
  for (const auto& c : cases) {
    bool ok = false;
    const std::string expected = iconv_command(c.text, "UTF-8", c.target, &ok);
    ASSERT_TRUE(ok) << c.target;
    for (size_t chunk = 1; chunk <= 7; ++chunk) {
      const Streamed s = stream(c.text, "UTF-8", c.target, chunk);
      ASSERT_TRUE(s.outcome.ok) << c.target << " " << chunk;
      EXPECT_EQ(s.out, expected) << c.target << " " << chunk;
    }
  }
}

// Output several times the input (single byte -> UTF-32) grows the buffer inside a chunk.
TEST(StreamConverter, WideTargetGrowsPerChunk) {
  const std::string in(3 * 1024 * 1024 + 7, 'x');
  const Streamed s = stream(in, "CP1252", "UTF-32LE", 1024 * 1024);
  std::string expected;
  ASSERT_TRUE(whole(in, "CP1252", "UTF-32LE", expected).ok);
  EXPECT_EQ(s.out, expected);
}

// ---- Failures ---------------------------------------------------------------------------

// An invalid sequence anywhere (also right after a cut sequence) stops at the offset the whole
// conversion reports, counted in the whole stream.
TEST(StreamConverter, InvalidSequenceOffsetInWholeStream) {
  const std::string base = mixed_text(120, false, false);
  for (size_t at = 195; at < 206; ++at) {
    const std::string in = base.substr(0, at) + "\xFF" + base.substr(at);
    std::string ignored;
    const Whole expected = whole(in, "UTF-8", "GBK", ignored);
    ASSERT_FALSE(expected.ok);
    for (size_t chunk : {1, 3, 100}) {  // 100: the invalid byte is in the third chunk
      const Streamed s = stream(in, "UTF-8", "GBK", chunk);
      EXPECT_FALSE(s.outcome.ok);
      EXPECT_EQ(s.outcome.error, EILSEQ) << at << "/" << chunk;
      EXPECT_EQ(s.outcome.stop_offset, expected.stop_offset) << at << "/" << chunk;
    }
  }
}

// A sequence cut by the end of the stream is EINVAL at its first byte, as for the whole.
TEST(StreamConverter, IncompleteAtEndIsEinval) {
  const std::string in = "abc\xF0\x9F\x98";
  for (size_t chunk : {1, 2, 4, 64}) {
    const Streamed s = stream(in, "UTF-8", "UTF-16LE", chunk);
    EXPECT_FALSE(s.outcome.ok);
    EXPECT_EQ(s.outcome.error, EINVAL);
    EXPECT_EQ(s.outcome.stop_offset, 3u);
  }
}

// An unknown pair fails at the first bytes; an empty stream never opens a converter.
TEST(StreamConverter, UnsupportedPairAndEmptyStream) {
  const Streamed s = stream("abc", "NO-SUCH-CHARSET", "UTF-8", 2);
  EXPECT_FALSE(s.outcome.ok);
  EXPECT_TRUE(s.outcome.unsupported);
  EXPECT_EQ(s.outcome.stop_offset, 0u);
  const Streamed empty = stream("", "NO-SUCH-CHARSET", "UTF-8", 2);
  EXPECT_TRUE(empty.outcome.ok);
  EXPECT_EQ(empty.out, "");
}

// A converter lent from the shelf converts each stream as a new one does, after a stream that
// failed or was cut short too; pairs whose converter keeps more than a shift state (a byte
// order, a mark written) are never shelved.
TEST(ConverterShelf, LentConvertersConvertAsNewOnes) {
  const std::string gbk = "ab\xd6\xd0\xce\xc4\r\n";
  const std::string utf16 = std::string(
      "\xff\xfe"
      "a\0b\0",
      6);
  struct Pair {
    const char* from;
    const char* to;
    std::vector<std::string> streams;  // converted one after another by one thread
    bool shelved;
  };
  const std::vector<Pair> pairs = {
      {"GBK", "UTF-8", {gbk, "x\xd6", gbk, "\xff\xff", gbk, ""}, true},
      {"BIG5", "UTF-8", {"\xa4\xa4\xa4\xe5", "\xa4", "\xa4\xa4"}, true},
      {"CP1251", "UTF-8", {"\xcf\xf0\xe8", "\x98", "\xcf"}, true},
      {"UTF-16", "UTF-8", {utf16, std::string("\xfe\xff\0a", 4), std::string("\0b", 2)}, false},
      {"UTF-8", "UTF-16", {"a", "b"}, false},
      {"UTF-8",
       "GBK",
       {"a\xe4\xb8\xad\r\n", "\xe4\xb8", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "b"},
       true},
      {"UTF-16LE", "GBK", {std::string("a\0\x2d\x4e", 4), std::string("\0\xd8", 2), "b\0"}, false},
      {"ISO-2022-JP", "UTF-8", {"\x1b$B0!", "\x1b(Ba"}, false},
  };
  for (const Pair& p : pairs) {
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{64}}) {
      ConverterShelf shelf;
      for (const std::string& in : p.streams) {
        const Streamed lent = stream(in, p.from, p.to, chunk, &shelf);
        const Streamed fresh = stream(in, p.from, p.to, chunk);
        SCOPED_TRACE(std::string(p.from) + " to " + p.to + ", chunk " + std::to_string(chunk));
        EXPECT_EQ(lent.out, fresh.out);
        EXPECT_EQ(lent.outcome.ok, fresh.outcome.ok);
        EXPECT_EQ(lent.outcome.stop_offset, fresh.outcome.stop_offset);
      }
      EXPECT_EQ(shelf.shelved(), p.shelved ? 1u : 0u) << p.from << " to " << p.to;
    }
  }
}

// A converter replaced through the seam after one was shelved is the one that converts.
TEST(ConverterShelf, ReplacedConverterIsNotBypassed) {
  platform::ScopedSysIo scope;
  ConverterShelf shelf;
  const std::string gbk = "\xd6\xd0\xce\xc4";
  ASSERT_TRUE(stream(gbk, "GBK", "UTF-8", 64, &shelf).outcome.ok);
  ASSERT_EQ(shelf.shelved(), 1u);
  platform::sysio().iconv = [](iconv_t, char**, size_t*, char**, size_t*) -> size_t {
    errno = EILSEQ;
    return static_cast<size_t>(-1);
  };
  const Streamed failed = stream(gbk, "GBK", "UTF-8", 64, &shelf);
  EXPECT_FALSE(failed.outcome.ok);
  EXPECT_EQ(failed.outcome.error, EILSEQ);
}

// ---- Whole files through the seam -------------------------------------------------------

namespace fake {
int calls = 0;
int fail_at = 0;  // the call that fails (1-based)
int err = 0;
ssize_t write_fails_at(int fd, const void* buf, size_t n) {
  if (++calls == fail_at) {
    errno = err;
    return -1;
  }
  return platform::real_sysio().write(fd, buf, n);
}
ssize_t read_fails_at(int fd, void* buf, size_t n) {
  if (++calls == fail_at) {
    errno = err;
    return -1;
  }
  return platform::real_sysio().read(fd, buf, n);
}
// Every other call is interrupted before doing anything.
ssize_t read_interrupted(int fd, void* buf, size_t n) {
  if (++calls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return platform::real_sysio().read(fd, buf, n);
}
ssize_t write_interrupted(int fd, const void* buf, size_t n) {
  if (++calls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return platform::real_sysio().write(fd, buf, n);
}
void arm(int at, int error) {
  calls = 0;
  fail_at = at;
  err = error;
}
}  // namespace fake

// A job over `in` with every file read in chunks of `chunk` bytes.
JobReport run_chunked(const TempDir& tmp, const char* from, const char* to, size_t chunk) {
  JobPlan plan = make_plan(tmp / "in", tmp / "out", from, to);
  plan.options.whole_file_limit = 0;
  plan.options.stream_chunk = chunk;
  return run_job(plan);
}

// A UTF-8 source's mark is dropped and the target's written first; a stop offset counts the
// mark; an empty source gets the mark alone.
TEST(StreamFile, MarkDroppedPrefixWrittenOffsetCountsMark) {
  const std::string mark = "\xEF\xBB\xBF";
  TempDir tmp;
  write_file(tmp / "in/zh.txt", mark + "\xE4\xB8\xAD" + "x");
  write_file(tmp / "in/cut.txt", mark + "ok\xC3");
  write_file(tmp / "in/empty.txt", "");
  const JobReport r = run_chunked(tmp, "UTF-8", "UTF-16LE", 1);
  EXPECT_EQ(read_file(tmp / "out/zh.txt"), encode_as("\xE4\xB8\xAD"
                                                     "x",
                                                     "UTF-16LE"));
  const FileReport* cut = entry_for(r, "cut.txt");
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(cut->outcome, Outcome::cannot_convert);
  EXPECT_EQ(cut->error, EINVAL);
  ASSERT_TRUE(cut->stop.has_value());
  EXPECT_EQ(cut->stop->offset, 5u);
  EXPECT_EQ(read_file(tmp / "out/cut.txt"), mark + "ok\xC3");
  EXPECT_TRUE(file_exists(tmp / "out/empty.txt"));
}

// A full disk at the third write: no temporary file, no truncated target, an old one kept.
TEST(StreamFile, DiskFullMidStreamLeavesNothing) {
  for (bool existing : {false, true}) {
    TempDir tmp;
    if (existing) write_file(tmp / "out/f.txt", "previous");
    write_file(tmp / "in/f.txt", std::string(10000, '\xE9'));
    platform::ScopedSysIo scope;
    platform::sysio().write = fake::write_fails_at;
    fake::arm(3, ENOSPC);
    const JobReport r = run_chunked(tmp, "CP1252", "UTF-8", 1000);
    EXPECT_EQ(r.files.at(0).outcome, Outcome::cannot_write);
    EXPECT_EQ(r.files.at(0).error, ENOSPC);
    EXPECT_EQ(list_dir(tmp / "out"),
              existing ? std::vector<std::string>{"f.txt"} : std::vector<std::string>{});
    if (existing) {
      EXPECT_EQ(read_file(tmp / "out/f.txt"), "previous");
    }
  }
}

// Interrupted reads and writes are retried; a read error, while the facts are gathered or while
// the output is made, is reported and nothing is written.
TEST(StreamFile, InterruptedCallsRetriedReadErrorReported) {
  const std::string text = std::string(5000, '\xE9');
  {
    TempDir tmp;
    write_file(tmp / "in/f.txt", text);
    platform::ScopedSysIo scope;
    platform::sysio().read = fake::read_interrupted;
    platform::sysio().write = fake::write_interrupted;
    fake::arm(0, 0);
    EXPECT_EQ(run_chunked(tmp, "CP1252", "UTF-8", 700).files.at(0).outcome, Outcome::converted);
    EXPECT_EQ(read_file(tmp / "out/f.txt"), iconv_command(text, "CP1252", "UTF-8"));
  }
  // The second read gathers the facts; the last makes the output.
  int reads = 0;
  for (int fail_at : {0, 2, -1}) {
    SCOPED_TRACE(fail_at);
    TempDir tmp;
    write_file(tmp / "in/f.txt", text);
    platform::ScopedSysIo scope;
    platform::sysio().read = fake::read_fails_at;
    fake::arm(fail_at < 0 ? reads : fail_at, EIO);
    const JobReport r = run_chunked(tmp, "CP1252", "UTF-8", 700);
    if (fail_at == 0) {
      reads = fake::calls;
      ASSERT_GT(reads, 2 * 5000 / 700);  // read twice: for the facts, for the output
      continue;
    }
    EXPECT_EQ(r.files.at(0).outcome, Outcome::cannot_read);
    EXPECT_EQ(r.files.at(0).error, EIO);
    EXPECT_EQ(list_dir(tmp / "out"), std::vector<std::string>{});
  }
}

// A FIFO in a source's place fails at once instead of blocking.
TEST(StreamFile, FifoSourceFailsAtOnce) {
  TempDir tmp;
  ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(read_in_chunks(tmp / "fifo", 64, [](std::string_view) { return true; }), EINVAL);
}

}  // namespace
