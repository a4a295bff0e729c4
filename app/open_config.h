// "Open Current Config": the editor named by %VN_INSTDIR%, or the desktop's opener.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct LogBuffer;

inline constexpr size_t kExpandLimit = 260;  // bytes of the result, its terminating NUL included
inline constexpr const char* kEditorCommand = "\"%VN_INSTDIR%\\varnel.exe\"";

// `text` with every %NAME% replaced by the variable's value; undefined names and a lone '%'
// stay as written. 0, or ENAMETOOLONG (and `out` empty) when the result with its NUL would
// not fit in `limit` bytes.
int expand_env_vars(std::string_view text, std::string& out, size_t limit = kExpandLimit);

// The program and argument that open `file`: the editor the expanded command names (quotes
// dropped, '\' read as '/') when it is an executable file, else xdg-open; empty when neither.
std::vector<std::string> open_config_command(std::string_view expanded, const std::string& file);

// Starts the editor (or xdg-open) on the full path of "ouzel.yml"; never waits, leaves no
// zombie. Logs "Expand Env var fail, ec=%d" when the command does not expand. Returns the
// started pid, or -1 when nothing was started.
pid_t open_current_config(LogBuffer& log);
