// Encoding names for detection: presets, aliases, and the narrow labels with a wider twin.
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "detect/detect.h"
#include "transcode/iconv_handle.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace detect {
namespace {

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
  size_t lead = 0;
  while (lead < out.size() && std::isspace(static_cast<unsigned char>(out[lead]))) ++lead;
  return out.substr(lead);
}

const std::pair<const char*, const char*> kAliases[] = {
    {"SJIS", "SHIFT_JIS"},
    {"SHIFT-JIS", "SHIFT_JIS"},
    {"MS_KANJI", "SHIFT_JIS"},
    {"CSSHIFTJIS", "SHIFT_JIS"},
    {"MS932", "CP932"},
    {"WINDOWS-31J", "CP932"},
    {"IBM-943", "CP932"},
    {"CP936", "GBK"},
    {"MS936", "GBK"},
    {"WINDOWS-936", "GBK"},
    {"EUC-CN", "GB2312"},
    {"EUCCN", "GB2312"},
    {"BIG-5", "BIG5"},
    {"BIG-FIVE", "BIG5"},
    {"CN-BIG5", "BIG5"},
    {"CP950", "BIG5"},
    {"BIG5HKSCS", "BIG5-HKSCS"},
    {"UHC", "CP949"},
    {"MSCP949", "CP949"},
    {"EUCKR", "EUC-KR"},
    {"EUCJP", "EUC-JP"},
    {"KOI8R", "KOI8-R"},
    {"KOI8U", "KOI8-U"},
    {"IBM866", "CP866"},
    {"866", "CP866"},
    {"TIS620", "TIS-620"},
    {"WINDOWS-874", "CP874"},
    {"MS-ANSI", "CP1252"},
    {"LATIN1", "ISO-8859-1"},
    {"ISO8859-1", "ISO-8859-1"},
    {"ISO_8859-1", "ISO-8859-1"},
    {"L1", "ISO-8859-1"},
    {"LATIN-9", "ISO-8859-15"},
    {"LATIN9", "ISO-8859-15"},
    {"ISO8859-15", "ISO-8859-15"},
    {"LATIN2", "ISO-8859-2"},
    {"ISO8859-2", "ISO-8859-2"},
    {"UTF8", "UTF-8"},
    {"ASCII", "US-ASCII"},
    {"IBM437", "CP437"},
    {"IBM850", "CP850"},
    {"IBM852", "CP852"},
    {"IBM855", "CP855"},
    {"MAC", "MACINTOSH"},
    {"MACROMAN", "MACINTOSH"},
    {"X-MAC-ROMAN", "MACINTOSH"},
    {"MACCYRILLIC", "MAC-CYRILLIC"},
    {"X-MAC-CYRILLIC", "MAC-CYRILLIC"},
    {"X-MAC-CE", "MAC-CENTRALEUROPE"},
    {"MACCENTRALEUROPE", "MAC-CENTRALEUROPE"},
    {"EUCTW", "EUC-TW"},
    {"TIS620", "TIS-620"},
};

const std::pair<const char*, const char*> kWider[] = {
    {"SHIFT_JIS", "CP932"},   {"EUC-KR", "CP949"},      {"GB2312", "GBK"},
    {"ISO-8859-1", "CP1252"}, {"ISO-8859-9", "CP1254"}, {"TIS-620", "CP874"},
};

bool iconv_knows(const std::string& name) {
  return IconvHandle("UTF-8", name, IconvHandle::Via::c_library).is_open();
}

// The printable ASCII bytes `name` reads as another character ("\\" for JOHAB's ₩).
// Important: straight to the C library, not through the platform seam: a test that swaps in a
// failing converter must not make every label look like one that changes ASCII.
std::string ascii_changed_by(const std::string& name) {
  if (!IconvHandle("UTF-8", name, IconvHandle::Via::c_library).is_open()) return "";
  IconvHandle cd("UTF-32LE", name, IconvHandle::Via::c_library);
  if (!cd.is_open()) return "";
  std::string changed;
  for (int b = 0x20; b < 0x7F; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[8];
    char* ip = &in;
    char* op = reinterpret_cast<char*>(out);
    size_t left = 1, room = sizeof out;
    cd.reset();
    const bool one = ::iconv(cd.get(), &ip, &left, &op, &room) != static_cast<size_t>(-1) &&
                     left == 0 && room == sizeof out - 4;
    if (!one || out[0] != b || out[1] != 0 || out[2] != 0 || out[3] != 0)
      changed += static_cast<char>(b);
  }
  // A form that is not ASCII-based at all (EBCDIC, UTF-16) is not this rule's concern.
  return changed.size() > 8 ? "" : changed;
}

}  // namespace

