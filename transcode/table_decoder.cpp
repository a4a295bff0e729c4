// Tables of iconv's answers per byte and byte pair, checked against iconv, and their decoding loop.
#include "transcode/table_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/sys_io.h"
#include "transcode/iconv_handle.h"
#include "transcode/line_endings.h"
#include "util/ascii_blocks.h"

namespace {

// iconv's UTF-8 for exactly these bytes as one entry, 0 when it is not one whole character
// of at most three bytes; `cut` tells a sequence that needs more bytes.
uint32_t entry_of(IconvHandle& cd, const unsigned char* bytes, size_t n, bool& cut) {
  cd.reset();
  std::string out;
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  size_t left = n;
  const int err = cd.append(&in, &left, out);
  cut = err == EINVAL && left == n;
  if (err != 0 || left != 0 || out.empty() || out.size() > 3) return 0;
  uint32_t packed = static_cast<uint32_t>(out.size()) << 24;
  for (size_t i = 0; i < out.size(); ++i)
    packed |= static_cast<uint32_t>(static_cast<unsigned char>(out[i])) << (8 * i);
  return packed;
}

size_t length_of(uint32_t entry) { return entry >> 24; }

bool is_line_end(uint32_t entry) {
  return entry == ((1u << 24) | 0x0Au) || entry == ((1u << 24) | 0x0Du);
}

// Important: the four bytes are stored whole and the pointer moves by the character's length,
// so the output needs three bytes of room past its end.
inline void put(char*& o, uint32_t entry) {
  std::memcpy(o, &entry, 4);
  o += length_of(entry);
}

// A CR or LF where the loop rewrites line ends.
template <bool kLineEnds>
inline bool line_end(unsigned char b) {
  return kLineEnds && (b == '\n' || b == '\r');
}

struct Registry {
  std::mutex lock;  // guards tables; a table, once in, never changes or goes
  std::map<std::string, std::unique_ptr<TableDecoder>> tables;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

TableDecoder TableDecoder::build(const std::string& from) {
  TableDecoder t;
  IconvHandle cd("UTF-8", from, IconvHandle::Via::c_library);
  if (!cd.is_open()) return t;
  bool any_lead = false;
  size_t longest = 1;
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    bool cut = false;
    t.single_[b] = entry_of(cd, &byte, 1, cut);
    if (cut) {
      if (b < 0x80) return t;  // a lead byte below 0x80 is not a table's kind of encoding
      t.single_[b] = kLead;
      any_lead = true;
    }
    if (t.single_[b] != kLead) longest = std::max(longest, length_of(t.single_[b]));
  }
  if (any_lead) {
    t.pairs_.assign(128 * 256, 0);
    for (unsigned lead = 0x80; lead < 256; ++lead) {
      if (t.single_[lead] != kLead) continue;
      for (unsigned trail = 0; trail < 256; ++trail) {
        const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                       static_cast<unsigned char>(trail)};
        bool cut = false;
        const uint32_t e = entry_of(cd, pair, 2, cut);
        t.pairs_[(lead - 0x80) * 256 + trail] = e;
        longest = std::max(longest, (length_of(e) + 1) / 2);
      }
    }
  }
  t.ascii_same_ = true;
  for (unsigned b = 0; b < 0x80; ++b)
    if (t.single_[b] != ((1u << 24) | b)) t.ascii_same_ = false;
  t.line_ends_ascii_ = std::none_of(t.single_ + 0x80, t.single_ + 256, is_line_end) &&
                       std::none_of(t.pairs_.begin(), t.pairs_.end(), is_line_end);
  t.max_ratio_ = longest;
  std::copy(std::begin(t.single_), std::end(t.single_), t.no_line_ends_);
  t.no_line_ends_['\n'] = t.no_line_ends_['\r'] = 0;
  t.usable_ = t.matches_iconv(from);
  return t;
}

// Every character of the table in one text, pairs and single bytes taking turns, decoded by the
// table and by one iconv call: the same bytes, or the table is not used.
bool TableDecoder::matches_iconv(const std::string& from) const {
  std::string singles, pairs;
  for (unsigned b = 0; b < 256; ++b)
    if (single_[b] != 0 && single_[b] != kLead) singles.push_back(static_cast<char>(b));
  for (size_t i = 0; i < pairs_.size(); ++i)
    if (pairs_[i] != 0) {
      pairs.push_back(static_cast<char>(0x80 + i / 256));
      pairs.push_back(static_cast<char>(i % 256));
    }
  if (singles.empty()) return false;
  std::string text;
  for (size_t i = 0, j = 0; i < pairs.size() || j < singles.size() * 2; i += 2, ++j) {
    if (i < pairs.size()) text.append(pairs, i, 2);
    text.push_back(singles[j % singles.size()]);
  }
  std::string by_iconv, by_table;
  IconvHandle cd("UTF-8", from, IconvHandle::Via::c_library);
  if (!cd.is_open() || cd.append_all(text, by_iconv) != 0) return false;
  return decode(text, by_table) == text.size() && by_table == by_iconv;
}

