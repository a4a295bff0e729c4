// The manifest of one run's undo store: what each kept file was and became, one record a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "undo/content_hash.h"

namespace undo {

// How the old content was kept: the old file itself under a second name, a reflink, a copy.
enum class KeptBy { link, reflink, copy };
std::string_view kept_by_name(KeptBy how);

// One file the run replaced.
struct KeptFile {
  uint64_t number = 0;  // its name in the run's files/ folder
  KeptBy how = KeptBy::copy;
  std::string path;                // below the root, '/'-separated
  std::vector<std::string> links;  // its other names below the root (hard links)
  uint64_t old_size = 0;
  ContentHash old_hash;
  uint64_t new_size = 0;
  ContentHash new_hash;
  unsigned mode = 0;  // permission bits
  unsigned uid = 0, gid = 0;
  int64_t atime_ns = 0, mtime_ns = 0;
  std::string outcome;  // what the run did to it ("converted", ...)
  bool voided = false;  // its new content was never published: nothing to take back
};

struct RunHeader {
  std::string id;
  int64_t started_ns = 0;  // wall clock
  std::string root;        // as the run named it
  std::string source, target;
};

struct Manifest {
  RunHeader header;
  std::vector<KeptFile> files;  // voided ones included
  bool finished = false;        // the run ended (its last record was written)
  bool stopped = false;         // it ended by a stop request
  int64_t ended_ns = 0;
  // False when only the header and the last record were read (read_manifest_ends): `files`
  // is empty and the counts are the last record's.
  bool whole = true;
  size_t end_files = 0;
  uint64_t end_bytes = 0;

  size_t kept_count() const;
  uint64_t kept_bytes() const;  // old sizes of the files not voided
};

// Records, each one line with a check sum at its end.
std::string header_records(const RunHeader& header);
std::string keep_record(const KeptFile& file);
std::string void_record(uint64_t number);
// The last record, with what the run kept (so a listing need not read every record).
std::string end_record(int64_t ended_ns, bool stopped, size_t files, uint64_t bytes);

// A manifest from its text. A line cut short or damaged (a kill during its write, a power
// loss) is passed over; without its header the text is no manifest (EINVAL).
platform::Result<Manifest> parse_manifest(std::string_view text);
platform::Result<Manifest> read_manifest(const std::string& path);
// Its header and last record only, when that record ends the run; else read whole.
platform::Result<Manifest> read_manifest_ends(const std::string& path);

}  // namespace undo
