// In place: every file converted once, nothing outside the input tree written, links kept.
#pragma once

#include <string>
#include <vector>

#include "job/file_convert.h"

// Whether `output` names the same directory as `input` (by device and inode).
bool same_directory(const std::string& input, const std::string& output);

// Marks files reached again through another path (same device and inode) as same_file,
// links that lead outside what the run converts (the input tree, or only the `roots` named in
// it) as outside, and points links inside it at the file they name. Other names of a
// hard-linked file are re-linked to the new content after it is written.
void resolve_in_place(const std::string& input, const std::vector<std::string>& roots,
                      std::vector<JobFile>& files);