std::string ascii_changes(std::string_view encoding) {
  const std::string name = canonical_name(encoding);
  if (name.rfind("UTF-", 0) == 0 || name.rfind("UCS-", 0) == 0) return "";
  // Important: asked once per converted file; probing opens two converters, and on a tree of
  // small files loading and unloading their modules each time cost more than the conversion.
  static std::mutex lock;
  static std::map<std::string, std::string, std::less<>> known;
  {
    const std::lock_guard<std::mutex> hold(lock);
    if (const auto it = known.find(name); it != known.end()) return it->second;
  }
  std::string changed = ascii_changed_by(name);
  const std::lock_guard<std::mutex> hold(lock);
  known.emplace(name, changed);
  return changed;
}

bool keeps_ascii(std::string_view encoding) { return ascii_changes(encoding).empty(); }

const char* evidence_name(Evidence evidence) {
  switch (evidence) {
    case Evidence::mark:
      return "mark";
    case Evidence::utf8:
      return "utf8";
    case Evidence::ascii:
      return "ascii";
    case Evidence::chosen:
      return "chosen";
    case Evidence::override_:
      return "override";
    case Evidence::file_statistics:
      return "file statistics";
    case Evidence::tree_statistics:
      return "tree statistics";
    case Evidence::only_decoder:
      return "only decoder";
    case Evidence::undetected:
      return "undetected";
    case Evidence::ambiguous:
      return "ambiguous";
  }
  return "undetected";
}

const std::vector<Preset>& presets() {
  // The names are what settings and the command line spell; the window shows them translated.
  // Important: a preset's first encodings are its common ones; an encoding listed in two
  // presets belongs to the first for preset_of() (and so for the languages it serves).
  static const std::vector<Preset> list = {
      {N_("Chinese"), {"GB18030", "GBK", "BIG5", "BIG5-HKSCS", "EUC-TW", "ISO-2022-CN"}},
      {N_("Japanese"), {"CP932", "EUC-JP", "SHIFT_JIS", "ISO-2022-JP"}},
      {N_("Korean"), {"CP949", "EUC-KR", "JOHAB", "ISO-2022-KR"}},
      {N_("Cyrillic"),
       {"CP1251", "KOI8-R", "KOI8-U", "CP866", "ISO-8859-5", "CP855", "MAC-CYRILLIC", "KOI8-RU"}},
      {N_("Western"), {"CP1252", "ISO-8859-15"}},
      {N_("Central European"), {"CP1250", "ISO-8859-2", "ISO-8859-16"}},
      {N_("Baltic"), {"CP1257", "ISO-8859-13", "ISO-8859-4"}},
      {N_("Greek"), {"CP1253", "ISO-8859-7"}},
      {N_("Turkish"), {"CP1254", "ISO-8859-9", "ISO-8859-3"}},
      {N_("Hebrew"), {"CP1255", "ISO-8859-8"}},
      {N_("Arabic"), {"CP1256", "ISO-8859-6"}},
      {N_("Thai"), {"CP874", "TIS-620", "ISO-8859-11"}},
      {N_("Vietnamese"), {"CP1258", "VISCII"}},
      {N_("Nordic"), {"ISO-8859-10"}},
      {N_("Celtic"), {"ISO-8859-14"}},
      {N_("DOS Western"), {"CP850", "CP437"}},
      {N_("DOS Central European"), {"CP852"}},
      {N_("DOS Cyrillic"), {"CP866", "CP855"}},
      {N_("Mac Western"), {"MACINTOSH"}},
      {N_("Mac Central European"), {"MAC-CENTRALEUROPE"}},
  };
  return list;
}

const std::vector<std::string>& every_encoding() {
  // Beyond the presets: the EBCDIC pages a packaged detector names, which no preset offers.
  static const std::vector<std::string> list = [] {
    std::vector<std::string> out;
    for (const Preset& p : presets())
      for (const std::string& e : p.encodings)
        if (std::find(out.begin(), out.end(), e) == out.end()) out.push_back(e);
    for (const char* e : {"IBM424", "IBM420"}) out.emplace_back(e);
    return out;
  }();
  return list;
}

