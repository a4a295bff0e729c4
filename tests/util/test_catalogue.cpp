// The encoding catalogue: group feeding, the BOM entry, the converter's names, the fallback.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "platform/sys_io.h"
#include "tests/support/test_support.h"
#include "util/encoding_sources.h"

using namespace testing_support;

namespace {

// Names `iconv -l` prints, trailing slashes removed.
std::set<std::string> iconv_command_names() {
  std::set<std::string> names;
  FILE* p = ::popen("iconv -l", "r");
  if (p == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '/')) s.pop_back();
    if (!s.empty()) names.insert(s);
  }
  ::pclose(p);
  return names;
}

std::vector<std::string> names_of(const EncodingList& entries) {
  return std::vector<std::string>(entries.begin(), entries.end());
}

// Sets an environment variable for the scope of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::vector<std::string> all_names(const EncodingGroups& groups) {
  std::vector<std::string> out;
  for (const auto& g : groups) out.insert(out.end(), g.begin(), g.end());
  return out;
}

}  // namespace

// Every name of a group is appended in order; "UTF-8 with BOM" comes right after "UTF-8" only.
TEST(Catalogue, GroupAppendsNamesAndBomEntry) {
  AppState app{AppState::no_config};
  app.encodings.clear();
  const char* first[] = {"A", "B", "UTF-8"};
  const char* second[] = {"UTF-8", "C"};
  const char* third[] = {"utf-8", "UTF8"};
  EXPECT_EQ(add_encoding_group(3, first, &app.encodings), 0);
  EXPECT_EQ(add_encoding_group(2, second, &app.encodings), 0);
  EXPECT_EQ(add_encoding_group(2, third, &app.encodings), 0);
  const std::vector<std::string> expected = {
      "A", "B", "UTF-8", "UTF-8 with BOM", "UTF-8", "UTF-8 with BOM", "C", "utf-8", "UTF8"};
  EXPECT_EQ(names_of(app.encodings), expected);
  // Only the exact "UTF-8 with BOM" writes a mark; its converter name is UTF-8.
  EXPECT_TRUE(app.encodings[3].utf8_mark);
  EXPECT_EQ(app.encodings[3].charset, "UTF-8");
  EXPECT_FALSE(app.encodings[2].utf8_mark);
}

// index_of compares exactly and answers the size when nothing matches.
TEST(Catalogue, IndexOfIsExact) {
  AppState app{AppState::no_config};
  app.encodings = {"GBK", "UTF-8", "UTF-8 with BOM"};
  EXPECT_EQ(app.index_of("UTF-8"), 1);
  EXPECT_EQ(app.index_of("UTF-8 with BOM"), 2);
  EXPECT_EQ(app.index_of("utf-8"), 3);
  EXPECT_EQ(app.index_of("UTF-8 "), 3);
}

// The built catalogue: the BOM entry follows every "UTF-8", no duplicates.
TEST(Catalogue, BuiltListIsConsistent) {
  AppState app{AppState::no_config};
  size_t utf8 = 0;
  for (size_t i = 0; i < app.encodings.size(); ++i) {
    if (app.encodings[i] != "UTF-8") continue;
    ++utf8;
    ASSERT_LT(i + 1, app.encodings.size());
    EXPECT_EQ(app.encodings[i + 1], "UTF-8 with BOM");
  }
  EXPECT_EQ(utf8, 1u);
  const std::set<std::string> unique(app.encodings.begin(), app.encodings.end());
  EXPECT_EQ(unique.size(), app.encodings.size());
  {
    std::lock_guard g(app.log.lines_lock);
    EXPECT_TRUE(app.log.lines.empty());
  }
}

// The names are exactly those `iconv -l` prints, and each opens to and from UTF-8.
TEST(Catalogue, NamesAreTheConvertersAndAllOpen) {
  AppState app{AppState::no_config};
  std::set<std::string> names(app.encodings.begin(), app.encodings.end());
  names.erase("UTF-8 with BOM");
  const std::set<std::string> expected = iconv_command_names();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(names, expected);
  for (const auto& n : names) {
    iconv_t to = ::iconv_open(n.c_str(), "UTF-8");
    iconv_t from = ::iconv_open("UTF-8", n.c_str());
    EXPECT_NE(to, reinterpret_cast<iconv_t>(-1)) << n;
    EXPECT_NE(from, reinterpret_cast<iconv_t>(-1)) << n;
    if (to != reinterpret_cast<iconv_t>(-1)) ::iconv_close(to);
    if (from != reinterpret_cast<iconv_t>(-1)) ::iconv_close(from);
  }
}

