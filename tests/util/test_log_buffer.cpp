// LogBuffer: timestamp shape, the 100-line cap, CR LF display text, clear, concurrent appends.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "util/log_buffer.h"

namespace {

std::string joined(const LogBuffer& log) {
  std::string s;
  for (const auto& l : log.lines) s += l + "\r\n";
  return s;
}

constexpr size_t kStampLen = 25;  // "[YYYY-MM-DD hh:mm:ss.mmm]"

}  // namespace

// A line is the timestamp followed directly by the message.
TEST(LogBuffer, LineIsTimestampThenMessage) {
  LogBuffer log;
  log.append("hello %d", 7);
  ASSERT_EQ(log.lines.size(), 1u);
  const std::regex shape(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]hello 7)");
  EXPECT_TRUE(std::regex_match(log.lines[0], shape)) << log.lines[0];
  EXPECT_EQ(log.text, log.lines[0] + "\r\n");
  EXPECT_TRUE(log.scroll_to_end);
}

// The 101st append drops the oldest line; the text follows the lines.
TEST(LogBuffer, KeepsNewestHundredLines) {
  LogBuffer log;
  for (int i = 1; i <= 101; ++i) log.append("m%d", i);
  ASSERT_EQ(log.lines.size(), 100u);
  EXPECT_EQ(log.lines.front().substr(kStampLen), "m2");
  EXPECT_EQ(log.lines.back().substr(kStampLen), "m101");
  EXPECT_EQ(log.text, joined(log));
  EXPECT_EQ(log.text.substr(kStampLen, 4), "m2\r\n");
}

// A message ending in CR LF is followed by an empty line in the text.
TEST(LogBuffer, MessageWithOwnLineEnd) {
  LogBuffer log;
  log.append("done\r\n");
  EXPECT_EQ(log.text.substr(kStampLen), "done\r\n\r\n");
}

// Long messages are stored whole; bad formats store the fixed error text.
TEST(LogBuffer, LongAndBadMessages) {
  LogBuffer log;
  const std::string big(300, 'z');
  log.append("%s", big.c_str());
  EXPECT_EQ(log.lines.back().substr(kStampLen), big);
  const std::string bad = "%2147483700d";
  void (LogBuffer::*append)(const char*, ...) = &LogBuffer::append;
  (log.*append)(bad.c_str(), 1);
  EXPECT_EQ(log.lines.back().substr(kStampLen), "kestrum::_strfmt: an error is encountered!");
}

// Clear empties lines and text, sets the scroll flag; the next append starts afresh.
TEST(LogBuffer, ClearThenAppend) {
  LogBuffer log;
  log.append("a");
  log.append("b");
  log.scroll_to_end = false;
  log.clear();
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(log.text.empty());
  EXPECT_TRUE(log.scroll_to_end);
  log.append("c");
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.text, log.lines[0] + "\r\n");
}

// Appends from two threads produce whole lines, in timestamp order, text always consistent.
TEST(LogBuffer, ConcurrentAppendsStayWhole) {
  LogBuffer log;
  const std::string a(200, 'A'), b(200, 'B');
  auto writer = [&log](const std::string* s) {
    for (int i = 0; i < 500; ++i) log.append("%s", s->c_str());
  };
  std::thread t1(writer, &a), t2(writer, &b);
  // A reader under text_lock alone, as the log view does.
  for (int i = 0; i < 200; ++i) {
    std::lock_guard g(log.text_lock);
    ASSERT_EQ(log.text.size() % (kStampLen + 200 + 2), 0u);
  }
  t1.join();
  t2.join();
  ASSERT_EQ(log.lines.size(), 100u);
  for (const auto& l : log.lines) {
    const std::string msg = l.substr(kStampLen);
    EXPECT_TRUE(msg == a || msg == b);
  }
  for (size_t i = 1; i < log.lines.size(); ++i)
    EXPECT_LE(log.lines[i - 1].substr(0, kStampLen), log.lines[i].substr(0, kStampLen));
  EXPECT_EQ(log.text, joined(log));
}
