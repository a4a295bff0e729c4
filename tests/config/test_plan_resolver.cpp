// The one resolver: the window and the command line make the same plan of the same settings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "cli/cli_plan.h"
#include "config/plan_resolver.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const EncodingList kEncodings = {"BIG5",     "GBK",        "GB18030",  "UTF-8",
                                 "UTF-16LE", kUtf8WithBom, "SHIFT_JIS"};

// One choice made in both front ends: the window's combos and boxes, the command line's flags.
struct Choice {
  const char* name;
  const char* from = nullptr;
  const char* to = nullptr;
  int32_t filter = -1;  // index into the settings' filters
  const char* eol = nullptr;
  bool detect = false;
};

void window_choose(AppState& app, const Choice& c) {
  if (c.from) app.from_index = app.index_of(c.from);
  if (c.to) app.to_index = app.index_of(c.to);
  if (c.filter >= 0) app.filter_index = c.filter;
  if (c.eol) parse_eol_mode(c.eol, app.eol);
  if (c.detect) app.detect = true;
}

void cli_choose(CliOptions& o, const ConvertConfig& loaded, const Choice& c) {
  if (c.from) o.from = c.from;
  if (c.to) o.to = c.to;
  if (c.filter >= 0) o.filter = loaded.filters[static_cast<size_t>(c.filter)];
  if (c.eol) o.eol = c.eol;
  if (c.detect) o.detect = true;
}

void expect_same(const JobPlan& a, const JobPlan& b) {
  EXPECT_EQ(a.input, b.input);
  EXPECT_EQ(a.output, b.output);
  EXPECT_EQ(a.filter, b.filter);
  EXPECT_EQ(a.source.name, b.source.name);
  EXPECT_EQ(a.target.name, b.target.name);
  EXPECT_EQ(a.target.utf8_mark, b.target.utf8_mark);
  EXPECT_EQ(a.options.threads, b.options.threads);
  EXPECT_EQ(a.options.detect, b.options.detect);
  EXPECT_EQ(a.options.candidates, b.options.candidates);
  EXPECT_EQ(a.options.eol, b.options.eol);
  EXPECT_EQ(a.options.bom, b.options.bom);
  EXPECT_EQ(a.options.rules, b.options.rules);
  EXPECT_EQ(a.options.repair, b.options.repair);
  EXPECT_EQ(a.options.editorconfig, b.options.editorconfig);
}

}  // namespace

// Settings files crossed with choices: both front ends resolve the same plan, and the choice
// shows in it (so the comparison is not between two plans that ignore it).
TEST(PlanResolver, WindowAndCommandLineAgree) {
  TempDir tmp;
  write_file(tmp / "in/a.txt", "x");
  const std::string dirs = "input: " + (tmp / "in") + "\noutput: " + (tmp / "out") + "\n";
  const std::vector<std::string> files = {
      dirs,
      dirs +
          "filters: ['*.c', '*.txt;*.h']\nfilter-index: 1\nfrom: BIG5\nto: UTF-8 with BOM\n"
          "eol: crlf\nbom: keep\ndetect: true\ncandidates: [Chinese]\nthreads: 3\n"
          "repair: true\neditorconfig: true\nrules:\n  - filter: '*.h'\n    to: UTF-16LE\n",
      dirs + "filters: ['*.c', '*.h']\nfilter-index: 7\nfrom: UTF-16LE\nto: GB18030\n",
      dirs + "filters: []\nfilter-index: 2\nbom: add\n",
      dirs + "from: big5\nto: utf_16le\n",  // names as typed on a command line
  };
  const std::vector<Choice> choices = {
      {"none"},
      {"encodings", "SHIFT_JIS", "UTF-16LE"},
      {"filter", nullptr, nullptr, 1},
      {"eol and detect", nullptr, nullptr, -1, "lf", true},
  };
  int resolved = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    write_file(tmp / "s.yml", files[f]);
    for (const Choice& c : choices) {
      SCOPED_TRACE("settings " + std::to_string(f) + ", choice " + c.name);
      AppState app(AppState::no_config);
      app.encodings = kEncodings;
      app.load_config(tmp / "s.yml");
      CliOptions o;
      o.config = tmp / "s.yml";
      cli_choose(o, app, c);
      window_choose(app, c);
      const platform::Result<JobPlan> window = app.plan_from_settings();
      const platform::Result<JobPlan> cli = make_cli_plan(o, kEncodings);
      ASSERT_TRUE(window) << window.error().context;
      ASSERT_TRUE(cli) << cli.error().context;
      expect_same(*window, *cli);
      // The choice is in the plan: the comparison is not of two plans that ignore it.
      EXPECT_EQ(window->source.name, c.from ? c.from : app.encodings[size_t(app.from_index)].name);
      EXPECT_EQ(window->options.eol, c.eol ? EolMode::lf : app.eol);
      EXPECT_EQ(window->filter, app.filters[static_cast<size_t>(app.filter_index)]);
      ++resolved;
    }
  }
  EXPECT_EQ(resolved, 20);
}

