// Looking at a replaced file, checking what was kept of it, and putting it back.
#include "undo/restore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "undo/content_hash.h"

namespace undo {
namespace {

using platform::sysio;

bool same_stamp(const std::string& path, const platform::FileStamp& expected) {
  const platform::Result<platform::FileStamp> now = platform::stamp_file(path);
  return now && *now == expected;
}

platform::FileStamp stamp_of(const struct stat& st) {
  platform::FileStamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  s.ctime_ns = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  s.links = st.st_nlink;
  return s;
}

// Mode, owner and times as recorded, on the open file that goes back. The owner only where we
// may give it (as root, or our own); times likewise.
platform::Status set_attributes(int fd, const std::string& what, const KeptFile& k) {
  struct stat st;
  if (sysio().fstat(fd, &st) != 0) return platform::last_error("look at " + what);
  if ((st.st_uid != k.uid || st.st_gid != k.gid) &&
      sysio().fchown(fd, static_cast<uid_t>(k.uid), static_cast<gid_t>(k.gid)) != 0 &&
      errno != EPERM)
    return platform::last_error("give " + what + " its owner");
  // After fchown, which clears the set-user-ID and set-group-ID bits.
  if (sysio().fchmod(fd, static_cast<mode_t>(k.mode)) != 0)
    return platform::last_error("give " + what + " its mode");
  const struct timespec times[2] = {
      {static_cast<time_t>(k.atime_ns / 1000000000), static_cast<long>(k.atime_ns % 1000000000)},
      {static_cast<time_t>(k.mtime_ns / 1000000000), static_cast<long>(k.mtime_ns % 1000000000)}};
  if (sysio().futimens(fd, times) != 0 && errno != EPERM)
    return platform::last_error("give " + what + " its times");
  return {};
}

platform::Status rename_back(const std::string& kept, const std::string& path, const KeptFile& k,
                             const std::optional<platform::FileStamp>& expected) {
  const int fd = platform::retry_eintr(
      [&] { return sysio().open(kept.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); });
  if (fd < 0) return platform::last_error("open " + kept);
  platform::Status set = set_attributes(fd, kept, k);
  sysio().close(fd);
  if (!set) return set;
  // Important: as late as can be, right before the name changes (as a run's commit does). A
  // file deleted since must still be missing: one made meanwhile is someone's.
  if (expected && !same_stamp(path, *expected))
    return platform::Error{platform::kSourceChanged, "put back " + path};
  const int renamed = expected ? sysio().rename(kept.c_str(), path.c_str())
                               : sysio().rename_noreplace(kept.c_str(), path.c_str());
  if (renamed != 0 && !expected && errno == EEXIST)
    return platform::Error{platform::kSourceChanged, "put back " + path};
  if (renamed != 0) return platform::last_error("rename " + kept + " to " + path);
  return {};
}

platform::Status copy_back(const std::string& kept, const std::string& path, const KeptFile& k,
                           const std::optional<platform::FileStamp>& expected, bool durable) {
  platform::TargetFile target;
  if (platform::Status ready = prepare_copy(kept, path, k, expected, target); !ready) return ready;
  int err = durable ? target.flush() : 0;
  // A file deleted since must still be missing: TargetFile publishes a new one with linkat,
  // which leaves a file someone made meanwhile to them.
  if (err == 0) err = target.commit();
  if (err != 0) return platform::Error{err, "put back " + path};
  return {};
}

}  // namespace

FileNow look_at(const std::string& path, const KeptFile& k, const std::string& kept) {
  FileNow now;
  struct stat st;
  if (sysio().lstat(path.c_str(), &st) != 0) {
    now.error = errno;
    now.found = errno == ENOENT ? Found::deleted : Found::changed;
    return now;
  }
  now.stamp = stamp_of(st);
  if (!S_ISREG(st.st_mode)) return now;
  struct stat ks;
  // Never replaced (a run killed before it published the file): the old file is still there.
  if (sysio().lstat(kept.c_str(), &ks) == 0 && ks.st_dev == st.st_dev && ks.st_ino == st.st_ino) {
    now.found = Found::old;
    return now;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size != k.new_size && size != k.old_size) return now;
  const platform::Result<FileDigest> d = digest_path(path);
  if (!d) {
    now.error = d.err();
    return now;
  }
  if (d->size == k.new_size && d->hash == k.new_hash)
    now.found = Found::run_wrote;
  else if (d->size == k.old_size && d->hash == k.old_hash)
    now.found = Found::old;
  return now;
}

platform::Status check_kept(const std::string& kept, const KeptFile& k) {
  const platform::Result<FileDigest> d = digest_path(kept);
  if (!d) return d.error();
  if (d->size != k.old_size || d->hash != k.old_hash)
    return platform::Error{EIO, kept + " no longer holds the old content"};
  return {};
}

platform::Status put_back(const std::string& kept, const std::string& path, const KeptFile& k,
                          const std::optional<platform::FileStamp>& expected, bool durable) {
  if (k.how == KeptBy::link) {
    platform::Status renamed = rename_back(kept, path, k, expected);
    // Another file system now (the tree moved since): a copy goes back instead.
    if (renamed || renamed.err() != EXDEV) return renamed;
  }
  return copy_back(kept, path, k, expected, durable);
}

platform::Status prepare_copy(const std::string& kept, const std::string& path, const KeptFile& k,
                              const std::optional<platform::FileStamp>& expected,
                              platform::TargetFile& target) {
  const int from = platform::retry_eintr(
      [&] { return sysio().open(kept.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); });
  if (from < 0) return platform::last_error("open " + kept);
  platform::Status status = target.open(path, platform::LinkPolicy::replace_link);
  const int err = status ? target.copy_from(from, k.old_size) : 0;
  sysio().close(from);
  if (!status) return status;
  if (err != 0) return platform::Error{err, "copy " + kept + " to " + path};
  if (status = set_attributes(target.fd(), path, k); !status) return status;
  if (expected) target.guard_source(path, *expected);
  return {};
}

platform::Status make_parents(const std::string& path) {
  const std::string dir = platform::dir_part(path);
  if (dir.size() <= 1 || platform::is_directory(dir)) return {};
  if (platform::Status made = make_parents(dir.substr(0, dir.size() - 1)); !made) return made;
  if (sysio().mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    return platform::last_error("make " + dir);
  return {};
}

}  // namespace undo
