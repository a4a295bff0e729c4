// Test hook of the real window: the widgets' rectangles of the last frame, kept in a file.
#pragma once

namespace probe_file {

// Starts recording (sets ui_probe::hook); the file is rewritten whenever the layout changed.
void start(const char* path);
// Call after each frame's draw; writes "id<TAB>x0<TAB>y0<TAB>x1<TAB>y1" lines. No-op unless
// started.
void end_frame();

}  // namespace probe_file
