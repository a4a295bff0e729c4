// The line-ending state machine over 1-, 2- and 4-byte code units.
#include "transcode/line_endings.h"

#include <algorithm>
#include <cstring>

#include "util/byte_scan.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr uint32_t kCr = 0x0D;
constexpr uint32_t kLf = 0x0A;
enum Kind { kLfEnd, kCrlfEnd, kCrEnd };

}  // namespace

const char* eol_mode_name(EolMode mode) {
  switch (mode) {
    case EolMode::lf:
      return "lf";
    case EolMode::crlf:
      return "crlf";
    case EolMode::cr:
      return "cr";
    case EolMode::keep:
      break;
  }
  return "keep";
}

bool parse_eol_mode(std::string_view text, EolMode& mode) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (EolMode m : {EolMode::keep, EolMode::lf, EolMode::crlf}) {
    if (lower == eol_mode_name(m)) {
      mode = m;
      return true;
    }
  }
  return false;
}

std::string eol_counts_text(const EolCounts& c) {
  // Translators: no line end at all, in the report's line ends column.
  if (c.total() == 0) return _("none");
  std::string parts;
  const auto add = [&parts](const char* name, uint64_t n) {
    if (n == 0) return;
    if (!parts.empty()) parts += ", ";
    parts += name;
    parts += ' ';
    parts += std::to_string(n);
  };
  add("LF", c.lf);
  add("CRLF", c.crlf);
  add("CR", c.cr);
  return c.mixed() ? kestrum::strfmt(_("mixed (%s)"), parts.c_str()) : parts;
}

EolRewriter::EolRewriter(EolMode mode, EolUnits units) : mode_(mode), units_(units) {}

EolCounts EolRewriter::after() const {
  if (passes_through()) return before_;
  EolCounts a;
  (mode_ == EolMode::lf ? a.lf : (mode_ == EolMode::cr ? a.cr : a.crlf)) = before_.total();
  return a;
}

void EolRewriter::put_line_end(int kind, std::string& out) {
  if (kind == kLfEnd) ++before_.lf;
  if (kind == kCrlfEnd) ++before_.crlf;
  if (kind == kCrEnd) ++before_.cr;
  if (units_.width == 1) {
    if (mode_ != EolMode::lf) out.push_back('\r');
    if (mode_ != EolMode::cr) out.push_back('\n');
    return;
  }
  if (mode_ != EolMode::lf) put_unit(kCr, out);
  if (mode_ != EolMode::cr) put_unit(kLf, out);
}

