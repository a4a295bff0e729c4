// Directory test, whole-file reads and the safe write of targets and settings files.
#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/sys_io.h"
#include "platform/target_file.h"

namespace platform {

Result<PathKind> path_kind(const std::string& path) {
  struct stat st;
  if (sysio().stat(path.c_str(), &st) != 0) return last_error("stat " + path);
  if (S_ISDIR(st.st_mode)) return PathKind::directory;
  return S_ISREG(st.st_mode) ? PathKind::file : PathKind::other;
}

bool is_directory(const std::string& path) {
  const Result<PathKind> kind = path_kind(path);
  return kind && *kind == PathKind::directory;
}

namespace {

int64_t nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = static_cast<int64_t>(st.st_size);
  s.mtime_ns = nanoseconds(st.st_mtim);
  s.ctime_ns = nanoseconds(st.st_ctim);
  s.links = static_cast<uint64_t>(st.st_nlink);
  return s;
}

// Important: errno is set on failure, for the caller's context.
int64_t regular_size(int fd, FileStamp* stamp) {
  struct stat st;
  if (platform::sysio().fstat(fd, &st) != 0) return -1;
  if (stamp != nullptr) *stamp = stamp_of(st);
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

// Sizes `content` for `size` bytes; 0 or the errno.
int make_room(std::string& content, int64_t size, uint64_t max_bytes) {
  if (static_cast<uint64_t>(size) > max_bytes) return EFBIG;
  try {
    content.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::length_error&) {
    return EFBIG;
  }
  return 0;
}

}  // namespace

Result<int64_t> file_size(int fd) {
  const int64_t size = regular_size(fd, nullptr);
  if (size < 0) return last_error("size of descriptor " + std::to_string(fd));
  return size;
}

Result<FileStamp> stamp_file(const std::string& path, bool follow) {
  struct stat st;
  if ((follow ? sysio().stat(path.c_str(), &st) : sysio().lstat(path.c_str(), &st)) != 0)
    return last_error("stat " + path);
  return stamp_of(st);
}

namespace {

// Opens `path` to read (`name` in `dir_fd` when that is not -1); `direct`, when given, is told
// whether it named no link. Not `follow`: a link is ELOOP.
int open_to_read(int dir_fd, const std::string& name, const std::string& path, bool* direct,
                 bool follow) {
  // Non-blocking, so a FIFO put in a file's place cannot hang the caller.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  const auto open = [&](int flags) {
    return retry_eintr([&] {
      return dir_fd >= 0 ? sysio().openat(dir_fd, name.c_str(), flags, 0)
                         : sysio().open(path.c_str(), flags, 0);
    });
  };
  if (!follow) {
    if (direct != nullptr) *direct = true;
    return open(kFlags | O_NOFOLLOW);
  }
  if (direct == nullptr) return open(kFlags);
  const int fd = open(kFlags | O_NOFOLLOW);
  *direct = fd >= 0 || errno != ELOOP;
  return *direct ? fd : open(kFlags);
}

// `head`: at most `max_bytes` of a bigger file are read, rather than none.
Status read_open_file(int fd, const std::string& path, std::string& content, uint64_t max_bytes,
                      FileStamp* stamp, bool head = false) {
  int64_t size = regular_size(fd, stamp);
  if (head && size > 0 && static_cast<uint64_t>(size) > max_bytes)
    size = static_cast<int64_t>(max_bytes);
  int err = size < 0 ? errno : make_room(content, size, max_bytes);
  size_t got = 0;
  while (err == 0 && got < content.size()) {
    const ssize_t n =
        retry_eintr([&] { return sysio().read(fd, content.data() + got, content.size() - got); });
    if (n < 0) err = errno;
    if (n <= 0) break;  // shrank while we read it
    got += static_cast<size_t>(n);
  }
  sysio().close(fd);
  content.resize(err == 0 ? got : 0);
  if (err != 0) return Error{err, "read " + path};
  return {};
}

}  // namespace

Status read_file(const std::string& path, std::string& content, uint64_t max_bytes,
                 FileStamp* stamp, bool* direct) {
  return read_file_at(-1, {}, path, content, max_bytes, stamp, direct);
}

Status read_file_head(const std::string& path, std::string& content, uint64_t bytes) {
  content.clear();
  const int fd = open_to_read(-1, {}, path, nullptr, true);
  if (fd < 0) return last_error("open " + path);
  return read_open_file(fd, path, content, bytes, nullptr, /*head=*/true);
}

Status read_file_at(int dir_fd, const std::string& name, const std::string& path,
                    std::string& content, uint64_t max_bytes, FileStamp* stamp, bool* direct,
                    bool follow) {
  content.clear();  // a growth then copies nothing old
  const int fd = open_to_read(dir_fd, name, path, direct, follow);
  if (fd < 0) return last_error("open " + path);
  return read_open_file(fd, path, content, max_bytes, stamp);
}

Status write_file_safely(const std::string& path, std::string_view data) {
  return write_target(path, data, LinkPolicy::write_through);
}

Status each_entry(int fd, const std::function<void(const dirent&)>& each) {
  // Important: closed also when `each` throws (out of memory while a caller keeps names).
  struct Closer {
    void operator()(DIR* d) const { sysio().closedir(d); }
  };
  const std::unique_ptr<DIR, Closer> listing(sysio().fdopendir(fd));
  if (!listing) {
    const Error error = last_error({});
    sysio().close(fd);
    return error;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = sysio().readdir(listing.get());
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") each(*entry);
  }
  if (errno != 0) return Error{errno, {}};
  return {};
}

Result<std::vector<DirName>> list_names(const std::string& dir, bool follow) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
  const int fd = retry_eintr([&] { return sysio().open(dir.c_str(), flags, 0); });
  if (fd < 0) return last_error("open " + dir);
  std::vector<DirName> names;
  const Status listed = each_entry(fd, [&](const dirent& entry) {
    names.push_back(DirName{entry.d_name, entry.d_type});
  });
  if (!listed) return Error{listed.err(), "list " + dir};
  return names;
}

int copy_bytes(int from, int to, off_t begin, off_t end) {
  off_t in = begin, out = begin;
  while (in < end) {
    const ssize_t n = retry_eintr([&] {
      return sysio().copy_file_range(from, &in, to, &out, static_cast<size_t>(end - in), 0);
    });
    if (n > 0) continue;
    if (n == 0) return EIO;  // shorter than it was
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // Not between these file systems: read and write it.
    std::vector<char> buffer(std::min<size_t>(size_t{1} << 20, static_cast<size_t>(end - in)));
    while (in < end) {
      const ssize_t got = sysio().pread(from, buffer.data(),
                                        std::min(buffer.size(), static_cast<size_t>(end - in)), in);
      if (got <= 0) return got == 0 ? EIO : errno;
      for (ssize_t put = 0; put < got;) {
        const ssize_t w =
            sysio().pwrite(to, buffer.data() + put, static_cast<size_t>(got - put), out + put);
        if (w <= 0) return w == 0 ? EIO : errno;
        put += w;
      }
      in += got;
      out += got;
    }
  }
  return 0;
}

}  // namespace platform
