// Runs one piece of work on several threads at once, the caller's among them.
#pragma once

#include <functional>

namespace platform {

// Runs `work` on `threads` threads (the calling one and threads - 1 others) and returns when
// every one has returned. When the system cannot start another thread, fewer run it: the
// calling thread always does. Important: `work` must not throw on the other threads.
void fan_out(unsigned threads, const std::function<void()>& work);

}  // namespace platform