template <bool kLineEnds>
const unsigned char* TableDecoder::run_of_singles(const unsigned char* p, const unsigned char* end,
                                                  char*& o, bool ascii_same) const {
  // Important: CR and LF have no entry here where the loop rewrites line ends, so that they stop
  // the eight and go to the loop that rewrites them.
  const uint32_t* const batch = kLineEnds ? no_line_ends_ : single_;
  while (end - p >= 8) {
    char* const from = o;
    uint32_t unknown = 0;  // bit 31: some byte has no entry (its entry minus one)
    for (int k = 0; k < 8; ++k) {
      const uint32_t e = batch[p[k]];
      put(o, e);
      unknown |= e - 1;
    }
    if (unknown >> 31) {
      o = from;  // one by one, to the byte
      break;
    }
    p += 8;
    if (ascii_same && ascii::run_ahead(p, end)) break;
  }
  return p;
}

template <bool kLineEnds, bool kVectors>
size_t TableDecoder::decode_into(const unsigned char* p, size_t n, char* out, size_t& written,
                                 [[maybe_unused]] EolRewriter* eol) const {
  const unsigned char* const start = p;
  const unsigned char* const end = p + n;
  char* o = out;
  const auto at = [](const unsigned char* q) { return reinterpret_cast<const char*>(q); };
  [[maybe_unused]] EolPass pass{};
  const auto stop = [&] {
    if constexpr (kLineEnds) eol->give_back(pass);
    written = static_cast<size_t>(o - out);
    return static_cast<size_t>(p - start);
  };
  if constexpr (kLineEnds) {
    pass = eol->take_pass();
    if (p < end) p += pass.held_cr(at(p), o);
  }
  // Important: locals, not members: every store through a char pointer may alias a member, which
  // would then be loaded again for each character.
  const uint32_t* const single = single_;
  const uint32_t* const pairs = pairs_.data();
  const bool ascii_same = ascii_same_;
  const bool one_byte = pairs_.empty();
  while (p < end) {
    if (*p < 0x80 && ascii_same) {
      if constexpr (kLineEnds) {
        const size_t run = ascii::copy_to_line_end<kVectors>(p, static_cast<size_t>(end - p), o);
        o += run;
        p += run;
        if (p < end && *p < 0x80) p += pass.line_end_at(at(p), at(end), o);
      } else {
        const size_t run = ascii::copy<kVectors>(p, static_cast<size_t>(end - p), o);
        o += run;
        p += run;
      }
      continue;
    }
    // A run of characters, most often of two bytes each, with the odd ASCII byte between them
    // (not a line end, which the loop above rewrites).
    do {
      if (one_byte) {
        p = run_of_singles<kLineEnds>(p, end, o, ascii_same);
        if (p == end ||
            (*p < 0x80 && ascii_same && (ascii::run_ahead(p, end) || line_end<kLineEnds>(*p))))
          break;
      }
      uint32_t e = single[*p];
      if (e == kLead) {
        if (end - p < 2 || (e = pairs[static_cast<size_t>(*p - 0x80) * 256 + p[1]]) == 0)
          return stop();
        put(o, e);
        p += 2;
      } else if (e != 0) {
        put(o, e);
        ++p;
      } else {
        return stop();
      }
    } while (p < end &&
             (*p >= 0x80 || !ascii_same || !(ascii::run_ahead(p, end) || line_end<kLineEnds>(*p))));
  }
  return stop();
}

template <bool kLineEnds>
size_t TableDecoder::decode_to(std::string_view in, std::string& out, EolRewriter* eol) const {
  // A line end of one byte may become two, and a CR held back is written before the text.
  const size_t ratio = kLineEnds ? std::max<size_t>(max_ratio_, 2) : max_ratio_;
  return ascii::with_lanes([&]<bool kVectors>() {
    return in_windows(in, out, ratio, [&](const unsigned char* p, size_t n, char* o, size_t& w) {
      return decode_into<kLineEnds, kVectors>(p, n, o, w, eol);
    });
  });
}

size_t TableDecoder::decode(std::string_view in, std::string& out) const {
  return decode_to<false>(in, out, nullptr);
}

size_t TableDecoder::decode(std::string_view in, std::string& out, EolRewriter& eol) const {
  return decode_to<true>(in, out, &eol);
}

const TableDecoder* TableDecoder::find(const std::string& from, const std::string& to) {
  // Important: a test that replaced the converter must see every conversion go through it.
  if (platform::converter_replaced()) return nullptr;
  if (!is_utf8_label(to) || !tabled_charset(from)) return nullptr;
  Registry& r = registry();
  const std::string key = upper_label(from);
  std::lock_guard guard(r.lock);
  auto it = r.tables.find(key);
  if (it == r.tables.end())
    it = r.tables.emplace(key, std::make_unique<TableDecoder>(build(from))).first;
  return it->second->usable() ? it->second.get() : nullptr;
}
