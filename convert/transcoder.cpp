// Converting a buffer through iconv into one growing output; making target directories.
#include "convert/transcoder.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "platform/fs.h"
#include "platform/sys_io.h"

namespace {

// Closes the converter on every way out.
struct IconvHandle {
  iconv_t cd;
  ~IconvHandle() { platform::sysio().iconv_close(cd); }
};

// Doubles the buffer; false when memory runs out.
bool grow(std::string& output) {
  try {
    output.resize(output.size() * 2);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

// Runs iconv until it stops; `in`/`in_left` null means the closing call that ends a shift
// state. Grows `output` on E2BIG. Returns 0, or the errno that stopped it.
int run_iconv(iconv_t cd, char** in, size_t* in_left, std::string& output, size_t& used) {
  for (;;) {
    char* out = output.data() + used;
    size_t out_left = output.size() - used;
    const size_t r = platform::sysio().iconv(cd, in, in_left, &out, &out_left);
    const int err = errno;
    used = output.size() - out_left;
    if (r != static_cast<size_t>(-1)) return 0;
    if (err != E2BIG) return err;
    if (!grow(output)) return ENOMEM;
  }
}

}  // namespace

BufferOutcome convert_buffer(std::string& output, const char* input, size_t length,
                             const char* from, const char* to) {
  BufferOutcome outcome;
  if (length == 0) return outcome;
  const iconv_t cd = platform::sysio().iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    outcome.ok = false;
    outcome.unsupported = true;
    outcome.error = errno;
    return outcome;
  }
  IconvHandle handle{cd};
  const size_t prefix = output.size();
  // One buffer for the whole result: iconv has a fixed cost per call, so a small scratch
  // buffer makes it several times slower.
  try {
    output.resize(prefix + length + length / 2 + 16);
  } catch (const std::exception&) {
    outcome.ok = false;
    outcome.error = ENOMEM;
    return outcome;
  }
  char* in = const_cast<char*>(input);
  size_t in_left = length;
  size_t used = prefix;
  int err = run_iconv(cd, &in, &in_left, output, used);
  // Important: the closing call returns a stateful target (ISO-2022-*) to its initial shift
  // state; without it the file would end in the middle of a shift sequence.
  if (err == 0) err = run_iconv(cd, nullptr, nullptr, output, used);
  if (err != 0) {
    outcome.ok = false;
    outcome.error = err;
    outcome.stop_offset = static_cast<uint64_t>(in - input);
    output.resize(prefix);
    return outcome;
  }
  output.resize(used);
  return outcome;
}

void make_dirs(std::string path) {
  if (path.empty() || platform::is_directory(path)) return;
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/' || path[i - 1] == '/') continue;
    path[i] = '\0';
    const char* prefix = path.c_str();
    const bool ok = platform::is_directory(prefix) || ::mkdir(prefix, 0777) == 0 ||
                    (errno == EEXIST && platform::is_directory(prefix));
    path[i] = '/';
    if (!ok) return;
  }
  if (path.back() != '/' && !platform::is_directory(path)) ::mkdir(path.c_str(), 0777);
}
