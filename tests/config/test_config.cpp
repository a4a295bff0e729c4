// The settings file on real files: defaults, per-key fallbacks, key order, safe saves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "config/config.h"
#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr size_t kStampLen = 25;

const std::string kDefaultText =
    "version: 3.0\n"
    "input: \"\"\n"
    "output: /tmp/ouzel-out\n"
    "filters:\n"
    "  - \"*.cpp;*.h;*.c;*.hpp;*.lua\"\n"
    "  - \"*.xml;*.json;*.yml\"\n"
    "  - \"*.*\"\n"
    "filter-index: 0\n"
    "from: GBK\n"
    "to: UTF-8";

const std::vector<std::string> kDefaultFilters = {"*.cpp;*.h;*.c;*.hpp;*.lua", "*.xml;*.json;*.yml",
                                                  "*.*"};

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : cwd(tmp.path()) { reset_app(); }

  void reset_app() {
    app = std::make_unique<AppState>(AppState::no_config);
    app->encodings = {"BIG5", "GBK", "UTF-8", "UTF-8 with BOM", "UTF8", "UTF-16LE"};
  }

  // Writes "ouzel.yml" and loads it into a fresh state.
  AppState& load(const std::string& text) {
    write_file(tmp / "ouzel.yml", text);
    reset_app();
    app->load_config("ouzel.yml");
    return *app;
  }

  std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (const auto& l : app->log.lines) out.push_back(l.substr(kStampLen));
    return out;
  }

  // Top-level keys of a saved file, in order.
  static std::vector<std::string> keys_of(const std::string& file) {
    std::vector<std::string> keys;
    for (const auto& kv : YAML::LoadFile(file)) keys.push_back(kv.first.Scalar());
    return keys;
  }

  void expect_defaults(const AppState& a) {
    EXPECT_EQ(a.input, "");
    EXPECT_EQ(a.output, kDefaultOutputDir);
    EXPECT_EQ(a.filters, kDefaultFilters);
    EXPECT_EQ(a.filter_index, 0);
    EXPECT_EQ(a.from_index, a.index_of("GBK"));
    EXPECT_EQ(a.to_index, a.index_of("UTF-8"));
  }

  TempDir tmp;
  ScopedCwd cwd;
  std::unique_ptr<AppState> app;
};

const std::vector<std::string> kSixKeys = {"input",        "output", "filters",
                                           "filter-index", "from",   "to"};

// Runs `check` with permission bits in force (as an unprivileged user when we are root).
bool with_permissions_enforced(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A missing file is created with the ten-line default text, LF ends, and nothing is logged.
TEST_F(ConfigTest, MissingFileCreatesDefault) {
  app->load_config("ouzel.yml");
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), kDefaultText);
  EXPECT_TRUE(messages().empty());
  expect_defaults(*app);
  app->save_config();  // the loaded default document writes back as the same text
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), kDefaultText);
}

// A directory named "ouzel.yml" or an unwritable directory: defaults, silently.
TEST_F(ConfigTest, UnwritablePlacesUseDefaultsSilently) {
  ASSERT_EQ(::mkdir("ouzel.yml", 0755), 0);
  app->load_config("ouzel.yml");
  expect_defaults(*app);
  EXPECT_TRUE(messages().empty());
  EXPECT_TRUE(platform::is_directory(tmp / "ouzel.yml"));

  const std::string ro = tmp / "ro";
  ASSERT_EQ(::mkdir(ro.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
  EXPECT_TRUE(with_permissions_enforced([&] {
    AppState a(AppState::no_config);
    a.load_config(ro + "/ouzel.yml");
    return a.log.lines.empty() && a.output == kDefaultOutputDir && a.filters.size() == 3 &&
           !file_exists(ro + "/ouzel.yml");
  }));
}

// Empty and comment-only files read as all fallbacks, without a message.
TEST_F(ConfigTest, ShapelessFilesTakeFallbacks) {
  for (const char* text : {"", "# only a comment\n\n"}) {
    SCOPED_TRACE(text);
    expect_defaults(load(text));
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  }
  app->save_config();
  EXPECT_EQ(keys_of(tmp / "ouzel.yml"), kSixKeys);
}

// A lone scalar or a list on top is a failed load: one line, fallbacks, a mapping to save into.
TEST_F(ConfigTest, LoneScalarIsLoggedAndReplacedByMapping) {
  for (const char* text : {"hello\n", "42", "- a\n- b\n"}) {
    load(text);
    EXPECT_EQ(messages(),
              std::vector<std::string>{
                  "load config ouzel.yml failed, error: the top level is not a mapping"});
    expect_defaults(*app);
    EXPECT_TRUE(app->document.IsMap());
  }
  app->save_config();
  EXPECT_EQ(keys_of(tmp / "ouzel.yml"), kSixKeys);
}

// A file over 1 MiB is refused unread, however well formed: one line, fallbacks.
TEST_F(ConfigTest, OversizedFileIsRefusedUnread) {
  std::string text = "input: /src\nfilters:\n";
  while (text.size() <= (1u << 20)) text += "  - \"*.cpp;*.h\"\n";
  load(text);
  EXPECT_EQ(messages(), std::vector<std::string>{"load config ouzel.yml failed, error: larger "
                                                 "than 1 MiB, too big for a settings file"});
  expect_defaults(*app);
  load(text.substr(0, text.rfind('\n', 1u << 19) + 1));  // half of it is taken
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(app->input, "/src");
}

// A syntax error: one line naming the file, fallbacks, file untouched until a save of six keys.
TEST_F(ConfigTest, SyntaxErrorLogsAndSaveWritesSixKeys) {
  const std::string text = "version: 1\ninput: [unclosed\n";
  load(text);
  const auto m = messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].rfind("load config ouzel.yml failed, error: yaml-cpp: error at line", 0), 0u)
      << m[0];
  expect_defaults(*app);
  EXPECT_FALSE(static_cast<const YAML::Node&>(app->document)["version"].IsDefined());
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  app->save_config();
  EXPECT_EQ(keys_of(tmp / "ouzel.yml"), kSixKeys);
}

