// Files and folders named on the command line: one input folder and the paths below it.
#pragma once

#include <string>
#include <vector>

// Where named paths are taken from: `base` (absolute) and each path below it ("" is `base`
// itself), in the order named, repeats left out.
struct NamedPaths {
  std::string base;
  std::vector<std::string> roots;
  std::string error;  // one line for the user: a missing path, a FIFO
};

// Paths are kept relative to the current directory when all lie under it, else relative to
// the deepest folder that holds them all. Each must be a file or a folder (links followed).
NamedPaths resolve_named_paths(const std::vector<std::string>& paths);

// The folder an absolute, lexically normal path is in ("/" for "/a").
std::string parent_of(const std::string& path);

// The deepest folder holding both absolute, lexically normal paths.
std::string common_folder(const std::string& a, const std::string& b);
