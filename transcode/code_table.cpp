// The labels tables stand for, and the one lookup of a pair's table.
#include "transcode/code_table.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "transcode/iconv_handle.h"
#include "transcode/table_decoder.h"
#include "transcode/table_encoder.h"

namespace {

// Stateless one- and two-byte encodings (longer characters are left to iconv). Not here: those
// that join a character to the next (CP1255, CP1258, TCVN, BIG5-HKSCS, the JIS X 0213 ones)
// and every stateful one (ISO-2022-*, UTF-7, EBCDIC with shifts).
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

}  // namespace

std::string upper_label(std::string_view label) {
  std::string u(label);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

bool tabled_charset(const std::string& label) {
  const std::string u = upper_label(label);
  return std::any_of(std::begin(kTabled), std::end(kTabled),
                     [&](const char* name) { return u == name; });
}

bool is_utf8_label(const std::string& label) {
  const std::string u = upper_label(label);
  return u == "UTF-8" || u == "UTF8";
}

const CodeTable* CodeTable::find(const std::string& from, const std::string& to) {
  if (const CodeTable* decoding = TableDecoder::find(from, to)) return decoding;
  return TableEncoder::find(from, to);
}
