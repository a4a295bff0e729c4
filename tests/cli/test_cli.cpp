// The command-line front end: options, encoding names, plans from options and settings files,
// the check rule and exit status, the console lines; the program against the window's job.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "cli/check_rule.h"
#include "cli/cli_args.h"
#include "cli/cli_observer.h"
#include "cli/cli_plan.h"
#include "cli/name_quote.h"
#include "cli/named_paths.h"
#include "cli/progress_line.h"
#include "tests/support/test_support.h"
#include "util/encoding_lookup.h"

using namespace testing_support;

namespace {

ParsedArgs parse(std::vector<std::string> args) { return parse_arguments(args); }

const EncodingList kEncodings = {"BIG5", "GBK",      "GB18030",        "UTF-8",
                                 "UTF8", "UTF-16LE", "UTF-8 with BOM", "SHIFT_JIS"};

// Why the command line makes no plan; empty when it makes one.
std::string plan_error(const CliOptions& o) {
  const platform::Result<JobPlan> plan = make_cli_plan(o, kEncodings);
  return plan ? std::string() : plan.error().context;
}

const std::string kGbk = "\xD6\xD0\xCE\xC4\xB1\xE0\xC2\xEB\n";

FileReport entry(Outcome outcome, bool unchanged) {
  FileReport r;
  r.path = "a.c";
  r.outcome = outcome;
  r.unchanged = unchanged;
  return r;
}

}  // namespace

// Long, short and "=" forms set the same options; paths are taken in order.
TEST(CliArgs, LongShortAndEqualsForms) {
  const ParsedArgs a = parse({"--from", "GBK", "-t", "UTF-8 with BOM", "--filter=*.c;*.h", "in",
                              "-j", "3", "--check", "-q", "--report=r.json", "out"});
  ASSERT_EQ(a.error, "");
  EXPECT_EQ(a.options.from, "GBK");
  EXPECT_EQ(a.options.to, "UTF-8 with BOM");
  EXPECT_EQ(a.options.filter, "*.c;*.h");
  EXPECT_EQ(a.options.threads, 3u);
  EXPECT_TRUE(a.options.check);
  EXPECT_TRUE(a.options.quiet);
  EXPECT_FALSE(a.options.dry_run);
  EXPECT_EQ(a.options.report, "r.json");
  EXPECT_EQ(a.options.paths, (std::vector<std::string>{"in", "out"}));
  EXPECT_EQ(parse({"--filter="}).options.filter, "");  // an empty value is a value
  // An optional value comes after '=' only; --undo takes a first path of a run's form too.
  EXPECT_EQ(parse({"--undo=20260101-101010-2", "d"}).options.undo_run, "20260101-101010-2");
  const ParsedArgs u = parse({"--undo", "20260101-101010", "--force", "d"});
  EXPECT_EQ(u.options.undo_run, "20260101-101010");
  EXPECT_EQ(u.options.paths, std::vector<std::string>{"d"});
  EXPECT_TRUE(u.options.force);
  for (const char* dir : {"20260101", "20260101-10101x", "20260101-101010-", "docs"})
    EXPECT_EQ(parse({"--undo", dir}).options.paths, std::vector<std::string>{dir}) << dir;
  EXPECT_EQ(parse({"--no-undo", "-i", "d"}).options.PlanOverrides::undo, false);
}

// Every error names what was wrong: an unknown option, a missing value, a value given to a
// switch, a thread count out of range, a third path.
TEST(CliArgs, ErrorsNameTheProblem) {
  EXPECT_EQ(parse({"--form", "GBK"}).error, "unknown option --form");
  EXPECT_EQ(parse({"-x"}).error, "unknown option -x");
  EXPECT_EQ(parse({"in", "--to"}).error, "--to needs a value (NAME)");
  EXPECT_EQ(parse({"--check=1"}).error, "--check takes no value");
  EXPECT_EQ(parse({"--threads", "-1"}).error,
            "--threads takes a number from 0 to 1024, not \"-1\"");
  EXPECT_NE(parse({"--threads=2x"}).error, "");
  EXPECT_NE(parse({"--threads", "1025"}).error, "");
  EXPECT_EQ(parse({"--threads", "0"}).options.threads, 0u);
  EXPECT_EQ(parse({"-i", "-o", "x", "a"}).error, "--in-place and --output exclude each other");
}