// A quoted value without its closing quote fails the load, naming where it opens, instead of
// swallowing every later key; closed quotes of every form still load.
TEST_F(ConfigTest, UnclosedQuoteIsASyntaxError) {
  load("version: 3.0\ninput: \"/src\nfilters: [a]\n");
  EXPECT_EQ(messages(), std::vector<std::string>{"load config ouzel.yml failed, error: yaml-cpp: "
                                                 "error at line 2, column 8: a quoted value has "
                                                 "no closing quote"});
  expect_defaults(*app);
  load(
      "\xEF\xBB\xBFinput: '\xE4\xB8\xAD it''s'\n'output': &o \"a\\\"b\"\nfilters: [\"x\", *o]\n"
      "to: |\n  '\"\n");
  // The block's text names no encoding, and is said so; nothing else is.
  EXPECT_EQ(messages(), std::vector<std::string>{"load config ouzel.yml: to names no encoding of "
                                                 "the To list: \"'\"\n\"; UTF8 is used"});
  EXPECT_EQ(app->input, "\xE4\xB8\xAD it's");
  EXPECT_EQ(app->output, "a\"b");
  load("to: 'UTF-8\n");
  EXPECT_EQ(messages().size(), 1u);
  // Aliases that repeat a collection 4^10 times (the fuzzer's slow input, in short): each
  // collection is looked at once, so a missing quote after them is still found.
  std::string repeated = "l0: &l0 [x, x, x, x]\n";
  for (int i = 1; i <= 10; ++i) {
    const std::string prev = "*l" + std::to_string(i - 1);
    repeated += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [" + prev + ", " + prev +
                ", " + prev + ", " + prev + "]\n";
  }
  load(repeated + "last: \"unclosed\n");
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_NE(messages()[0].find("line 12, column 7: a quoted value has no closing quote"),
            std::string::npos)
      << messages()[0];
}

// Loading returns what kept a file from being read, with its errno when reading failed; it
// writes no log line of its own.
TEST_F(ConfigTest, LoadReturnsItsProblem) {
  const EncodingList names = {"GBK", "UTF-8"};
  std::string too_big = "input: /src\n#";
  too_big.append(size_t{1} << 20, 'x');
  const struct {
    std::string text;
    int error;
  } cases[] = {{"input: [unclosed\n", 0}, {too_big, EFBIG}, {"input: /src\n", -1}};
  for (const auto& c : cases) {
    write_file(tmp / "s.yml", c.text);
    ConvertConfig cfg;
    const ConfigProblem problem = load_config(cfg, names, "s.yml");
    EXPECT_EQ(problem.empty(), c.error < 0) << problem.why;
    if (c.error >= 0) {
      EXPECT_EQ(problem.error, c.error) << problem.why;
    }
    EXPECT_EQ(cfg.unreadable.empty(), c.error < 0);
    if (c.error < 0) {
      EXPECT_EQ(cfg.input, "/src");
    }
  }
}

// A settings file that exists but fails to stat (an I/O error) is not taken for a missing
// one: the defaults are not written over it, and the first save keeps it aside.
TEST_F(ConfigTest, FailedStatIsAProblemNotAMissingFile) {
  const std::string text = "input: /src\nfilter-index: 1\n";
  write_file(tmp / "s.yml", text);
  ConvertConfig cfg;
  ConfigProblem problem;
  {
    platform::ScopedSysIo restore;
    platform::sysio().stat = [](const char*, struct stat*) {
      errno = EIO;
      return -1;
    };
    problem = load_config(cfg, {"GBK", "UTF-8"}, "s.yml");
  }
  EXPECT_EQ(problem.error, EIO) << problem.why;
  EXPECT_EQ(read_file(tmp / "s.yml"), text);
  EXPECT_FALSE(cfg.unreadable.empty());
  // A missing file still gets the defaults, written.
  EXPECT_TRUE(load_config(cfg, {"GBK", "UTF-8"}, "new.yml").empty());
  EXPECT_EQ(read_file(tmp / "new.yml"), kDefaultText);
}

// The first save over a file that could not be read moves it to "ouzel.yml.bad", byte for byte,
// and says so once; later saves move nothing more.
TEST_F(ConfigTest, UnreadableFileIsKeptAsBadOnFirstSave) {
  const std::string missing_quote = "input: \"/src\nfilters: [a]\n";
  std::string too_big = "input: /src\nfilters:\n";
  while (too_big.size() <= (1u << 20)) too_big += "  - \"*.cpp;*.h\"\n";
  for (const std::string& text :
       {missing_quote, std::string("hello\n"), std::string("- a\n- b\n"), too_big}) {
    SCOPED_TRACE(text.substr(0, 20));
    ::unlink("ouzel.yml.bad");
    load(text);
    app->input = "/new";
    app->save_config();
    app->save_config();
    EXPECT_EQ(read_file(tmp / "ouzel.yml.bad"), text);
    EXPECT_FALSE(file_exists(tmp / "ouzel.yml.bad.1"));
    EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["input"].Scalar(), "/new");
    const auto m = messages();
    EXPECT_EQ(std::count(m.begin(), m.end(),
                         "the settings file ouzel.yml could not be read; its text is kept as "
                         "ouzel.yml.bad"),
              1);
  }
}

