// Strict iconv conversions between UTF-8 and a legacy encoding, descriptors kept per thread.
#include "repair/repair_codec.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/sys_io.h"

namespace repair {
namespace {

const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

// Important: opening a converter maps its module, which costs more than converting a small
// file; each thread keeps its descriptors. Those of a swapped-in table (tests) are not kept.
class Descriptors {
 public:
  ~Descriptors() {
    for (Entry& e : kept_) e.close(e.cd);
  }
  iconv_t get(const std::string& to, const std::string& from, bool& temporary) {
    const platform::SysIo& io = platform::sysio();
    temporary = false;
    for (Entry& e : kept_) {
      if (e.to == to && e.from == from && e.open == io.iconv_open) {
        io.iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    const iconv_t cd = io.iconv_open(to.c_str(), from.c_str());
    if (cd == kNone) return cd;
    if (io.iconv_open == platform::real_sysio().iconv_open)
      kept_.push_back({to, from, cd, io.iconv_open, io.iconv_close});
    else
      temporary = true;
    return cd;
  }

 private:
  struct Entry {
    std::string to, from;
    iconv_t cd;
    iconv_t (*open)(const char*, const char*);
    int (*close)(iconv_t);
  };
  std::vector<Entry> kept_;
};

bool convert(std::string_view in, const std::string& to, const std::string& from,
             std::string& out) {
  thread_local Descriptors descriptors;
  bool temporary = false;
  const iconv_t cd = descriptors.get(to, from, temporary);
  if (cd == kNone) return false;
  const platform::SysIo& io = platform::sysio();
  char* ip = const_cast<char*>(in.data());
  size_t left = in.size();
  bool ok = true;
  while (ok) {
    const size_t base = out.size();
    const size_t room = left * 4 + 16;
    out.resize(base + room);
    char* op = out.data() + base;
    size_t op_left = room;
    const size_t r = io.iconv(cd, left > 0 ? &ip : nullptr, &left, &op, &op_left);
    out.resize(base + (room - op_left));
    if (r != static_cast<size_t>(-1)) {
      if (left == 0) break;
      continue;
    }
    // E2BIG asks for more room; anything else is a character with no exact form.
    ok = errno == E2BIG;
  }
  if (temporary) io.iconv_close(cd);
  return ok;
}

}  // namespace

bool encode_exact(std::string_view utf8, const std::string& encoding, std::string& out) {
  return convert(utf8, encoding, "UTF-8", out);
}

bool decode_exact(std::string_view bytes, const std::string& encoding, std::string& out) {
  return convert(bytes, "UTF-8", encoding, out);
}

}  // namespace repair
