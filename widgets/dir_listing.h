// Directory listing and path handling for the file dialog; no GUI.
#pragma once

#include <string>
#include <vector>

struct DirEntry {
  std::string name;
  bool is_dir = false;
};

struct DirListing {
  std::vector<DirEntry> entries;  // directories first, then files, each by name
  bool readable = true;           // false: the directory could not be opened
};

// Entries of `dir` with links followed. Hidden names (leading '.') and entries that are
// neither directories nor regular files are left out.
DirListing list_directory(const std::string& dir);

// Orders by name ignoring ASCII case, ties by bytes.
bool name_less(const std::string& a, const std::string& b);

// The working directory, or "/" when it cannot be read.
std::string working_directory();

// `path` made absolute against `base` and normalised, without a trailing slash (except "/").
// Empty, "." and relative paths resolve against `base`; a leading "~" is $HOME.
std::string resolve_path(const std::string& path, const std::string& base);

std::string parent_directory(const std::string& dir);  // "/" stays "/"
std::string join_path(const std::string& dir, const std::string& name);
bool path_exists(const std::string& path);
