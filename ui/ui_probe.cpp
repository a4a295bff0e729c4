// Storage of the widget-rectangle test hook.
#include "ui/ui_probe.h"

namespace ui_probe {
Hook hook;
}
