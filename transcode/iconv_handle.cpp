// The iconv handle and its conversion loop.
#include "transcode/iconv_handle.h"

#include <cerrno>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/sys_io.h"

bool try_resize(std::string& s, size_t size) {
  try {
    s.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

IconvHandle::IconvHandle(const std::string& to, const std::string& from, Via via) {
  const platform::SysIo io = via == Via::seam ? platform::sysio() : platform::real_sysio();
  iconv_ = io.iconv;
  close_ = io.iconv_close;
  cd_ = io.iconv_open(to.c_str(), from.c_str());
  if (cd_ == kClosed) open_error_ = errno;
}

IconvHandle::~IconvHandle() { close(); }

IconvHandle::IconvHandle(IconvHandle&& other) noexcept
    : cd_(std::exchange(other.cd_, kClosed)),
      open_error_(other.open_error_),
      iconv_(other.iconv_),
      close_(other.close_) {}

IconvHandle& IconvHandle::operator=(IconvHandle&& other) noexcept {
  if (this != &other) {
    close();
    cd_ = std::exchange(other.cd_, kClosed);
    open_error_ = other.open_error_;
    iconv_ = other.iconv_;
    close_ = other.close_;
  }
  return *this;
}

void IconvHandle::close() {
  if (cd_ != kClosed) close_(cd_);
  cd_ = kClosed;
}

void IconvHandle::reset() {
  if (cd_ != kClosed) iconv_(cd_, nullptr, nullptr, nullptr, nullptr);
}

int IconvHandle::append(char** in, size_t* left, std::string& out) {
  if (cd_ == kClosed) return open_error_ != 0 ? open_error_ : EBADF;
  size_t used = out.size();
  // One large output buffer: glibc's iconv has a fixed cost per call, so a small one makes it
  // several times slower.
  const size_t guess = in != nullptr ? *left + *left / 2 : 0;
  if (!try_resize(out, used + guess + 64)) {
    out.resize(used);
    return ENOMEM;
  }
  for (;;) {
    char* o = out.data() + used;
    size_t o_left = out.size() - used;
    const size_t r = iconv_(cd_, in, left, &o, &o_left);
    const int err = errno;  // before anything else can change it
    used = out.size() - o_left;
    if (r != static_cast<size_t>(-1) || err != E2BIG) {
      out.resize(used);
      return r != static_cast<size_t>(-1) ? 0 : err;
    }
    if (!try_resize(out, out.size() * 2)) {
      out.resize(used);
      return ENOMEM;
    }
  }
}

int IconvHandle::append_all(std::string_view text, std::string& out) {
  char* in = const_cast<char*>(text.data());
  size_t left = text.size();
  const int err = append(&in, &left, out);
  // Important: the closing call returns a stateful target (ISO-2022-*) to its initial shift state.
  return err != 0 ? err : append(nullptr, nullptr, out);
}
