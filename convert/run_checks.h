// What a run can be told before it makes anything: paths too long, an output it cannot write.
#pragma once

#include <string>
#include <vector>

#include "convert/file_convert.h"

// Empty when the run can work, else the one line saying why not. `files` are the run's files;
// the output directory and everything below it may not exist yet. In place only the lengths
// are checked: the tree's folders are written where they are.
std::string run_refusal(const std::string& output, const std::vector<JobFile>& files,
                        bool in_place);
