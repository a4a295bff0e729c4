// A target written under a temporary file and published whole by one link or rename.
#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fs.h"

namespace platform {

// commit's answer when the guarded source changed since it was read; nothing is published.
inline constexpr int kSourceChanged = ECANCELED;

// What happens to a symbolic link found at the target path.
enum class LinkPolicy {
  // A file the user names (settings, a report): the file the link names is replaced and the
  // link stays.
  write_through,
  // A run's targets: the link itself is replaced by the new regular file, so nothing outside
  // the tree is ever written through a link someone left there (in place, a link the search
  // found is written through by naming its file).
  replace_link,
};

// Crash-safe writing of one target: open, append chunks, commit (or abort; the destructor
// aborts). At any instant the final path holds its old content or the complete new one.
// - An existing target keeps its permission bits, its extended attributes and ACLs (those the
//   file system and our privileges allow) and its owner when we may set it.
// - A read-only target fails with EACCES at open and stays unchanged; a directory is EISDIR,
//   any other kind of file EINVAL.
// - A failure removes the temporary file at once; commit then returns the failure.
// - The temporary file is unnamed (O_TMPFILE) where the file system allows, else a hidden
//   ".NAME.ouzel-XXXXXX" beside the target (removed by remove_leftovers after a kill).
// - A new target that someone else creates before the commit is left to them (EEXIST).
// Nothing is flushed here: a caller that wants durability flushes before commit (Publisher).
class TargetFile {
 public:
  TargetFile() = default;
  ~TargetFile() { abort(); }
  TargetFile(TargetFile&& other) noexcept;
  TargetFile& operator=(TargetFile&& other) noexcept;
  TargetFile(const TargetFile&) = delete;
  TargetFile& operator=(const TargetFile&) = delete;

  // Prepares the temporary file for `path`.
  Status open(const std::string& path, LinkPolicy links);
  // The same for a target in a directory this run made, so nothing was there to look at: one
  // call fewer. A file someone else puts there meanwhile is left to them as above.
  Status open_new(const std::string& path);
  // The same for a target in a folder the run fills under a hidden name and names whole at the
  // end (OutputDirs): written under its own name there, as nobody sees it until then; commit
  // only closes it, and the folder's rename publishes it. `dir_fd`: the folder, kept open
  // (platform::DirCache), or -1.
  Status open_staged(const std::string& path, int dir_fd = -1);
  // Appends `data`, retrying short writes. 0 or errno (the file is then aborted).
  int append(std::string_view data);
  // Copies the open regular file `from` (`length` bytes) into a target nothing was appended
  // to: a reflink where the file system offers one, else its data ranges only, so its holes
  // stay holes. 0 or errno (the file is then aborted).
  int copy_from(int from, uint64_t length);
  // Flushes the written data to the disk (fdatasync). 0 or errno (the file is then aborted).
  int flush();
  // Makes commit refuse (kSourceChanged) unless `source` still has `stamp`: the content was
  // made from it, and text written to it meanwhile would be lost or left out. `follow` false:
  // `source` itself must be the file (a link put in its place is a change).
  void guard_source(const std::string& source, const FileStamp& stamp, bool follow = true);
  // Publishes the content under the final path and closes. 0 or errno; nothing is left behind
  // on failure.
  int commit();
  // Drops the temporary file; the final path is untouched.
  void abort();

  bool is_open() const { return fd_ >= 0; }
  bool is_staged() const { return staged_; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }         // as given to open
  const std::string& final_path() const { return final_; }  // the link's file when written through
  uint64_t size() const { return size_; }

 private:
  void reset(const std::string& path);
  Status opened(int err);
  int prepare(const std::string& path, LinkPolicy links);
  int fail(int err);
  int create_temp(const std::string& dir, const std::string& name);
  int adopt_metadata();
  int link_to_temp_name();
  int publish_new();
  int publish_by_rename();

  int fd_ = -1;
  int error_ = 0;          // the first failure, returned by commit
  bool existing_ = false;  // something is at the final path: publish by rename over it
  bool keep_owner_ = false;
  bool staged_ = false;  // written under its name in a folder not yet published
  unsigned mode_ = 0;    // the existing file's permission bits
  unsigned uid_ = 0, gid_ = 0;
  std::string path_;   // as given
  std::string final_;  // where the content goes (the link's file when written through)
  std::string temp_;   // the temporary file's name; empty while it is unnamed
  uint64_t size_ = 0;
  std::string source_;  // the guarded source, with its stamp when read
  std::optional<FileStamp> source_stamp_;
  bool source_follow_ = true;
};

// Writes `data` whole through a TargetFile, unflushed.
Status write_target(const std::string& path, std::string_view data, LinkPolicy links);

}  // namespace platform
