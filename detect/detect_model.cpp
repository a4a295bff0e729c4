// Character classes and weights per script family. The common-character sets come from the
// encodings' own tables (level-1 hanzi/kanji, the KS X 1001 Hangul), so no data is shipped.
#include "detect/detect_model.h"

#include <iconv.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <mutex>
#include <vector>

#include "transcode/iconv_handle.h"

namespace detect {
namespace {

enum Cls : uint8_t {
  ascii_other,
  ascii_letter,
  c1,
  bad,  // U+FFFD, noncharacters, unassigned
  private_use,
  space,
  latin_lower,
  latin_upper,
  cyr_lower,
  cyr_upper,
  greek_lower,
  greek_upper,
  hebrew_letter,
  hebrew_mark,
  arabic_letter,
  arabic_mark,
  thai_letter,
  thai_mark,
  combining,
  han,
  hiragana,
  katakana,
  halfwidth_kana,
  hangul,
  jamo,
  cjk_punct,
  punct_common,  // quotes, dashes, ellipsis: plausible next to words
  punct_inword,  // ’ and ·, which sit inside words
  symbol,
  box,
  digit,
  letter_other,
};

Cls classify(char32_t u) {
  if (u < 0x80) return u_isalpha(static_cast<UChar32>(u)) ? ascii_letter : ascii_other;
  if (u < 0xA0) return c1;
  const UChar32 c = static_cast<UChar32>(u);
  if (u == 0xFFFD || u_charType(c) == U_UNASSIGNED) return bad;
  if (u_charType(c) == U_PRIVATE_USE_CHAR) return private_use;
  if (u == 0x2019 || u == 0x00B7) return punct_inword;
  if (u == 0x00AA || u == 0x00BA) return symbol;
  if ((u >= 0x3000 && u <= 0x303F) || (u >= 0xFF01 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFEE))
    return cjk_punct;
  if (u >= 0xFF61 && u <= 0xFF9F) return halfwidth_kana;
  if ((u >= 0x3130 && u <= 0x318F) || (u >= 0xFFA0 && u <= 0xFFDC) || (u >= 0x1100 && u <= 0x11FF))
    return jamo;
  if (u >= 0x2500 && u <= 0x259F) return box;
  if (u_isspace(c)) return space;
  const int8_t type = u_charType(c);
  if (type == U_CONTROL_CHAR || type == U_FORMAT_CHAR) return u == 0xAD ? symbol : space;
  if (type == U_DECIMAL_DIGIT_NUMBER) return digit;
  UErrorCode err = U_ZERO_ERROR;
  const UScriptCode script = uscript_getScript(c, &err);
  const bool mark = type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK;
  if (mark) {
    if (script == USCRIPT_HEBREW) return hebrew_mark;
    if (script == USCRIPT_ARABIC) return arabic_mark;
    if (script == USCRIPT_THAI) return thai_mark;
    return combining;
  }
  if (u_isalpha(c)) {
    switch (script) {
      case USCRIPT_LATIN:
        return u_islower(c) ? latin_lower : latin_upper;
      case USCRIPT_CYRILLIC:
        return u_islower(c) ? cyr_lower : cyr_upper;
      case USCRIPT_GREEK:
        return u_islower(c) ? greek_lower : greek_upper;
      case USCRIPT_HEBREW:
        return hebrew_letter;
      case USCRIPT_ARABIC:
        return arabic_letter;
      case USCRIPT_THAI:
        return thai_letter;
      case USCRIPT_HAN:
        return han;
      case USCRIPT_HIRAGANA:
        return hiragana;
      case USCRIPT_KATAKANA:
        return katakana;
      case USCRIPT_HANGUL:
        return hangul;
      default:
        // The prolonged sound mark and the iteration marks are "common" script.
        if (u == 0x30FC || u == 0x30FD || u == 0x30FE) return katakana;
        if (u == 0x309D || u == 0x309E) return hiragana;
        return letter_other;
    }
  }
  if (type == U_DASH_PUNCTUATION || type == U_INITIAL_PUNCTUATION || type == U_FINAL_PUNCTUATION ||
      u == 0x2026 || u == 0x2022 || u == 0x00AB || u == 0x00BB || u == 0x201E || u == 0x201A ||
      u == 0x2116 || u == 0x00A7 || u == 0x00B0 || u == 0x20AC || u == 0x00BF || u == 0x00A1 ||
      u == 0x060C || u == 0x061B || u == 0x061F)
    return punct_common;
  return symbol;
}

// Class of every BMP code point, and the common-character sets, built once.
struct Tables {
  std::vector<uint8_t> cls = std::vector<uint8_t>(0x10000);
  std::bitset<0x10000> gb_common, big5_common, jis_common, ks_hangul, ks_hanja;
};

// Important: straight to the C library, not through the platform seam: these are fixed
// tables built once, and a test that swaps in a failing converter must not empty them.
void fill_set(std::bitset<0x10000>& set, const char* encoding, int lead_from, int lead_to,
              int trail_from, int trail_to, bool big5_trails = false) {
  IconvHandle cd("UTF-32LE", encoding, IconvHandle::Via::c_library);
  if (!cd.is_open()) return;
  for (int lead = lead_from; lead <= lead_to; ++lead) {
    for (int trail = trail_from; trail <= trail_to; ++trail) {
      if (big5_trails && trail > 0x7E && trail < 0xA1) continue;
      char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      unsigned char out[16];
      char* ip = bytes;
      size_t left = 2;
      char* op = reinterpret_cast<char*>(out);
      size_t room = sizeof out;
      cd.reset();
      if (::iconv(cd.get(), &ip, &left, &op, &room) == static_cast<size_t>(-1) || left != 0 ||
          sizeof out - room != 4)
        continue;
      const uint32_t u = uint32_t{out[0]} | uint32_t{out[1]} << 8 | uint32_t{out[2]} << 16 |
                         uint32_t{out[3]} << 24;
      if (u < 0x10000) set.set(u);
    }
  }
}

const Tables& tables() {
  static Tables* t = nullptr;
  static std::once_flag once;
  // Important: built under call_once; the detector's threads all read the same tables.
  std::call_once(once, [] {
    auto* made = new Tables;
    for (char32_t u = 0; u < 0x10000; ++u) made->cls[u] = classify(u);
    fill_set(made->gb_common, "GB2312", 0xB0, 0xD7, 0xA1, 0xFE);
    fill_set(made->big5_common, "BIG5", 0xA4, 0xC6, 0x40, 0xFE, true);
    fill_set(made->jis_common, "EUC-JP", 0xB0, 0xCF, 0xA1, 0xFE);
    fill_set(made->ks_hangul, "EUC-KR", 0xB0, 0xC8, 0xA1, 0xFE);
    fill_set(made->ks_hanja, "EUC-KR", 0xCA, 0xFD, 0xA1, 0xFE);
    t = made;
  });
  return *t;
}

Cls class_of(const Tables& t, char32_t u) {
  if (u < 0x10000) return static_cast<Cls>(t.cls[u]);
  if (u > 0x10FFFF) return bad;
  return classify(u);
}

bool is_letter(Cls c) {
  return c == ascii_letter || (c >= latin_lower && c <= thai_mark) || (c >= han && c <= jamo) ||
         c == letter_other;
}

bool is_lower(Cls c) { return c == latin_lower || c == cyr_lower || c == greek_lower; }
bool is_upper(Cls c) { return c == latin_upper || c == cyr_upper || c == greek_upper; }

double han_weight(const Tables& t, Family f, char32_t u) {
  const bool bmp = u < 0x10000;
  switch (f) {
    case Family::gb:
      return bmp && t.gb_common.test(u) ? 2.0 : -1.5;
    case Family::big5:
      return bmp && t.big5_common.test(u) ? 2.0 : -1.5;
    case Family::japanese:
      return bmp && t.jis_common.test(u) ? 2.0 : -1.5;
    case Family::korean:
      return bmp && t.ks_hanja.test(u) ? -1.0 : -2.0;
    default:
      return -4.0;
  }
}

double cjk_weight(const Tables& t, Family f, Cls c, char32_t u) {
  switch (c) {
    case han:
      return han_weight(t, f, u);
    case hiragana:
    case katakana:
      return f == Family::japanese ? 2.0 : f == Family::korean ? -3.0 : -2.5;
    case halfwidth_kana:
      return f == Family::japanese ? -1.0 : -4.0;
    case hangul:
      if (f != Family::korean) return -4.0;
      return u < 0x10000 && t.ks_hangul.test(u) ? 2.0 : -2.0;
    case jamo:
      return f == Family::korean ? -1.0 : -4.0;
    case cjk_punct:
      return 1.0;
    case punct_common:
    case punct_inword:
      return 0.5;
    case symbol:
    case space:
      return -0.3;
    case box:
      return -1.0;
    case latin_lower:
    case latin_upper:
    case cyr_lower:
    case cyr_upper:
    case greek_lower:
    case greek_upper:
      return -2.0;
    case private_use:
      return -6.0;
    case c1:
    case bad:
      return -8.0;
    default:
      return -4.0;
  }
}

bool own_letter(Family f, Cls c) {
  switch (f) {
    case Family::latin:
    case Family::vietnamese:
      return c == latin_lower || c == latin_upper;
    case Family::cyrillic:
      return c == cyr_lower || c == cyr_upper;
    case Family::greek:
      return c == greek_lower || c == greek_upper;
    case Family::hebrew:
      return c == hebrew_letter;
    case Family::arabic:
      return c == arabic_letter;
    case Family::thai:
      return c == thai_letter;
    default:
      return false;
  }
}

Cls mark_of(Family f) {
  switch (f) {
    case Family::hebrew:
      return hebrew_mark;
    case Family::arabic:
      return arabic_mark;
    case Family::thai:
      return thai_mark;
    case Family::vietnamese:
      return combining;
    default:
      return bad;
  }
}

// Context of one character: the classes around it.
struct Around {
  Cls prev2, prev, next;
};

// Letter frequencies of Russian, Ukrainian and the South Slavic letters, in percent: a
// misread Cyrillic text (KOI8-R read as CP1251) is a shuffle of its letters, and the shuffle
// brings up the rare ones whatever the case of the text.
double cyrillic_weight(char32_t u) {
  static const struct {
    char32_t letter;
    float percent;
  } kFreq[] = {{U'о', 10.97f}, {U'е', 8.45f}, {U'а', 8.01f}, {U'и', 7.35f}, {U'н', 6.70f},
               {U'т', 6.26f},  {U'с', 5.47f}, {U'р', 4.73f}, {U'в', 4.54f}, {U'л', 4.40f},
               {U'к', 3.49f},  {U'м', 3.21f}, {U'д', 2.98f}, {U'п', 2.81f}, {U'у', 2.62f},
               {U'я', 2.01f},  {U'ы', 1.90f}, {U'ь', 1.74f}, {U'г', 1.70f}, {U'з', 1.65f},
               {U'б', 1.59f},  {U'ч', 1.44f}, {U'й', 1.21f}, {U'х', 0.97f}, {U'ж', 0.94f},
               {U'ш', 0.73f},  {U'ю', 0.64f}, {U'ц', 0.48f}, {U'щ', 0.36f}, {U'э', 0.32f},
               {U'ф', 0.26f},  {U'ъ', 0.04f}, {U'ё', 0.04f}, {U'і', 5.0f},  {U'ї', 0.6f},
               {U'є', 0.4f},   {U'ґ', 0.1f},  {U'ў', 1.0f},  {U'ј', 1.0f},  {U'љ', 0.3f},
               {U'њ', 0.3f},   {U'ћ', 0.3f},  {U'ђ', 0.2f},  {U'џ', 0.1f}};
  const auto lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(u)));
  double percent = 0.05;
  for (const auto& f : kFreq)
    if (f.letter == lower) percent = f.percent;
  return 0.5 + std::clamp(0.6 * std::log(percent / 2.5), -2.5, 0.8);
}

