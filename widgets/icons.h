// UTF-8 of the Font Awesome 4 glyphs the window uses (merged into the UI font at start-up).
#pragma once

// Macros rather than constants so titles are single literals: "icon" "text".
#define ICON_FOLDER_OPEN "\xEF\x81\xBC"  // U+F07C
#define ICON_SAVE "\xEF\x83\x87"         // U+F0C7
#define ICON_WARNING "\xEF\x81\xB1"      // U+F071