// Each fallback, the same for both: a filter index naming no filter is "*.*", an encoding
// index naming no entry is GBK or UTF-8, and without either in the catalogue there is no plan.
TEST(PlanResolver, FallbacksWhenIndexesNameNothing) {
  ConvertConfig s = no_settings();
  platform::Result<JobPlan> plan = resolve_plan(s, kEncodings);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->filter, "*.*");
  EXPECT_EQ(plan->source.name, "GBK");
  EXPECT_EQ(plan->target.name, "UTF-8");
  EXPECT_EQ(plan->output, "");  // no directory is made up

  s.filters = {"*.c", "*.h"};
  s.filter_index = 2;
  s.from_index = 0;
  s.to_index = 99;
  plan = resolve_plan(s, kEncodings);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->filter, "*.*");
  EXPECT_EQ(plan->source.name, "BIG5");
  EXPECT_EQ(plan->target.name, "UTF-8");
  s.filter_index = 1;
  EXPECT_EQ(resolve_plan(s, kEncodings)->filter, "*.h");

  s.to_index = -1;
  const platform::Result<JobPlan> none = resolve_plan(s, EncodingList{"BIG5"});
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().context.rfind("unknown encoding \"UTF-8\"", 0), 0u);
}

// Overrides win over every field they name; a name typed over the settings must be known.
TEST(PlanResolver, OverridesWinAndAreChecked) {
  ConvertConfig s = no_settings();
  s.detect = true;
  s.candidates = {"Chinese"};
  s.eol = EolMode::crlf;
  PlanOverrides o;
  o.from = "big5";  // as a user types it
  o.filter = "*.md";
  o.detect = false;
  o.eol = "keep";
  o.threads = 2;
  platform::Result<JobPlan> plan = resolve_plan(s, kEncodings, o);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->source.name, "BIG5");
  EXPECT_EQ(plan->filter, "*.md");
  EXPECT_FALSE(plan->options.detect);
  EXPECT_EQ(plan->options.eol, EolMode::keep);
  EXPECT_EQ(plan->options.threads, 2u);

  o.to = "utf-9";
  EXPECT_EQ(resolve_plan(s, kEncodings, o).error().context.rfind("unknown encoding \"utf-9\"", 0),
            0u);
  o.to.reset();
  o.detect = true;
  o.candidates = std::vector<std::string>{"Klingon"};
  EXPECT_EQ(resolve_plan(s, kEncodings, o).error().context,
            "unknown candidate \"Klingon\": name a preset (Chinese, Japanese, ...) or an encoding");
}

// Where the front ends differ: a name the settings file holds that loading replaced by its
// fallback is taken by the window (its combos show the fallback) and refused by a strict
// (command-line) resolve, unless an override names the field anyway.
TEST(PlanResolver, StrictRefusesWhatLoadingReplaced) {
  TempDir tmp;
  write_file(tmp / "s.yml", "from: NOPE\neol: mac\ncandidates: [Klingon]\ndetect: true\n");
  ConvertConfig s;
  ASSERT_TRUE(load_config(s, kEncodings, tmp / "s.yml").empty());
  platform::Result<JobPlan> loose = resolve_plan(s, kEncodings);
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->source.name, "GBK");
  EXPECT_EQ(loose->options.eol, EolMode::keep);

  PlanOverrides o;
  o.strict = true;
  EXPECT_EQ(resolve_plan(s, kEncodings, o).error().context,
            "settings file " + (tmp / "s.yml") + ": eol takes keep, lf or crlf, not \"mac\"");
  o.eol = "lf";
  EXPECT_EQ(resolve_plan(s, kEncodings, o).error().context.rfind("unknown candidate", 0), 0u);
  o.detect = false;
  EXPECT_EQ(resolve_plan(s, kEncodings, o).error().context.rfind("unknown encoding \"NOPE\"", 0),
            0u);
  o.from = "GBK";
  EXPECT_TRUE(resolve_plan(s, kEncodings, o));
}