double letter_weight(Family f, Cls c, char32_t u, const Around& a) {
  if (is_upper(c) && is_lower(a.prev)) return -2.5;
  double w = f == Family::cyrillic ? cyrillic_weight(u) + (is_lower(c) ? 0.1 : 0.0)
                                   : (is_lower(c) ? 1.25 : 1.0);
  const bool latin_script = f == Family::latin || f == Family::vietnamese;
  if (!latin_script && (a.prev == ascii_letter || a.next == ascii_letter)) return -2.0;
  if (latin_script && f == Family::latin && own_letter(f, a.prev) && own_letter(f, a.prev2))
    return -1.5;
  return w;
}

double single_byte_weight(Family f, Cls c, char32_t u, const Around& a) {
  if (own_letter(f, c)) return letter_weight(f, c, u, a);
  if (c == mark_of(f)) return own_letter(f, a.prev) || a.prev == c ? 0.5 : -3.0;
  const bool inside = is_letter(a.prev) && is_letter(a.next);
  switch (c) {
    case punct_inword:
      return 0.3;
    case punct_common:
      return inside ? -3.0 : 0.3;
    case symbol:
      return inside ? -4.0 : -0.7;
    case space:
      return 0.0;
    case box:
      return -3.0;
    case digit:
      return -2.0;
    case private_use:
      return -6.0;
    case c1:
    case bad:
      return -8.0;
    case latin_lower:
    case latin_upper:
      return f == Family::cyrillic || f == Family::greek ? -3.0 : -3.0;
    default:
      return -3.0;
  }
}

