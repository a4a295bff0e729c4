// Transcoding one file: read whole, BOM policy, iconv into one growing buffer, safe write.
#include "convert/transcoder.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "app/app_state.h"
#include "platform/fs.h"
#include "platform/sys_io.h"

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

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

std::string join(const std::string& dir, const std::string& rel, const std::string& name) {
  std::string p = dir;
  p += '/';
  if (!rel.empty()) {
    p += rel;
    p += '/';
  }
  p += name;
  return p;
}

// The target directory, created when missing; the check is skipped while files keep coming
// for the same directory.
std::string target_dir(AppState& app, const fsutil::search_file_info& file) {
  std::string dir = file.relative_dir.empty() ? app.job.output
                                              : app.job.output + "/" + file.relative_dir;
  if (dir != app.scratch.ready_dir) {
    if (!platform::is_directory(dir)) make_dirs(dir);
    app.scratch.ready_dir = dir;
  }
  return dir;
}

// Converts scratch.content and writes the target; the content as read when it cannot convert.
ConvertResult convert_and_write(AppState& app, const fsutil::search_file_info& file) {
  ConvertResult result;
  const std::string& content = app.scratch.content;
  std::string& output = app.scratch.output;
  // Important: only a UTF-8 source loses its mark; the target gets one only from bom_prefix.
  const size_t skip = strcasecmp(app.from_charset.c_str(), "utf-8") == 0 &&
                              content.size() >= 3 && content.compare(0, 3, kUtf8Bom) == 0
                          ? 3
                          : 0;
  output.assign(app.bom_prefix);
  const BufferOutcome conv = convert_buffer(output, content.data() + skip, content.size() - skip,
                                            app.from_charset.c_str(), app.to_charset.c_str());
  if (!conv.ok) {
    // The content exactly as read: never half converted, never a mark before raw bytes.
    result.status = conv.unsupported ? ConvertStatus::not_supported
                                     : ConvertStatus::cannot_convert;
    result.error = conv.error;
    result.stop_offset = skip + conv.stop_offset;
  }
  const std::string& data = conv.ok && !output.empty() ? output : content;
  const std::string dir = target_dir(app, file);
  int err = platform::write_file_safely(dir + "/" + file.file_name, data);
  if (err == ENOENT) {  // the directory went away during the run
    app.scratch.ready_dir.clear();
    err = platform::write_file_safely(target_dir(app, file) + "/" + file.file_name, data);
  }
  if (err != 0) result = {ConvertStatus::cannot_write, err, 0};
  return result;
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
    const bool ok = platform::is_directory(prefix) || ::mkdir(prefix, 0777) == 0;
    path[i] = '/';
    if (!ok) return;
  }
  if (path.back() != '/' && !platform::is_directory(path)) ::mkdir(path.c_str(), 0777);
}

ConvertResult AppState::convert_file(const fsutil::search_file_info& file) {
  const auto t0 = std::chrono::steady_clock::now();
  ConvertResult result;
  std::string& content = scratch.content;
  if (const int err = platform::read_file(join(job.input, file.relative_dir, file.file_name), content))
    result = {ConvertStatus::cannot_read, err, 0};
  // A source that cannot be read writes nothing: with output == input it would be destroyed.
  if (result.status != ConvertStatus::cannot_read) result = convert_and_write(*this, file);

  const uint64_t bytes = bytes_done.load(std::memory_order_relaxed) + content.size();
  const int64_t micros =
      ticks_spent.load(std::memory_order_relaxed) +
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  bytes_done.store(bytes, std::memory_order_relaxed);
  ticks_spent.store(micros, std::memory_order_relaxed);
  // No time measured yet means no speed yet, not infinity.
  speed.store(micros > 0 ? static_cast<float>(bytes) / (static_cast<float>(micros) / 1e6f) : 0.0f,
              std::memory_order_relaxed);
  return result;
}
