// What the engine needs to know of a converter name: known, ASCII-compatible, Unicode form.
#pragma once

#include <string>
#include <string_view>

#include "transcode/line_endings.h"

enum class UnicodeForm {
  none,  // a legacy encoding
  utf8,
  utf16le,
  utf16be,
  utf16,  // writes and reads its own byte-order mark
  utf32le,
  utf32be,
  utf32,
};

struct CharsetTraits {
  bool known = false;  // the converter opens it both ways with UTF-8
  // The 128 ASCII bytes convert to and from UTF-8 as themselves, and the text beyond ASCII is
  // written with bytes >= 0x80 (not ISO-2022-*, UTF-7, HZ).
  bool ascii_compatible = false;
  UnicodeForm form = UnicodeForm::none;
  EolUnits eol_units{0, false};  // how CR and LF are written; width 0: not as ASCII units
};

// Probed once per name by converting a few characters; thread-safe.
CharsetTraits charset_traits(const std::string& charset);

// "UTF-16LE", ... for a form with a fixed byte order; "UTF-8" for utf8.
const char* form_name(UnicodeForm form);

// The Unicode form a byte-order mark at the start of `content` names, and its length.
struct MarkInfo {
  UnicodeForm form = UnicodeForm::none;
  size_t length = 0;
};
MarkInfo mark_at_start(std::string_view content);
