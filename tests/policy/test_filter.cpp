// Filter lists: suffix and exclusion items, the last-decides rule, blanks and empty items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "policy/filter.h"

namespace {

// Which of `paths` the filter accepts.
std::vector<std::string> accepted(const std::string& filter,
                                  const std::vector<std::string>& paths) {
  filter_set set;
  build_filter_set(filter, set);
  std::vector<std::string> out;
  for (const auto& p : paths)
    if (filter_accepts(set, p)) out.push_back(p);
  return out;
}

using Paths = std::vector<std::string>;

}  // namespace

// A suffix item compares the extension of the whole path, ignoring ASCII case.
TEST(Filter, SuffixComparesExtensionIgnoringCase) {
  EXPECT_EQ(accepted("*.cpp;*.h;*.c;*.hpp;*.lua",
                     {"/a.cpp", "/B.H", "/x.Lua", "/a.cpp.bak", "/a.cc", "/Makefile", "/s/k.HPP"}),
            (Paths{"/a.cpp", "/B.H", "/x.Lua", "/s/k.HPP"}));
  // Only the last dot counts, and it may sit in a directory name.
  EXPECT_EQ(accepted("*.tar.gz", {"/x.tar.gz", "/y.gz"}), Paths{});
  EXPECT_EQ(accepted("*.old/Makefile", {"/lib.old/Makefile", "/lib/Makefile"}),
            Paths{"/lib.old/Makefile"});
  EXPECT_EQ(accepted("*.h", {"/inc.h/readme"}), Paths{});
  // A further "*" or "?" in the text is literal.
  EXPECT_EQ(accepted("*.c?", {"/a.cc", "/a.c?"}), Paths{"/a.c?"});
}

// "*" alone takes every file, dot or not; "*.*" anywhere or an empty filter means every file.
TEST(Filter, MatchAllForms) {
  const Paths all = {"/Makefile", "/a.cpp", "/d/x.y.z"};
  EXPECT_EQ(accepted("*", all), all);
  EXPECT_EQ(accepted("", all), all);
  EXPECT_EQ(accepted("*.cpp;*.*", all), all);
  EXPECT_EQ(accepted("!x;*.*", all), all);
  filter_set set;
  build_filter_set("*.cpp;*.*", set);
  EXPECT_TRUE(set.match_all);
  EXPECT_TRUE(set.patterns.empty());
}

// Items are split at ';', empty items skipped, blanks kept: a leading blank voids the item.
TEST(Filter, EmptyItemsAndBlanks) {
  filter_set set;
  parse_filters(";;*.h;", 6, set);
  EXPECT_EQ(set.patterns.size(), 1u);
  EXPECT_EQ(accepted(";;*.h;", {"/a.h", "/a.c"}), Paths{"/a.h"});
  EXPECT_EQ(accepted("*.cpp; *.h", {"/a.cpp", "/a.h"}), Paths{"/a.cpp"});
  // A trailing blank belongs to the suffix too.
  EXPECT_EQ(accepted("*.h ", {"/a.h", "/a.h "}), Paths{"/a.h "});
  // Items that are neither suffix nor exclusion leave nothing to accept.
  EXPECT_EQ(accepted("cpp;h", {"/a.cpp", "/a.h", "/cpp"}), Paths{});
  // "!", "!*" and "!**" hold no text and are ignored.
  set = filter_set{};
  build_filter_set("!;!*;!**", set);
  EXPECT_TRUE(set.patterns.empty());
  EXPECT_EQ(accepted("!;!*;!**", {"/a"}), Paths{});
}

// An exclusion is a case-sensitive substring of the match path, stars at its ends dropped.
TEST(Filter, ExclusionIsCaseSensitiveSubstring) {
  const Paths paths = {"/Test/a.h", "/test/a.h", "/a_test.c", "/b.c"};
  for (const char* f : {"!test", "!*test*", "!test*", "!*test"})
    EXPECT_EQ(accepted(f, paths), (Paths{"/Test/a.h", "/b.c"})) << f;
  // Inner stars stay literal.
  EXPECT_EQ(accepted("!a*b", {"/a*b.c", "/ab.c"}), Paths{"/ab.c"});
}

// A suffix match settles at once; otherwise the last pattern's answer decides.
TEST(Filter, LastPatternDecides) {
  EXPECT_EQ(accepted("*.cpp;!test", {"/test/a.cpp", "/src/a.h", "/test/a.h"}),
            (Paths{"/test/a.cpp", "/src/a.h"}));
  EXPECT_EQ(accepted("!a;!b", {"/a", "/b", "/ab", "/c"}), (Paths{"/a", "/c"}));
  // A suffix item last: an exclusion earlier does not reject, the suffix alone decides.
  EXPECT_EQ(accepted("!test;*.h", {"/test/a.h", "/src/a.c", "/test/a.c"}), Paths{"/test/a.h"});
}