// Lower-case Latin letters any language check knows; index 63 is "any other Latin letter".
constexpr char32_t kLatin[] = {
    U'à', U'á', U'â', U'ã', U'ä', U'å', U'æ', U'ç', U'è', U'é', U'ê', U'ë', U'ì', U'í', U'î', U'ï',
    U'ð', U'ñ', U'ò', U'ó', U'ô', U'õ', U'ö', U'ø', U'ù', U'ú', U'û', U'ü', U'ý', U'þ', U'ÿ', U'ß',
    U'ă', U'ą', U'ć', U'č', U'ď', U'đ', U'ę', U'ě', U'ğ', U'ı', U'ĺ', U'ľ', U'ł', U'ń', U'ň', U'ő',
    U'œ', U'ŕ', U'ř', U'ś', U'ş', U'š', U'ţ', U'ť', U'ů', U'ű', U'ź', U'ż', U'ž', U'ș', U'ț'};
static_assert(std::size(kLatin) == 63);

int latin_index(char32_t lower) {
  const auto* end = std::end(kLatin);
  const auto* it = std::find(std::begin(kLatin), end, lower);
  return it == end ? 63 : static_cast<int>(it - std::begin(kLatin));
}

uint64_t alphabet(std::u32string_view letters) {
  uint64_t mask = 0;
  for (char32_t c : letters) mask |= uint64_t{1} << latin_index(c);
  return mask;
}