// Earlier copies are never replaced: the copy takes the next free number.
TEST_F(ConfigTest, UnreadableFileTakesNextFreeBadName) {
  write_file(tmp / "ouzel.yml.bad", "first");
  write_file(tmp / "ouzel.yml.bad.1", "second");
  const std::string text = "to: 'UTF-8\n";
  load(text);
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml.bad"), "first");
  EXPECT_EQ(read_file(tmp / "ouzel.yml.bad.1"), "second");
  EXPECT_EQ(read_file(tmp / "ouzel.yml.bad.2"), text);
}

// A save to another file leaves the unreadable original in place; a later save back to it,
// by any spelling of its path, still keeps it first.
TEST_F(ConfigTest, SaveAsElsewhereLeavesUnreadableOriginal) {
  const std::string text = "input: [unclosed\n";
  load(text);
  app->path = "other.yml";
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  EXPECT_FALSE(file_exists(tmp / "ouzel.yml.bad"));
  app->path = tmp / "sub/../ouzel.yml";
  ASSERT_EQ(::mkdir("sub", 0755), 0);
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml.bad"), text);
  EXPECT_EQ(keys_of(tmp / "ouzel.yml"), kSixKeys);
}

// When the unreadable file cannot be kept, the save writes nothing over it.
TEST_F(ConfigTest, UnkeptUnreadableFileIsNotReplaced) {
  write_file(tmp / "ouzel.yml.bad", "x");
  for (int n = 1; n < 1000; ++n) write_file(tmp / ("ouzel.yml.bad." + std::to_string(n)), "x");
  const std::string text = "input: [unclosed\n";
  load(text);
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  EXPECT_EQ(messages().back(), "the unreadable settings file ouzel.yml is left as it was");
  EXPECT_TRUE(app->log.lines.size() >= 2);
}

int renameat2_unsupported(int, const char*, int, const char*, unsigned) {
  errno = EINVAL;
  return -1;
}
int link_eperm(const char*, const char*) {
  errno = EPERM;
  return -1;
}
int link_eio(const char*, const char*) {
  errno = EIO;
  return -1;
}

// Without an exclusive rename the unreadable file is kept through a hard link, else by a
// rename to a name checked free; a failure of either keeps it where it was, and says so.
TEST_F(ConfigTest, UnreadableFileKeptWithoutExclusiveRename) {
  const std::string text = "input: [unclosed\n";
  using Inject = void (*)(platform::SysIo&);
  const std::pair<Inject, bool> ways[] = {
      {[](platform::SysIo& io) { io.renameat2 = renameat2_unsupported; }, true},
      {[](platform::SysIo& io) {
         io.renameat2 = renameat2_unsupported;
         io.link = link_eperm;
       },
       true},
      {[](platform::SysIo& io) {
         io.renameat2 = renameat2_unsupported;
         io.link = link_eio;
       },
       false},
  };
  for (const auto& [inject, kept] : ways) {
    ::unlink("ouzel.yml.bad");
    load(text);
    platform::ScopedSysIo restore;
    inject(platform::sysio());
    app->input = "/new";
    app->save_config();
    if (kept) {
      EXPECT_EQ(read_file(tmp / "ouzel.yml.bad"), text);
      EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["input"].Scalar(), "/new");
    } else {
      EXPECT_FALSE(file_exists(tmp / "ouzel.yml.bad"));
      EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
      EXPECT_EQ(messages().back(), "the unreadable settings file ouzel.yml is left as it was");
    }
  }
}

// A save that fails after the unreadable file was moved aside puts it back under its name; the
// next save that succeeds keeps it again.
TEST_F(ConfigTest, FailedSaveRestoresUnreadableFile) {
  const std::string text = "input: [unclosed\n";
  load(text);
  {
    platform::ScopedSysIo restore;
    platform::sysio().write = [](int, const void*, size_t) -> ssize_t {
      errno = ENOSPC;
      return -1;
    };
    app->save_config();
  }
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  EXPECT_FALSE(file_exists(tmp / "ouzel.yml.bad"));
  EXPECT_EQ(messages().back(), "save config failed, error: " + errno_text(ENOSPC));
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml.bad"), text);
  EXPECT_EQ(keys_of(tmp / "ouzel.yml"), kSixKeys);
}

// Text values: scalar text, "null" for a null, the fallback when missing or a collection.
TEST_F(ConfigTest, TextFallbacks) {
  load("input:\noutput: [a]\n");
  EXPECT_EQ(app->input, "null");
  EXPECT_EQ(app->output, kDefaultOutputDir);
  load("output: D:\\x # comment\n");
  EXPECT_EQ(app->input, "");
  EXPECT_EQ(app->output, "D:\\x");
}

// Line ends, marks and the window's scale the file spells wrongly are said, and the run keeps
// their defaults.
TEST_F(ConfigTest, UnknownEolBomAndScaleAreSaid) {
  load("eol: unix\nbom: maybe\nscale: 9\n");
  EXPECT_EQ(app->eol, EolMode::keep);
  EXPECT_EQ(app->bom, kDefaultBom);
  EXPECT_EQ(app->scale, 0.0);
  EXPECT_EQ(
      messages(),
      (std::vector<std::string>{
          "load config ouzel.yml: eol takes keep, lf or crlf, not \"unix\"; keep is used",
          "load config ouzel.yml: scale takes a number from 0.5 to 5 (0: the desktop's), not "
          "\"9\"; the desktop's is used",
          std::string("load config ouzel.yml: bom takes keep, add or remove, not \"maybe\"; ") +
              bom_mode_name(kDefaultBom) + " is used"}));
  load("eol: crlf\nbom: add\nscale: 1.5\n");
  EXPECT_EQ(app->eol, EolMode::crlf);
  EXPECT_EQ(app->bom, BomMode::add);
  EXPECT_EQ(app->scale, 1.5);
  EXPECT_TRUE(messages().empty());
  // The window never writes the scale: the file keeps it as the user wrote it.
  app->save_config();
  EXPECT_NE(read_file(tmp / "ouzel.yml").find("scale: 1.5\n"), std::string::npos);
}