std::string canonical_name(std::string_view encoding) {
  std::string name = upper(encoding);
  if (name.rfind("WINDOWS-125", 0) == 0 && name.size() == 12) return "CP" + name.substr(8);
  // ISO8859-5, ISO_8859-5 and ISO-8859-5 alike.
  for (const char* head : {"ISO8859-", "ISO_8859-", "ISO8859_"})
    if (name.rfind(head, 0) == 0) return "ISO-8859-" + name.substr(std::strlen(head));
  for (const auto& [alias, real] : kAliases)
    if (name == alias) return real;
  return name;
}

bool is_unicode_form(std::string_view encoding) {
  const std::string name = canonical_name(encoding);
  return name.rfind("UTF-", 0) == 0 || name.rfind("UCS-", 0) == 0;
}

std::vector<std::string> expand_candidates(const std::vector<std::string>& names_or_presets,
                                           std::vector<std::string>* unknown) {
  std::vector<std::string> out;
  auto push = [&out](const std::string& name) {
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  };
  for (const std::string& item : names_or_presets) {
    const std::string key = upper(item);
    if (key.empty()) continue;
    const Preset* preset = nullptr;
    for (const Preset& p : presets())
      if (upper(p.name) == key) preset = &p;
    if (preset) {
      for (const std::string& e : preset->encodings) push(e);
    } else if (key == kEveryEncoding) {
      for (const std::string& e : every_encoding()) push(e);
    } else if (const std::string name = canonical_name(key); iconv_knows(name)) {
      push(name);
    } else if (unknown) {
      unknown->push_back(item);
    }
  }
  return out;
}

const Preset* preset_of(std::string_view encoding) {
  std::string name = canonical_name(encoding);
  for (int round = 0; round < 2; ++round) {
    for (const Preset& p : presets())
      if (std::find(p.encodings.begin(), p.encodings.end(), name) != p.encodings.end()) return &p;
    name = wider_label(name);
    if (name.empty()) break;
  }
  return nullptr;
}

bool is_rare(std::string_view encoding) {
  static const char* const kCommon[] = {
      "GB18030",    "GBK",        "GB2312",      "BIG5",   "BIG5-HKSCS", "CP932",
      "EUC-JP",     "SHIFT_JIS",  "ISO-2022-JP", "CP949",  "EUC-KR",     "CP1251",
      "KOI8-R",     "KOI8-U",     "CP866",       "CP1252", "ISO-8859-1", "ISO-8859-15",
      "CP1250",     "ISO-8859-2", "CP1257",      "CP1253", "ISO-8859-7", "CP1254",
      "ISO-8859-9", "CP1255",     "ISO-8859-8",  "CP1256", "ISO-8859-6", "CP874",
      "TIS-620",    "CP1258"};
  const std::string name = canonical_name(encoding);
  if (is_unicode_form(name)) return false;
  for (const char* c : kCommon)
    if (name == c) return false;
  return true;
}

std::string wider_label(std::string_view encoding) {
  const std::string name = canonical_name(encoding);
  for (const auto& [narrow, wide] : kWider)
    if (name == narrow) return wide;
  return "";
}

std::string wider_label_note(std::string_view wide, std::string_view narrow) {
  const std::string n = canonical_name(narrow);
  const std::string w = canonical_name(wide);
  if (wider_label(n) != w) return "";
  std::string why;
  if (n == "SHIFT_JIS")
    why = _("SHIFT_JIS turns \\ into ¥ and ~ into ‾");
  else if (n == "EUC-KR")
    why = _("EUC-KR misreads the extended Hangul of CP949");
  else if (n == "GB2312")
    why = _("GB2312 lacks the characters only GBK has");
  else if (n == "TIS-620")
    why = _("TIS-620 lacks the punctuation CP874 has at 0x80-0xA0");
  else
    why = kestrum::strfmt(_("%s turns 0x80-0x9F into control characters"), n.c_str());
  return kestrum::strfmt(_("%s rather than %s: both read it, %s"), w.c_str(), n.c_str(),
                         why.c_str());
}

}  // namespace detect
