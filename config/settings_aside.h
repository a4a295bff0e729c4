// Keeping a settings file that could not be read: moved to "NAME.bad" (or "NAME.bad.N").
#pragma once

#include <string>

#include "platform/result.h"

// Renames `path` to the first free name of "PATH.bad", "PATH.bad.1", ... without ever
// replacing an existing file. Returns the new name; ENOENT: there is nothing to keep.
platform::Result<std::string> move_aside(const std::string& path);