// Filters: only non-empty texts count; no usable entry gives the three defaults.
TEST_F(ConfigTest, FilterListRules) {
  for (const char* text :
       {"filters: []\n", "filters: ['', \"\"]\n", "filters: {a: b}\n", "filters: '*.c'\n"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(load(text).filters, kDefaultFilters);
  }
  load("filters: ['*.txt', '', [x], ~]\nfilter-index: 1\n");
  EXPECT_EQ(app->filters, (std::vector<std::string>{"*.txt", "null"}));
  EXPECT_EQ(app->filter_index, 1);
  load("filters: ['*.txt', '']\nfilter-index: 1\n");
  EXPECT_EQ(app->filters, std::vector<std::string>{"*.txt"});
  EXPECT_EQ(app->filter_index, 0);
}

// filter-index: whole 32-bit integers with base prefixes, in range, else 0.
TEST_F(ConfigTest, FilterIndexConversion) {
  const std::string ten = "filters: [a, b, c, d, e, f, g, h, i, j]\n";
  const std::pair<const char*, int> cases[] = {
      {"-1", 0}, {"abc", 0}, {"1.5", 0},        {"0x1", 1}, {"010", 8},
      {"9", 9},  {"10", 0},  {"4294967297", 0}, {"", 0},    {"[1]", 0}};
  for (const auto& [value, want] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(load(ten + "filter-index: " + value + "\n").filter_index, want);
  }
  EXPECT_EQ(load(ten).filter_index, 0);
}

// Encodings match as the command line matches them; unknown names fall back to "GBK" / "UTF8",
// else no selection.
TEST_F(ConfigTest, EncodingNameFallbacks) {
  load("from: big5\nto: utf-8\n");  // read as the command line reads them
  EXPECT_EQ(app->from_index, app->index_of("BIG5"));
  EXPECT_EQ(app->to_index, app->index_of("UTF-8"));
  EXPECT_TRUE(messages().empty());
  load("from: NOPE\nto: utf-9\n");
  EXPECT_EQ(app->from_index, app->index_of("GBK"));
  EXPECT_EQ(app->to_index, app->index_of("UTF8"));
  // Said, so that no run takes the fallback unseen.
  EXPECT_EQ(messages(), (std::vector<std::string>{
                            "load config ouzel.yml: from names no encoding of the From list: "
                            "\"NOPE\"; GBK is used",
                            "load config ouzel.yml: to names no encoding of the To list: "
                            "\"utf-9\"; UTF8 is used"}));
  load("from: BIG5\nto: UTF-8 with BOM\n");
  EXPECT_EQ(app->from_index, 0);
  EXPECT_EQ(app->to_index, app->index_of("UTF-8 with BOM"));
  app->save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["to"].Scalar(), "UTF-8 with BOM");

  write_file(tmp / "ouzel.yml", "to: utf-9\n");
  AppState bare(AppState::no_config);
  bare.encodings = {"UTF-8", "UTF-8 with BOM"};
  bare.load_config("ouzel.yml");
  EXPECT_EQ(bare.to_index, 2);
  EXPECT_EQ(bare.from_index, 2);
  ASSERT_EQ(bare.log.lines.size(), 2u);
  EXPECT_NE(bare.log.lines[1].find("to names no encoding of the To list: \"utf-9\"; none is used"),
            std::string::npos);
  bare.save_config();  // no selection writes the fallback name of a missing key only
  const auto saved = YAML::LoadFile(tmp / "ouzel.yml");
  EXPECT_EQ(saved["from"].Scalar(), "GBK");
  EXPECT_EQ(saved["to"].Scalar(), "utf-9");
}

// Anything but one name in from or to is said and falls back, and a save leaves it as written
// until another encoding is chosen; only a missing key takes the default unsaid.
TEST_F(ConfigTest, UnreadEncodingIsSaidAndKeptAsWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"from: [BIG5]\n", "from holds a list or a mapping, not one encoding name; GBK is used"},
      {"from: {a: b}\n", "from holds a list or a mapping, not one encoding name; GBK is used"},
      {"from: ''\n", "from is empty; GBK is used"},
      {"from:\n", "from is empty; GBK is used"},
      {"from: BIG5\nfrom: UTF-8\n", "from is given more than once; GBK is used"},
      {"to: [BIG5]\n", "to holds a list or a mapping, not one encoding name; UTF8 is used"},
      {"to: BIG5\nx: 1\nto: BIG5\n", "to is given more than once; UTF8 is used"},
  };
  for (const auto& [text, said] : cases) {
    SCOPED_TRACE(text);
    load(text);
    EXPECT_EQ(messages(), std::vector<std::string>{std::string("load config ouzel.yml: ") + said});
    app->save_config();
    const std::string saved = read_file(tmp / "ouzel.yml");
    EXPECT_NE(saved.find(text[0] == 'f' ? "from" : "to"), std::string::npos);
    const YAML::Node doc = YAML::Load(saved);
    std::string as_written;
    for (const auto& kv : YAML::Load(text))
      if (kv.first.Scalar() == (text[0] == 'f' ? "from" : "to"))
        as_written += YAML::Dump(kv.second);
    std::string kept;
    for (const auto& kv : doc)
      if (kv.first.Scalar() == (text[0] == 'f' ? "from" : "to")) kept += YAML::Dump(kv.second);
    EXPECT_EQ(kept, as_written);
    // Chosen anew, every copy gives way to the choice.
    load(text);
    (text[0] == 'f' ? app->from_index : app->to_index) = app->index_of("UTF-16LE");
    app->save_config();
    reset_app();
    app->load_config("ouzel.yml");
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(text[0] == 'f' ? app->from_index : app->to_index, app->index_of("UTF-16LE"));
  }
  // Missing: the default, unsaid.
  load("input: /x\n");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(app->from_index, app->index_of("GBK"));
  EXPECT_EQ(app->to_index, app->index_of("UTF-8"));
}

