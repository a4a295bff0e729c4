// One iconv converter, closed on every way out, and the one loop that converts into a buffer.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

// Resizes without throwing; false when memory runs out.
bool try_resize(std::string& s, size_t size);

class IconvHandle {
 public:
  // seam: through platform::sysio(), so tests can make it fail. c_library: straight to the C
  // library, for probes of facts about it that an injected failure must not change.
  enum class Via { seam, c_library };

  IconvHandle() = default;
  IconvHandle(const std::string& to, const std::string& from, Via via = Via::seam);
  ~IconvHandle();
  IconvHandle(IconvHandle&& other) noexcept;
  IconvHandle& operator=(IconvHandle&& other) noexcept;
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool is_open() const { return cd_ != kClosed; }
  int open_error() const { return open_error_; }  // errno of a failed open
  iconv_t get() const { return cd_; }

  // Converts `*left` bytes at `*in` (null: the closing call that ends a stateful target in its
  // initial shift state) and appends them to `out`, growing it on E2BIG. Returns 0 or the errno
  // that stopped it (ENOMEM when the output does not fit); `*in` then points at the first byte
  // not converted and `out` holds what was converted before it.
  int append(char** in, size_t* left, std::string& out);
  // All of `text` and the closing call, appended to `out`; 0 or errno as append.
  int append_all(std::string_view text, std::string& out);
  // Back to the initial state, as if just opened.
  void reset();

 private:
  static inline const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);
  void close();

  iconv_t cd_ = kClosed;
  int open_error_ = 0;
  size_t (*iconv_)(iconv_t, char**, size_t*, char**, size_t*) = nullptr;
  int (*close_)(iconv_t) = nullptr;
};
