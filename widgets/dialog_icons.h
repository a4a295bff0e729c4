// UTF-8 forms of the icon glyphs merged into the UI font (U+F002..U+F1C9).
#pragma once

#define ICON_OUZEL_SEARCH "\uf002"
#define ICON_OUZEL_OK "\uf00c"
#define ICON_OUZEL_CANCEL "\uf00d"
#define ICON_OUZEL_REFRESH "\uf021"
#define ICON_OUZEL_EDIT "\uf040"
#define ICON_OUZEL_UP "\uf077"
#define ICON_OUZEL_FOLDER "\uf07b"
#define ICON_OUZEL_FOLDER_OPEN "\uf07c"
#define ICON_OUZEL_SAVE "\uf0c7"
#define ICON_OUZEL_FILE "\uf15b"
#define ICON_OUZEL_FILE_CODE "\uf1c9"