// "--" ends the options, so a path may start with '-'; a lone "-" is a path.
TEST(CliArgs, DoubleDashEndsOptions) {
  const ParsedArgs a = parse({"-n", "--", "-in", "--out"});
  ASSERT_EQ(a.error, "");
  EXPECT_TRUE(a.options.dry_run);
  EXPECT_EQ(a.options.paths, (std::vector<std::string>{"-in", "--out"}));
  EXPECT_EQ(parse({"-"}).options.paths, std::vector<std::string>{"-"});
}

// The help lists every option with its value name, the exit statuses and examples; the version
// line is the program's name and the project's version.
TEST(CliArgs, HelpAndVersion) {
  const std::string help = help_text();
  for (const char* flag :
       {"--from NAME", "--to NAME", "--filter TEXT", "--config FILE", "--threads N", "--dry-run",
        "--check", "--report FILE", "--quiet", "--verbose", "--list-encodings", "--help",
        "--version", "Exit status:", "130", "Examples:"})
    EXPECT_NE(help.find(flag), std::string::npos) << flag;
  for (size_t start = 0, end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 90u) << help.substr(start, end - start);
  EXPECT_EQ(version_text(), "ouzel-convert " OUZEL_PROJECT_VERSION);
}

// Names are matched as the window's lists match them: exact names first ("UTF8" is its own
// entry), then any case, '-', '_' and blanks ignored, and the common encodings' usual aliases;
// what matches nothing whole is offered the close names, "UTF-8 with BOM" included; nonsense
// gets a pointer to the full list.
TEST(EncodingLookup, NamesAsTheWindowMatchesThem) {
  const EncodingList names = {"BIG5",  "GB",   "GBK",      "CP936",          "ISO-8859-1",
                              "UTF-8", "UTF8", "UTF-16LE", "UTF-8 with BOM", "SHIFT_JIS"};
  const auto name_of = [&names](std::string_view typed) {
    const EncodingEntry* e = find_encoding(names, typed);
    return e == nullptr ? std::string("(none)") : e->name;
  };
  EXPECT_EQ(name_of("UTF-8 with BOM"), "UTF-8 with BOM");
  EXPECT_TRUE(find_encoding(names, "utf-8 with bom")->utf8_mark);
  EXPECT_EQ(name_of("UTF8"), "UTF8");
  EXPECT_EQ(name_of("gbk"), "GBK");
  EXPECT_EQ(name_of("utf8"), "UTF-8");
  EXPECT_EQ(name_of("utf_8"), "UTF-8");
  EXPECT_EQ(name_of("Shift-JIS"), "SHIFT_JIS");
  EXPECT_EQ(name_of("sjis"), "SHIFT_JIS");
  EXPECT_EQ(name_of("latin1"), "ISO-8859-1");
  EXPECT_EQ(name_of("big 5"), "BIG5");
  EXPECT_EQ(name_of("cp936"), "CP936");
  EXPECT_EQ(name_of("gbx"), "(none)");
  EXPECT_EQ(name_of("GB"), "GB");  // whole names only: no prefix match picks GBK
  EXPECT_EQ(name_of(""), "(none)");
  EXPECT_EQ(close_encoding_names(kEncodings, "gbk"), std::vector<std::string>{"GBK"});
  EXPECT_EQ(close_encoding_names(kEncodings, "utf_8"), (std::vector<std::string>{"UTF-8", "UTF8"}));
  EXPECT_EQ(close_encoding_names(kEncodings, "utf-8 with bom")[0], "UTF-8 with BOM");
  EXPECT_EQ(close_encoding_names(kEncodings, "Shift-JIS")[0], "SHIFT_JIS");
  EXPECT_EQ(close_encoding_names(kEncodings, "GB1803")[0], "GB18030");
  EXPECT_TRUE(close_encoding_names(kEncodings, "EBCDIC-FR").empty());
  EXPECT_EQ(unknown_encoding_text(kEncodings, "big-5"),
            "unknown encoding \"big-5\" (did you mean \"BIG5\"?)");
  EXPECT_EQ(unknown_encoding_text(kEncodings, "X"),
            "unknown encoding \"X\"; --list-encodings prints every name");
}

