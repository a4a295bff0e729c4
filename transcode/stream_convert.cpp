// Chunked iconv conversion with the state and cut sequences carried across chunks.
#include "transcode/stream_convert.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/fs.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "transcode/iconv_handle.h"
#include "transcode/marks.h"
#include "transcode/utf8.h"

IconvHandle ConverterShelf::take(const std::string& to, const std::string& from,
                                 const CodeTable*& table) {
  // Important: a converter replaced through the seam since one was shelved is the one used.
  const bool replaced = platform::converter_replaced();
  for (Shelved& s : shelved_) {
    if (replaced || s.to != to || s.from != from || !s.cd.is_open()) continue;
    table = s.table;
    return std::move(s.cd);
  }
  IconvHandle cd(to, from);
  table = cd.is_open() ? CodeTable::find(from, to) : nullptr;
  return cd;
}

void ConverterShelf::put(const std::string& to, const std::string& from, const CodeTable* table,
                         IconvHandle cd) {
  if (table == nullptr || !table->reusable() || !cd.is_open()) return;
  cd.reset();
  for (Shelved& s : shelved_) {
    if (s.to != to || s.from != from) continue;
    if (!s.cd.is_open()) s.cd = std::move(cd);
    return;
  }
  shelved_.push_back({to, from, table, std::move(cd)});
}

size_t ConverterShelf::shelved() const {
  return static_cast<size_t>(std::count_if(shelved_.begin(), shelved_.end(),
                                           [](const Shelved& s) { return s.cd.is_open(); }));
}

StreamConverter::StreamConverter(std::string from, std::string to, ConverterShelf* shelf)
    : from_(std::move(from)), to_(std::move(to)), shelf_(shelf) {}

StreamConverter::~StreamConverter() {
  if (shelf_ != nullptr) shelf_->put(to_, from_, table_, std::move(cd_));
}

bool StreamConverter::fail(int err, uint64_t offset) {
  outcome_.ok = false;
  outcome_.error = err;
  outcome_.stop_offset = offset;
  return false;
}

void StreamConverter::flush(std::string& out) {
  if (eol_ == nullptr || raw_.empty()) return;
  eol_->feed(raw_, out);
  raw_.clear();
}

bool StreamConverter::feed(const char* data, size_t length, std::string& out) {
  const bool ok = convert(data, length, out);
  flush(out);
  return ok;
}

bool StreamConverter::convert(const char* data, size_t length, std::string& out) {
  if (!outcome_.ok) return false;
  if (length == 0) return true;
  if (!cd_.is_open()) {
    if (shelf_ != nullptr) {
      cd_ = shelf_->take(to_, from_, table_);
    } else {
      cd_ = IconvHandle(to_, from_);
      if (cd_.is_open()) table_ = CodeTable::find(from_, to_);
    }
    if (!cd_.is_open()) {
      outcome_.unsupported = true;
      return fail(cd_.open_error(), offset_);
    }
  }
  std::string& raw = iconv_out(out);
  if (!tail_.empty() && !feed_tail(data, length, raw)) return false;
  if (length == 0) return true;
  if (table_ == nullptr) return feed_iconv(data, length, length, raw);
  // One pass: the table's loop rewrites the line ends as it copies them.
  const bool fused = eol_ != nullptr && eol_->rewrites_bytes() && table_->rewrites_line_ends();
  while (length > 0) {
    const std::string_view in(data, length);
    size_t known = 0;
    if (fused) {
      flush(out);  // Important: iconv's output before this text, in order
      known = table_->convert(in, out, *eol_);
    } else {
      known = table_->convert(in, raw);
    }
    data += known;
    length -= known;
    offset_ += known;
    // What the table does not know, iconv does, a few characters at a time.
    if (length > 0 && !feed_iconv(data, length, std::min<size_t>(length, 64), raw)) return false;
  }
  return true;
}

bool StreamConverter::feed_iconv(const char*& data, size_t& length, size_t window,
                                 std::string& out) {
  const bool to_the_end = window == length;
  char* in = const_cast<char*>(data);
  size_t left = window;
  const int err = cd_.append(&in, &left, out);
  const size_t used = window - left;
  offset_ += used;
  data += used;
  length -= used;
  if (err == EINVAL && !to_the_end)  // cut by the window, not by the chunk
    return used > 0 || feed_iconv(data, length, length, out);
  if (err == EINVAL) {
    tail_.assign(data, length);  // cut by the chunk's end: completed by the next chunk
    data += length;
    length = 0;
    return true;
  }
  return err == 0 || fail(err, offset_);
}

