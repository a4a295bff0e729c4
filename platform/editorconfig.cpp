// libeditorconfig behind a small lookup that names what went wrong.
#include "platform/editorconfig.h"

#include <editorconfig/editorconfig.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/fsutil.h"
#include "platform/sys_io.h"

namespace platform {

namespace {

// Important: no errno the open of a regular file gives; said as what it is.
constexpr int kNotRegular = EINVAL;

std::string parent_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

// 0 when `path` is absent or a regular file that can be opened for reading; else the errno,
// kNotRegular for anything else (the library would wait on a FIFO or read a device forever).
int open_error(const std::string& path) {
  struct stat st {};
  if (sysio().stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
  if (!S_ISREG(st.st_mode)) return kNotRegular;
  const int fd = retry_eintr(
      [&] { return sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0); });
  if (fd < 0) return errno;
  const int err = sysio().fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : kNotRegular;
  sysio().close(fd);
  return err;
}

// Owns one handle of the library.
class Handle {
 public:
  Handle() : h_(editorconfig_handle_init()) {}
  ~Handle() {
    if (h_ != nullptr) editorconfig_handle_destroy(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  editorconfig_handle get() const { return h_; }

 private:
  editorconfig_handle h_;
};

}  // namespace

std::string EditorconfigLookup::value(const std::string& name) const {
  for (const auto& [n, v] : properties)
    if (n == name) return v;
  return {};
}

std::string EditorconfigReader::unreadable_above(const std::string& dir, int& error_number) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = unreadable_.find(dir);
    if (it != unreadable_.end()) {
      error_number = it->second.second;
      return it->second.first;
    }
  }
  std::string found;
  const std::string file = dir == "/" ? "/.editorconfig" : dir + "/.editorconfig";
  error_number = open_error(file);
  if (error_number != 0)
    found = file;
  else if (dir != "/")
    found = unreadable_above(parent_of(dir), error_number);
  std::lock_guard<std::mutex> lock(mutex_);
  unreadable_.emplace(dir, std::make_pair(found, error_number));
  return found;
}

EditorconfigLookup EditorconfigReader::lookup(const std::string& path) {
  EditorconfigLookup out;
  const Result<std::string> absolute = fsutil::full_path(path);
  if (!absolute) {
    out.error_number = absolute.err();
    out.error = "cannot make an absolute path of " + path + ": " + std::strerror(absolute.err());
    return out;
  }
  const std::string& full = *absolute;
  int error_number = 0;
  const std::string unreadable = unreadable_above(parent_of(full), error_number);
  if (!unreadable.empty()) {
    out.error_number = error_number;
    out.error = unreadable + (error_number == kNotRegular
                                  ? std::string(" is not a regular file")
                                  : " cannot be read: " + std::string(std::strerror(error_number)));
    return out;
  }
  Handle handle;
  if (handle.get() == nullptr) {
    out.error = ".editorconfig: out of memory";
    return out;
  }
  const int rc = editorconfig_parse(full.c_str(), handle.get());
  if (rc > 0) {
    const char* file = editorconfig_handle_get_err_file(handle.get());
    out.error = std::string(file != nullptr ? file : ".editorconfig") + ": line " +
                std::to_string(rc) + " cannot be parsed";
    return out;
  }
  if (rc < 0) {
    out.error = std::string(".editorconfig: ") + editorconfig_get_error_msg(rc);
    return out;
  }
  const int count = editorconfig_handle_get_name_value_count(handle.get());
  for (int i = 0; i < count; ++i) {
    const char* name = nullptr;
    const char* value = nullptr;
    editorconfig_handle_get_name_value(handle.get(), i, &name, &value);
    if (name != nullptr && value != nullptr) out.properties.emplace_back(name, value);
  }
  return out;
}

}  // namespace platform
