// The icon font (Font Awesome 4), embedded in the program when it is built.
#pragma once

extern const unsigned char icon_font_data[];
extern const unsigned int icon_font_size;
