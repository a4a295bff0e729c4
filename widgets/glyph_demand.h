// Characters the window is about to draw, collected so the font atlas can gain their glyphs.
#pragma once

#include <imgui.h>

#include <string_view>
#include <vector>

// Process-wide by nature, like the one ImGui context and its font atlas (TextFonts) it feeds:
// every widget that draws text notes it, the frame loop hands it to the atlas; one thread.
namespace glyph_demand {

// Every widget that shows text from outside the program (file names, the log, typed text)
// passes it here. Each code point beyond ASCII is queued once until the next reset.
void note(std::string_view utf8);
// The same for characters already decoded (the keyboard's input queue).
void note_chars(const ImWchar* chars, int count);

// Whether anything is queued.
bool pending();
// The code points queued since the last call, in the order first seen.
std::vector<ImWchar> take();
// Forgets everything seen: a new atlas knows nothing yet.
void reset();

}  // namespace glyph_demand
