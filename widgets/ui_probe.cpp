// Storage of the widget-rectangle test hook.
#include "widgets/ui_probe.h"

namespace ui_probe {
Hook hook;
}
