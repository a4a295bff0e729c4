// Crash-safe target files: unnamed or hidden temporary file, published by linkat or rename.
#include "platform/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/sys_io.h"
#include "platform/temp_name.h"

namespace platform {
namespace {

mode_t read_umask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f) != nullptr)
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// Important: read once before main, while one thread runs: umask() itself changes the mask.
const mode_t kUmask = read_umask();

bool tmpfile_usable() {
  // linkat needs the /proc name of the descriptor; without /proc a named file is used.
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// Extended attributes of the file at `from` (ACLs among them: system.posix_acl_*) given to the
// open file `to`. Best effort: an attribute the file system or our privileges refuse (trusted.*,
// security.* for a plain user) stays behind, as `cp -a` leaves it.
void copy_xattrs(const std::string& from, int to) {
  ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
  if (size <= 0) return;
  std::vector<char> names(static_cast<size_t>(size));
  size = ::listxattr(from.c_str(), names.data(), names.size());
  if (size <= 0) return;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    const ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
    if (length < 0) continue;
    value.resize(static_cast<size_t>(length));
    const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
    if (got >= 0) ::fsetxattr(to, name, value.data(), static_cast<size_t>(got), 0);
  }
}

std::string proc_name(int fd) {
  char name[40];
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  return name;
}

// Gives the open file `fd` the name `to`. Directly (AT_EMPTY_PATH) where the kernel lets us: the
// /proc name costs a path walk through /proc per file. Linux before 6.10 allows that only with
// CAP_DAC_READ_SEARCH and says ENOENT otherwise; then the /proc name, from then on.
int link_open_file(int fd, const std::string& to) {
  static std::atomic<bool> direct{true};
  if (direct.load(std::memory_order_relaxed)) {
    if (sysio().linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return -1;
  }
  if (sysio().linkat(AT_FDCWD, proc_name(fd).c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) != 0)
    return -1;
  direct.store(false, std::memory_order_relaxed);  // only the /proc name worked
  return 0;
}

// 0 when the file may be replaced; else why not (EROFS on a read-only mount, not EACCES).
int write_refusal(const std::string& path, const struct stat& st) {
  // Important: root passes access(W_OK) on any file, so the mode bits decide too.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
  if (platform::sysio().access(path.c_str(), W_OK) != 0) return errno != 0 ? errno : EACCES;
  return 0;
}

}  // namespace

TargetFile::TargetFile(TargetFile&& other) noexcept { *this = std::move(other); }

TargetFile& TargetFile::operator=(TargetFile&& other) noexcept {
  if (this == &other) return *this;
  abort();
  fd_ = std::exchange(other.fd_, -1);
  error_ = std::exchange(other.error_, 0);
  existing_ = other.existing_;
  keep_owner_ = other.keep_owner_;
  staged_ = other.staged_;
  mode_ = other.mode_;
  uid_ = other.uid_;
  gid_ = other.gid_;
  path_ = std::move(other.path_);
  final_ = std::move(other.final_);
  temp_ = std::exchange(other.temp_, std::string());
  size_ = std::exchange(other.size_, 0);
  source_ = std::move(other.source_);
  source_stamp_ = std::exchange(other.source_stamp_, std::nullopt);
  source_follow_ = other.source_follow_;
  return *this;
}

int TargetFile::fail(int err) {
  error_ = err;
  abort();
  return err;
}

void TargetFile::abort() {
  if (fd_ >= 0) sysio().close(std::exchange(fd_, -1));
  if (!temp_.empty()) sysio().unlink(temp_.c_str());
  temp_.clear();
}

Status TargetFile::opened(int err) {
  // A failed open is the answer of every later call too.
  if ((error_ = err) != 0) return Error{err, "open " + path_ + " for writing"};
  return {};
}

Status TargetFile::open(const std::string& path, LinkPolicy links) {
  return opened(prepare(path, links));
}

Status TargetFile::open_new(const std::string& path) {
  reset(path);
  if (name_part(path).empty()) return opened(EISDIR);
  return opened(create_temp(dir_part(final_), name_part(final_)));
}

Status TargetFile::open_staged(const std::string& path, int dir_fd) {
  reset(path);
  const std::string name = name_part(path);
  if (name.empty()) return opened(EISDIR);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  const int fd = retry_eintr([&] {
    return dir_fd >= 0 ? sysio().openat(dir_fd, name.c_str(), kFlags, 0666)
                       : sysio().open(path.c_str(), kFlags, 0666);
  });
  if (fd < 0) return opened(errno);
  fd_ = fd;
  temp_ = path;  // removed by abort until committed
  staged_ = true;
  return {};
}

void TargetFile::reset(const std::string& path) {
  abort();
  error_ = 0;
  size_ = 0;
  existing_ = keep_owner_ = staged_ = false;
  path_ = final_ = path;
  source_.clear();
  source_stamp_.reset();
  source_follow_ = true;
}

int TargetFile::prepare(const std::string& path, LinkPolicy links) {
  reset(path);
  if (name_part(path).empty()) return EISDIR;
  struct stat st;
  if (platform::sysio().lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return errno;
    return create_temp(dir_part(final_), name_part(final_));
  }
  // Important: links. Written through, the file the link names is replaced and the link stays;
  // otherwise the rename replaces the link itself and nothing it points to is touched.
  if (S_ISLNK(st.st_mode) && links == LinkPolicy::write_through) {
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr || platform::sysio().stat(real, &st) != 0)
      return errno;
    final_ = real;
  }
  existing_ = true;
  if (!S_ISLNK(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (const int refusal = write_refusal(final_, st); refusal != 0) return refusal;
    keep_owner_ = true;
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
  }
  return create_temp(dir_part(final_), name_part(final_));
}