const std::vector<uint64_t>& languages() {
  static const std::vector<uint64_t> list = {
      alphabet(U"äöüßé"),              // German
      alphabet(U"àâæçéèêëîïôœùûüÿ"),   // French
      alphabet(U"áéíñóúü"),            // Spanish
      alphabet(U"áâãàçéêíóôõúü"),      // Portuguese
      alphabet(U"àèéìíîòóùú"),         // Italian
      alphabet(U"àçèéíïòóúü"),         // Catalan
      alphabet(U"áéèëïóöüê"),          // Dutch
      alphabet(U"åäöéšž"),             // Swedish, Finnish, Estonian
      alphabet(U"æøåéó"),              // Danish, Norwegian
      alphabet(U"áðéíóúýþæö"),         // Icelandic, Faroese
      alphabet(U"ąćęłńóśźż"),          // Polish
      alphabet(U"áčďéěíňóřšťúůýž"),    // Czech
      alphabet(U"áäčďéíĺľňóôŕšťúýž"),  // Slovak
      alphabet(U"áéíóöőúüű"),          // Hungarian
      alphabet(U"čćđšž"),              // Slovenian, Croatian, Bosnian
      alphabet(U"ăâîșşțţ"),            // Romanian
      alphabet(U"çğıöşüâîû"),          // Turkish
      alphabet(U"çë"),                 // Albanian
      alphabet(U"äöõüšž"),             // Estonian
  };
  return list;
}

}  // namespace