// Without a settings file: filter "*.*", GBK to UTF-8, a thread per core; OUTPUT is needed
// unless only looking (--dry-run, --check), which look at the input in place.
TEST(CliPlan, DefaultsAndPaths) {
  TempDir tmp;
  CliOptions o;
  o.paths = {tmp.path(), tmp / "out"};
  platform::Result<JobPlan> p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_EQ(p->filter, "*.*");
  EXPECT_EQ(p->source.name, "GBK");
  EXPECT_EQ(p->target.name, "UTF-8");
  EXPECT_EQ(p->options.threads, 0u);
  EXPECT_FALSE(p->options.dry_run);

  o.paths = {tmp.path()};
  EXPECT_EQ(plan_error(o), "no OUTPUT directory given (see --help)");
  o.check = true;
  p = make_cli_plan(o, kEncodings);
  EXPECT_EQ(p->output, tmp.path());
  EXPECT_TRUE(p->options.dry_run);

  o.paths = {tmp / "missing"};
  EXPECT_EQ(plan_error(o), "input directory " + (tmp / "missing") + " does not exist");
  write_file(tmp / "a.txt", "text");
  o.paths = {tmp / "a.txt"};
  o.check = false;
  EXPECT_EQ(plan_error(o),
            "files named: add --in-place to convert them where they are, or --output DIR");
  o.paths.clear();
  EXPECT_EQ(plan_error(o), "no INPUT directory given (see --help)");
}

// A settings file gives the paths, the selected filter and the encodings; options and paths
// given beside it win; it is read, never written.
TEST(CliPlan, SettingsFileUnderOptions) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "x");
  const std::string text = "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") +
                           "\nfilters: ['*.c', '*.txt;*.h']\nfilter-index: 1\nfrom: BIG5\n"
                           "to: UTF-8 with BOM\nextra: kept\n";
  write_file(tmp / "s.yml", text);
  CliOptions o;
  o.config = tmp / "s.yml";
  platform::Result<JobPlan> p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_EQ(p->input, tmp / "in");
  EXPECT_EQ(p->output, tmp / "out");
  EXPECT_EQ(p->filter, "*.txt;*.h");
  EXPECT_EQ(p->source.name, "BIG5");
  EXPECT_TRUE(p->target.utf8_mark);

  o.from = "SHIFT_JIS";
  o.filter = "*.md";
  o.paths = {tmp / "in", tmp / "elsewhere"};
  p = make_cli_plan(o, kEncodings);
  EXPECT_EQ(p->source.name, "SHIFT_JIS");
  EXPECT_EQ(p->target.name, "UTF-8 with BOM");
  EXPECT_EQ(p->filter, "*.md");
  EXPECT_EQ(p->output, tmp / "elsewhere");
  EXPECT_EQ(read_file(tmp / "s.yml"), text);
}

// Line endings from --eol over the settings file's eol; a value neither knows is refused.
TEST(CliPlan, LineEndings) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "x");
  write_file(tmp / "s.yml",
             "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") + "\neol: crlf\n");
  CliOptions o;
  o.config = tmp / "s.yml";
  EXPECT_EQ(make_cli_plan(o, kEncodings)->options.eol, EolMode::crlf);
  o.eol = "lf";
  EXPECT_EQ(make_cli_plan(o, kEncodings)->options.eol, EolMode::lf);
  o.eol = "unix";
  EXPECT_EQ(plan_error(o), "--eol takes keep, lf or crlf, not \"unix\"");
  o.eol.reset();
  write_file(tmp / "s.yml", "input: " + (tmp / "in") + "\neol: mac\n");
  EXPECT_NE(plan_error(o).find("eol takes keep, lf or crlf"), std::string::npos);
}

// Marks from --bom over the settings file's bom; removed when neither says; a value neither
// knows is refused.
TEST(CliPlan, Marks) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "x");
  write_file(tmp / "s.yml", "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") + "\n");
  CliOptions o;
  o.config = tmp / "s.yml";
  EXPECT_EQ(make_cli_plan(o, kEncodings)->options.bom, BomMode::remove);
  write_file(tmp / "s.yml",
             "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") + "\nbom: keep\n");
  EXPECT_EQ(make_cli_plan(o, kEncodings)->options.bom, BomMode::keep);
  o.bom = "add";
  EXPECT_EQ(make_cli_plan(o, kEncodings)->options.bom, BomMode::add);
  o.bom = "yes";
  EXPECT_EQ(plan_error(o), "--bom takes keep, add or remove, not \"yes\"");
  o.bom.reset();
  write_file(tmp / "s.yml", "input: " + (tmp / "in") + "\nbom: maybe\n");
  EXPECT_NE(plan_error(o).find("bom takes keep, add or remove"), std::string::npos);
}

