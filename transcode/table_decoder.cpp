// Tables of iconv's answers per byte and byte pair, checked against iconv, and their decoding loop.
#include "transcode/table_decoder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/sys_io.h"
#include "transcode/iconv_handle.h"
#include "transcode/line_endings.h"
#include "util/byte_scan.h"

namespace {

// Stateless decoders of one- and two-byte characters (longer ones are left to iconv). Not here:
// decoders that join a character to the next (CP1255, CP1258, TCVN, BIG5-HKSCS, the JIS X 0213
// ones) and every stateful one (ISO-2022-*, UTF-7, EBCDIC with shifts).
constexpr const char* kTabled[] = {
    "GBK",          "CP936",        "GB2312",       "EUC-CN",       "GB18030",      "BIG5",
    "BIG-5",        "CP950",        "SHIFT_JIS",    "SJIS",         "SHIFT-JIS",    "MS_KANJI",
    "CP932",        "WINDOWS-31J",  "EUC-JP",       "EUC-KR",       "CP949",        "UHC",
    "JOHAB",        "CP1250",       "CP1251",       "CP1252",       "CP1253",       "CP1254",
    "CP1256",       "CP1257",       "WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252", "WINDOWS-1253",
    "WINDOWS-1254", "WINDOWS-1256", "WINDOWS-1257", "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-3",
    "ISO-8859-4",   "ISO-8859-5",   "ISO-8859-6",   "ISO-8859-7",   "ISO-8859-8",   "ISO-8859-9",
    "ISO-8859-10",  "ISO-8859-11",  "ISO-8859-13",  "ISO-8859-14",  "ISO-8859-15",  "ISO-8859-16",
    "LATIN1",       "KOI8-R",       "KOI8-U",       "KOI8-RU",      "CP866",        "IBM866",
    "CP874",        "TIS-620",      "CP437",        "CP850",        "CP852",        "MACINTOSH",
};

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool tabled(const std::string& from) {
  const std::string u = upper(from);
  return std::any_of(std::begin(kTabled), std::end(kTabled),
                     [&](const char* name) { return u == name; });
}

bool is_utf8(const std::string& to) {
  const std::string u = upper(to);
  return u == "UTF-8" || u == "UTF8";
}

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
  while (p < end) {
    if (*p < 0x80 && ascii_same_) {
      if constexpr (kLineEnds) {
        // Important: each word is copied whole, then cut at its first line end or the first
        // byte of a character run, whichever comes first.
        while (end - p >= 8) {
          const uint64_t word = bytes::load64(p);
          std::memcpy(o, p, 8);
          const uint64_t high = word & bytes::kHighBits;
          const uint64_t ends = bytes::equal_bytes(word, '\n') | bytes::equal_bytes(word, '\r');
          const size_t ascii = high != 0 ? static_cast<size_t>(__builtin_ctzll(high) / 8) : 8;
          const size_t line_end = ends != 0 ? static_cast<size_t>(__builtin_ctzll(ends) / 8) : 8;
          if (line_end < ascii) {
            o += line_end;
            p += line_end;
            p += pass.line_end_at(at(p), at(end), o);
            continue;
          }
          o += ascii;
          p += ascii;
          if (ascii < 8) break;
        }
      } else {
        while (end - p >= 8 && (bytes::load64(p) & bytes::kHighBits) == 0) {
          std::memcpy(o, p, 8);
          o += 8;
          p += 8;
        }
      }
      while (p < end && *p < 0x80) {
        if constexpr (kLineEnds) {
          if (*p <= '\r' && (*p == '\n' || *p == '\r')) {
            p += pass.line_end_at(at(p), at(end), o);
            continue;
          }
        }
        *o++ = static_cast<char>(*p++);
      }
      continue;
    }
    // A run of characters, most often of two bytes each.
    do {
      uint32_t e = single_[*p];
      if (e == kLead) {
        if (end - p < 2 || (e = pairs_[static_cast<size_t>(*p - 0x80) * 256 + p[1]]) == 0)
          return stop();
        put(o, e);
        p += 2;
      } else if (e != 0) {
        put(o, e);
        ++p;
      } else {
        return stop();
      }
    } while (p < end && (*p >= 0x80 || !ascii_same_));
  }
  return stop();
}

template <bool kLineEnds>
size_t TableDecoder::decode_to(std::string_view in, std::string& out, EolRewriter* eol) const {
  const size_t used = out.size();
  // A line end of one byte may become two, and a CR held back is written before the text.
  const size_t ratio = kLineEnds ? std::max<size_t>(max_ratio_, 2) : max_ratio_;
  if (!try_resize(out, used + in.size() * ratio + 8)) {
    out.resize(used);
    return 0;  // iconv then takes it and says ENOMEM as it would
  }
  size_t written = 0;
  const size_t taken = decode_into<kLineEnds>(reinterpret_cast<const unsigned char*>(in.data()),
                                              in.size(), out.data() + used, written, eol);
  out.resize(used + written);
  return taken;
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
  if (!is_utf8(to) || !tabled(from)) return nullptr;
  Registry& r = registry();
  const std::string key = upper(from);
  std::lock_guard guard(r.lock);
  auto it = r.tables.find(key);
  if (it == r.tables.end())
    it = r.tables.emplace(key, std::make_unique<TableDecoder>(build(from))).first;
  return it->second->usable() ? it->second.get() : nullptr;
}