// Unknown keys keep place and value; missing keys follow in loading order.
TEST_F(ConfigTest, SaveKeepsKeyOrderAndUnknownKeys) {
  load("# gone after save\nto: BIG5\nextra: {a: [1, 2]}\nversion: 2.9\ninput: /x\n");
  app->save_config();
  const std::string file = tmp / "ouzel.yml";
  EXPECT_EQ(keys_of(file), (std::vector<std::string>{"to", "extra", "version", "input", "output",
                                                     "filters", "filter-index", "from"}));
  const auto saved = YAML::LoadFile(file);
  EXPECT_EQ(saved["extra"]["a"][1].Scalar(), "2");
  EXPECT_EQ(saved["version"].Scalar(), "2.9");
  EXPECT_EQ(saved["filters"].size(), 3u);
  EXPECT_EQ(read_file(file).find('#'), std::string::npos);
  EXPECT_EQ(read_file(file).find('\r'), std::string::npos);
}

// Options beyond the window's fields (threads, detect, candidates, repair) are absent from a new
// file and stay absent while they hold their defaults; once set they are written, and a
// file that has them keeps them even at their defaults.
TEST_F(ConfigTest, OptionalKeysOnlyWhenSet) {
  app->load_config("ouzel.yml");
  EXPECT_EQ(app->threads, 0);
  EXPECT_FALSE(app->detect);
  EXPECT_TRUE(app->candidates.empty());
  EXPECT_FALSE(app->repair);
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), kDefaultText);

  app->threads = 3;
  app->repair = true;
  app->detect = true;
  app->candidates = {"Chinese", "BIG5"};
  app->undo = false;
  app->undo_runs = 4;
  app->undo_megabytes = 50;
  app->save_config();
  AppState& again = load(read_file(tmp / "ouzel.yml"));
  EXPECT_EQ(again.threads, 3);
  EXPECT_TRUE(again.detect);
  EXPECT_EQ(again.candidates, (std::vector<std::string>{"Chinese", "BIG5"}));
  EXPECT_TRUE(again.repair);
  const JobOptions options = again.plan_from_settings()->options;
  EXPECT_FALSE(options.undo);
  EXPECT_EQ(options.undo_limits.runs, 4u);
  EXPECT_EQ(options.undo_limits.bytes, 50000000u);

  again.detect = false;
  again.repair = false;
  again.threads = 0;
  again.save_config();
  const auto saved = YAML::LoadFile(tmp / "ouzel.yml");
  EXPECT_EQ(saved["detect"].Scalar(), "false");
  EXPECT_EQ(saved["threads"].Scalar(), "0");
  EXPECT_EQ(saved["repair"].Scalar(), "false");
}

// Line endings: absent from a new file and from files that never set them (which save byte
// for byte as before); once set they are written and read back; a value this version does not
// know reads as keep and is written back as it was.
TEST_F(ConfigTest, LineEndingsKey) {
  const std::string old = kDefaultText + "\nthreads: 2\ndetect: true";
  AppState& a = load(old);
  EXPECT_EQ(a.eol, EolMode::keep);
  a.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), old);
  a.eol = EolMode::crlf;
  a.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["eol"].Scalar(), "crlf");
  EXPECT_EQ(load(read_file(tmp / "ouzel.yml")).eol, EolMode::crlf);
  EXPECT_EQ(load("eol: LF\n").eol, EolMode::lf);
  AppState& odd = load("eol: native\n");
  EXPECT_EQ(odd.eol, EolMode::keep);
  odd.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["eol"].Scalar(), "native");
}

// Marks: absent from a new file and from files that never set them (saved byte for byte), the
// default dropping the source's mark as before; once set written and read back; a value this
// version does not know reads as the default and is written back as it was.
TEST_F(ConfigTest, MarksKey) {
  EXPECT_EQ(make_default_config("").find("bom"), std::string::npos);
  const std::string old = kDefaultText + "\neol: crlf";
  AppState& a = load(old);
  EXPECT_EQ(a.bom, BomMode::remove);
  a.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), old);
  a.bom = BomMode::keep;
  a.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["bom"].Scalar(), "keep");
  EXPECT_EQ(load(read_file(tmp / "ouzel.yml")).bom, BomMode::keep);
  EXPECT_EQ(load("bom: ADD\n").bom, BomMode::add);
  AppState& odd = load("bom: sometimes\n");
  EXPECT_EQ(odd.bom, BomMode::remove);
  odd.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["bom"].Scalar(), "sometimes");
}

