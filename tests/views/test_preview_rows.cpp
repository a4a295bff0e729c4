// The preview table's rows: which need a look, sorting, filters; and the table itself with
// 50,000 rows (only the rows in sight submitted, sorted only when asked, nothing allocated per
// frame).
#include <imgui_internal.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "tests/support/imgui_fixture.h"
#include "views/preview_rows.h"
#include "views/preview_view.h"
#include "widgets/ui_probe.h"

namespace {

// Every operator new of the test program is counted, so a frame's allocations can be told.
std::atomic<size_t> allocations{0};

}  // namespace

// Important: every plain form is replaced together, so that whatever the library allocates
// (stable_sort's nothrow buffer, arrays) is freed by the matching replacement.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size) {
  if (void* p = operator new(size, std::nothrow)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
// GCC takes the replacement's free() for a mismatch with the operator new it replaces.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using Paths = std::vector<std::string>;

FileReport row(std::string path, Outcome outcome, std::string source, std::string evidence,
               int confidence, uint64_t bytes = 10, std::string sample = {}) {
  FileReport r;
  r.path = std::move(path);
  r.outcome = outcome;
  r.source = std::move(source);
  r.target = "UTF-8";
  r.evidence = std::move(evidence);
  r.confidence = confidence;
  r.bytes = bytes;
  r.sample = std::move(sample);
  return r;
}

Preview make_preview(std::vector<FileReport> rows) {
  Preview p;
  for (const FileReport& r : rows) {
    PlannedFile f;
    f.file_name = r.path;
    f.evidence = r.evidence;
    f.confidence = r.confidence;
    p.files.push_back(std::move(f));
  }
  p.rows = std::move(rows);
  return p;
}

Paths visible_paths(const PreviewRows& rows) {
  Paths out;
  for (uint32_t i : rows.visible()) out.push_back(rows.path(i));
  return out;
}

// A small tree's preview: sure, unsure, undetected, failed and plain files.
Preview mixed_preview() {
  return make_preview({
      row("src/a.cpp", Outcome::converted, "GBK", "file statistics", 92, 300, "// 初始化"),
      row("src/b.cpp", Outcome::converted, "GB18030", "tree statistics", 41, 20, "// 释放"),
      row("lib/c.cpp", Outcome::undetected, "GBK", "undetected", -1, 5000),
      row("lib/d.cpp", Outcome::cannot_convert, "BIG5", "file statistics", 88, 7),
      row("e.h", Outcome::ascii, "GBK", "ascii", 100, 1),
      row("Docs/日本語.txt", Outcome::already_utf8, "UTF-8", "utf8", 100, 64, "テスト"),
  });
}

}  // namespace

// A file needs a look when nothing read it, when detection was unsure (below 60), or when it
// would not be converted; not when left out, nor when sure or chosen by hand.
TEST(PreviewRows, WhichRowsNeedALook) {
  const Preview p = mixed_preview();
  Paths flagged;
  for (size_t i = 0; i < p.rows.size(); ++i)
    if (needs_look(p.rows[i], p.files[i])) flagged.push_back(p.rows[i].path);
  EXPECT_EQ(flagged, (Paths{"src/b.cpp", "lib/c.cpp", "lib/d.cpp"}));
  PlannedFile left_out = p.files[2];
  left_out.excluded = true;
  EXPECT_FALSE(needs_look(p.rows[2], left_out));
  EXPECT_EQ(shown_outcome(p.rows[2], left_out), Outcome::excluded);
  EXPECT_EQ(shown_encoding(p.rows[2], p.files[2]), "");  // undetected: no encoding to show
  EXPECT_EQ(shown_encoding(p.rows[0], p.files[0]), "GBK");
  EXPECT_EQ(shown_encoding(p.rows[4], p.files[4]), "ASCII");
  FileReport at_limit = p.rows[1];
  at_limit.confidence = kLowConfidence;
  EXPECT_FALSE(needs_look(at_limit, p.files[1]));
}

