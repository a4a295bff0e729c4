// Stop point location.
#include "transcode/stop_point.h"

#include <cstring>

#include "transcode/iconv_handle.h"
#include "transcode/stream_convert.h"

namespace {

size_t unit_size(UnicodeForm form) {
  switch (form) {
    case UnicodeForm::utf16le:
    case UnicodeForm::utf16be:
    case UnicodeForm::utf16:
      return 2;
    case UnicodeForm::utf32le:
    case UnicodeForm::utf32be:
    case UnicodeForm::utf32:
      return 4;
    default:
      return 1;
  }
}

bool big_endian(UnicodeForm form) {
  return form == UnicodeForm::utf16be || form == UnicodeForm::utf32be ||
         form == UnicodeForm::utf16 || form == UnicodeForm::utf32;
}

bool is_line_feed(const unsigned char* p, size_t unit, bool be) {
  for (size_t i = 0; i < unit; ++i) {
    const unsigned char want = (be ? i == unit - 1 : i == 0) ? '\n' : 0;
    if (p[i] != want) return false;
  }
  return true;
}

// Characters in `text` decoded with `charset`, or npos when it does not decode.
size_t decoded_length(std::string_view text, const std::string& charset) {
  if (text.empty()) return 0;
  IconvHandle cd("UTF-8", charset, IconvHandle::Via::c_library);
  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  if (cd.append(&in, &in_left, out) != 0) return std::string_view::npos;
  size_t chars = 0;
  for (const char c : out)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
  return chars;
}

}  // namespace

StopPoint locate_stop(std::string_view content, uint64_t offset, const std::string& charset,
                      UnicodeForm form) {
  StopPoint at;
  at.offset = offset;
  const size_t end = offset < content.size() ? static_cast<size_t>(offset) : content.size();
  const size_t unit = unit_size(form);
  const bool be = big_endian(form);
  const auto* p = reinterpret_cast<const unsigned char*>(content.data());
  size_t line_start = 0;
  for (size_t i = 0; i + unit <= end; i += unit) {
    if (is_line_feed(p + i, unit, be)) {
      ++at.line;
      line_start = i + unit;
    }
  }
  const std::string_view line = content.substr(line_start, end - line_start);
  const size_t chars = unit == 1 ? decoded_length(line, charset) : std::string_view::npos;
  at.column = 1 + (chars != std::string_view::npos ? chars : line.size() / unit);
  return at;
}

StopPoint locate_stop_in_file(const std::string& path, uint64_t offset, const std::string& charset,
                              UnicodeForm form) {
  constexpr size_t kKeep = 64 * 1024;  // a longer last line is counted in bytes
  const size_t unit = unit_size(form);
  const bool be = big_endian(form);
  StopPoint at;
  at.offset = offset;
  std::string line;  // the bytes since the last line feed, while short enough
  uint64_t line_bytes = 0;
  uint64_t pos = 0;
  read_in_chunks(path, size_t{1} << 20, [&](std::string_view chunk) {
    if (pos + chunk.size() > offset) chunk = chunk.substr(0, static_cast<size_t>(offset - pos));
    const auto* p = reinterpret_cast<const unsigned char*>(chunk.data());
    size_t start = 0;
    for (size_t i = 0; i + unit <= chunk.size(); i += unit) {
      if (!is_line_feed(p + i, unit, be)) continue;
      ++at.line;
      line.clear();
      line_bytes = 0;
      start = i + unit;
    }
    const std::string_view rest = chunk.substr(start);
    line_bytes += rest.size();
    if (line.size() + rest.size() <= kKeep) line.append(rest);
    pos += chunk.size();
    return pos < offset;
  });
  const size_t chars = unit == 1 && line.size() == line_bytes ? decoded_length(line, charset)
                                                              : std::string_view::npos;
  at.column = 1 + (chars != std::string_view::npos ? chars : line_bytes / unit);
  return at;
}
