// Strict UTF-8 validation with word-at-a-time ASCII runs.
#include "transcode/utf8.h"

#include <cstdint>
#include <cstring>

#include "util/ascii_blocks.h"

namespace {

bool cont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid sequence at p (lead byte >= 0x80), or 0 when it is invalid or cut.
size_t sequence_length(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  if (c < 0xC2) return 0;
  if (c < 0xE0) return left >= 2 && cont(p[1]) ? 2 : 0;
  if (c < 0xF0) {
    if (left < 3 || !cont(p[2])) return 0;
    const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;  // overlong
    const unsigned char hi = c == 0xED ? 0x9F : 0xBF;  // surrogates
    return p[1] >= lo && p[1] <= hi ? 3 : 0;
  }
  if (c < 0xF5) {
    if (left < 4 || !cont(p[2]) || !cont(p[3])) return 0;
    const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;  // overlong
    const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;  // above U+10FFFF
    return p[1] >= lo && p[1] <= hi ? 4 : 0;
  }
  return 0;
}

// A shift-based DFA: each byte's row holds, for every state, the next state as a 6-bit
// shift amount, so one step is a table load and a shift with no branch.
enum State : uint64_t {
  kAccept = 0,
  kNeed1 = 6,
  kNeed2 = 12,
  kNeed3 = 18,
  kAfterE0 = 24,  // second byte A0-BF (no overlong)
  kAfterED = 30,  // second byte 80-9F (no surrogates)
  kAfterF0 = 36,  // second byte 90-BF (no overlong)
  kAfterF4 = 42,  // second byte 80-8F (nothing above U+10FFFF)
  kError = 48,
};

constexpr uint64_t edge(State from, State to) { return static_cast<uint64_t>(to) << from; }

constexpr uint64_t row_for(unsigned b) {
  // Every state not named goes to kError, whose own row entry is kError as well.
  uint64_t r = 0;
  for (State s : {kAccept, kNeed1, kNeed2, kNeed3, kAfterE0, kAfterED, kAfterF0, kAfterF4, kError})
    r |= edge(s, kError);
  auto set = [&r](State from, State to) {
    r &= ~(uint64_t{63} << from);
    r |= edge(from, to);
  };
  if (b < 0x80) {
    set(kAccept, kAccept);
  } else if (b < 0xC0) {
    set(kNeed1, kAccept);
    set(kNeed2, kNeed1);
    set(kNeed3, kNeed2);
    if (b < 0x90) {
      set(kAfterED, kNeed1);
      set(kAfterF4, kNeed2);
    } else if (b < 0xA0) {
      set(kAfterED, kNeed1);
      set(kAfterF0, kNeed2);
    } else {
      set(kAfterE0, kNeed1);
      set(kAfterF0, kNeed2);
    }
  } else if (b >= 0xC2 && b < 0xE0) {
    set(kAccept, kNeed1);
  } else if (b == 0xE0) {
    set(kAccept, kAfterE0);
  } else if (b == 0xED) {
    set(kAccept, kAfterED);
  } else if (b >= 0xE1 && b < 0xF0) {
    set(kAccept, kNeed2);
  } else if (b == 0xF0) {
    set(kAccept, kAfterF0);
  } else if (b == 0xF4) {
    set(kAccept, kAfterF4);
  } else if (b > 0xF0 && b < 0xF4) {
    set(kAccept, kNeed3);
  }
  return r;
}

struct Rows {
  uint64_t row[256];
  constexpr Rows() : row() {
    for (unsigned b = 0; b < 256; ++b) row[b] = row_for(b);
  }
};
constexpr Rows kRows;

// Where the first invalid or cut sequence starts (the text is known to hold one).
size_t first_error(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t len = sequence_length(p + i, n - i);
    if (len == 0) return i;
    i += len;
  }
  return n;
}

}  // namespace

namespace {

template <bool kVectors>
Utf8Check check(const unsigned char* p, size_t n) {
  Utf8Check r;
  uint64_t state = kAccept;
  size_t i = 0;
  constexpr size_t kBlock = 64;
  while (i < n) {
    // Runs of ASCII a block at a time, between characters only.
    if (state == kAccept) i += ascii::run<kVectors>(p + i, n - i);
    const size_t end = n - i < kBlock ? n : i + kBlock;
    uint64_t high = 0;
    for (; i < end; ++i) {
      high |= p[i];
      state = (kRows.row[p[i]] >> state) & 63;
    }
    if (high & 0x80) r.non_ascii = true;
    if (state == kError) break;
  }
  if (state != kAccept) {
    r.valid = false;
    r.non_ascii = true;
    r.error_offset = first_error(p, n);
  }
  return r;
}

}  // namespace

