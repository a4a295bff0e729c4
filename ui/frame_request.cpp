// The flag behind frame_request: set while drawing, taken by the frame loop (one thread).
#include "ui/frame_request.h"

namespace frame_request {
namespace {
bool asked = false;
}  // namespace

void ask() { asked = true; }

bool take() {
  const bool was = asked;
  asked = false;
  return was;
}

}  // namespace frame_request
