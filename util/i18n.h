// Texts a person reads, in the user's language: the gettext markers and the program's catalogues.
#pragma once

#include <libintl.h>

#include <string>

// A text for a person, looked up in the catalogue of the user's language. Important: a format
// string stays a literal inside the marker, so the compiler still checks its arguments.
#define _(text) gettext(text)
// A text kept in a table and looked up with _() where it is shown.
#define N_(text) text
// A text with a count: the form the language uses for `count` (English: singular for 1).
#define P_(singular, plural, count) ngettext(singular, plural, static_cast<unsigned long>(count))

namespace i18n {

inline constexpr const char* kDomain = "ouzeltool";

enum class Output {
  window,    // drawn in UTF-8 whatever the locale's character set
  terminal,  // written to a terminal: translated only when its locale's character set is UTF-8
};

// Follows LANGUAGE, LC_ALL, LC_MESSAGES and LANG for the texts only (numbers and character
// classes stay those of "C"), with the catalogues beside the program when it runs from the build
// tree, else under share/locale. A locale the system has not generated still gets its
// catalogue. Once, at the start, before any thread.
void start(Output output);

// The catalogues' folder start() chose.
std::string catalogue_dir(const std::string& program_dir);

// Every translation of the catalogue in use, joined, for the fonts to prepare their glyphs;
// empty when texts stay English.
std::string catalogue_texts();

// Every translation of the .mo file `path`, joined (its header left out); empty when the file
// cannot be read or is no catalogue.
std::string mo_file_texts(const std::string& path);

}  // namespace i18n