Utf8Check utf8_check(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  return ascii::with_lanes([&]<bool kVectors>() { return check<kVectors>(p, text.size()); });
}

namespace {

template <bool kVectors>
std::string_view next_utf8_line(std::string_view text, size_t& from) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t line = from;  // always where a line starts
  while (line < n) {
    // Important: ASCII lines need no look at all, so line ends are found only around the
    // first byte above 0x7F, from which the line is read as UTF-8 until it fails or ends.
    size_t i = line + ascii::run<kVectors>(p + line, n - line);
    if (i == n) break;
    const size_t first = i;
    uint64_t state = kAccept;
    for (; i < n && p[i] != '\n'; ++i) {
      state = (kRows.row[p[i]] >> state) & 63;
      if (state == kError) break;
    }
    if (state == kAccept) {
      // The line's start only now: most lines fail, and need none.
      const void* before = memrchr(p + line, '\n', first - line);
      const size_t start =
          before == nullptr
              ? line
              : static_cast<size_t>(static_cast<const unsigned char*>(before) - p) + 1;
      from = i < n ? i + 1 : n;
      return text.substr(start, from - start);
    }
    if (i == n) break;
    const size_t nl = i + ascii::find_byte<kVectors>(p + i, n - i, '\n');
    if (nl == n) break;
    line = nl + 1;
  }
  from = n;
  return {};
}

}  // namespace

std::string_view find_utf8_line(std::string_view text, size_t& from) {
  return ascii::with_lanes([&]<bool kVectors>() { return next_utf8_line<kVectors>(text, from); });
}

bool is_ascii(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  return ascii::with_lanes(
      [&]<bool kVectors>() { return ascii::run<kVectors>(p, text.size()) == text.size(); });
}

size_t find_nul(std::string_view text, size_t limit) {
  const size_t n = text.size() < limit ? text.size() : limit;
  const void* hit = std::memchr(text.data(), '\0', n);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

std::string utf8_or_replacement(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const Utf8Check c = utf8_check(text);
    if (c.valid) {
      out += text;
      break;
    }
    out += text.substr(0, c.error_offset);
    out += "\xEF\xBF\xBD";
    text.remove_prefix(c.error_offset + 1);
  }
  return out;
}

size_t utf8_incomplete_tail(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const unsigned char c = p[n - back];
    if (cont(c)) continue;
    const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

void Utf8Scanner::feed(std::string_view chunk) {
  if (!result_.valid) return;
  std::string joined;
  if (!tail_.empty()) {
    joined = tail_;
    joined.append(chunk.substr(0, chunk.size() < 8 ? chunk.size() : 8));
  }
  // Finish the carried sequence with the first bytes of this chunk.
  size_t skip = 0;
  if (!tail_.empty()) {
    const size_t carried = tail_.size();
    const size_t cut = utf8_incomplete_tail(joined);
    const std::string_view head(joined.data(), joined.size() - cut);
    const Utf8Check c = utf8_check(head);
    if (!c.valid && c.error_offset < carried) {
      result_ = {false, true, consumed_ + c.error_offset};
      return;
    }
    // The carried lead byte's sequence ends inside the first few bytes of the chunk.
    const size_t len = (static_cast<unsigned char>(tail_[0]) >= 0xF0)   ? 4
                       : (static_cast<unsigned char>(tail_[0]) >= 0xE0) ? 3
                                                                        : 2;
    if (joined.size() < len) {  // still incomplete: the chunk was tiny
      tail_ = joined;
      return;
    }
    skip = len - carried;
    consumed_ += carried;
    result_.non_ascii = true;
    tail_.clear();
  }
  const std::string_view body = chunk.substr(skip);
  const size_t cut = utf8_incomplete_tail(body);
  const Utf8Check c = utf8_check(body.substr(0, body.size() - cut));
  if (c.non_ascii) result_.non_ascii = true;
  if (!c.valid) {
    result_ = {false, true, consumed_ + skip + c.error_offset};
    return;
  }
  consumed_ += skip + body.size() - cut;
  tail_.assign(body.substr(body.size() - cut));
}

Utf8Check Utf8Scanner::finish() const {
  if (result_.valid && !tail_.empty()) return {false, true, consumed_};
  return result_;
}
