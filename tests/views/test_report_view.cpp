// The report view: row order, the outcome and text filters, the clipped table, and the tab a
// job's failures bring forward.
#include <imgui_internal.h>

#include <memory>
#include <string>

#include "tests/support/ui_test_app.h"
#include "ui/conversion_panel.h"
#include "views/report_view.h"

using testing_support::write_file;

namespace {

FileReport entry(std::string path, Outcome outcome, std::string note = {}) {
  FileReport r;
  r.path = std::move(path);
  r.outcome = outcome;
  r.source = "GBK";
  r.target = "UTF-8";
  r.note = std::move(note);
  return r;
}

std::shared_ptr<const JobReport> make_report(std::vector<FileReport> files,
                                             std::vector<FileReport> search_failures = {}) {
  auto report = std::make_shared<JobReport>();
  report->ran = true;
  report->files = std::move(files);
  report->search_failures = std::move(search_failures);
  return report;
}

std::vector<std::string> visible_paths(const ReportRows& rows) {
  std::vector<std::string> paths;
  for (uint32_t i : rows.visible()) paths.push_back(rows.row(i).path);
  return paths;
}

using Paths = std::vector<std::string>;

}  // namespace

// Failures come first (unlistable directories, then files in search order), then the rest in
// search order.
TEST(ReportRows, FailuresFirstThenSearchOrder) {
  ReportRows rows;
  rows.load(make_report({entry("a.cpp", Outcome::converted), entry("b.cpp", Outcome::cannot_read),
                         entry("c.bin", Outcome::binary), entry("d.cpp", Outcome::cannot_convert),
                         entry("e.cpp", Outcome::ascii)},
                        {entry("locked", Outcome::search_failed)}));
  EXPECT_EQ(visible_paths(rows), (Paths{"locked", "b.cpp", "d.cpp", "a.cpp", "c.bin", "e.cpp"}));
  rows.load(nullptr);
  EXPECT_EQ(rows.size(), 0u);
  EXPECT_TRUE(rows.choices().empty());
}

// The outcome filter offers everything, the failures and each outcome present, with counts.
TEST(ReportRows, OutcomeChoicesWithCounts) {
  ReportRows rows;
  rows.load(make_report({entry("a", Outcome::converted), entry("b", Outcome::converted),
                         entry("c", Outcome::cannot_write), entry("d", Outcome::binary)}));
  std::vector<std::string> labels;
  for (const OutcomeChoice& c : rows.choices()) labels.push_back(c.label);
  EXPECT_EQ(labels, (Paths{"All (4)", "Not converted (1)", "converted (2)", "binary (1)",
                           "cannot-write (1)"}));
  rows.apply(kFailedOutcomes, "");
  EXPECT_EQ(visible_paths(rows), (Paths{"c"}));
  rows.apply(static_cast<int>(Outcome::converted), "");
  EXPECT_EQ(visible_paths(rows), (Paths{"a", "b"}));

  rows.load(make_report({entry("a", Outcome::converted)}));
  ASSERT_EQ(rows.choices().size(), 2u);  // nothing failed: no "Not converted"
  EXPECT_EQ(rows.choices()[1].label, "converted (1)");
}

// The text filter matches path or detail, ignoring letter case in any script; both filters
// apply together.
TEST(ReportRows, TextFilterIgnoresCase) {
  ReportRows rows;
  FileReport stopped = entry("src/Main.CPP", Outcome::cannot_convert);
  stopped.stop = StopPoint{10, 2, 3};
  rows.load(make_report({stopped, entry("Документы/Отчёт.txt", Outcome::converted),
                         entry("docs/ΣΗΜΕΙΩΣΕΙΣ.md", Outcome::converted, "marked as UTF-16LE")}));
  rows.apply(kAllOutcomes, "main.cpp");
  EXPECT_EQ(visible_paths(rows), (Paths{"src/Main.CPP"}));
  rows.apply(kAllOutcomes, "LINE 2");  // "stops at byte 10 (line 2, column 3)"
  EXPECT_EQ(visible_paths(rows), (Paths{"src/Main.CPP"}));
  rows.apply(kAllOutcomes, "документы/ОТЧЁТ");
  EXPECT_EQ(visible_paths(rows), (Paths{"Документы/Отчёт.txt"}));
  rows.apply(kAllOutcomes, "σημειώσεις");  // accents differ: no match
  EXPECT_TRUE(rows.visible().empty());
  rows.apply(kAllOutcomes, "σημειωσεις");
  EXPECT_EQ(visible_paths(rows), (Paths{"docs/ΣΗΜΕΙΩΣΕΙΣ.md"}));
  rows.apply(kAllOutcomes, "utf-16");
  EXPECT_EQ(visible_paths(rows), (Paths{"docs/ΣΗΜΕΙΩΣΕΙΣ.md"}));
  rows.apply(kFailedOutcomes, "utf-16");
  EXPECT_TRUE(rows.visible().empty());
  rows.apply(kAllOutcomes, "");
  EXPECT_EQ(rows.visible().size(), 3u);
}

// A path that is not UTF-8 is shown with U+FFFD for its stray bytes and can still be found;
// the evidence columns appear only when some source was detected.
TEST(ReportRows, DisplayTextsAndEvidence) {
  ReportRows rows;
  rows.load(make_report({entry("bad\xFFname.txt", Outcome::converted)}));
  EXPECT_EQ(rows.row(0).path, "bad\xEF\xBF\xBDname.txt");
  EXPECT_FALSE(rows.has_evidence());  // every entry says "chosen"
  rows.apply(kAllOutcomes, "NAME.TXT");
  EXPECT_EQ(rows.visible().size(), 1u);
  EXPECT_EQ(fold_case("A\xFF"
                      "B"),
            "a\xFF"
            "b");

  FileReport detected = entry("d.txt", Outcome::converted);
  detected.evidence = "utf8";
  detected.confidence = 97;
  rows.load(make_report({entry("a.txt", Outcome::converted), detected}));
  EXPECT_TRUE(rows.has_evidence());
  EXPECT_EQ(rows.row(1).confidence, "97");
  EXPECT_EQ(rows.row(0).confidence, "");
}

