// The .editorconfig properties of one file, read through libeditorconfig.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// What the .editorconfig files above a file say of it.
struct EditorconfigLookup {
  std::vector<std::pair<std::string, std::string>> properties;  // names and values, lower case
  // Empty on success; else why nothing could be read (a file that cannot be parsed or opened).
  std::string error;
  int error_number = 0;  // errno of an unreadable .editorconfig, 0 otherwise

  // The value of `name`, or empty.
  std::string value(const std::string& name) const;
};

// Looks files up; one instance serves a whole run and every conversion thread.
class EditorconfigReader {
 public:
  // `path` may be relative; it is made absolute and normalised first.
  EditorconfigLookup lookup(const std::string& path);

 private:
  // Important: the library passes over a .editorconfig it cannot open as if it were absent,
  // which would silently apply the settings above it; each folder is checked once.
  std::string unreadable_above(const std::string& dir, int& error_number);

  std::mutex mutex_;
  std::map<std::string, std::pair<std::string, int>> unreadable_;  // folder: first found, errno
};

}  // namespace platform