// Detection: --detect, --candidates (all included) and --accept-unsure reach the plan, a
// settings file's detect, candidates, accept-unsure and threads are taken under the options,
// and a candidate that is neither a preset nor an encoding is refused.
TEST(CliPlan, DetectionAndCandidates) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "x");
  write_file(tmp / "s.yml", "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") +
                                "\ndetect: true\ncandidates: [Japanese]\nthreads: 3\n"
                                "accept-unsure: true\n");
  CliOptions o;
  o.config = tmp / "s.yml";
  platform::Result<JobPlan> p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_TRUE(p->options.detect);
  EXPECT_EQ(p->options.candidates, std::vector<std::string>{"Japanese"});
  EXPECT_EQ(p->options.threads, 3u);
  EXPECT_TRUE(p->options.durable);
  EXPECT_TRUE(p->options.accept_unsure);

  const ParsedArgs args =
      parse_arguments({"--candidates", "Chinese,BIG5", "--no-sync", tmp / "in", tmp / "out"});
  ASSERT_EQ(args.error, "");
  p = make_cli_plan(args.options, kEncodings);
  EXPECT_TRUE(p->options.detect);
  EXPECT_EQ(p->options.candidates, (std::vector<std::string>{"Chinese", "BIG5"}));
  EXPECT_FALSE(p->options.durable);
  EXPECT_FALSE(p->options.accept_unsure);  // the safe default

  const ParsedArgs every =
      parse_arguments({"--candidates", "all", "--accept-unsure", tmp / "in", tmp / "out"});
  ASSERT_EQ(every.error, "");
  p = make_cli_plan(every.options, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_EQ(p->options.candidates, std::vector<std::string>{"all"});
  EXPECT_TRUE(p->options.accept_unsure);

  CliOptions bad = args.options;
  bad.candidates = std::vector<std::string>{"Klingon"};
  EXPECT_EQ(plan_error(bad),
            "unknown candidate \"Klingon\": name a preset (Chinese, Japanese, ...) or an encoding");
}

// A settings file that is missing (and is not created), not a file, unparsable, or names an
// encoding the catalogue lacks is refused with its reason, instead of the loader's fallbacks.
TEST(CliPlan, BadSettingsFilesAreRefused) {
  TempDir tmp;
  CliOptions o;
  o.paths = {tmp.path(), tmp.path()};
  o.config = tmp / "missing.yml";
  EXPECT_EQ(plan_error(o), "cannot read settings file " + *o.config + ": " + errno_text(ENOENT));
  EXPECT_FALSE(file_exists(*o.config));
  o.config = tmp.path();
  EXPECT_EQ(plan_error(o), "cannot read settings file " + tmp.path() + ": not a regular file");
  write_file(tmp / "broken.yml", "input: [unclosed\n");
  o.config = tmp / "broken.yml";
  EXPECT_EQ(plan_error(o).rfind(
                "cannot read settings file " + *o.config + ": yaml-cpp: error at line", 0),
            0u);
  EXPECT_FALSE(file_exists(tmp / "broken.yml.bad"));
  write_file(tmp / "odd.yml", "from: GBX\n");
  o.config = tmp / "odd.yml";
  EXPECT_EQ(plan_error(o), "unknown encoding \"GBX\" (did you mean \"GBK\"?)");
  o.from = "GBK";  // an option beside it replaces the file's unknown name
  EXPECT_EQ(plan_error(o), "");
}

// --check fails on failures and on files whose bytes would change; a file needing nothing,
// a binary file and a second path to a checked file pass.
TEST(CheckRule, WhatFailsACheck) {
  EXPECT_FALSE(check_fails(entry(Outcome::already_utf8, true)));
  EXPECT_FALSE(check_fails(entry(Outcome::ascii, true)));
  EXPECT_FALSE(check_fails(entry(Outcome::binary, false)));
  EXPECT_FALSE(check_fails(entry(Outcome::same_file, false)));
  EXPECT_FALSE(check_fails(entry(Outcome::excluded, false)));
  EXPECT_TRUE(check_fails(entry(Outcome::converted, false)));
  EXPECT_TRUE(check_fails(entry(Outcome::already_utf8, false)));  // a mark to add or drop
  for (Outcome o : {Outcome::cannot_read, Outcome::cannot_convert, Outcome::not_supported,
                    Outcome::cannot_write, Outcome::marked, Outcome::outside, Outcome::undetected})
    EXPECT_TRUE(check_fails(entry(o, true))) << outcome_name(o);
}

