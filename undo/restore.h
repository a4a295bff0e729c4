// The restoring side of undo: what a file holds now, and putting its old content back.
#pragma once

#include <optional>
#include <string>

#include "platform/fs.h"
#include "platform/target_file.h"
#include "undo/manifest.h"

namespace undo {

// What a file the run replaced holds now.
enum class Found {
  run_wrote,  // what the run wrote: it goes back
  old,        // its old content (put back already, or never replaced)
  changed,    // something else: changed since the run, never overwritten
  deleted,    // nothing is there
};

struct FileNow {
  Found found = Found::changed;
  platform::FileStamp stamp;  // when something is there
  int error = 0;              // what kept it from being looked at (then `changed`)
};

// `path` against the run's record; `kept` is the kept file (the old file itself when kept by a
// second name).
FileNow look_at(const std::string& path, const KeptFile& k, const std::string& kept);

// Whether the kept file still holds the old content whole (size and hash).
platform::Status check_kept(const std::string& kept, const KeptFile& k);

// Puts the kept content back at `path` with its mode, owner (where allowed) and times: the kept
// file renamed over it when it is the old file itself, else a copy (a reflink where the file
// system offers one) written beside it and renamed. At any instant `path` holds the run's
// content or the old one. `expected`: the stamp look_at found, which `path` must still have
// (platform::kSourceChanged otherwise); none when it was deleted. `durable`: a copy is flushed
// before its rename (a kept file is on the disk already).
platform::Status put_back(const std::string& kept, const std::string& path, const KeptFile& k,
                          const std::optional<platform::FileStamp>& expected, bool durable);

// The copy of the kept content (a reflink where the file system offers one) written beside
// `path` into `target`, with the recorded mode, owner and times, guarded by `expected` as
// put_back is; what is left is to flush it and commit it (a Publisher's batch).
platform::Status prepare_copy(const std::string& kept, const std::string& path, const KeptFile& k,
                              const std::optional<platform::FileStamp>& expected,
                              platform::TargetFile& target);

// The folders above `path` that are missing, made (a file deleted with its folder).
platform::Status make_parents(const std::string& path);

}  // namespace undo
