// Clean-up of the temporary files a killed run left beside its targets.
#pragma once

#include <string>

#include "platform/result.h"

namespace platform {

// Removes from `dir` (not below it) the regular files whose names have exactly the temporary
// pattern ".NAME.ouzel-XXXXXX". Returns how many were removed; 0 when `dir` cannot be listed.
// With `folders`, also the folders of the staging pattern ".NAME.ouzel-new-XXXXXX" with all
// they hold, counted there.
// Important: call it before this run writes into `dir`, or it may take a temporary file of this
// run away (its commit then fails with ENOENT; nothing is lost). Directories the run has just
// created hold none and need no call.
int remove_leftovers(const std::string& dir, int* folders = nullptr);

// Removes the folder `dir` and everything below it, never following a link.
Status remove_tree(const std::string& dir);

}  // namespace platform