// The exit status: 130 when stopped, 2 when the job never started, 1 on a failure (or a check
// failure with --check), else 0.
TEST(CheckRule, ExitStatus) {
  JobReport r;
  r.ran = true;
  r.files = {entry(Outcome::converted, false), entry(Outcome::binary, false)};
  EXPECT_EQ(run_status(r, false), kExitOk);
  EXPECT_EQ(run_status(r, true), kExitFailed);
  r.files[0].unchanged = true;
  EXPECT_EQ(run_status(r, true), kExitOk);
  r.search_failures.push_back(entry(Outcome::search_failed, false));
  EXPECT_EQ(run_status(r, false), kExitFailed);
  EXPECT_EQ(run_status(r, true), kExitFailed);
  r.stopped = true;
  EXPECT_EQ(run_status(r, false), kExitStopped);
  JobReport never;
  EXPECT_EQ(run_status(never, false), kExitUsage);
}

// The progress line: files first; speed and time left once a file is done; times as m:ss or
// h:mm:ss. Redraws are let through at most once per interval.
TEST(ProgressLine, TextAndThrottle) {
  JobProgress p;
  p.files_total = 40;
  EXPECT_EQ(progress_text(p), "0/40 files");
  p.files_done = 10;
  p.bytes_done = 5'000'000;
  p.micros = 2'000'000;
  EXPECT_EQ(progress_text(p), "10/40 files, 2.5 MB/s, 0:06 left");
  p.files_done = 40;
  EXPECT_EQ(progress_text(p), "40/40 files, 2.5 MB/s");
  EXPECT_EQ(clock_text(3723), "1:02:03");
  EXPECT_EQ(clock_text(-5), "0:00");

  using namespace std::chrono;
  RedrawThrottle throttle(milliseconds(100));
  const RedrawThrottle::Clock::time_point t0{};
  EXPECT_TRUE(throttle.due(t0));
  EXPECT_FALSE(throttle.due(t0 + milliseconds(99)));
  EXPECT_TRUE(throttle.due(t0 + milliseconds(100)));
  EXPECT_FALSE(throttle.due(t0 + milliseconds(150)));
}

// Which files get a line: verbose all; normal those not done; quiet only failures; --check
// adds those that would change. The line is path, outcome and detail.
TEST(ConsoleLines, ListedFilesAndWording) {
  ConsoleStyle style;
  EXPECT_FALSE(file_is_listed(entry(Outcome::converted, false), style));
  EXPECT_TRUE(file_is_listed(entry(Outcome::binary, false), style));
  EXPECT_TRUE(file_is_listed(entry(Outcome::cannot_read, false), style));
  EXPECT_FALSE(file_is_listed(entry(Outcome::not_reached, false), style));
  style.verbosity = Verbosity::quiet;
  EXPECT_FALSE(file_is_listed(entry(Outcome::binary, false), style));
  EXPECT_TRUE(file_is_listed(entry(Outcome::cannot_read, false), style));
  style.check = true;
  EXPECT_TRUE(file_is_listed(entry(Outcome::converted, false), style));
  style.verbosity = Verbosity::verbose;
  EXPECT_TRUE(file_is_listed(entry(Outcome::ascii, true), style));

  FileReport r = entry(Outcome::cannot_read, false);
  r.error = ENOENT;
  EXPECT_EQ(file_line(r, false), "a.c: cannot-read: error: " + errno_text(ENOENT));
  EXPECT_EQ(file_line(entry(Outcome::converted, false), true), "a.c: converted: would change");
  EXPECT_EQ(file_line(entry(Outcome::converted, false), false), "a.c: converted");

  // A detected encoding the detection was unsure of is named, though converted; a sure one or
  // one chosen by hand is not.
  FileReport unsure = entry(Outcome::converted, false);
  unsure.source = "GBK";
  unsure.confidence = 40;
  style = ConsoleStyle{};
  EXPECT_TRUE(file_is_listed(unsure, style));
  EXPECT_EQ(file_line(unsure, false),
            "a.c: converted: read as GBK, confidence 40: unsure, look at it");
  unsure.confidence = 60;
  EXPECT_FALSE(file_is_listed(unsure, style));
  EXPECT_EQ(file_line(unsure, false), "a.c: converted");
  unsure.confidence = -1;
  EXPECT_FALSE(file_is_listed(unsure, style));
  unsure.confidence = 12;
  style.verbosity = Verbosity::quiet;
  EXPECT_FALSE(file_is_listed(unsure, style));

  r.path = "dir/a\nb.c";
  r.error = 0;
  EXPECT_EQ(file_line(r, false), "'dir/a'$'\\n''b.c': cannot-read");
}

