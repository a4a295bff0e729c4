// Strict and lenient decoding into UTF-32 for the detector.
#include "convert/detect_decode.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/sys_io.h"

namespace detect {
namespace {

const char* utf32_name() {
  return std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
}

class Converter {
 public:
  explicit Converter(const std::string& from)
      : cd_(platform::sysio().iconv_open(utf32_name(), from.c_str())) {}
  ~Converter() {
    if (ok()) platform::sysio().iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t handle() const { return cd_; }

  // Converts as much of [*in, *in + *left) as it can into `out`; returns the errno of the
  // stop (0 when all was read).
  int run(const char** in, size_t* left, std::u32string& out) {
    while (true) {
      const size_t base = out.size();
      out.resize(base + *left + 16);
      char* op = reinterpret_cast<char*>(out.data() + base);
      size_t room = (out.size() - base) * sizeof(char32_t);
      char* ip = const_cast<char*>(*in);
      const size_t r = platform::sysio().iconv(cd_, &ip, left, &op, &room);
      // Important: errno right after the call, before anything may allocate.
      const int err = r == static_cast<size_t>(-1) ? errno : 0;
      *in = ip;
      out.resize(static_cast<size_t>(reinterpret_cast<char32_t*>(op) - out.data()));
      if (err == E2BIG) continue;
      if (err == 0) return flush(out);
      return err;
    }
  }

 private:
  int flush(std::u32string& out) {
    const size_t base = out.size();
    out.resize(base + 8);
    char* op = reinterpret_cast<char*>(out.data() + base);
    size_t room = 8 * sizeof(char32_t);
    const size_t r = platform::sysio().iconv(cd_, nullptr, nullptr, &op, &room);
    const int err = r == static_cast<size_t>(-1) ? errno : 0;
    out.resize(static_cast<size_t>(reinterpret_cast<char32_t*>(op) - out.data()));
    return err;
  }

  iconv_t cd_;
};

}  // namespace

Decoded decode_strict(std::string_view in, const std::string& encoding, std::u32string& out) {
  Decoded d;
  Converter conv(encoding);
  if (!conv.ok()) {
    d.unsupported = true;
    return d;
  }
  const char* p = in.data();
  size_t left = in.size();
  const int err = conv.run(&p, &left, out);
  d.stop = static_cast<size_t>(p - in.data());
  d.ok = err == 0 && left == 0;
  d.incomplete = err == EINVAL;
  return d;
}

bool decode_lenient(std::string_view in, const std::string& encoding, std::u32string& out) {
  Converter conv(encoding);
  if (!conv.ok()) return false;
  const char* p = in.data();
  size_t left = in.size();
  while (left > 0) {
    const int err = conv.run(&p, &left, out);
    if (err == 0) break;
    out.push_back(U'\uFFFD');
    if (err != EILSEQ) break;  // incomplete at the end, or a failure we cannot step over
    ++p;
    --left;
  }
  return true;
}

bool check_strict(std::string_view in, const std::string& encoding, size_t* stop) {
  if (stop) *stop = 0;
  Converter conv(encoding);
  if (!conv.ok()) return false;
  char* ip = const_cast<char*>(in.data());
  size_t left = in.size();
  std::vector<char> scratch(1 << 16);
  int err = E2BIG;
  // The output is thrown away: only where the input stops matters.
  while (err == E2BIG) {
    char* op = scratch.data();
    size_t room = scratch.size();
    const size_t r = platform::sysio().iconv(conv.handle(), &ip, &left, &op, &room);
    err = r == static_cast<size_t>(-1) ? errno : 0;
  }
  if (err == 0) {
    char* op = scratch.data();
    size_t room = scratch.size();
    const size_t r = platform::sysio().iconv(conv.handle(), nullptr, nullptr, &op, &room);
    err = r == static_cast<size_t>(-1) ? errno : 0;
  }
  if (stop) *stop = static_cast<size_t>(ip - in.data());
  return err == 0 && left == 0;
}

std::string encode_char(char32_t c, const std::string& encoding) {
  iconv_t cd = platform::sysio().iconv_open(encoding.c_str(), utf32_name());
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  char out[16];
  char* op = out;
  size_t room = sizeof out;
  char* ip = reinterpret_cast<char*>(&c);
  size_t left = sizeof c;
  const size_t r = platform::sysio().iconv(cd, &ip, &left, &op, &room);
  if (r != static_cast<size_t>(-1)) platform::sysio().iconv(cd, nullptr, nullptr, &op, &room);
  platform::sysio().iconv_close(cd);
  if (r == static_cast<size_t>(-1) || left != 0) return "";
  return std::string(out, static_cast<size_t>(op - out));
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf8(std::string& out, std::u32string_view text) {
  for (char32_t c : text) append_utf8(out, c);
}

}  // namespace detect
