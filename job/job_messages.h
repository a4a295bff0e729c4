// The job's words: per-file log lines and the lines after the summary.
#pragma once

#include <string>
#include <vector>

#include "job/file_convert.h"
#include "report/report.h"

// "Processing file: NAME", then the outcome's own line unless the file was plainly converted.
// Files the job never processed (excluded, not reached) have no lines.
std::vector<std::string> file_log_lines(const JobFile& file, const FileReport& report,
                                        bool in_place);

// The line for a directory the search could not list.
std::string search_failure_line(const FileReport& failure);

// After "Convert complete": the count of each outcome when anything but plain conversion
// happened, then "N of M files were not converted, see the report" when any was not.
std::vector<std::string> summary_lines(const JobReport& report);
