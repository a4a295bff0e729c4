// Keeping a settings file that could not be read: moved to "NAME.bad" (or "NAME.bad.N").
#pragma once

#include <string>

// Renames `path` to the first free name of "PATH.bad", "PATH.bad.1", ... without ever
// replacing an existing file. Returns 0 with `moved_to` set, or the errno of the failure
// (ENOENT: there is nothing to keep).
int move_aside(const std::string& path, std::string& moved_to);
