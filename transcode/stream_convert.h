// Converting a stream chunk by chunk with one iconv converter, in bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/target_file.h"
#include "transcode/code_table.h"
#include "transcode/iconv_handle.h"
#include "transcode/line_endings.h"

// Where and why a conversion stopped.
struct StreamOutcome {
  bool ok = true;
  bool unsupported = false;  // iconv_open failed
  int error = 0;             // errno of the failing call (EILSEQ, EINVAL at the end, ENOMEM...)
  uint64_t stop_offset = 0;  // offset in the whole stream of the first byte not converted
};

// Converters kept open from file to file on one thread, only for the pairs a table converts
// (single- and double-byte encodings and UTF-8): they keep no state beyond the shift state a
// reset clears. Opening and closing one per file cost more than converting a small file.
// Important: never for UTF-16/32 on either side: glibc keeps the byte order and whether it
// wrote a mark beyond a reset.
class ConverterShelf {
 public:
  // The table for the pair (null: none) and a converter for it, shelved or newly opened.
  IconvHandle take(const std::string& to, const std::string& from, const CodeTable*& table);
  // Shelves `cd` (reset) when `table` says the pair may be reused; else it is closed.
  void put(const std::string& to, const std::string& from, const CodeTable* table, IconvHandle cd);
  // How many converters wait on the shelf.
  size_t shelved() const;

 private:
  struct Shelved {
    std::string to, from;
    const CodeTable* table = nullptr;
    IconvHandle cd;  // closed while lent out
  };
  std::vector<Shelved> shelved_;  // a pair or two per run
};

// One converter over a stream given in chunks. The output is byte-identical to converting the
// whole stream at once (the iconv command).
// Important: iconv state. The converter's shift state lives from chunk to chunk, a multibyte
// sequence cut by a chunk's end is kept and completed from the next chunk, and finish makes the
// closing call that returns a stateful target (ISO-2022-JP) to its initial shift state.
class StreamConverter {
 public:
  // `shelf`: where the converter is taken from and given back (tabled pairs only).
  StreamConverter(std::string from, std::string to, ConverterShelf* shelf = nullptr);
  ~StreamConverter();
  StreamConverter(const StreamConverter&) = delete;
  StreamConverter& operator=(const StreamConverter&) = delete;

  // Converts the next `length` bytes of the stream and appends the result to `out`. The
  // converter is opened at the first bytes, so an empty stream never needs one. false on
  // failure (see outcome()); `out` then holds what was converted before it.
  bool feed(const char* data, size_t length, std::string& out);
  // Ends the stream: a sequence still incomplete is EINVAL; then the closing call. false on
  // failure.
  bool finish(std::string& out);

  const StreamOutcome& outcome() const { return outcome_; }

  // From the first feed on, the output's line ends are rewritten by `eol` (which outlives the
  // converter), in the decoding loop itself where the table allows; finish ends `eol` too.
  void rewrite_line_ends(EolRewriter& eol) { eol_ = &eol; }

 private:
  bool convert(const char* data, size_t length, std::string& out);
  // Where iconv writes: with line ends to rewrite, raw_, which flush hands to the rewriter.
  std::string& iconv_out(std::string& out) { return eol_ != nullptr ? raw_ : out; }
  void flush(std::string& out);
  bool fail(int err, uint64_t offset);
  bool feed_tail(const char*& data, size_t& length, std::string& out);
  // Converts up to `window` of the `length` bytes at `data` with iconv and moves past them; a
  // sequence cut by the chunk's end is kept in tail_.
  bool feed_iconv(const char*& data, size_t& length, size_t window, std::string& out);

  std::string from_, to_;
  ConverterShelf* shelf_ = nullptr;
  IconvHandle cd_;                    // opened at the first bytes
  const CodeTable* table_ = nullptr;  // iconv's answers in a table, where it has one
  std::string tail_;                  // an incomplete sequence from the end of the last chunk
  uint64_t offset_ = 0;               // stream offset of the first byte not yet converted
  EolRewriter* eol_ = nullptr;
  std::string raw_;  // iconv's output before its line ends are rewritten
  StreamOutcome outcome_;
};

// Input bytes converted at a time by feed_in_pieces: with its output this stays in the
// processor's cache.
inline constexpr size_t kPieceBytes = 256 * 1024;

// Feeds `data` to `conv` in pieces of at most `piece` bytes and hands each piece's output to
// `take` at once, through `scratch` (cleared after each). false when the conversion failed
// (conv.outcome() says why) or `take` returned an errno, which is put in `take_error`. `head`
// goes out before the first piece's output, in the same take; with no data it is left in
// `scratch`.
// Important: writing the output of a large buffer after converting it whole costs more than the
// conversion itself on these machines (the output has left the cache); piece by piece it has not.
bool feed_in_pieces(StreamConverter& conv, std::string_view data, size_t piece,
                    std::string& scratch, const std::function<int(std::string_view)>& take,
                    int& take_error, std::string_view head = {});

// What copying a file into a target came to.
struct StreamFileResult {
  int read_error = 0;   // errno of opening or reading the source
  int write_error = 0;  // errno of the target's append (the target is then aborted)
  uint64_t bytes_read = 0;
};

// Copies `source` unchanged into `target`, to which nothing was appended yet, keeping its holes
// and sharing its extents where the file system can (TargetFile::copy_from).
StreamFileResult copy_whole_file(const std::string& source, platform::TargetFile& target);

// Hands a text's chunks in order to `take` until it returns false; 0 or the errno of reading.
using EachChunk = std::function<int(const std::function<bool(std::string_view)>& take)>;

// The bytes a file's output is made from: its content held whole (one chunk), or the file read
// again chunk by chunk.
class ChunkSource {
 public:
  // `whole` null: the file at `path` is read in chunks of `chunk_size`.
  ChunkSource(const std::string& path, size_t chunk_size, const std::string* whole);
  ~ChunkSource();
  ChunkSource(const ChunkSource&) = delete;
  ChunkSource& operator=(const ChunkSource&) = delete;

  bool whole() const { return whole_ != nullptr; }
  const std::string& path() const { return path_; }
  uint64_t size() const { return size_; }
  // Hands the bytes from `skip` on to `take` until it returns false; 0 or the errno of reading.
  int each(uint64_t skip, const std::function<bool(std::string_view)>& take) const;
  // Whether the bytes at `at` are `piece` (not when they cannot be read).
  bool holds(uint64_t at, std::string_view piece);
  // Appends the first `n` bytes to `target`, which holds nothing yet. The whole of a file that
  // may hold holes goes by TargetFile::copy_from, so they stay holes.
  StreamFileResult copy_start(uint64_t n, platform::TargetFile& target) const;

 private:
  std::string path_;
  size_t chunk_size_;
  const std::string* whole_;
  uint64_t size_ = 0;
  int fd_ = -1;  // for holds() on a file, opened at its first call
  std::string buf_;
};

// Reads `source` (a regular file; a FIFO or device is EINVAL at once) chunk by chunk and hands
// each chunk to `take` until it returns false. Returns 0 or the errno of opening or reading.
// `first`: the first chunk's size when smaller (at least kMarkHead), for a reader that most
// often stops after it.
int read_in_chunks(const std::string& source, size_t chunk_size,
                   const std::function<bool(std::string_view)>& take, size_t first = 0);
