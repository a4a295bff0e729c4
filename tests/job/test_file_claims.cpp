// Which file each conversion thread takes: every file once, each thread in its own folders
// first, the parts cut where folders begin.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "job/file_claims.h"

namespace {

// Every index below `count` claimed exactly once by `threads` threads, whatever the parts.
void expect_each_once(const std::vector<size_t>& starts, size_t count, size_t threads) {
  FileClaims claims(starts, count);
  std::vector<std::vector<size_t>> taken(threads);
  std::vector<std::thread> running;
  for (size_t t = 0; t < threads; ++t)
    running.emplace_back([&, t] {
      size_t part = t;
      for (size_t i; (i = claims.claim(part)) < count;) taken[t].push_back(i);
    });
  for (std::thread& t : running) t.join();
  std::vector<size_t> all;
  for (const auto& mine : taken) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), count) << threads << " threads";
  for (size_t i = 0; i < count; ++i) ASSERT_EQ(all[i], i);
}

}  // namespace

TEST(FileClaims, EveryFileOnceWhateverThePartsAndThreads) {
  expect_each_once({0}, 0, 2);
  expect_each_once({0}, 1, 3);
  expect_each_once({0}, 1000, 1);
  expect_each_once({0, 300}, 1000, 2);
  expect_each_once({0, 3, 4, 999}, 1000, 4);
  expect_each_once({0, 500}, 1000, 8);            // more threads than parts
  expect_each_once({0, 100, 200, 300}, 1000, 2);  // more parts than threads
}

// Alone, a thread takes its own part from its front, then the next parts' from theirs.
TEST(FileClaims, OwnPartFirstThenTheOthersFromTheirFronts) {
  FileClaims claims({0, 4, 7}, 9);
  size_t part = 1;
  std::vector<size_t> order;
  for (size_t i; (i = claims.claim(part)) < 9;) order.push_back(i);
  EXPECT_EQ(order, (std::vector<size_t>{4, 5, 6, 7, 8, 0, 1, 2, 3}));
  EXPECT_EQ(claims.claim(part), 9u) << "nothing left stays nothing";

  FileClaims two({0, 5}, 10);
  size_t first = 0, second = 1;
  EXPECT_EQ(two.claim(first), 0u);
  EXPECT_EQ(two.claim(second), 5u);
  EXPECT_EQ(two.claim(first), 1u);
}

TEST(FileClaims, PartsBeginWhereFoldersBegin) {
  // Folders of 10 files: file i begins a folder when i % 10 == 0.
  const auto tens = [](size_t i) { return i % 10 == 0; };
  EXPECT_EQ(part_starts(100, 2, tens), (std::vector<size_t>{0, 50}));
  EXPECT_EQ(part_starts(95, 2, tens), (std::vector<size_t>{0, 50}));  // 47 moved on to 50
  EXPECT_EQ(part_starts(100, 3, tens), (std::vector<size_t>{0, 40, 70}));
  // One folder of them all: cut where the even split falls.
  EXPECT_EQ(part_starts(100, 2, [](size_t) { return false; }), (std::vector<size_t>{0, 50}));
  // A folder begins too far on: not waited for.
  EXPECT_EQ(part_starts(100, 2, [](size_t i) { return i == 90; }), (std::vector<size_t>{0, 50}));
  EXPECT_EQ(part_starts(100, 1, tens), (std::vector<size_t>{0}));
  EXPECT_EQ(part_starts(3, 2, tens), (std::vector<size_t>{0})) << "too few to cut";
}