// With no sort the rows that need a look come first, the rest in search order; any column
// sorts both ways, ties keep search order; the least sure evidence sorts first.
TEST(PreviewRows, SortsByAnyColumn) {
  Preview p = mixed_preview();
  PreviewRows rows;
  rows.load(&p);
  EXPECT_EQ(visible_paths(rows),
            (Paths{"src/b.cpp", "lib/c.cpp", "lib/d.cpp", "src/a.cpp", "e.h", "Docs/日本語.txt"}));
  rows.sort({{PreviewColumn::size, false}});
  EXPECT_EQ(visible_paths(rows),
            (Paths{"e.h", "lib/d.cpp", "src/b.cpp", "Docs/日本語.txt", "src/a.cpp", "lib/c.cpp"}));
  rows.sort({{PreviewColumn::path, true}});
  EXPECT_EQ(visible_paths(rows).front(), "src/b.cpp");
  EXPECT_EQ(visible_paths(rows).back(), "Docs/日本語.txt");
  rows.sort({{PreviewColumn::evidence, false}});
  EXPECT_EQ(visible_paths(rows)[0], "lib/c.cpp");  // undetected
  EXPECT_EQ(visible_paths(rows)[1], "src/b.cpp");  // 41
  rows.sort({{PreviewColumn::encoding, false}, {PreviewColumn::size, true}});
  EXPECT_EQ(visible_paths(rows),
            (Paths{"lib/c.cpp", "e.h", "lib/d.cpp", "src/b.cpp", "src/a.cpp", "Docs/日本語.txt"}));
  p.files[0].excluded = true;
  rows.refresh(0);
  rows.sort({{PreviewColumn::leave_out, true}});
  EXPECT_EQ(visible_paths(rows).front(), "src/a.cpp");
}

// The outcome filter counts what the table shows (a file left out counts as excluded); "needs
// a look" keeps the flagged rows; the text is looked for in path, encoding, sample and notes,
// ignoring case. A changed row keeps its place until the filters change.
TEST(PreviewRows, FiltersByOutcomeLookAndText) {
  Preview p = mixed_preview();
  p.rows[3].detection_note = "CP950 rather than BIG5";
  PreviewRows rows;
  rows.load(&p);
  std::vector<std::string> labels;
  for (const OutcomeChoice& c : rows.choices()) labels.push_back(c.label);
  EXPECT_EQ(labels, (Paths{"All (6)", "converted (2)", "ascii (1)", "already-utf8 (1)",
                           "cannot-convert (1)", "undetected (1)"}));
  EXPECT_EQ(rows.look_count(), 3u);

  rows.filter(static_cast<int>(Outcome::converted), false, "");
  EXPECT_EQ(visible_paths(rows), (Paths{"src/b.cpp", "src/a.cpp"}));
  rows.filter(kAllOutcomes, true, "");
  EXPECT_EQ(visible_paths(rows), (Paths{"src/b.cpp", "lib/c.cpp", "lib/d.cpp"}));
  rows.filter(kAllOutcomes, false, "gb18030");
  EXPECT_EQ(visible_paths(rows), (Paths{"src/b.cpp"}));
  rows.filter(kAllOutcomes, false, "テスト");
  EXPECT_EQ(visible_paths(rows), (Paths{"Docs/日本語.txt"}));
  rows.filter(kAllOutcomes, false, "docs/日本語");
  EXPECT_EQ(visible_paths(rows), (Paths{"Docs/日本語.txt"}));
  rows.filter(kAllOutcomes, false, "cp950");
  EXPECT_EQ(visible_paths(rows), (Paths{"lib/d.cpp"}));

  rows.filter(kAllOutcomes, true, "");
  p.files[1].excluded = true;
  rows.refresh(1);
  EXPECT_EQ(rows.look_count(), 2u);
  EXPECT_EQ(visible_paths(rows).front(), "src/b.cpp");  // still there until the filter changes
  EXPECT_EQ(rows.choices()[1].label, "converted (1)");
  EXPECT_EQ(rows.choices().back().label, "excluded (1)");
  rows.filter(kAllOutcomes, true, "");
  EXPECT_EQ(visible_paths(rows), (Paths{"lib/c.cpp", "lib/d.cpp"}));
}

