// The option table of ouzel-convert and its parser: a new flag is one entry in kFlags.
#include "cli/cli_args.h"

#include <charconv>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "util/i18n.h"
#include "util/strfmt.h"

#ifndef OUZEL_VERSION
#define OUZEL_VERSION "unknown"
#endif

namespace {

constexpr unsigned kMaxThreads = 1024;

// One option: its names, the name of its value (nullptr for a switch), its help (untranslated),
// its effect. `apply` returns an error line, or an empty string.
struct Flag {
  const char* name;
  char short_name;
  const char* value;
  const char* help;
  std::string (*apply)(CliOptions& options, const std::string& value);
};

std::string parse_threads(CliOptions& o, const std::string& value) {
  unsigned n = 0;
  const char* end = value.data() + value.size();
  const auto [ptr, ec] = std::from_chars(value.data(), end, n);
  if (ec != std::errc() || ptr != end || value.empty() || n > kMaxThreads)
    return kestrum::strfmt(_("--threads takes a number from 0 to %u, not \"%s\""), kMaxThreads,
                           value.c_str());
  o.threads = n;
  return {};
}

std::string parse_candidates(CliOptions& o, const std::string& value) {
  std::vector<std::string> names;
  size_t from = 0;
  while (from <= value.size()) {
    const size_t comma = value.find(',', from);
    const std::string name =
        value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (!name.empty()) names.push_back(name);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (names.empty()) return _("--candidates takes a comma-separated list of presets or encodings");
  o.candidates = names;
  o.detect = true;
  return {};
}

std::string set_undo(CliOptions& o, const std::string& value) {
  o.undo = true;
  o.undo_run = value;
  return {};
}

std::string set_no_undo(CliOptions& o, const std::string&) {
  o.PlanOverrides::undo = false;
  return {};
}

// An option that only sets its field: to its value, or a switch to true.
template <auto member>
std::string set_field(CliOptions& o, const std::string& value) {
  auto& field = o.*member;
  if constexpr (std::is_assignable_v<decltype(field), const std::string&>)
    field = value;
  else
    field = true;
  return {};
}

// An encoding named once: given twice, which one was meant is no guess to make.
template <auto member>
std::string set_encoding(CliOptions& o, const std::string& value) {
  const char* name = member == &CliOptions::from ? "--from" : "--to";
  if ((o.*member).has_value()) return kestrum::strfmt(_("%s is given more than once"), name);
  if (value.empty()) return kestrum::strfmt(_("%s names no encoding"), name);
  o.*member = value;
  return {};
}

const Flag kFlags[] = {
    {"--from", 'f', "NAME", N_("source encoding, as the window lists it (default GBK)"),
     set_encoding<&CliOptions::from>},
    {"--to", 't', "NAME", N_("target encoding, \"UTF-8 with BOM\" included (default UTF-8)"),
     set_encoding<&CliOptions::to>},
    {"--filter", 0, "TEXT", N_("which files, in the window's filter syntax (default \"*.*\")"),
     set_field<&CliOptions::filter>},
    {"--config", 'c', "FILE",
     N_("take input, output, the selected filter and the encodings from a settings file "
        "(ouzel.yml); options given beside it win; the file is never written"),
     set_field<&CliOptions::config>},
    {"--in-place", 'i', nullptr,
     N_("every path is an input (files and folders), converted where it is; needed to write "
        "files named on the command line"),
     set_field<&CliOptions::in_place>},
    {"--output", 'o', "DIR",
     N_("every path is an input (files and folders), written under DIR at its path relative to "
        "the current folder (or to the deepest folder holding them all)"),
     set_field<&CliOptions::output>},
    {"--threads", 'j', "N", N_("conversion threads (default 0: one per core)"), parse_threads},
    {"--detect", 'd', nullptr,
     N_("detect each file's encoding (its mark, UTF-8, ASCII, else statistics over the file and "
        "its folder); --from is the preferred one"),
     set_field<&CliOptions::detect>},
    {"--candidates", 0, "LIST",
     // Translators: the presets' names and "all" are what the option takes: they stay in English.
     N_("what detection may choose from: presets (Chinese, Japanese, Korean, Cyrillic, Western, "
        "\"Central European\", Baltic, Greek, Turkish, Hebrew, Arabic, Thai, Vietnamese, Nordic, "
        "Celtic, \"DOS Western\", \"DOS Central European\", \"DOS Cyrillic\", \"Mac Western\", "
        "\"Mac Central European\"), encodings, or all (every encoding detection knows), "
        "comma-separated; implies --detect (default: the preset of --from)"),
     parse_candidates},
    {"--accept-unsure", 0, nullptr,
     // Translators: undetected and ambiguous are outcome names of the report: they stay.
     N_("take detection's best reading of a file it would otherwise leave undetected or "
        "ambiguous (kept as it is); the report names such files as guesses"),
     set_field<&CliOptions::accept_unsure>},
    {"--eol", 0, "MODE",
     // Translators: keep, lf and crlf are what the option takes: they stay as they are.
     N_("line endings of the text written: keep (default), lf or crlf; a file whose encoding is "
        "right but whose line endings are not is rewritten"),
     set_field<&CliOptions::eol>},
    {"--bom", 0, "MODE",
     // Translators: keep, add and remove are what the option takes: they stay as they are.
     N_("byte-order mark of UTF targets: keep (the source's own, or none), add, or remove (the "
        "default); the target \"UTF-8 with BOM\" always adds one"),
     set_field<&CliOptions::bom>},
    {"--repair", 0, nullptr,
     // Translators: double-encoded and mixed are outcome names of the report: they stay.
     N_("repair double-encoded files (UTF-8 misread through a legacy encoding and saved again) "
        "and files of two encodings (UTF-8 lines beside legacy ones); without it they are "
        "reported as double-encoded and mixed and left as they are"),
     set_field<&CliOptions::repair>},
    {"--editorconfig", 0, nullptr,
     N_("take each file's charset (latin1, utf-8, utf-8-bom, utf-16be, utf-16le) and "
        "end_of_line (lf, crlf, cr) from the .editorconfig files above it, after the rules of "
        "--config and before --to, --eol and --bom; with --check, check each file against them "
        "and name the first line that is wrong"),
     set_field<&CliOptions::editorconfig>},
    {"--no-sync", 0, nullptr,
     N_("publish targets without flushing them to the disk first (faster; a power loss right "
        "after may leave empty targets, a crash still leaves none half written)"),
     set_field<&CliOptions::no_sync>},
    {"--no-undo", 0, nullptr,
     N_("in place, convert without keeping what each file held before (by default it is kept in "
        "the folder's .ouzel-undo, so that --undo can put it back)"),
     set_no_undo},
    {"--undo", 0, "[RUN]",
     N_("put back what the last run in place over DIR (the one path; default the current folder) "
        "replaced, or run RUN's: each file that still holds what the run wrote gets its old "
        "bytes, mode and times; a file changed since is left as it is; then the run is forgotten"),
     set_undo},
    {"--force", 0, nullptr, N_("with --undo, files deleted since the run are put back too"),
     set_field<&CliOptions::force>},
    {"--list-runs", 0, nullptr,
     N_("list the runs kept to undo for DIR (default the current folder): date, files, size "
        "kept"),
     set_field<&CliOptions::list_runs>},
    {"--forget", 0, "RUN|all", N_("drop what a run kept to undo it (or every run's) for DIR"),
     set_field<&CliOptions::forget>},
    {"--dry-run", 'n', nullptr, N_("classify and convert in memory, report, write nothing"),
     set_field<&CliOptions::dry_run>},
    {"--check", 0, nullptr,
     N_("write nothing; exit 1 when any file would change or cannot be read or converted"),
     set_field<&CliOptions::check>},
    {"--report", 'r', "FILE",
     N_("write the report: JSON when FILE ends in .json, else CSV; - writes CSV to standard "
        "output"),
     set_field<&CliOptions::report>},
    {"--quiet", 'q', nullptr, N_("print only errors"), set_field<&CliOptions::quiet>},
    {"--verbose", 'v', nullptr, N_("print every file and the engine's messages"),
     set_field<&CliOptions::verbose>},
    {"--list-encodings", 0, nullptr, N_("print every encoding name, one a line, and exit"),
     set_field<&CliOptions::list_encodings>},
    {"--list-presets", 0, nullptr, N_("print every detection preset, one a line, and exit"),
     set_field<&CliOptions::list_presets>},
    {"--help", 'h', nullptr, N_("print this help and exit"), set_field<&CliOptions::help>},
    {"--version", 'V', nullptr, N_("print the version and exit"), set_field<&CliOptions::version>},
};

const Flag* find_long(std::string_view name) {
  for (const Flag& f : kFlags)
    if (name == std::string_view(f.name)) return &f;
  return nullptr;
}

const Flag* find_short(char c) {
  for (const Flag& f : kFlags)
    if (f.short_name != 0 && f.short_name == c) return &f;
  return nullptr;
}

// A piece of text no line break may fall in: a word, or one ideograph or kana with the
// punctuation that must stay beside it.
struct Piece {
  std::string text;
  size_t columns = 0;
  bool blank_before = false;  // a line may also break there; the blank is then left out
  bool break_after = false;   // ends in an ideograph: a break may follow without a blank
  bool open_end = false;      // ends in an opening bracket: what follows stays with it
};

bool is_ideograph(char32_t c) {  // Chinese, kana, CJK punctuation: lines break between them
  return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60) || c >= 0x20000;
}

bool is_wide(char32_t c) {  // two columns in a terminal
  return is_ideograph(c) || (c >= 0x1100 && c <= 0x115F) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

// Punctuation a line never starts with, and brackets a line never ends with.
bool closes(char32_t c) {
  return std::u32string_view(U"、。，．：；！？）」』】》〉ー…,.;:!?)]}").find(c) !=
         std::u32string_view::npos;
}
bool opens(char32_t c) {
  return std::u32string_view(U"（「『【《〈").find(c) != std::u32string_view::npos;
}

// The next code point of UTF-8 `s` from `i` (a stray byte stands for itself); `i` moves past it.
char32_t next_code_point(const std::string& s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  const size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  if (n == 1 || i + n > s.size()) return b;
  char32_t c = b & (0x7Fu >> n);
  for (size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
  i += n;
  return c;
}

std::vector<Piece> pieces_of(const std::string& text) {
  std::vector<Piece> pieces;
  bool blank = false;
  for (size_t i = 0; i < text.size();) {
    const size_t from = i;
    const char32_t c = next_code_point(text, i);
    if (i == from) ++i;  // a stray byte
    if (c == ' ') {
      blank = true;
      continue;
    }
    const bool ideograph = is_ideograph(c);
    bool joins = !pieces.empty() && !blank;
    if (joins && !closes(c) && !pieces.back().open_end)
      joins = !ideograph && !pieces.back().break_after;  // between two words' letters
    if (!joins) pieces.push_back(Piece{{}, 0, blank, false, false});
    Piece& p = pieces.back();
    p.text.append(text, from, i - from);
    p.columns += is_wide(c) ? 2 : 1;
    p.open_end = opens(c);
    p.break_after = (ideograph && !p.open_end) || (closes(c) && p.break_after);
    blank = false;
  }
  return pieces;
}

// `text` broken into lines of at most `width` columns, every line after the first indented:
// at blanks, and between ideographs (Chinese and Japanese have no blanks between words).
std::string wrapped(const std::string& text, size_t indent, size_t width) {
  std::string out;
  size_t column = indent;
  for (const Piece& p : pieces_of(text)) {
    const size_t blank = p.blank_before && column > indent ? 1 : 0;
    if (column > indent && column + blank + p.columns > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (blank != 0) {
      out += ' ';
      ++column;
    }
    out += p.text;
    column += p.columns;
  }
  return out;
}

}  // namespace

size_t display_columns(const std::string& text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t from = i;
    const char32_t c = next_code_point(text, i);
    if (i == from) ++i;
    columns += is_wide(c) ? 2 : 1;
  }
  return columns;
}

ParsedArgs parse_arguments(const std::vector<std::string>& args) {
  ParsedArgs out;
  CliOptions& o = out.options;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      o.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    const bool is_long = arg.rfind("--", 0) == 0;
    const size_t eq = is_long ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, eq);
    const Flag* flag = is_long ? find_long(name) : (arg.size() == 2 ? find_short(arg[1]) : nullptr);
    if (flag == nullptr) {
      out.error = kestrum::strfmt(_("unknown option %s"), name.c_str());
      return out;
    }
    std::string value;
    const bool optional = flag->value != nullptr && flag->value[0] == '[';
    if (optional) {
      if (eq != std::string::npos) value = arg.substr(eq + 1);
    } else if (flag->value == nullptr) {
      if (eq != std::string::npos) {
        out.error = kestrum::strfmt(_("%s takes no value"), flag->name);
        return out;
      }
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      out.error = kestrum::strfmt(_("%s needs a value (%s)"), flag->name, flag->value);
      return out;
    }
    out.error = flag->apply(o, value);
    if (!out.error.empty()) return out;
  }
  if (o.in_place && o.output) out.error = _("--in-place and --output exclude each other");
  // "--undo RUN [DIR]": a first path of a run's form is the run.
  if (o.undo && o.undo_run.empty() && !o.paths.empty() && is_run_id(o.paths.front())) {
    o.undo_run = o.paths.front();
    o.paths.erase(o.paths.begin());
  }
  if (o.undo + o.list_runs + o.forget.has_value() > 1)
    out.error = _("--undo, --list-runs and --forget exclude each other");
  return out;
}

