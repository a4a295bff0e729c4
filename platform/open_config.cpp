// "Open Current Config".
#include "platform/open_config.h"

void open_current_config(LogBuffer&) {}