int TargetFile::create_temp(const std::string& dir, const std::string& name) {
  if (tmpfile_usable()) {
    const std::string where = dir.empty() ? "." : dir;
    const int fd = retry_eintr(
        [&] { return sysio().open(where.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); });
    if (fd >= 0) {
      fd_ = fd;
      return keep_owner_ ? adopt_metadata() : 0;  // a new file's mode is right already
    }
    // EOPNOTSUPP: the file system has no unnamed files; EISDIR: the kernel has none.
    if (errno != EOPNOTSUPP && errno != EISDIR) return errno;
  }
  std::string temp;
  const int fd = retry_eintr([&] {
    temp = temp_template(dir, name);
    return sysio().mkostemp(temp.data(), O_CLOEXEC);
  });
  if (fd < 0) return errno;
  fd_ = fd;
  temp_ = std::move(temp);
  return adopt_metadata();
}

int TargetFile::adopt_metadata() {
  if (keep_owner_ && ::fchown(fd_, uid_, gid_) != 0) {
    // Not the owner: the replacement belongs to us, as any new file would.
  }
  // After fchown, which clears the set-user-ID and set-group-ID bits.
  const mode_t mode = keep_owner_ ? static_cast<mode_t>(mode_) : (0666 & ~kUmask);
  if (::fchmod(fd_, mode) != 0) return fail(errno);
  // After fchmod: an access ACL sets the group bits to its mask, as on the old file.
  if (keep_owner_) copy_xattrs(final_, fd_);
  return 0;
}

int TargetFile::append(std::string_view data) {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t n = retry_eintr([&] { return sysio().write(fd_, p, left); });
    if (n < 0) return fail(errno);
    if (n == 0) return fail(EIO);
    p += n;
    left -= static_cast<size_t>(n);
  }
  size_ += data.size();
  return 0;
}

int TargetFile::copy_from(int from, uint64_t length) {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  if (size_ != 0) return fail(EINVAL);  // ranges go to the offsets they have in `from`
  if (sysio().ficlone(fd_, from) == 0) {
    size_ = length;
    return 0;
  }
  const auto end = static_cast<off_t>(length);
  for (off_t at = 0; at < end;) {
    off_t data = sysio().lseek(from, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) data = at;                // no hole support: all of it is data
    off_t hole = sysio().lseek(from, data, SEEK_HOLE);
    if (hole < 0 || hole > end) hole = end;
    if (const int err = copy_bytes(from, fd_, data, hole)) return fail(err);
    at = hole;
  }
  // The holes at the end: the length without allocating them.
  if (sysio().ftruncate(fd_, end) != 0) return fail(errno);
  size_ = length;
  return 0;
}

int TargetFile::flush() {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  if (retry_eintr([&] { return sysio().fdatasync(fd_); }) != 0) return fail(errno);
  return 0;
}

void TargetFile::guard_source(const std::string& source, const FileStamp& stamp, bool follow) {
  source_ = source;
  source_stamp_ = stamp;
  source_follow_ = follow;
}

int TargetFile::commit() {
  if (error_ != 0) return error_;
  if (fd_ < 0) return EBADF;
  // Important: as late as can be, right before the name changes. A write between this check
  // and the rename is still possible; no lock the writers honour exists to close that gap.
  if (source_stamp_) {
    const Result<FileStamp> now = stamp_file(source_, source_follow_);
    if (!now || *now != *source_stamp_) return fail(kSourceChanged);
  }
  if (staged_) {
    if (sysio().close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return fail(errno);
    temp_.clear();
    return 0;
  }
  if (temp_.empty()) {
    if (!existing_) return publish_new();
    if (const int err = link_to_temp_name()) return fail(err);
  }
  return publish_by_rename();
}

int TargetFile::publish_new() {
  // linkat fails with EEXIST when a file appeared meanwhile: theirs is kept.
  if (link_open_file(fd_, final_) != 0) return fail(errno);
  if (sysio().close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    const int err = errno;
    sysio().unlink(final_.c_str());  // named a moment ago by us: never left with unsure content
    return fail(err);
  }
  return 0;
}

int TargetFile::link_to_temp_name() {
  for (int tries = 0; tries < 100; ++tries) {
    std::string temp = temp_template(dir_part(final_), name_part(final_));
    fill_temp_suffix(temp);
    if (link_open_file(fd_, temp) == 0) {
      temp_ = std::move(temp);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int TargetFile::publish_by_rename() {
  // Important: on Linux close releases the descriptor even when it reports EINTR; never retried.
  if (sysio().close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return fail(errno);
  if (sysio().rename(temp_.c_str(), final_.c_str()) != 0) return fail(errno);
  temp_.clear();
  return 0;
}

Status write_target(const std::string& path, std::string_view data, LinkPolicy links) {
  TargetFile file;
  if (Status opened = file.open(path, links); !opened) return opened;
  if (const int err = file.append(data)) return Error{err, "write " + path};
  if (const int err = file.commit()) return Error{err, "publish " + path};
  return {};
}

}  // namespace platform
