// "Open Current Config": %NAME% expansion, choice of program, detached start.
#include "app/open_config.h"

#include <cerrno>
#include <cstdlib>

#include "platform/fsutil.h"
#include "platform/spawn.h"
#include "util/i18n.h"
#include "util/log_buffer.h"

int expand_env_vars(std::string_view text, std::string& out, size_t limit) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('%', i);
    const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, open - i));
    const std::string name(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value) {
      out += value;
    } else {
      out.append(text.substr(open, close - open + 1));
    }
    i = close + 1;
  }
  if (out.size() + 1 > limit) {
    out.clear();
    return ENAMETOOLONG;
  }
  return 0;
}

std::vector<std::string> open_config_command(std::string_view expanded, const std::string& file) {
  std::string editor;
  for (char c : expanded) {
    if (c != '"') editor += c == '\\' ? '/' : c;
  }
  if (platform::is_executable_file(editor)) return {editor, file};
  platform::Result<std::string> opener = platform::find_in_path("xdg-open");
  if (!opener) return {};
  return {std::move(*opener), file};
}

pid_t open_current_config(LogBuffer& log) {
  std::string expanded;
  if (int err = expand_env_vars(kEditorCommand, expanded)) {
    log.append(_("Expand Env var fail, ec=%d"), err);
    return -1;
  }
  // Always the working directory's file, whatever "Save Config As..." chose since.
  const auto command =
      open_config_command(expanded, fsutil::full_path("ouzel.yml").value_or("ouzel.yml"));
  return command.empty() ? -1 : platform::spawn_detached(command).value_or(-1);
}