namespace {

class ReportViewTest : public ImGuiFixture {
 protected:
  Body body() {
    return [this] {
      ImGui::SetNextWindowPos(ImVec2(0, 0));
      ImGui::SetNextWindowSize(ImVec2(800, 500));
      ImGui::Begin("report test");
      view_.draw();
      ImGui::End();
    };
  }
  void draw(int count = 1) { frames(count, body()); }
  ReportView view_;
};

}  // namespace

// A report that is new and ran to its end with failures is brought forward; one already seen,
// one without failures, and one the user stopped are not. A choice the new report lacks falls
// back to every outcome.
TEST_F(ReportViewTest, NewReportsAndWhenToBringThemForward) {
  auto failed = make_report({entry("a", Outcome::cannot_read), entry("b", Outcome::converted)});
  EXPECT_TRUE(view_.update(failed));
  EXPECT_FALSE(view_.update(failed));
  EXPECT_FALSE(view_.update(make_report({entry("a", Outcome::converted)})));
  auto stopped = std::make_shared<JobReport>(*failed);
  stopped->stopped = true;
  EXPECT_FALSE(view_.update(stopped));
  EXPECT_FALSE(view_.update(nullptr));
  EXPECT_EQ(view_.rows().size(), 0u);

  auto checks_failed = std::make_shared<JobReport>();  // "Input directory can't be empty!"
  view_.update(checks_failed);
  draw();
  EXPECT_FALSE(seen("report.table"));

  view_.update(failed);
  draw(2);
  EXPECT_TRUE(seen("report.table"));
  click_item("report.outcome", body());
  draw();
  click_item("report.outcome:cannot-read (1)", body());
  EXPECT_EQ(visible_paths(view_.rows()), (Paths{"a"}));
  view_.update(make_report({entry("c", Outcome::converted)}));
  EXPECT_EQ(visible_paths(view_.rows()), (Paths{"c"}));
}

// 50,000 entries: each frame submits only the rows in sight, and scrolling reaches the last.
TEST_F(ReportViewTest, FiftyThousandRowsThroughTheClipper) {
  std::vector<FileReport> files;
  for (int i = 0; i < 50000; ++i)
    files.push_back(entry("dir/file" + std::to_string(i) + ".cpp", Outcome::converted));
  view_.update(make_report(std::move(files)));
  draw(2);
  EXPECT_GT(view_.rows_drawn(), 10);
  EXPECT_LT(view_.rows_drawn(), 40);
  EXPECT_TRUE(seen("report.row:dir/file0.cpp"));
  EXPECT_EQ(count_seen("report.row:"), view_.rows_drawn());

  ImGuiWindow* table = nullptr;
  for (ImGuiWindow* w : GImGui->Windows)
    if (std::string(w->Name).find("##report") != std::string::npos) table = w;
  ASSERT_NE(table, nullptr);
  ImGui::SetScrollY(table, 1e9f);
  draw(2);
  EXPECT_LT(view_.rows_drawn(), 40);
  EXPECT_TRUE(seen("report.row:dir/file49999.cpp"));
  EXPECT_FALSE(seen("report.row:dir/file25000.cpp"));
}

// Typing in the text field narrows the rows at once.
TEST_F(ReportViewTest, TypedTextFilters) {
  view_.update(make_report(
      {entry("src/a.cpp", Outcome::converted), entry("include/b.h", Outcome::converted)}));
  draw(2);
  click_item("report.text", body());
  type_text("INCLUDE", body());
  draw();
  EXPECT_TRUE(seen("report.row:include/b.h"));
  EXPECT_FALSE(seen("report.row:src/a.cpp"));
}

using ReportTabTest = MainWindowTest;

// A job that leaves a file not converted selects the "Report" tab; the report outlives
// "Clear Log" and the log's 100-line limit.
TEST_F(ReportTabTest, FailuresBringTheReportForwardAndItStays) {
  write_file(dir_ / "in/good.txt", testing_support::encode_as("中文", "GBK"));
  write_file(dir_ / "in/sub/bad.txt", "ab\xFF\xFF\xFF");
  app_.input = dir_ / "in";
  app_.output = dir_ / "out";
  app_.filter_index = 1;  // "*.*"
  app_.jobs.prepare(*app_.plan_from_settings());
  app_.jobs.run();
  ASSERT_EQ(log_count("1 of 2 files were not converted, see the report"), 1);
  draw(2);
  EXPECT_TRUE(seen("report.table"));
  EXPECT_FALSE(seen("log"));
  EXPECT_LT(rect("report.row:sub/bad.txt").min.y, rect("report.row:good.txt").min.y);

  click("tab.log");
  draw();
  EXPECT_TRUE(seen("log"));
  for (int i = 0; i < 150; ++i) app_.log.append("filler %d", i);
  click("clear_log");
  draw();  // the same report is not brought forward again
  EXPECT_TRUE(seen("log"));
  click("tab.report");
  draw();
  EXPECT_TRUE(seen("report.row:sub/bad.txt"));
  EXPECT_TRUE(seen("report.row:good.txt"));
}