// Names on the terminal as `ls` quotes them: plain names as they are, UTF-8 text shown, blanks
// and quotes in shell quotes, control characters and bytes that are not UTF-8 as $'...'
// escapes; never a raw control byte, so one name is one line.
TEST(ConsoleLines, NamesQuotedAsLsQuotesThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"src/plain-name_1.c", "src/plain-name_1.c"},
      {"\xE4\xB8\xAD\xE6\x96\x87.txt", "\xE4\xB8\xAD\xE6\x96\x87.txt"},
      {"a b", "'a b'"},
      {"it's", "\"it's\""},
      {"it's $x", "'it'\\''s $x'"},
      {"a\nb", "'a'$'\\n''b'"},
      {"\xFF.txt", "$'\\377''.txt'"},
      {"c\xC2\x85"
       "d",
       "'c'$'\\302\\205''d'"},  // a C1 control, valid UTF-8
      {"e\x1B[31m", "'e'$'\\033''[31m'"},
      {"\xED\xA0\x80", "$'\\355\\240\\200'"},  // an encoded surrogate
      {"~home", "'~home'"},
      {"", "''"},
  };
  for (const auto& [name, want] : cases) EXPECT_EQ(quote_name(name), want) << name;
  EXPECT_EQ(visible_text("Cannot read a\nb\t\x1B: \xE4\xB8\xAD"),
            "Cannot read a\\nb\\t\\033: \xE4\xB8\xAD");
}

