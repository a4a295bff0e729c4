// "Open Current Config": the editor named by %VN_INSTDIR%, or the desktop's opener.
#pragma once

struct LogBuffer;

// Starts the editor (or xdg-open) on the full path of "ouzel.yml"; never waits, leaves no
// zombie. Logs "Expand Env var fail, ec=%d" when the command does not expand.
void open_current_config(LogBuffer& log);