// Following .editorconfig: absent from a new file and from files that never set it (saved byte
// for byte); once ticked written and read back, and kept (false) once the file has it.
TEST_F(ConfigTest, EditorconfigKey) {
  EXPECT_EQ(make_default_config("").find("editorconfig"), std::string::npos);
  const std::string old = kDefaultText + "\nrepair: true";
  AppState& a = load(old);
  EXPECT_FALSE(a.editorconfig);
  a.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), old);
  a.editorconfig = true;
  a.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["editorconfig"].Scalar(), "true");
  AppState& b = load(read_file(tmp / "ouzel.yml"));
  EXPECT_TRUE(b.editorconfig);
  EXPECT_TRUE(b.plan_from_settings()->options.editorconfig);
  b.editorconfig = false;
  b.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["editorconfig"].Scalar(), "false");
  EXPECT_FALSE(load("editorconfig: [yes]\n").editorconfig);
}

// Values that make no sense fall back to the defaults.
TEST_F(ConfigTest, OptionalKeyFallbacks) {
  AppState& a = load("threads: -4\ndetect: maybe\ncandidates: GBK\nrepair: [yes]\n");
  EXPECT_EQ(a.threads, 0);
  EXPECT_FALSE(a.detect);
  EXPECT_FALSE(a.repair);
  EXPECT_TRUE(a.candidates.empty());
  EXPECT_EQ(load("threads: 100000\n").threads, 0);
  AppState& u = load("undo: maybe\nundo-runs: 0\nundo-megabytes: -3\n");
  EXPECT_TRUE(u.undo);
  EXPECT_EQ(u.undo_runs, 10);
  EXPECT_EQ(u.undo_megabytes, 1024);
  EXPECT_EQ(load("threads: 2\ncandidates: [GBK, [x], '']\n").candidates,
            std::vector<std::string>{"GBK"});
}

// A file's own filter list is written back as it was, skipped entries included.
TEST_F(ConfigTest, SaveKeepsFilesFilterList) {
  load("filters: ['*.a', '', [x]]\n");
  app->save_config();
  const auto f = YAML::LoadFile(tmp / "ouzel.yml")["filters"];
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[1].Scalar(), "");
  EXPECT_TRUE(f[2].IsSequence());
}

// Setting a key whose value is an alias must not change the anchored value elsewhere.
TEST_F(ConfigTest, SaveDoesNotWriteThroughAliases) {
  load("base: &dir /src\ninput: *dir\n");
  EXPECT_EQ(app->input, "/src");
  app->input = "/other";
  app->save_config();
  const auto saved = YAML::LoadFile(tmp / "ouzel.yml");
  EXPECT_EQ(saved["base"].Scalar(), "/src");
  EXPECT_EQ(saved["input"].Scalar(), "/other");
}

// Save Config As writes the new path and logs it; "ouzel.yml" stays as it was.
TEST_F(ConfigTest, SaveAsWritesOtherFile) {
  load("input: /a\n");
  app->input = "/b";
  app->path = tmp / "sub/../other.yml";
  ASSERT_EQ(::mkdir("sub", 0755), 0);
  app->save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), "input: /a\n");
  EXPECT_EQ(YAML::LoadFile(tmp / "other.yml")["input"].Scalar(), "/b");
  EXPECT_EQ(messages().back(), "save config to file " + *fsutil::full_path(app->path) + " success");
}

// An unopenable target is logged with its errno and leaves file and document unchanged.
TEST_F(ConfigTest, UnwritableTargetIsLoggedAndUntouched) {
  const std::string text = "input: /a\n";
  load(text);
  ASSERT_EQ(::chmod("ouzel.yml", 0444), 0);
  app->input = "/b";
  app->save_config();
  EXPECT_EQ(messages().back(), "save config failed, error: " + errno_text(EACCES));
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  EXPECT_EQ(static_cast<const YAML::Node&>(app->document)["input"].Scalar(), "/a");

  app->path = "missing/dir.yml";
  app->save_config();
  EXPECT_EQ(messages().back(), "save config failed, error: " + errno_text(ENOENT));
}