bool is_run_id(const std::string& text) {
  const auto digits = [&](size_t from, size_t n) {
    if (text.size() < from + n) return false;
    for (size_t i = from; i < from + n; ++i)
      if (text[i] < '0' || text[i] > '9') return false;
    return true;
  };
  if (!digits(0, 8) || text.size() < 15 || text[8] != '-' || !digits(9, 6)) return false;
  return text.size() == 15 || (text[15] == '-' && text.size() > 16 && digits(16, text.size() - 16));
}

std::string help_text() {
  // Translators: the command, its options and the upper-case names stay as they are; the lines
  // after "Usage:" are aligned under the first command.
  std::string text =
      _("Usage: ouzel-convert [OPTIONS] INPUT [OUTPUT]\n"
        "       ouzel-convert [OPTIONS] (--in-place | --output DIR | --check) PATH...\n"
        "       ouzel-convert --config FILE [OPTIONS] [INPUT [OUTPUT]]\n"
        "       ouzel-convert (--undo [RUN] [--force] | --list-runs | --forget RUN|all) [DIR]\n");
  text += "\n";
  // Translators: lines of at most 90 columns (a Chinese, Japanese or Korean character takes two).
  text +=
      _("Converts the character encoding of every matching file under INPUT and writes it at\n"
        "the same relative path under OUTPUT (OUTPUT may be INPUT: converted in place). No file\n"
        "is ever left half-written. With --dry-run or --check, OUTPUT may be left out: the tree\n"
        "is looked at as an in-place conversion would see it.\n");
  text += "\n";
  text +=
      _("Files and folders as PATHs (any file among them, more than two, or --in-place or\n"
        "--output given): each folder is searched, each file taken when the filter accepts it, a\n"
        "file named twice is converted once. Written in place with --in-place, under DIR with\n"
        "--output DIR; --check and --dry-run need neither.\n");
  text += "\n";
  text += _("Options:\n");
  for (const Flag& f : kFlags) {
    std::string names = f.short_name != 0 ? std::string("-") + f.short_name + ", " : "    ";
    names += f.name;
    if (f.value != nullptr) names += std::string(" ") + f.value;
    text += "  " + names;
    text += names.size() < 24 ? std::string(24 - names.size(), ' ') : "\n" + std::string(26, ' ');
    text += wrapped(_(f.help), 26, 90) + "\n";
  }
  text += "\n";
  // Translators: the codes and the column the texts start in stay.
  text +=
      _("Exit status:\n"
        "  0    every file was converted or needed nothing (--check: and none would change)\n"
        "  1    a file could not be read, converted or written (--check: or would change), or\n"
        "       the report could not be written\n"
        "  2    bad usage, an unknown encoding, an unreadable settings file or input directory\n"
        "  130  stopped by SIGINT or SIGTERM after the files in progress\n"
        "  With --undo: 0 every file is back, 1 a file is not (changed or deleted since, or it\n"
        "       could not be written), 2 no such run is kept\n");
  text += "\n";
  // Translators: only the heading and the comments after "#" are translated.
  text +=
      _("Examples:\n"
        "  ouzel-convert --from GBK --to UTF-8 --filter '*.cpp;*.h' src/ out/\n"
        "  ouzel-convert --from Big5 --to 'UTF-8 with BOM' docs/ docs/     # in place\n"
        "  ouzel-convert --check --from GBK --to UTF-8 src/    # CI: is every file UTF-8 now?\n"
        "  ouzel-convert --check --to UTF-8 a.cpp b.h    # a commit hook: the staged files\n"
        "  ouzel-convert --in-place --from GBK --to UTF-8 a.cpp include/\n"
        "  ouzel-convert --config ouzel.yml --dry-run --report plan.json\n"
        "  ouzel-convert --detect --candidates Chinese,Japanese --dry-run --report plan.csv old/\n"
        "  ouzel-convert --list-encodings | grep -i jis\n"
        "  ouzel-convert --undo docs/    # put back what the last run in place over docs/ changed\n"
        "  ouzel-convert --list-runs docs/\n");
  return text;
}

std::string version_text() { return std::string("ouzel-convert ") + OUZEL_VERSION; }