// Text without a CR: only its LFs change, if any; one pass, its size known beforehand.
void EolRewriter::feed_lf_only(std::string_view in, std::string& out) {
  const size_t lfs = bytes::count(in, '\n');
  before_.lf += lfs;
  if (mode_ == EolMode::lf || lfs == 0) {
    out.append(in);
    return;
  }
  if (mode_ == EolMode::cr) {
    const size_t from = out.size();
    out.append(in);
    std::replace(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), '\n', '\r');
    return;
  }
  const size_t base = out.size();
  // Important: eight bytes are copied at a time, past a line's end too, so the output has
  // eight bytes of room beyond its final size until the end.
  out.resize(base + in.size() + lfs + 8);
  char* o = out.data() + base;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* const end = p + in.size();
  while (end - p >= 8) {
    const uint64_t word = bytes::load64(p);
    const uint64_t lf = bytes::equal_bytes(word, '\n');
    std::memcpy(o, &word, 8);
    if (lf == 0) {
      o += 8;
      p += 8;
      continue;
    }
    const auto k = static_cast<size_t>(__builtin_ctzll(lf) / 8);  // the word's first LF
    o += k;
    *o++ = '\r';
    *o++ = '\n';
    p += k + 1;
  }
  for (; p < end; ++p) {
    if (*p == '\n') *o++ = '\r';
    *o++ = static_cast<char>(*p);
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

uint32_t EolRewriter::unit_at(const char* p) const {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  uint32_t v = 0;
  for (unsigned i = 0; i < units_.width; ++i) {
    const unsigned shift = units_.big_endian ? 8 * (units_.width - 1 - i) : 8 * i;
    v |= static_cast<uint32_t>(b[i]) << shift;
  }
  return v;
}

void EolRewriter::put_unit(uint32_t value, std::string& out) const {
  for (unsigned i = 0; i < units_.width; ++i) {
    const unsigned shift = units_.big_endian ? 8 * (units_.width - 1 - i) : 8 * i;
    out += static_cast<char>((value >> shift) & 0xFF);
  }
}

// Keep: the bytes go out as they are; only the line ends are counted.
void EolRewriter::count_bytes(std::string_view in) {
  const char* p = in.data();
  const char* end = p + in.size();
  if (pending_cr_ && p != end) {
    pending_cr_ = false;
    ++(*p == '\n' ? before_.crlf : before_.cr);
    if (*p == '\n') ++p;
  }
  const auto lfs = static_cast<uint64_t>(bytes::count(std::string_view(p, size_t(end - p)), '\n'));
  uint64_t crlfs = 0;
  uint64_t crs = 0;
  for (const char* q = p; (q = static_cast<const char*>(std::memchr(q, '\r', size_t(end - q))));) {
    ++q;
    if (q == end) {
      pending_cr_ = true;
      break;
    }
    ++(*q == '\n' ? crlfs : crs);
  }
  before_.lf += lfs - crlfs;
  before_.crlf += crlfs;
  before_.cr += crs;
}

void EolRewriter::feed_bytes(std::string_view in, std::string& out) {
  const char* p = in.data();
  const char* end = p + in.size();
  if (pending_cr_ && p != end) {
    pending_cr_ = false;
    put_line_end(*p == '\n' ? kCrlfEnd : kCrEnd, out);
    if (*p == '\n') ++p;
  }
  if (p != end && std::memchr(p, '\r', size_t(end - p)) == nullptr) {
    feed_lf_only(std::string_view(p, size_t(end - p)), out);
    return;
  }
  // Important: the next LF is looked for once and kept until passed, so text of lone CRs
  // stays linear; both searches are memchr rather than a loop over every byte.
  const char* lf = nullptr;
  while (p != end) {
    if (lf == nullptr || lf < p) {
      const void* found = std::memchr(p, '\n', size_t(end - p));
      lf = found != nullptr ? static_cast<const char*>(found) : end;
    }
    const void* cr = std::memchr(p, '\r', size_t(lf - p));
    const char* q = cr != nullptr ? static_cast<const char*>(cr) : lf;
    out.append(p, size_t(q - p));
    if (q == end) break;
    if (*q == '\n') {
      put_line_end(kLfEnd, out);
      p = q + 1;
      continue;
    }
    if (q + 1 == end) {
      pending_cr_ = true;
      break;
    }
    const bool pair = q[1] == '\n';
    put_line_end(pair ? kCrlfEnd : kCrEnd, out);
    p = q + (pair ? 2 : 1);
  }
}

void EolRewriter::feed_units(std::string_view in, std::string& out) {
  const size_t w = units_.width;
  if (!partial_.empty()) {
    const size_t need = std::min(w - partial_.size(), in.size());
    partial_.append(in.substr(0, need));
    in.remove_prefix(need);
    if (partial_.size() < w) return;
    std::string unit;
    unit.swap(partial_);
    feed_units(unit, out);
  }
  const size_t whole = in.size() / w * w;
  for (size_t i = 0; i < whole; i += w) {
    const uint32_t v = unit_at(in.data() + i);
    if (pending_cr_) {
      pending_cr_ = false;
      put_line_end(v == kLf ? kCrlfEnd : kCrEnd, out);
      if (v == kLf) continue;
    }
    if (v == kCr) {
      pending_cr_ = true;
    } else if (v == kLf) {
      put_line_end(kLfEnd, out);
    } else {
      out.append(in.data() + i, w);
    }
  }
  partial_.assign(in.substr(whole));
}

void EolRewriter::count(std::string_view in) {
  if (units_.width == 0) return;
  if (units_.width == 1) {
    count_bytes(in);
    return;
  }
  // The wide units are run through the rewriting machine into a scratch string.
  const EolMode mode = mode_;
  mode_ = EolMode::lf;
  std::string dropped;
  feed_units(in, dropped);
  mode_ = mode;
}

void EolRewriter::feed(std::string_view in, std::string& out) {
  if (passes_through()) {
    count(in);
    out.append(in);
  } else if (units_.width == 1) {
    feed_bytes(in, out);
  } else {
    feed_units(in, out);
  }
}

void EolRewriter::finish(std::string& out) {
  if (pending_cr_) {
    pending_cr_ = false;
    if (passes_through())
      ++before_.cr;
    else
      put_line_end(kCrEnd, out);
  }
  // A cut unit at the very end is malformed text the converter would have refused; as it is.
  if (!passes_through()) out += partial_;
  partial_.clear();
}