// Completes the kept sequence with the first bytes of the new chunk, converting only a few
// bytes so the chunk itself is never copied; advances `data` past the bytes it used.
bool StreamConverter::feed_tail(const char*& data, size_t& length, std::string& out) {
  for (size_t take = std::min<size_t>(length, 32);; take = std::min(length, take * 2)) {
    std::string joined = tail_;
    joined.append(data, take);
    char* in = joined.data();
    size_t left = joined.size();
    const int err = cd_.append(&in, &left, out);
    const size_t used = joined.size() - left;
    if (err == EINVAL && used < tail_.size() && take < length) continue;  // still cut: take more
    if (err != 0 && err != EINVAL) return fail(err, offset_ + used);
    if (used < tail_.size()) {  // the whole chunk went into the kept sequence
      tail_ = joined.substr(used);
      offset_ += used;
      data += length;
      length = 0;
      return true;
    }
    // Bytes of the chunk left over by EINVAL are converted with the rest of the chunk.
    const size_t from_chunk = used - tail_.size();
    offset_ += used;
    tail_.clear();
    data += from_chunk;
    length -= from_chunk;
    return true;
  }
}

bool feed_in_pieces(StreamConverter& conv, std::string_view data, size_t piece,
                    std::string& scratch, const std::function<int(std::string_view)>& take,
                    int& take_error, std::string_view head) {
  piece = std::max<size_t>(piece, 1);
  scratch.assign(head);
  for (size_t pos = 0; pos < data.size(); pos += piece) {
    const size_t n = std::min(piece, data.size() - pos);
    if (!conv.feed(data.data() + pos, n, scratch)) return false;
    if (!scratch.empty() && (take_error = take(scratch)) != 0) return false;
    scratch.clear();
  }
  return true;
}

bool StreamConverter::finish(std::string& out) {
  if (!outcome_.ok) return false;
  if (!tail_.empty()) return fail(EINVAL, offset_);
  if (cd_.is_open()) {  // else nothing was fed
    // Important: the closing call ends a stateful target (ISO-2022-*) in its initial shift state.
    const int err = cd_.append(nullptr, nullptr, iconv_out(out));
    flush(out);
    if (err != 0) return fail(err, offset_);
  }
  if (eol_ != nullptr) eol_->finish(out);
  return true;
}

namespace {

// A source opened for reading in chunks, closed on every way out.
struct Source {
  int fd = -1;
  ~Source() {
    if (fd >= 0) platform::sysio().close(fd);
  }
  int open(const std::string& path) {
    // Non-blocking, so a FIFO put in a file's place cannot hang the job.
    fd = platform::retry_eintr(
        [&] { return platform::sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); });
    if (fd < 0) return errno;
    return platform::file_size(fd).err();
  }
  // Fills `buf` up to `want` bytes, less only at the end. Bytes read, or -1 with errno.
  ssize_t read_chunk(char* buf, size_t want) {
    size_t got = 0;
    while (got < want) {
      const ssize_t n =
          platform::retry_eintr([&] { return platform::sysio().read(fd, buf + got, want - got); });
      if (n < 0) return -1;
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
  }
};

// Reads `source` chunk by chunk and hands each to `take`; stops when it returns false.
template <typename Take>
StreamFileResult read_chunks(const std::string& source, size_t chunk_size, Take take,
                             size_t first = 0) {
  StreamFileResult result;
  Source src;
  if ((result.read_error = src.open(source)) != 0) return result;
  // At least kMarkHead bytes, so the first chunk shows the file's mark, repeated or not.
  const size_t most = std::max<size_t>(chunk_size, kMarkHead);
  // Important: not a string, whose every byte would be written once more before it is read
  // into; as big as the chunk asked for, so a reader that stops after the first takes little.
  std::unique_ptr<char[]> buf;
  size_t room = 0;
  for (size_t want = first != 0 ? std::clamp<size_t>(first, kMarkHead, most) : most;;
       want = std::max<size_t>(chunk_size, 1)) {
    if (want > room) {
      buf.reset();
      buf.reset(new (std::nothrow) char[want]);
      room = buf ? want : 0;
      if (!buf) {
        result.read_error = ENOMEM;
        return result;
      }
    }
    const ssize_t n = src.read_chunk(buf.get(), want);
    if (n < 0) {
      result.read_error = errno;
      return result;
    }
    if (n == 0) return result;
    result.bytes_read += static_cast<uint64_t>(n);
    if (!take(std::string_view(buf.get(), static_cast<size_t>(n)), result)) return result;
  }
}

}  // namespace