// A write that fails after the open (disk full) is a failure, and nothing half-written stays.
TEST_F(ConfigTest, FailedWriteIsReportedAsFailure) {
  const std::string text = "input: /a\n";
  load(text);
  ASSERT_EQ(::chmod("ouzel.yml", 0640), 0);
  platform::ScopedSysIo restore;
  platform::sysio().write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  app->save_config();
  app->path = "new.yml";
  app->save_config();
  EXPECT_EQ(messages(),
            std::vector<std::string>(2, "save config failed, error: " + errno_text(ENOSPC)));
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  EXPECT_FALSE(file_exists(tmp / "new.yml"));

  platform::sysio() = platform::real_sysio();
  app->path = "ouzel.yml";
  app->save_config();  // the replacement keeps the permission bits
  struct stat st;
  ASSERT_EQ(::stat("ouzel.yml", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Bytes the emitter would rewrite inside quotes (legacy code pages) come back unchanged.
TEST_F(ConfigTest, QuotedNonUtf8BytesSurviveSave) {
  AppState& a = load("version: \"\xC4\xE3: \xFF\"\n");
  a.input = "\xC4\xE3\xBA\xC3 #1: *x";
  a.output = " \xEF\xBF\xBF\xEE\x82\x80 ";  // a noncharacter and a private-use code point
  a.save_config();
  AppState& b = load(read_file(tmp / "ouzel.yml"));
  EXPECT_EQ(b.input, "\xC4\xE3\xBA\xC3 #1: *x");
  EXPECT_EQ(b.output, " \xEF\xBF\xBF\xEE\x82\x80 ");
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["version"].Scalar(), "\xC4\xE3: \xFF");
}

std::string random_text(std::mt19937& rng, bool allow_empty) {
  static const char* const pieces[] = {"/tmp/a b",
                                       " ",
                                       "'",
                                       "\"",
                                       ":",
                                       ": ",
                                       "#",
                                       " #",
                                       "*",
                                       "*.cpp",
                                       "yes",
                                       "~",
                                       "null",
                                       "\xE4\xB8\xAD\xE6\x96\x87",
                                       "\xC4\xE3\xBA\xC3",
                                       "\xFF",
                                       "\x80",
                                       "\\",
                                       "\t",
                                       "-",
                                       "? ",
                                       "&a",
                                       "!x",
                                       "%",
                                       "@",
                                       "[",
                                       "]",
                                       "{",
                                       "}",
                                       ",",
                                       "0x1",
                                       "010",
                                       "\xEF\xBB\xBF",
                                       "|",
                                       ">"};
  std::string s;
  const int n = static_cast<int>(rng() % 5) + (allow_empty ? 0 : 1);
  for (int i = 0; i < n; ++i) s += pieces[rng() % std::size(pieces)];
  return s;
}

// The full construction loads "ouzel.yml" from the working directory.
TEST_F(ConfigTest, ConstructionLoadsWorkingDirectoryFile) {
  write_file(tmp / "ouzel.yml", "filters: [ab, cde]\n");
  AppState a;
  EXPECT_EQ(a.path, "ouzel.yml");
  EXPECT_EQ(a.filters, (std::vector<std::string>{"ab", "cde"}));
  EXPECT_TRUE(a.worker_idle.load());
}

// A FIFO or device under the name is never opened for reading: it would block the start.
TEST_F(ConfigTest, NonRegularFileIsNotRead) {
  ASSERT_EQ(::mkfifo("ouzel.yml", 0644), 0);
  app->load_config("ouzel.yml");
  EXPECT_EQ(messages(),
            std::vector<std::string>{"load config ouzel.yml failed, error: not a regular file"});
  expect_defaults(*app);
}

// Mostly well-formed settings files with odd shapes, some broken ones.
std::string random_yaml(std::mt19937& rng) {
  static const char* const keys[] = {"input", "output",  "filters", "filter-index", "from",
                                     "to",    "version", "x",       "'input'",      "? [k]\n"};
  static const char* const values[] = {"",
                                       "~",
                                       "a b",
                                       "'\xC4\xE3: x'",
                                       "\"\\t\xFF\"",
                                       "0x1",
                                       "-1",
                                       "010",
                                       "1.5",
                                       "2",
                                       "[]",
                                       "['', \"*.c\", [x], ~]",
                                       "{a: [1, 2]}",
                                       "&a /src",
                                       "*a",
                                       "!!int 1",
                                       "!x y",
                                       "\n  - '*.h'\n  - ''\n  - {b: c}",
                                       "UTF-8 with BOM",
                                       "GBK",
                                       "|\n  two\n  lines",
                                       "[",
                                       "yes # c"};
  std::string s = rng() % 8 == 0 ? "- a\n" : "";
  for (int i = 0, n = static_cast<int>(rng() % 9); i < n; ++i) {
    const std::string key = keys[rng() % std::size(keys)];
    s += key + ": " + values[rng() % std::size(values)] + "\n";
  }
  return s;
}

// Any file loads without an exception into settings that hold their invariants, and saving
// them writes a file that loads back to the same settings.
TEST_F(ConfigTest, AnyFileLoadsAndSavesConsistently) {
  std::mt19937 rng(4);
  for (int round = 0; round < 400; ++round) {
    const std::string text = random_yaml(rng);
    SCOPED_TRACE("file: " + text);
    AppState& a = load(text);
    const auto names = static_cast<int32_t>(a.encodings.size());
    ASSERT_TRUE(a.document.IsMap());
    ASSERT_FALSE(a.filters.empty());
    for (const auto& f : a.filters) ASSERT_FALSE(f.empty());
    ASSERT_TRUE(a.filter_index >= 0 && a.filter_index < static_cast<int32_t>(a.filters.size()));
    ASSERT_TRUE(a.from_index >= 0 && a.from_index <= names);
    ASSERT_TRUE(a.to_index >= 0 && a.to_index <= names);
    a.save_config();
    ASSERT_NE(a.log.lines.back().find("success"), std::string::npos) << a.log.lines.back();
    const std::string input = a.input, output = a.output;
    const auto filters = a.filters;
    const int32_t indexes[] = {a.filter_index, a.from_index, a.to_index};
    // An encoding it could not read is kept as written, and said again.
    const std::string unread[] = {a.from_unread.why, a.to_unread.why};
    AppState& b = load(read_file(tmp / "ouzel.yml"));
    EXPECT_EQ(b.from_unread.why, unread[0]);
    EXPECT_EQ(b.to_unread.why, unread[1]);
    EXPECT_EQ(b.log.lines.size(), (unread[0].empty() ? 0u : 1u) + (unread[1].empty() ? 0u : 1u));
    EXPECT_EQ(b.input, input);
    EXPECT_EQ(b.output, output);
    EXPECT_EQ(b.filters, filters);
    EXPECT_EQ(b.filter_index, indexes[0]);
    EXPECT_EQ(b.from_index, indexes[1]);
    EXPECT_EQ(b.to_index, indexes[2]);
  }
}

// A document whose text would not read back the same is not written at all.
TEST_F(ConfigTest, UnfaithfulTextIsNotWritten) {
  const std::string text = "input: /a\n";
  load(text);
  YAML::Node odd("v");
  odd.SetTag("a b");  // emitted as a verbatim tag the parser rejects
  app->document.force_insert("x", odd);
  app->save_config();
  ASSERT_FALSE(messages().empty());
  EXPECT_EQ(messages().front(), "save config failed, error: " + errno_text(EILSEQ));
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
}

// Save then load gives back every field, for random settings.
TEST_F(ConfigTest, SaveLoadRoundTripProperty) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    reset_app();
    AppState& a = *app;
    a.path = "ouzel.yml";
    a.input = random_text(rng, true);
    a.output = random_text(rng, true);
    a.filters.clear();
    for (int i = 0, n = 1 + static_cast<int>(rng() % 4); i < n; ++i)
      a.filters.push_back(random_text(rng, false));
    a.filter_index = static_cast<int32_t>(rng() % a.filters.size());
    a.from_index = static_cast<int32_t>(rng() % a.encodings.size());
    a.to_index = static_cast<int32_t>(rng() % a.encodings.size());
    a.save_config();
    ASSERT_EQ(a.log.lines.size(), 1u);
    ASSERT_NE(a.log.lines.back().find("success"), std::string::npos) << a.log.lines.back();

    AppState b(AppState::no_config);
    b.encodings = a.encodings;
    b.load_config("ouzel.yml");
    EXPECT_TRUE(b.log.lines.empty());
    EXPECT_EQ(b.input, a.input);
    EXPECT_EQ(b.output, a.output);
    EXPECT_EQ(b.filters, a.filters);
    EXPECT_EQ(b.filter_index, a.filter_index);
    EXPECT_EQ(b.from_index, a.from_index);
    EXPECT_EQ(b.to_index, a.to_index);
  }
}

}  // namespace

