// _strfmt: one pass up to 128 bytes, two passes beyond, the fixed text on formatter errors.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "util/strfmt.h"

using kestrum::strfmt;

// A result of exactly the first region's size is complete.
TEST(StrFmt, ExactlyFirstRegionIsComplete) {
  const std::string s(128, 'x');
  EXPECT_EQ(strfmt("%s", s.c_str()), s);
}

// Longer results take the second pass and are not truncated.
TEST(StrFmt, LongerThanFirstRegionIsComplete) {
  for (size_t len : {129u, 200u, 4096u, 100000u}) {
    const std::string s(len, 'y');
    EXPECT_EQ(strfmt("<%s>", s.c_str()), "<" + s + ">") << len;
  }
}

// An empty result is a success, not the error text.
TEST(StrFmt, EmptyResult) { EXPECT_EQ(strfmt("%s", ""), ""); }

// Arguments of several kinds, as the log formats them.
TEST(StrFmt, MixedConversions) {
  EXPECT_EQ(strfmt("Convert complete, total: %d, cost: %.3f seconds\r\n", 3, 1.5),
            "Convert complete, total: 3, cost: 1.500 seconds\r\n");
}

// A format the formatter rejects yields the fixed error text after the retries.
TEST(StrFmt, RejectedFormatGivesErrorText) {
  // A field width beyond INT_MAX makes glibc's vsnprintf fail with EOVERFLOW.
  std::string fmt = "%";
  fmt += std::to_string(static_cast<long long>(INT_MAX) + 10);
  fmt += 'd';
  std::string (*f)(const char*, ...) = strfmt;  // keep the format non-literal
  EXPECT_EQ(f(fmt.c_str(), 1), "kestrum::_strfmt: an error is encountered!");
}

// Every pass formats the same argument list: the second pass repeats the first exactly.
TEST(StrFmt, PassesAgreeOnArguments) {
  const std::string a(100, 'a');
  EXPECT_EQ(strfmt("%s|%d|%s", a.c_str(), 42, a.c_str()), a + "|42|" + a);
}