// The summary: counts of each outcome; failures or the check's verdict below them.
TEST(ConsoleLines, Summary) {
  JobReport r;
  r.ran = true;
  r.files = {entry(Outcome::converted, false), entry(Outcome::converted, false),
             entry(Outcome::cannot_read, false)};
  ConsoleStyle style;
  std::vector<std::string> lines = summary_text(r, style);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("3 files in "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(": converted 2, cannot-read 1"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "1 of 3 files were not converted");
  style.check = true;
  style.dry_run = true;
  lines = summary_text(r, style);
  EXPECT_EQ(lines[0].rfind("nothing written: ", 0), 0u);
  EXPECT_EQ(lines[1], "check failed: 3 of 3 entries would change or cannot be converted");
}

// On a terminal the progress line is drawn at the search's end, erased before every file line
// and redrawn after it, shown complete after the last file and cleared before the summary.
TEST(ConsoleLines, ProgressLineRedrawnInPlace) {
  TempDir tmp;
  std::FILE* out = std::fopen((tmp / "err").c_str(), "w+");
  ASSERT_NE(out, nullptr);
  ConsoleStyle style;
  style.terminal = true;
  CliObserver observer(out, style);
  JobReport report;
  report.ran = true;
  report.files = {entry(Outcome::converted, false), entry(Outcome::binary, false)};
  observer.search_done(2);
  JobProgress p;
  p.files_total = 2;
  p.files_done = 1;
  observer.file_done(0, report.files[0], {}, p);
  observer.file_settled(0, report.files[0]);
  p.files_done = 2;
  observer.file_done(1, report.files[1], {}, p);
  observer.file_settled(1, report.files[1]);
  observer.finish(report);
  std::fclose(out);
  const std::string text = read_file(tmp / "err");
  const std::string erase = "\r\x1b[K";
  EXPECT_EQ(text.rfind(erase + "0/2 files" + erase + "a.c: binary\n" + erase + "2/2 files", 0), 0u)
      << text;
  const size_t last = text.find(erase + "2/2 files");
  ASSERT_NE(last, std::string::npos) << text;
  EXPECT_EQ(text.find(erase + "2 files in ", last), text.find(erase, last + 1)) << text;
  EXPECT_EQ(text.back(), '\n');
}

// The program, given the window's settings file, writes the same tree, byte for byte, as the
// window's own job on those settings.
TEST(CliProcess, SameOutputAsWindowJob) {
  TempDir tmp;
  write_file(tmp / "in/a.cpp", kGbk);
  write_file(tmp / "in/b.txt", kGbk + kGbk);
  write_file(tmp / "in/skipped.h", kGbk);
  write_file(tmp / "in/\xE4\xB8\xAD/\xE6\x96\x87.txt", kGbk);
  write_file(tmp / "in/utf8.txt", "\xE4\xB8\xAD\n");
  write_file(tmp / "in/ascii.txt", "plain\n");
  write_file(tmp / "in/bin.txt", std::string("\x01\x00\xD6", 3));
  write_file(tmp / "in/bad.txt", "\x81\x20");
  const std::string settings = tmp / "ouzel.yml";
  write_file(settings, "input: " + (tmp / "in") + "\noutput: " + (tmp / "cli") +
                           "\nfilters: ['*.h', '*.txt;*.cpp']\nfilter-index: 1\nfrom: GBK\n"
                           "to: UTF-8 with BOM\n");
  std::string err;
  EXPECT_EQ(run_process({OUZEL_CONVERT_BIN, "--config", settings}, &err), 1) << err;
  EXPECT_NE(err.find("bad.txt: cannot-convert"), std::string::npos) << err;

  AppState app(AppState::no_config);
  app.load_config(settings);
  app.output = tmp / "window";
  app.jobs.prepare(*app.plan_from_settings());
  app.jobs.run();
  const auto window = read_tree(tmp / "window");
  EXPECT_EQ(window.size(), 7u);  // every file but skipped.h
  EXPECT_EQ(read_tree(tmp / "cli"), window);
  EXPECT_EQ(window.at("a.cpp"), "\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87\xE7\xBC\x96\xE7\xA0\x81\n");
}

// Named paths share the deepest folder that holds them all; the current folder when it holds
// them (so reports name them as typed), and folders are compared by whole names.
TEST(NamedPaths, BaseAndRoots) {
  EXPECT_EQ(parent_of("/a/b"), "/a");
  EXPECT_EQ(parent_of("/a"), "/");
  EXPECT_EQ(common_folder("/a/b/c", "/a/b/d"), "/a/b");
  EXPECT_EQ(common_folder("/a/bc", "/a/b"), "/a");
  EXPECT_EQ(common_folder("/x", "/y/z"), "/");
  TempDir tmp;
  write_file(tmp / "one/a.c", "x");
  write_file(tmp / "two/deep/b.c", "x");
  NamedPaths n = resolve_named_paths({tmp / "one/a.c", tmp / "two/deep/b.c", tmp / "one/./a.c"});
  ASSERT_EQ(n.error, "");
  EXPECT_EQ(n.base, tmp.path());
  EXPECT_EQ(n.roots, (std::vector<std::string>{"one/a.c", "two/deep/b.c"}));
  n = resolve_named_paths({tmp / "two/deep", tmp / "two/deep/b.c"});
  EXPECT_EQ(n.base, tmp / "two/deep");
  EXPECT_EQ(n.roots, (std::vector<std::string>{"", "b.c"}));
  EXPECT_EQ(resolve_named_paths({tmp / "one/a.c", tmp / "nope"}).error,
            tmp / "nope" + " does not exist");
}

// A plan of named paths: input is their base, output it (in place) or --output; the roots
// reach the job.
TEST(CliPlan, NamedPathsPlan) {
  TempDir tmp;
  write_file(tmp / "a.c", "x");
  write_file(tmp / "d/b.c", "x");
  CliOptions o;
  o.paths = {tmp / "a.c", tmp / "d"};
  o.in_place = true;
  platform::Result<JobPlan> p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_EQ(p->output, p->input);
  EXPECT_EQ(p->roots, (std::vector<std::string>{"a.c", "d"}));
  o.in_place = false;
  o.output = tmp / "out";
  p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_EQ(p->output, tmp / "out");
  o.output.reset();
  o.paths = {tmp.path(), tmp / "d"};  // two folders: INPUT and OUTPUT, as before
  p = make_cli_plan(o, kEncodings);
  ASSERT_TRUE(p) << p.error().context;
  EXPECT_TRUE(p->roots.empty());
  EXPECT_EQ(p->output, tmp / "d");
}
