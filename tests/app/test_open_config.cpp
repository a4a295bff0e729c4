// "Open Current Config": the %NAME% expansion, the program chosen, a start that neither
// blocks nor leaves a zombie.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "app/open_config.h"
#include "platform/fsutil.h"
#include "tests/support/test_support.h"
#include "util/log_buffer.h"

using namespace testing_support;

namespace {

// Sets or unsets an environment variable for the scope of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

bool wait_until(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Gone from the process table: it ended and was reaped (a zombie keeps its /proc entry).
bool reaped(pid_t pid) { return !file_exists("/proc/" + std::to_string(pid)); }

// A script that records its arguments in `<path>.args` and then runs `then`.
void write_fake_program(const std::string& path, const std::string& then) {
  write_file(path,
             "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\"\n/bin/mv \"$0.tmp\" \"$0.args\"\n" +
                 then + "\n");
  ::chmod(path.c_str(), 0755);
}

// Defined names are replaced, undefined ones and stray '%' stay as written.
TEST(OpenConfigTest, ExpandsEnvironmentReferences) {
  ScopedEnv dir("OUZEL_TEST_DIR", "/opt/ed");
  ScopedEnv empty("OUZEL_TEST_EMPTY", "");
  ScopedEnv none("OUZEL_TEST_NONE", std::nullopt);
  const std::pair<const char*, const char*> cases[] = {
      {"\"%OUZEL_TEST_DIR%\\varnel.exe\"", "\"/opt/ed\\varnel.exe\""},
      {"%OUZEL_TEST_NONE%\\a", "%OUZEL_TEST_NONE%\\a"},
      {"a%OUZEL_TEST_EMPTY%b", "ab"},
      {"100% %%", "100% %%"},
      {"%OUZEL_TEST_NONE%%OUZEL_TEST_DIR%", "%OUZEL_TEST_NONE%/opt/ed"},
  };
  for (const auto& [text, want] : cases) {
    std::string out;
    EXPECT_EQ(expand_env_vars(text, out), 0) << text;
    EXPECT_EQ(out, want);
  }
}

// The result and its NUL must fit in 260 bytes; a longer one is a logged failure.
TEST(OpenConfigTest, ExpansionLimitIs260Bytes) {
  const std::string frame = kEditorCommand;  // 26 bytes, 12 of them the reference
  const size_t fixed = frame.size() - std::string("%VN_INSTDIR%").size();
  std::string out;
  {
    ScopedEnv v("VN_INSTDIR", std::string(259 - fixed, 'a'));
    EXPECT_EQ(expand_env_vars(kEditorCommand, out), 0);
    EXPECT_EQ(out.size(), 259u);
  }
  ScopedEnv v("VN_INSTDIR", std::string(260 - fixed, 'a'));
  EXPECT_EQ(expand_env_vars(kEditorCommand, out), ENAMETOOLONG);
  LogBuffer log;
  EXPECT_EQ(open_current_config(log), -1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].substr(25), "Expand Env var fail, ec=" + std::to_string(ENAMETOOLONG));
}

// The editor under $VN_INSTDIR gets the full path of "ouzel.yml"; the call returns while it
// runs, and once it ends it is reaped.
TEST(OpenConfigTest, StartsEditorWithoutWaiting) {
  TempDir tmp;
  ScopedCwd cwd(tmp.path());
  write_fake_program(tmp / "inst/varnel.exe", "exec sleep 30");
  ScopedEnv v("VN_INSTDIR", tmp / "inst");
  LogBuffer log;
  const pid_t pid = open_current_config(log);
  ASSERT_GT(pid, 0);
  EXPECT_FALSE(reaped(pid));  // still running: not waited for
  ASSERT_TRUE(wait_until([&] { return file_exists(tmp / "inst/varnel.exe.args"); }));
  EXPECT_EQ(read_file(tmp / "inst/varnel.exe.args"), *fsutil::full_path("ouzel.yml") + "\n");
  EXPECT_TRUE(log.lines.empty());
  ::kill(pid, SIGTERM);
  EXPECT_TRUE(wait_until([&] { return reaped(pid); }));
}

// Without the editor the desktop opener gets the file; without either nothing starts.
TEST(OpenConfigTest, FallsBackToDesktopOpener) {
  TempDir tmp;
  ScopedEnv v("VN_INSTDIR", std::nullopt);
  ::mkdir((tmp / "empty").c_str(), 0755);
  {
    ScopedEnv path("PATH", tmp / "empty");
    LogBuffer log;
    EXPECT_EQ(open_current_config(log), -1);
    EXPECT_TRUE(log.lines.empty());
  }
  write_fake_program(tmp / "bin/xdg-open", "exit 0");
  ScopedEnv path("PATH", tmp / "empty:" + (tmp / "bin"));
  write_file(tmp / "inst/varnel.exe", "not executable");
  EXPECT_EQ(open_config_command("\"" + (tmp / "inst\\varnel.exe") + "\"", "/f.yml"),
            (std::vector<std::string>{tmp / "bin/xdg-open", "/f.yml"}));
  LogBuffer log;
  const pid_t pid = open_current_config(log);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(wait_until([&] { return file_exists(tmp / "bin/xdg-open.args"); }));
  EXPECT_EQ(read_file(tmp / "bin/xdg-open.args"), *fsutil::full_path("ouzel.yml") + "\n");
  EXPECT_TRUE(wait_until([&] { return reaped(pid); }));  // ended on its own: no zombie
}

}  // namespace
