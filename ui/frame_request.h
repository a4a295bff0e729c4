// A frame's request for the one after it: what it set up shows only then (a tab brought
// forward is drawn from the next frame on), and the frame loop draws none unasked.
#pragma once

namespace frame_request {

// Called while drawing: one more frame is wanted.
void ask();
// For the frame loop, after a frame: whether it asked; the request is then cleared.
bool take();

}  // namespace frame_request
