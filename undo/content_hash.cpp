// XXH3-128 through libxxhash; files read in 1 MiB pieces through the I/O seam.
#include "undo/content_hash.h"

#include <fcntl.h>
#include <xxhash.h>

#include <cerrno>
#include <vector>

#include "platform/sys_io.h"

namespace undo {

struct Hasher::State {
  XXH3_state_t* xxh = XXH3_createState();
  ~State() { XXH3_freeState(xxh); }
};

Hasher::Hasher() : state_(std::make_unique<State>()) {
  if (state_->xxh == nullptr) throw std::bad_alloc();
  reset();
}

Hasher::~Hasher() = default;

void Hasher::reset() { XXH3_128bits_reset(state_->xxh); }

void Hasher::update(std::string_view piece) {
  XXH3_128bits_update(state_->xxh, piece.data(), piece.size());
}

ContentHash Hasher::digest() const {
  const XXH128_hash_t h = XXH3_128bits_digest(state_->xxh);
  return {h.high64, h.low64};
}

ContentHash hash_of(std::string_view bytes) {
  const XXH128_hash_t h = XXH3_128bits(bytes.data(), bytes.size());
  return {h.high64, h.low64};
}

std::string hash_text(const ContentHash& hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    text[static_cast<size_t>(15 - i)] = kDigits[(hash.high >> (4 * i)) & 15];
    text[static_cast<size_t>(31 - i)] = kDigits[(hash.low >> (4 * i)) & 15];
  }
  return text;
}

std::optional<ContentHash> parse_hash(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  ContentHash hash;
  for (size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    uint64_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint64_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<uint64_t>(c - 'a' + 10);
    else
      return std::nullopt;
    uint64_t& half = i < 16 ? hash.high : hash.low;
    half = (half << 4) | digit;
  }
  return hash;
}

platform::Result<FileDigest> digest_file(int fd, const std::string& path) {
  Hasher hasher;
  FileDigest out;
  // Important: one buffer per thread; a new one per file would be cleared per file.
  thread_local std::vector<char> buffer(size_t{1} << 20);
  for (off_t at = 0;;) {
    const ssize_t n = platform::retry_eintr(
        [&] { return platform::sysio().pread(fd, buffer.data(), buffer.size(), at); });
    if (n < 0) return platform::last_error("read " + path);
    if (n == 0) break;
    hasher.update(std::string_view(buffer.data(), static_cast<size_t>(n)));
    at += n;
    out.size += static_cast<uint64_t>(n);
  }
  out.hash = hasher.digest();
  return out;
}

platform::Result<FileDigest> digest_path(const std::string& path) {
  const int fd = platform::retry_eintr(
      [&] { return platform::sysio().open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); });
  if (fd < 0) return platform::last_error("open " + path);
  platform::Result<FileDigest> d = digest_file(fd, path);
  platform::sysio().close(fd);
  return d;
}

}  // namespace undo
