// Strict and lenient decoding into UTF-32 for the detector.
#include "detect/detect_decode.h"

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

// Important: glibc unloads a converter module when its last descriptor closes and maps it
// again at the next open, which costs more than decoding a small file. Each thread keeps its
// descriptors open until it ends, reset to the initial state before every use.
class Cache {
 public:
  ~Cache() {
    for (Entry& e : entries_) e.close(e.cd);
  }
  iconv_t get(const std::string& from) {
    const platform::SysIo& io = platform::sysio();
    for (Entry& e : entries_) {
      if (e.name == from && e.open == io.iconv_open) {
        io.iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    iconv_t cd = io.iconv_open(utf32_name(), from.c_str());
    // Descriptors of a swapped-in table (tests) are not kept: the table may change back.
    if (cd != reinterpret_cast<iconv_t>(-1) && io.iconv_open == platform::real_sysio().iconv_open)
      entries_.push_back({from, cd, io.iconv_open, io.iconv_close});
    else if (cd != reinterpret_cast<iconv_t>(-1))
      temporary_.push_back({from, cd, io.iconv_open, io.iconv_close});
    return cd;
  }
  void release(iconv_t cd) {
    for (size_t i = 0; i < temporary_.size(); ++i) {
      if (temporary_[i].cd == cd) {
        temporary_[i].close(cd);
        temporary_.erase(temporary_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }

 private:
  struct Entry {
    std::string name;
    iconv_t cd;
    iconv_t (*open)(const char*, const char*);
    int (*close)(iconv_t);
  };
  std::vector<Entry> entries_;
  std::vector<Entry> temporary_;
};

Cache& cache() {
  thread_local Cache c;
  return c;
}

class Converter {
 public:
  explicit Converter(const std::string& from) : cd_(cache().get(from)) {}
  ~Converter() {
    if (ok()) cache().release(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t handle() const { return cd_; }

  // Converts as much of [*in, *in + *left) as it can into [out, out + cap); returns the errno
  // of the stop (0 when all was read) and the code points written in *made.
  int run_into(const char** in, size_t* left, char32_t* out, size_t cap, size_t* made) {
    char* op = reinterpret_cast<char*>(out);
    size_t room = cap * sizeof(char32_t);
    char* ip = const_cast<char*>(*in);
    const size_t r = platform::sysio().iconv(cd_, &ip, left, &op, &room);
    // Important: errno right after the call, before anything may allocate.
    int err = r == static_cast<size_t>(-1) ? errno : 0;
    *in = ip;
    if (err == 0) {
      const size_t f = platform::sysio().iconv(cd_, nullptr, nullptr, &op, &room);
      err = f == static_cast<size_t>(-1) ? errno : 0;
    }
    *made = static_cast<size_t>(reinterpret_cast<char32_t*>(op) - out);
    return err;
  }

  // The same into a growing string.
  int run(const char** in, size_t* left, std::u32string& out) {
    while (true) {
      const size_t base = out.size();
      out.resize(base + *left + 16);
      size_t made = 0;
      const int err = run_into(in, left, out.data() + base, out.size() - base, &made);
      out.resize(base + made);
      if (err != E2BIG) return err;
    }
  }

 private:
  iconv_t cd_;
};

}  // namespace

Decoded decode_into(std::string_view in, const std::string& encoding, char32_t* out,
                    size_t capacity, size_t* made) {
  Decoded d;
  *made = 0;
  Converter conv(encoding);
  if (!conv.ok()) {
    d.unsupported = true;
    return d;
  }
  const char* p = in.data();
  size_t left = in.size();
  const int err = conv.run_into(&p, &left, out, capacity, made);
  d.stop = static_cast<size_t>(p - in.data());
  d.ok = err == 0 && left == 0;
  d.incomplete = err == EINVAL;
  return d;
}

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
