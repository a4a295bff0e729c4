// A preview row given another encoding is read again on the worker, never on the UI thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/app_state.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4\n";  // "中文" in GBK

class PreviewRereadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(tmp / "in/a.txt", kGbk);
    write_file(tmp / "in/b.txt", kGbk);
    app.input = tmp / "in";
    app.output = tmp / "out";
    app.filters = {"*.*"};
    app.from_index = app.index_of("GBK");
    app.to_index = app.index_of("UTF-8");
    app.request_preview();
    app.jobs.wait();
    ASSERT_TRUE(app.adopt_preview());
    ASSERT_EQ(app.preview->rows.size(), 2u);
  }

  size_t row_of(const std::string& path) const {
    for (size_t i = 0; i < app.preview->rows.size(); ++i)
      if (app.preview->rows[i].path == path) return i;
    ADD_FAILURE() << "no row " << path;
    return 0;
  }

  // What the window's frames do until the rows read again are back.
  void settle() {
    for (int i = 0; i < 100 && !app.worker_idle.load(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    app.jobs.wait();
    app.adopt_preview();
  }

  TempDir tmp;
  AppState app{AppState::no_config};
};

// The choice returns at once with the row marked; its sample comes back in a later frame.
TEST_F(PreviewRereadTest, RowIsPendingUntilTheWorkerReadsIt) {
  const size_t a = row_of("a.txt");
  EXPECT_EQ(app.preview->rows[a].sample, "中文");
  app.set_preview_source(a, EncodingEntry("BIG5"));
  EXPECT_TRUE(app.preview->rereading_row(a));
  EXPECT_FALSE(app.preview->rereading_row(row_of("b.txt")));
  EXPECT_EQ(app.preview->files[a].source, "BIG5");  // the plan changes at once
  settle();
  EXPECT_FALSE(app.preview->rereading_row(a));
  EXPECT_EQ(app.preview->rows[a].source, "BIG5");
  EXPECT_NE(app.preview->rows[a].sample, "中文");
  EXPECT_EQ(app.preview->reread_arrived, std::vector<size_t>{a});
}

// While a job holds the worker the row waits, and is read once the worker is free. A reading
// that comes back after another choice was made is not shown: the row waits for its own.
TEST_F(PreviewRereadTest, BusyWorkerDefersAndTheLastChoiceWins) {
  const size_t a = row_of("a.txt");
  app.worker_idle.store(false);  // as a running job has it
  app.set_preview_source(a, EncodingEntry("BIG5"));
  app.adopt_preview();
  EXPECT_TRUE(app.preview->rereading_row(a));
  EXPECT_EQ(app.preview->reread_waiting, std::vector<size_t>{a});
  app.worker_idle.store(true);
  app.adopt_preview();  // the next frame starts it
  EXPECT_TRUE(app.preview->reread_waiting.empty());
  app.jobs.wait();  // read as BIG5, not yet taken

  app.worker_idle.store(false);
  app.set_preview_source(a, EncodingEntry("GB18030"));
  app.adopt_preview();
  EXPECT_TRUE(app.preview->rereading_row(a));
  EXPECT_EQ(app.preview->rows[a].sample, "中文");  // not BIG5's reading
  EXPECT_TRUE(app.preview->reread_arrived.empty());
  app.worker_idle.store(true);
  settle();
  settle();
  EXPECT_FALSE(app.preview->rereading_row(a));
  EXPECT_EQ(app.preview->rows[a].source, "GB18030");
  EXPECT_EQ(app.preview->rows[a].sample, "中文");
}

// A preview replaced while its rows were read again takes none of them.
TEST_F(PreviewRereadTest, RowsOfAnEarlierPreviewAreDropped) {
  const size_t a = row_of("a.txt");
  app.set_preview_source(a, EncodingEntry("BIG5"));
  app.jobs.wait();  // back, not yet taken
  app.request_preview();
  app.jobs.wait();
  ASSERT_TRUE(app.adopt_preview());
  EXPECT_FALSE(app.preview->rereading_row(a));
  EXPECT_EQ(app.preview->rows[a].sample, "中文");
  EXPECT_TRUE(app.preview->reread_arrived.empty());
}

}  // namespace
