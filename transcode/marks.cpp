// The marks of the Unicode forms with a fixed byte order, and the mark policy.
#include "transcode/marks.h"

const char* bom_mode_name(BomMode mode) {
  switch (mode) {
    case BomMode::keep:
      return "keep";
    case BomMode::add:
      return "add";
    case BomMode::remove:
      break;
  }
  return "remove";
}

bool parse_bom_mode(std::string_view text, BomMode& mode) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (BomMode m : {BomMode::keep, BomMode::add, BomMode::remove}) {
    if (lower == bom_mode_name(m)) {
      mode = m;
      return true;
    }
  }
  return false;
}

std::string_view target_mark(UnicodeForm form, BomMode mode, bool source_marked) {
  if (mode == BomMode::remove || (mode == BomMode::keep && !source_marked)) return {};
  using std::string_view;
  switch (form) {
    case UnicodeForm::utf8:
      return "\xEF\xBB\xBF";
    case UnicodeForm::utf16le:
      return "\xFF\xFE";
    case UnicodeForm::utf16be:
      return "\xFE\xFF";
    case UnicodeForm::utf32le:
      return string_view("\xFF\xFE\0\0", 4);
    case UnicodeForm::utf32be:
      return string_view("\0\0\xFE\xFF", 4);
    default:
      return {};
  }
}
