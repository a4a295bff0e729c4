// The logical DPI of the screen, read from the window system.
#pragma once

#include <optional>

// The X resource "Xft.dpi" of the default display, when there is one and it is set.
std::optional<int> query_xft_dpi();
