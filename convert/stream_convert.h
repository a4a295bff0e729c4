// Converting a stream chunk by chunk with one iconv converter, in bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "convert/iconv_handle.h"
#include "convert/line_endings.h"
#include "convert/table_decoder.h"
#include "platform/target_file.h"

// Where and why a conversion stopped.
struct StreamOutcome {
  bool ok = true;
  bool unsupported = false;  // iconv_open failed
  int error = 0;             // errno of the failing call (EILSEQ, EINVAL at the end, ENOMEM...)
  uint64_t stop_offset = 0;  // offset in the whole stream of the first byte not converted
};

// One converter over a stream given in chunks. The output is byte-identical to converting the
// whole stream at once (the iconv command).
// Important: iconv state. The converter's shift state lives from chunk to chunk, a multibyte
// sequence cut by a chunk's end is kept and completed from the next chunk, and finish makes the
// closing call that returns a stateful target (ISO-2022-JP) to its initial shift state.
class StreamConverter {
 public:
  StreamConverter(std::string from, std::string to);
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
  IconvHandle cd_;                       // opened at the first bytes
  const TableDecoder* table_ = nullptr;  // iconv's answers in a table, where it has one
  std::string tail_;                     // an incomplete sequence from the end of the last chunk
  uint64_t offset_ = 0;                  // stream offset of the first byte not yet converted
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

// How stream_convert_file reads and converts.
struct StreamSettings {
  std::string from, to;
  size_t chunk_size = size_t{8} << 20;
  // Important: mark policy. Set only for a UTF-8 source: its leading EF BB BF is dropped, never
  // converted into the target; a target gets a mark only from `prefix`.
  bool drop_utf8_mark = false;
  // The source's own mark as classification found it (any form): these first bytes are dropped.
  uint64_t skip = 0;
  std::string prefix;          // written before the converted text
  EolRewriter* eol = nullptr;  // set: the converted text's line ends go through it
};

struct StreamFileResult {
  int read_error = 0;        // errno of opening or reading the source; nothing converted then
  int write_error = 0;       // errno of the target's append (the target is then aborted)
  StreamOutcome conversion;  // stop_offset counts from the file's first byte, mark included
  uint64_t bytes_read = 0;
  bool ok() const { return read_error == 0 && write_error == 0 && conversion.ok; }
};

// Reads `source` (a regular file; a FIFO or device is EINVAL at once) in chunks, converts them
// in pieces (feed_in_pieces) and appends to `target`, opened by the caller, after `prefix`. Stops
// at the first failure and leaves the target to the caller: commit it when ok(), else abort it or
// write it anew. Peak memory is about the chunk size and one piece's output.
StreamFileResult stream_convert_file(const std::string& source, platform::TargetFile& target,
                                     const StreamSettings& settings);
// The same with no target: the conversion is checked and its output dropped (a dry run).
StreamFileResult stream_convert_file(const std::string& source, platform::TargetFile* target,
                                     const StreamSettings& settings);

// Appends `source` unchanged to `target` in chunks (content that cannot be converted).
StreamFileResult stream_copy_file(const std::string& source, platform::TargetFile& target,
                                  size_t chunk_size = size_t{8} << 20);
// Copies `source` unchanged into `target`, to which nothing was appended yet, keeping its holes
// and sharing its extents where the file system can (TargetFile::copy_from).
StreamFileResult copy_whole_file(const std::string& source, platform::TargetFile& target);
// Appends `prefix`, then `source` from byte `skip` on, unchanged (text that needs no
// converter, with the target's mark policy applied).
// `eol` set: the text's line ends go through it.
StreamFileResult stream_copy_file(const std::string& source, platform::TargetFile& target,
                                  size_t chunk_size, uint64_t skip, const std::string& prefix,
                                  EolRewriter* eol = nullptr);

// Reads `source` (a regular file; a FIFO or device is EINVAL at once) chunk by chunk and hands
// each chunk to `take` until it returns false. Returns 0 or the errno of opening or reading.
int read_in_chunks(const std::string& source, size_t chunk_size,
                   const std::function<bool(std::string_view)>& take);