// Sizes in bytes up to 1023, then in KB, MB and GB with one decimal.
TEST(PreviewRows, SizeText) {
  char buf[32];
  const auto text = [&](uint64_t bytes) {
    size_text(bytes, buf, sizeof buf);
    return std::string(buf);
  };
  EXPECT_EQ(text(0), "0 B");
  EXPECT_EQ(text(1023), "1023 B");
  EXPECT_EQ(text(1024), "1.0 KB");
  EXPECT_EQ(text(4300), "4.2 KB");
  EXPECT_EQ(text(uint64_t{12} << 20), "12.0 MB");
  EXPECT_EQ(text(uint64_t{3} << 30), "3.0 GB");
}

namespace {

class PreviewViewTest : public ImGuiFixture {
 protected:
  void SetUp() override {
    ImGuiFixture::SetUp();
    std::vector<FileReport> rows;
    for (int i = 0; i < 50000; ++i) {
      rows.push_back(row("dir/file" + std::to_string(i) + ".cpp", Outcome::converted, "GBK",
                         "file statistics", 90, static_cast<uint64_t>((i * 7919) % 50000),
                         "// 初始化缓冲区"));
    }
    app_.preview = make_preview(std::move(rows));
  }
  Body body() {
    return [this] {
      ImGui::SetNextWindowPos(ImVec2(0, 0));
      ImGui::SetNextWindowSize(ImVec2(800, 500));
      ImGui::Begin("preview test");
      view_.draw(app_);
      ImGui::End();
    };
  }
  void draw(int count = 1) { frames(count, body()); }
  ImGuiTable* table() const {
    for (int i = 0; i < GImGui->Tables.GetMapSize(); ++i)
      if (ImGuiTable* t = GImGui->Tables.TryGetMapData(i)) return t;
    return nullptr;
  }
  AppState app_{AppState::no_config};
  PreviewView view_;
};

}  // namespace

// 50,000 rows: each frame submits only the rows in sight, and scrolling reaches the last.
TEST_F(PreviewViewTest, FiftyThousandRowsThroughTheClipper) {
  draw(2);
  EXPECT_GT(view_.rows_drawn(), 10);
  EXPECT_LT(view_.rows_drawn(), 40);
  EXPECT_EQ(count_seen("preview.row:"), view_.rows_drawn());
  EXPECT_EQ(count_seen("preview.enc:"), view_.rows_drawn());
  EXPECT_TRUE(seen("preview.row:dir/file0.cpp|GBK|file statistics|converted"));

  ImGuiWindow* inner = table()->InnerWindow;
  ImGui::SetScrollY(inner, 1e9f);
  draw(2);
  EXPECT_LT(view_.rows_drawn(), 40);
  EXPECT_TRUE(seen("preview.row:dir/file49999.cpp|GBK|file statistics|converted"));
  EXPECT_FALSE(seen("preview.row:dir/file25000.cpp|GBK|file statistics|converted"));
}

// The rows are sorted when a header is clicked, once, and not again while the sort stays.
TEST_F(PreviewViewTest, SortsOnlyWhenTheSortChanges) {
  draw(3);
  const int sorts = view_.rows().sorts();
  draw(5);
  EXPECT_EQ(view_.rows().sorts(), sorts);

  click_item("preview.header:Path", body());
  draw(3);
  EXPECT_EQ(view_.rows().sorts(), sorts + 1);
  const std::vector<uint32_t>& order = view_.rows().visible();
  EXPECT_EQ(app_.preview->rows[order.front()].path, "dir/file0.cpp");
  EXPECT_EQ(app_.preview->rows[order.back()].path, "dir/file9999.cpp");  // as text
}

// Drawing the table allocates nothing per row: a frame of the full table makes no allocation,
// nor does the check that the preview is still current, whatever the last job converted.
TEST_F(PreviewViewTest, NoAllocationPerFrame) {
  app_.preview->plan = *app_.plan_from_settings();
  JobPlan converted = *app_.plan_from_settings();
  converted.files = app_.preview->files;  // as a conversion of a preview leaves it
  app_.jobs.prepare(std::move(converted));
  const Body checked = [this] {
    app_.discard_stale_preview();
    body()();
  };
  frames(3, checked);
  ui_probe::hook = nullptr;  // the test's own records of every widget would allocate
  const size_t before = allocations.load();
  frames(5, checked);
  EXPECT_EQ(allocations.load() - before, 0u);
  ASSERT_TRUE(app_.preview.has_value());
  EXPECT_GT(view_.rows_drawn(), 10);
}
