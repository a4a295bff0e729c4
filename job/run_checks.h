// What a run can be told before it makes anything: paths too long, an output it cannot write.
#pragma once

#include <string>
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