// Rules: absent from a file without them (saved byte for byte, and never added while empty);
// read in order with what each sets; a file's own rules, unchanged, are written back as written.
TEST_F(ConfigTest, RulesKeyReadAndSaved) {
  AppState& plain = load(kDefaultText);
  EXPECT_TRUE(plain.rules.empty());
  plain.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), kDefaultText);
  const std::string text = kDefaultText +
                           "\nrules:\n  - {filter: \"*.cpp;*.h\", to: UTF-8 with BOM, eol: CRLF}\n"
                           "  - filter: \"*.sh\"\n    bom: remove";
  AppState& a = load(text);
  EXPECT_TRUE(messages().empty());
  ASSERT_EQ(a.rules.size(), 2u);
  EXPECT_EQ(a.rules[0].filter, "*.cpp;*.h");
  EXPECT_EQ(a.rules[0].to.name, "UTF-8 with BOM");
  EXPECT_EQ(a.rules[0].eol, EolMode::crlf);
  EXPECT_FALSE(a.rules[0].bom);
  EXPECT_TRUE(a.rules[1].to.empty());
  EXPECT_FALSE(a.rules[1].eol);
  EXPECT_EQ(a.rules[1].bom, BomMode::remove);
  a.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  // Edited, they are written in their new order and read back the same.
  std::swap(a.rules[0], a.rules[1]);
  a.rules[1].eol = EolMode::lf;
  a.save_config();
  const std::vector<FileRule> saved = a.rules;
  EXPECT_EQ(load(read_file(tmp / "ouzel.yml")).rules, saved);
  // Added to a file that had none, after its own keys.
  AppState& b = load(kDefaultText);
  b.rules = {saved[0]};
  b.save_config();
  EXPECT_EQ(keys_of(tmp / "ouzel.yml").back(), "rules");
}

// A bad rule is left out whole with a message naming it; the rest still apply in order, and
// the file keeps the bad entry, also after the rules are edited in the window.
TEST_F(ConfigTest, BadRulesAreNamedAndKept) {
  const std::string text = kDefaultText +
                           "\nrules:\n  - filter: \"*.sh\"\n    eol: unix\n"
                           "  - {to: UTF-8}\n  - \"*.c\"\n  - {filter: \"*.h\", to: KLINGON}\n"
                           "  - {filter: \"*.x\", tos: UTF-8}\n  - {filter: \"*.md\", bom: add}";
  AppState& a = load(text);
  ASSERT_EQ(a.rules.size(), 1u);
  EXPECT_EQ(a.rules[0].filter, "*.md");
  const std::vector<std::string> want = {
      "load config ouzel.yml: rule 1 (*.sh) eol takes keep, lf or crlf, not \"unix\"; it is left "
      "out",
      "load config ouzel.yml: rule 2 has no filter; it is left out",
      "load config ouzel.yml: rule 3 is not a map of filter, to, eol and bom; it is left out",
      "load config ouzel.yml: rule 4 (*.h) to names no encoding of the To list: \"KLINGON\"; it "
      "is left out",
      "load config ouzel.yml: rule 5 (*.x) has an unknown key \"tos\" (filter, to, eol, bom); it "
      "is left out"};
  EXPECT_EQ(messages(), want);
  a.save_config();
  EXPECT_EQ(read_file(tmp / "ouzel.yml"), text);
  a.rules.push_back(a.rules[0]);
  a.rules[1].filter = "*.txt";
  a.save_config();
  const YAML::Node list = YAML::LoadFile(tmp / "ouzel.yml")["rules"];
  ASSERT_EQ(list.size(), 7u);
  EXPECT_EQ(list[1]["filter"].Scalar(), "*.txt");
  EXPECT_EQ(list[2]["eol"].Scalar(), "unix");
  EXPECT_EQ(list[4].Scalar(), "*.c");
  // Not a list at all: said, no rule used, written back as it was.
  AppState& odd = load("rules: '*.c'\n");
  EXPECT_TRUE(odd.rules.empty());
  EXPECT_EQ(messages(), std::vector<std::string>{"load config ouzel.yml: rules is not a list of "
                                                 "rules; none is used"});
  odd.save_config();
  EXPECT_EQ(YAML::LoadFile(tmp / "ouzel.yml")["rules"].Scalar(), "*.c");
}
