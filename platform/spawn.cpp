// posix_spawn with a reaper thread per detached child, or a pipe and a wait.
#include "platform/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/sys_io.h"

extern char** environ;

namespace platform {
namespace {

// A clean start for the child: no blocked signals, default dispositions, own session.
// 0 or the errno.
int init_attributes(posix_spawnattr_t& attr) {
  if (const int err = posix_spawnattr_init(&attr)) return err;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  return 0;
}

// Everything the child writes to `fd`, until end of file.
int read_all(int fd, std::string& out) {
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buf, static_cast<size_t>(n));
  }
}

int wait_exit_status(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Result<captured_run> run_captured(const char* name, const std::vector<std::string>& argv) {
  captured_run run;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return last_error(std::string("pipe for ") + name);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, name, &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return Error{rc, std::string("start ") + name};
  }
  const int err = read_all(out[0], run.output);
  ::close(out[0]);
  run.exit_status = wait_exit_status(pid);
  if (err != 0) return Error{err, std::string("read the output of ") + name};
  return run;
}

bool is_executable_file(const std::string& path) {
  struct stat st;
  return platform::sysio().stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         platform::sysio().access(path.c_str(), X_OK) == 0;
}

Result<std::string> find_in_path(std::string_view name) {
  const char* env = std::getenv("PATH");
  const std::string_view dirs = env ? env : "/usr/local/bin:/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string_view::npos) end = dirs.size();
    std::string dir(dirs.substr(start, end - start));
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + std::string(name);
    if (is_executable_file(candidate)) return candidate;
    start = end + 1;
  }
  return Error{ENOENT, "find " + std::string(name) + " in $PATH"};
}

Result<pid_t> spawn_detached(const std::vector<std::string>& argv) {
  if (argv.empty()) return Error{EINVAL, "start a program not named"};
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attr;
  if (const int err = init_attributes(attr)) return Error{err, "start " + argv[0]};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  const int err = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) return Error{err, "start " + argv[0]};

  // Important: reaping only this pid leaves every other child to whoever started it.
  try {
    std::thread([pid] {
      int status;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the program still runs; it is reaped when we end.
  }
  return pid;
}

}  // namespace platform
