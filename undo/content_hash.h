// What tells one file's content from another's: a 128-bit hash (XXH3) and its text form.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace undo {

struct ContentHash {
  uint64_t high = 0, low = 0;
  bool operator==(const ContentHash&) const = default;
};

// 32 lowercase hex digits, and back (nullopt for anything else).
std::string hash_text(const ContentHash& hash);
std::optional<ContentHash> parse_hash(std::string_view text);

// The hash of bytes handed over piece by piece: the same as of all of them at once.
class Hasher {
 public:
  Hasher();
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  void reset();
  void update(std::string_view piece);
  ContentHash digest() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

ContentHash hash_of(std::string_view bytes);

// The hash and size of what the open file `fd` holds from its start, read through the I/O
// seam; `path` names it in the error.
struct FileDigest {
  uint64_t size = 0;
  ContentHash hash;
};
platform::Result<FileDigest> digest_file(int fd, const std::string& path);
// The same for the file at `path`, opened without following a link.
platform::Result<FileDigest> digest_path(const std::string& path);

}  // namespace undo
