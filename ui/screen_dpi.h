// What the desktop says of its scale: the environment, the X server, SDL's display.
#pragma once

#include "app/app_metrics.h"

// GDK_SCALE and GDK_DPI_SCALE, the X resource "Xft.dpi" and the X server's screen DPI (when
// there is a display), and SDL's display DPI where there is no X server (SDL's video must be
// started). `setting` is the settings' own scale.
ScaleInputs query_scale_inputs(double setting);
