// Runs one piece of work on several threads at once.
#include "platform/fan_out.h"

#include <system_error>
#include <thread>
#include <vector>

namespace platform {

void fan_out(unsigned threads, const std::function<void()>& work) {
  std::vector<std::thread> others;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      others.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads: the calling thread still does the work
    }
  }
  work();
  for (std::thread& t : others) t.join();
}

}  // namespace platform