Family family_of(std::string_view encoding) {
  auto in = [&encoding](std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), encoding) != names.end();
  };
  if (in({"GB18030", "GBK", "GB2312", "HZ", "ISO-2022-CN", "ISO-2022-CN-EXT"})) return Family::gb;
  if (in({"BIG5", "BIG5-HKSCS", "EUC-TW"})) return Family::big5;
  if (in({"CP932", "SHIFT_JIS", "EUC-JP", "EUC-JP-MS", "ISO-2022-JP", "ISO-2022-JP-2",
          "ISO-2022-JP-3", "EUC-JISX0213", "SHIFT_JISX0213"}))
    return Family::japanese;
  if (in({"CP949", "EUC-KR", "JOHAB", "ISO-2022-KR"})) return Family::korean;
  if (in({"CP1251", "KOI8-R", "KOI8-U", "KOI8-RU", "CP866", "ISO-8859-5", "CP855", "MAC-CYRILLIC"}))
    return Family::cyrillic;
  if (in({"CP1253", "ISO-8859-7", "CP737", "CP869"})) return Family::greek;
  if (in({"CP1255", "ISO-8859-8", "CP862", "IBM424"})) return Family::hebrew;
  if (in({"CP1256", "ISO-8859-6", "CP864", "IBM420"})) return Family::arabic;
  if (in({"CP874", "TIS-620", "ISO-8859-11"})) return Family::thai;
  if (in({"CP1258", "TCVN", "VISCII"})) return Family::vietnamese;
  if (encoding.rfind("UTF-", 0) == 0) return Family::unicode;
  return Family::latin;
}

void Tally::add(const Tally& other, double scale) {
  points += other.points * scale;
  chars += other.chars * scale;
  for (size_t i = 0; i < letters.size(); ++i)
    letters[i] += static_cast<float>(other.letters[i] * scale);
}

void score_text(Family f, std::u32string_view text, Tally& tally) {
  const Tables& t = tables();
  const bool cjk =
      f == Family::gb || f == Family::big5 || f == Family::japanese || f == Family::korean;
  Cls prev2 = ascii_other, prev = ascii_other;
  Cls cur = text.empty() ? ascii_other : class_of(t, text[0]);
  for (size_t i = 0; i < text.size(); ++i) {
    const Cls next = i + 1 < text.size() ? class_of(t, text[i + 1]) : ascii_other;
    const char32_t u = text[i];
    if (u >= 0x80) {
      tally.chars += 1;
      tally.points +=
          cjk ? cjk_weight(t, f, cur, u) : single_byte_weight(f, cur, u, {prev2, prev, next});
      if (f == Family::latin && (cur == latin_lower || cur == latin_upper)) {
        const auto lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(u)));
        if (lower >= 0x80) tally.letters[static_cast<size_t>(latin_index(lower))] += 1;
      }
    }
    prev2 = prev;
    prev = cur;
    cur = next;
  }
}

double latin_misfits(const LetterCounts& letters) {
  double total = 0;
  for (float n : letters) total += n;
  if (total == 0) return 0;
  double best = total;
  for (uint64_t mask : languages()) {
    double outside = 0;
    for (size_t i = 0; i < letters.size(); ++i)
      if (!(mask >> i & 1)) outside += letters[i];
    best = std::min(best, outside);
  }
  return best;
}

double total_points(Family f, const Tally& tally) {
  if (f != Family::latin) return tally.points;
  return tally.points - 2.5 * latin_misfits(tally.letters);
}

}  // namespace detect
