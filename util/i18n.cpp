// The catalogues' place and language at the start, and the translations of the one in use.
#include "util/i18n.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/fs.h"
#include "platform/sys_io.h"

#ifndef OUZEL_LOCALE_FROM_BIN
#define OUZEL_LOCALE_FROM_BIN "../share/locale"
#endif

namespace i18n {
namespace {

// The value of the first variable set among `names`, or "".
std::string first_set(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

bool is_c_locale(const std::string& name) { return name.empty() || name == "C" || name == "POSIX"; }

// "zh_CN.UTF-8@mod" -> "zh_CN".
std::string language_of(const std::string& name) {
  return name.substr(0, name.find_first_of(".@"));
}

// Whether a locale name says UTF-8 ("ja_JP.UTF-8", "ru_RU.utf8").
bool names_utf8(const std::string& name) {
  const size_t dot = name.find('.');
  if (dot == std::string::npos) return false;
  const std::string codeset = name.substr(dot + 1, name.find('@', dot) - dot - 1);
  return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "utf8") == 0;
}

// Whether the environment's character type is UTF-8: asked of the C library, or read from its
// name when the system has not generated that locale.
bool ctype_is_utf8() {
  if (locale_t loc = newlocale(LC_CTYPE_MASK, "", nullptr); loc != nullptr) {
    const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    freelocale(loc);
    return utf8;
  }
  return names_utf8(first_set({"LC_ALL", "LC_CTYPE", "LANG"}));
}

// The texts' locale from the environment. Important: a locale that was never generated makes
// setlocale fail and gettext stay English, although a catalogue needs no locale data: the
// language's name is then given through LANGUAGE over "C.UTF-8", which gettext honours.
bool take_message_locale() {
  if (setlocale(LC_MESSAGES, "") != nullptr) return true;
  const std::string asked = first_set({"LC_ALL", "LC_MESSAGES", "LANG"});
  if (is_c_locale(asked) || setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) return false;
  if (first_set({"LANGUAGE"}).empty()) setenv("LANGUAGE", language_of(asked).c_str(), 1);
  return true;
}

std::string program_dir() {
  char buf[4096];
  const ssize_t n = platform::sysio().readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return ".";
  const std::string_view exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string_view::npos ? "." : std::string(exe.substr(0, slash));
}

uint32_t word_at(const std::string& data, size_t offset, bool swap) {
  uint32_t w = 0;
  std::memcpy(&w, data.data() + offset, sizeof w);
  return swap ? __builtin_bswap32(w) : w;
}

}  // namespace

std::string catalogue_dir(const std::string& dir) {
  // The build tree puts the compiled catalogues beside the programs.
  if (platform::is_directory(dir + "/locale")) return dir + "/locale";
  return dir + "/" + OUZEL_LOCALE_FROM_BIN;
}

void start(Output output) {
  if (!take_message_locale()) return;
  if (output == Output::terminal && !ctype_is_utf8()) {
    setlocale(LC_MESSAGES, "C");  // the terminal could not show the translations
    return;
  }
  bindtextdomain(kDomain, catalogue_dir(program_dir()).c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
  // The C library's own texts (strerror) in UTF-8 too, whatever the character type.
  bind_textdomain_codeset("libc", "UTF-8");
  textdomain(kDomain);
}

std::string mo_file_texts(const std::string& path) {
  std::string data;
  if (!platform::read_file(path, data, 64u << 20)) return {};
  if (data.size() < 28) return {};
  const uint32_t magic = word_at(data, 0, false);
  const bool swap = magic == 0xde120495u;
  if (!swap && magic != 0x950412deu) return {};
  const uint32_t count = word_at(data, 8, swap);
  const uint32_t originals = word_at(data, 12, swap);
  const uint32_t translations = word_at(data, 16, swap);
  std::string out;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t o = originals + size_t{8} * i, t = translations + size_t{8} * i;
    if (o + 8 > data.size() || t + 8 > data.size()) return {};
    if (word_at(data, o, swap) == 0) continue;  // the header
    const uint32_t length = word_at(data, t, swap), at = word_at(data, t + 4, swap);
    if (size_t{at} + length > data.size()) return {};
    out.append(data, at, length).push_back('\n');  // plural forms stay NUL-separated
  }
  return out;
}

std::string catalogue_texts() {
  // The header of the catalogue gettext chose names its language; English has none. (Not a
  // literal: the template's tool would take it for the template's own header.)
  const char* const header_key = "";
  const std::string header = gettext(header_key);
  const size_t key = header.find("Language: ");
  if (key == std::string::npos) return {};
  const size_t from = key + std::strlen("Language: ");
  const std::string language = header.substr(from, header.find('\n', from) - from);
  const char* dir = bindtextdomain(kDomain, nullptr);
  if (language.empty() || dir == nullptr) return {};
  return mo_file_texts(std::string(dir) + "/" + language + "/LC_MESSAGES/" + kDomain + ".mo");
}

}  // namespace i18n