StreamFileResult copy_whole_file(const std::string& source, platform::TargetFile& target) {
  StreamFileResult r;
  const int fd = platform::retry_eintr(
      [&] { return platform::sysio().open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); });
  if (fd < 0) {
    r.read_error = errno;
    return r;
  }
  const platform::Result<int64_t> size = platform::file_size(fd);
  if (!size) {
    r.read_error = size.err();
  } else {
    r.write_error = target.copy_from(fd, static_cast<uint64_t>(*size));
    r.bytes_read = static_cast<uint64_t>(*size);
  }
  platform::sysio().close(fd);
  return r;
}

namespace {

// A whole page of zero bytes: where a copied file may hold a hole.
bool has_zero_block(std::string_view content) {
  constexpr size_t kBlock = 4096;
  static const std::string zeros(kBlock, '\0');
  for (size_t at = 0; at + kBlock <= content.size(); at += kBlock)
    if (content[at] == '\0' && content.compare(at, kBlock, zeros) == 0) return true;
  return false;
}

}  // namespace

ChunkSource::ChunkSource(const std::string& path, size_t chunk_size, const std::string* whole)
    : path_(path), chunk_size_(chunk_size), whole_(whole) {
  struct stat st;
  if (whole_ != nullptr)
    size_ = whole_->size();
  else if (platform::sysio().stat(path.c_str(), &st) == 0)
    size_ = static_cast<uint64_t>(st.st_size);
}

ChunkSource::~ChunkSource() {
  if (fd_ >= 0) platform::sysio().close(fd_);
}

int ChunkSource::each(uint64_t skip, const std::function<bool(std::string_view)>& take) const {
  if (whole_ != nullptr) {
    take(std::string_view(*whole_).substr(static_cast<size_t>(std::min<uint64_t>(skip, size_))));
    return 0;
  }
  return read_in_chunks(path_, chunk_size_, [&](std::string_view chunk) {
    const size_t drop = static_cast<size_t>(std::min<uint64_t>(skip, chunk.size()));
    skip -= drop;
    chunk.remove_prefix(drop);
    return take(chunk);
  });
}

bool ChunkSource::holds(uint64_t at, std::string_view piece) {
  if (at > size_ || piece.size() > size_ - at) return false;
  if (whole_ != nullptr)
    return std::string_view(*whole_).substr(static_cast<size_t>(at), piece.size()) == piece;
  if (fd_ < 0 &&
      (fd_ = platform::sysio().open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0)) < 0)
    return false;
  for (size_t done = 0; done < piece.size();) {
    const size_t want = std::min(piece.size() - done, size_t{1} << 20);
    if (!try_resize(buf_, want)) return false;
    const ssize_t n = platform::retry_eintr([&] {
      return platform::sysio().pread(fd_, buf_.data(), want, static_cast<off_t>(at + done));
    });
    if (n <= 0 || piece.substr(done, static_cast<size_t>(n)) !=
                      std::string_view(buf_.data(), static_cast<size_t>(n)))
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

StreamFileResult ChunkSource::copy_start(uint64_t n, platform::TargetFile& target) const {
  StreamFileResult r;
  if (n == size_ && (whole_ == nullptr || has_zero_block(*whole_)))
    return copy_whole_file(path_, target);
  if (n == 0) return r;
  if (whole_ != nullptr) {
    r.write_error = target.append(std::string_view(*whole_).substr(0, static_cast<size_t>(n)));
    return r;
  }
  r.read_error = read_in_chunks(path_, chunk_size_, [&](std::string_view chunk) {
    chunk =
        chunk.substr(0, static_cast<size_t>(std::min<uint64_t>(n - r.bytes_read, chunk.size())));
    r.bytes_read += chunk.size();
    r.write_error = target.append(chunk);
    return r.write_error == 0 && r.bytes_read < n;
  });
  // Shorter than when it was looked at: changed since.
  if (r.read_error == 0 && r.write_error == 0 && r.bytes_read < n)
    r.write_error = platform::kSourceChanged;
  return r;
}

int read_in_chunks(const std::string& source, size_t chunk_size,
                   const std::function<bool(std::string_view)>& take, size_t first) {
  return read_chunks(
             source, chunk_size,
             [&](std::string_view chunk, StreamFileResult&) { return take(chunk); }, first)
      .read_error;
}
