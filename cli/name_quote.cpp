// Terminal quoting of names: shell quotes, C escapes for what cannot be shown.
#include "cli/name_quote.h"

#include <cstdint>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at `at` that is a printable character, else 0.
size_t printable_length(std::string_view s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t b = byte(at);
  if (b < 0x80) return b >= 0x20 && b != 0x7F ? 1 : 0;
  size_t len = 0;
  uint32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1Fu;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0Fu;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07u;
  } else {
    return 0;
  }
  if (at + len > s.size()) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (byte(at + i) & 0x3Fu);
  }
  const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return cp < 0xA0 ? 0 : len;  // C1 controls are not shown either
}

void escape_byte(std::string& out, uint8_t b) {
  switch (b) {
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    default: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", b);
      out += buf;
    }
  }
}

bool plain_ascii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
         std::string_view("%+,-./:=@_^").find(c) != std::string_view::npos;
}

}  // namespace

std::string visible_text(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t len = printable_length(text, i);
    if (len == 0) {
      escape_byte(out, static_cast<uint8_t>(text[i++]));
      continue;
    }
    out.append(text, i, len);
    i += len;
  }
  return out;
}

std::string quote_name(std::string_view name) {
  bool plain = !name.empty() && name[0] != '~' && name[0] != '#';
  bool shown = true;  // nothing needs a $'...' escape
  for (size_t i = 0; i < name.size();) {
    const size_t len = printable_length(name, i);
    if (len == 0) shown = false;
    if (len != 1 || !plain_ascii(name[i])) plain = plain && len > 1;
    i += len == 0 ? 1 : len;
  }
  if (plain && shown) return std::string(name);
  if (shown && name.find('\'') != std::string_view::npos &&
      name.find_first_of("\"$`\\!") == std::string_view::npos)
    return "\"" + std::string(name) + "\"";
  std::string out;
  bool open = false;  // inside '...'
  for (size_t i = 0; i < name.size();) {
    const size_t len = printable_length(name, i);
    if (len == 0) {
      if (open) out += '\'';
      open = false;
      out += "$'";
      while (i < name.size() && printable_length(name, i) == 0)
        escape_byte(out, static_cast<uint8_t>(name[i++]));
      out += '\'';
      continue;
    }
    if (!open) out += '\'';
    open = true;
    if (name[i] == '\'')
      out += "'\\''";
    else
      out.append(name, i, len);
    i += len;
  }
  if (open) out += '\'';
  return out.empty() ? "''" : out;
}