// The encodings users of the tool need most are offered.
TEST(Catalogue, CommonEncodingsOffered) {
  AppState app{AppState::no_config};
  for (const char* n : {"GBK", "UTF-8", "UTF-8 with BOM", "UTF8", "UTF-16LE", "BIG5", "SHIFT_JIS",
                        "EUC-JP", "CP1252"})
    EXPECT_LT(app.index_of(n), static_cast<int32_t>(app.encodings.size())) << n;
}

// Aliases share their converter's group; groups come in name order, canonical name first.
TEST(Catalogue, GroupsAreConvertersInOrder) {
  platform::Result<EncodingGroups> listed = list_encoding_groups();
  ASSERT_TRUE(listed) << listed.error().context;
  EncodingGroups groups = std::move(*listed);
  sort_groups(groups);
  const auto group_of = [&](const std::string& name) {
    for (size_t i = 0; i < groups.size(); ++i)
      if (std::find(groups[i].begin(), groups[i].end(), name) != groups[i].end()) return i;
    return groups.size();
  };
  EXPECT_EQ(group_of("UTF8"), group_of("UTF-8"));
  EXPECT_EQ(group_of("CP936"), group_of("GBK"));
  EXPECT_NE(group_of("GBK"), group_of("BIG5"));
  for (size_t i = 1; i < groups.size(); ++i)
    EXPECT_LT(::strverscmp(groups[i - 1].front().c_str(), groups[i].front().c_str()), 0);
}

// A converter cache that cannot be read is not offered: the list then comes from elsewhere.
TEST(Catalogue, UnreadableCacheNotOffered) {
  ASSERT_FALSE(gconv_cache_path().empty());
  platform::ScopedSysIo scope;
  platform::sysio().access = [](const char*, int) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(gconv_cache_path(), "");
}

// A damaged converter cache is refused with a reason instead of yielding garbage.
TEST(Catalogue, DamagedCacheRefused) {
  TempDir tmp;
  const std::string real = gconv_cache_path();
  ASSERT_FALSE(real.empty());
  const std::string good = read_file(real);
  ASSERT_GT(good.size(), 64u);
  std::string wrong_magic = good;
  wrong_magic[0] ^= 0x55;
  std::string bad_hash = good;
  bad_hash[8] = bad_hash[9] = '\xFF';  // hash table size far beyond the file
  const std::vector<std::string> damaged = {"", good.substr(0, 10), wrong_magic, bad_hash,
                                            good.substr(0, good.size() / 2)};
  for (size_t i = 0; i < damaged.size(); ++i) {
    const std::string path = tmp / ("cache" + std::to_string(i));
    write_file(path, damaged[i]);
    const platform::Result<EncodingGroups> read = groups_from_gconv_cache(path);
    ASSERT_FALSE(read) << i;
    EXPECT_EQ(read.err(), EINVAL) << i;
    EXPECT_EQ(read.error().context.rfind(path + ": ", 0), 0u) << read.error().context;
  }
  const platform::Result<EncodingGroups> missing = groups_from_gconv_cache(tmp / "missing");
  EXPECT_EQ(missing.err(), ENOENT);
  EXPECT_EQ(missing.error().context, (tmp / "missing") + ": " + std::strerror(ENOENT));
}

// With GCONV_PATH set the C library ignores its cache, and so does the catalogue.
TEST(Catalogue, GconvPathHonoured) {
  TempDir tmp;
  const platform::Result<EncodingGroups> cached = list_encoding_groups();
  ASSERT_TRUE(cached) << cached.error().context;
  ScopedEnv env("GCONV_PATH", tmp.path().c_str());
  const platform::Result<EncodingGroups> listed = list_encoding_groups();
  ASSERT_TRUE(listed) << listed.error().context;
  std::vector<std::string> a = all_names(*cached), b = all_names(*listed);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

// When no listing works, one log line says so and a usable list remains.
TEST(Catalogue, FallbackListWhenListingFails) {
  AppState app{AppState::no_config};
  {
    ScopedEnv gconv("GCONV_PATH", "/nonexistent");
    ScopedEnv path("PATH", "/nonexistent");
    build_encoding_catalogue(app.encodings, app.log);
  }
  {
    std::lock_guard g(app.log.lines_lock);
    ASSERT_EQ(app.log.lines.size(), 1u);
    EXPECT_NE(app.log.lines.front().find("minimal list"), std::string::npos);
  }
  for (const char* n : {"UTF-8", "UTF-8 with BOM", "GBK", "BIG5", "UTF-16LE"})
    EXPECT_LT(app.index_of(n), static_cast<int32_t>(app.encodings.size())) << n;
}
