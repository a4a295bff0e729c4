// What a run can be told before it makes anything: paths too long, an output it cannot write.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "job/file_convert.h"
#include "platform/result.h"

// Whether the run can work; a refusal's context is the one line saying why not, the errno's text
// in it where one decided (so it is shown as it is, not as message()). `files` are the run's files;
// the output directory and everything below it may not exist yet. In place only the lengths
// are checked: the tree's folders are written where they are. A target that would land inside
// `input` (an input below the output) is refused.
platform::Status run_refusal(const std::string& input, const std::string& output,
                             const std::vector<JobFile>& files, bool in_place);

// Whether a report path names one of a run's files, so that writing the report would replace
// it: a source, its target, or the file a link among the sources leads to. Folders are told
// apart by device and inode, so any spelling of a path is found.
class ReportPlace {
 public:
  ReportPlace(const std::string& report, const std::string& input, const std::string& output);
  // The file `name` in `relative_dir` of the run; `may_be_link`: its source may be a link.
  bool holds(const std::string& relative_dir, const std::string& name, bool may_be_link);

 private:
  using Id = std::pair<dev_t, ino_t>;
  std::optional<Id> folder_of(const std::string& root, const std::string& relative_dir);

  std::string input_, output_;
  std::string name_;          // the report's own name, links followed
  std::optional<Id> folder_;  // its folder's
  std::optional<Id> file_;    // the report's, when it exists
};

// The line refusing a run whose report (when set) would be written over one of `files`.
platform::Status report_refusal(const std::string& report, const std::string& input,
                                const std::string& output, const std::vector<JobFile>& files);
