// Window and font sizes from the DPI, the Xft.dpi resource, and centring in the work area.
#include <gtest/gtest.h>

#include "app/app_metrics.h"

// Sizes are 800 x 500 and 15 px scaled by dpi/96; window sizes truncated, font not rounded.
TEST(AppMetrics, SizesFollowDpi) {
  const WindowMetrics m96 = metrics_for_dpi(96);
  EXPECT_FLOAT_EQ(m96.dpi_scale, 1.0f);
  EXPECT_EQ(m96.window_width, 800);
  EXPECT_EQ(m96.window_height, 500);
  EXPECT_FLOAT_EQ(m96.font_size, 15.0f);

  const WindowMetrics m120 = metrics_for_dpi(120);
  EXPECT_FLOAT_EQ(m120.dpi_scale, 1.25f);
  EXPECT_EQ(m120.window_width, 1000);
  EXPECT_EQ(m120.window_height, 625);
  EXPECT_FLOAT_EQ(m120.font_size, 18.75f);

  const WindowMetrics m144 = metrics_for_dpi(144);
  EXPECT_FLOAT_EQ(m144.dpi_scale, 1.5f);
  EXPECT_EQ(m144.window_width, 1200);
  EXPECT_EQ(m144.window_height, 750);
  EXPECT_FLOAT_EQ(m144.font_size, 22.5f);

  const WindowMetrics m100 = metrics_for_dpi(100);  // 833.33 x 520.83: truncated
  EXPECT_EQ(m100.window_width, 833);
  EXPECT_EQ(m100.window_height, 520);
  EXPECT_FLOAT_EQ(m100.font_size, 15.625f);
}

// The DPI comes from the "Xft.dpi" line of the resource string; anything else is absent.
TEST(AppMetrics, XftDpiIsReadFromTheResourceString) {
  EXPECT_EQ(parse_xft_dpi("Xft.antialias:\t1\nXft.dpi:\t120\nXft.hinting:\t1\n"), 120);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\t144"), 144);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi: 96.4\n"), 96);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\t143.6\r\n"), 144);
  EXPECT_EQ(parse_xft_dpi(""), std::nullopt);
  EXPECT_EQ(parse_xft_dpi("Xft.antialias:\t1\n"), std::nullopt);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\tlarge\n"), std::nullopt);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\t120px\n"), std::nullopt);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\t-96\n"), std::nullopt);
  EXPECT_EQ(parse_xft_dpi("Xft.dpi:\tnan\n"), std::nullopt);
}

// An absent or absurd DPI falls back to 96 rather than making an unusable window.
TEST(AppMetrics, UnusableDpiFallsBackTo96) {
  EXPECT_EQ(sane_dpi(std::nullopt), 96);
  EXPECT_EQ(sane_dpi(0), 96);
  EXPECT_EQ(sane_dpi(20), 96);
  EXPECT_EQ(sane_dpi(100000), 96);
  EXPECT_EQ(sane_dpi(48), 48);
  EXPECT_EQ(sane_dpi(144), 144);
  EXPECT_EQ(sane_dpi(480), 480);
}

// The window is centred in the usable area, including its offset (a panel on the top or left).
TEST(AppMetrics, CentredInTheUsableArea) {
  const IntPoint a = centred_position({0, 0, 1280, 1024}, 800, 500);
  EXPECT_EQ(a.x, 240);
  EXPECT_EQ(a.y, 262);
  const IntPoint b = centred_position({0, 40, 1920, 1040}, 800, 500);
  EXPECT_EQ(b.x, 560);
  EXPECT_EQ(b.y, 310);
  const IntPoint c = centred_position({64, 0, 1856, 1080}, 801, 501);  // (1055/2, 579/2)
  EXPECT_EQ(c.x, 64 + 527);
  EXPECT_EQ(c.y, 289);
}

// A coordinate that is not greater than 0 becomes the work area's edge: a window larger than
// the work area starts at its left/top edge and overhangs the other side.
TEST(AppMetrics, NonPositiveCoordinateTakesTheWorkAreaEdge) {
  const IntPoint big = centred_position({0, 0, 1024, 768}, 1200, 750);
  EXPECT_EQ(big.x, 0);
  EXPECT_EQ(big.y, 9);
  const IntPoint offset = centred_position({64, 30, 1000, 700}, 1200, 900);
  EXPECT_EQ(offset.x, 64);
  EXPECT_EQ(offset.y, 30);
  const IntPoint odd = centred_position({0, 0, 1001, 600}, 1002, 600);  // -1/2 truncates to 0
  EXPECT_EQ(odd.x, 0);
  EXPECT_EQ(odd.y, 0);
  // Exactly 0 counts as not greater than 0, also for a work area left of the origin.
  const IntPoint left = centred_position({-100, 0, 1000, 800}, 800, 500);
  EXPECT_EQ(left.x, -100);
  EXPECT_EQ(left.y, 150);
}

// Which of the desktop's answers sets the scale: the setting, GDK_SCALE, Xft.dpi, the screen's
// own DPI (a quarter step, never below 1), SDL's display; GDK_DPI_SCALE on top of any of them.
TEST(AppMetrics, ScaleFollowsTheDesktopInItsOrder) {
  struct Case {
    const char* what;
    ScaleInputs in;
    float want;
  };
  const Case cases[] = {
      {"nothing said", {}, 1.0f},
      {"a bare X server (100 DPI)", {0.0, {}, {}, {}, 100.0, {}}, 1.0f},
      {"an X server of 192 DPI, no Xft.dpi", {0.0, {}, {}, {}, 192.0, {}}, 2.0f},
      {"an X server of 138 DPI", {0.0, {}, {}, {}, 138.0, {}}, 1.5f},
      {"a small screen's 72 DPI never shrinks", {0.0, {}, {}, {}, 72.0, {}}, 1.0f},
      {"Xft.dpi over the server", {0.0, {}, {}, 120, 192.0, {}}, 1.25f},
      {"an absurd Xft.dpi is 96", {0.0, {}, {}, 2000, 192.0, {}}, 1.0f},
      {"GDK_SCALE over Xft.dpi", {0.0, 2, {}, 192, 192.0, {}}, 2.0f},
      {"GDK_DPI_SCALE on GDK_SCALE", {0.0, 2, 1.25, {}, {}, {}}, 2.5f},
      {"GDK_DPI_SCALE on Xft.dpi", {0.0, {}, 1.5, 96, {}, {}}, 1.5f},
      {"SDL's display (Wayland)", {0.0, {}, {}, {}, {}, 144.0}, 1.5f},
      {"the setting over everything", {1.75, 2, 1.5, 192, 192.0, 192.0}, 1.75f},
      {"too large is kept at 5", {0.0, 8, 8.0, {}, {}, {}}, 5.0f},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(choose_scale(c.in), c.want) << c.what;

  EXPECT_EQ(parse_gdk_scale("2"), 2);
  EXPECT_EQ(parse_gdk_scale("1.5"), std::nullopt);  // GDK takes whole numbers only
  EXPECT_EQ(parse_gdk_scale("0"), std::nullopt);
  EXPECT_EQ(parse_gdk_scale(""), std::nullopt);
  EXPECT_EQ(parse_gdk_scale(nullptr), std::nullopt);
  EXPECT_EQ(parse_gdk_dpi_scale("1.25"), 1.25);
  EXPECT_EQ(parse_gdk_dpi_scale("1.25x"), std::nullopt);
  EXPECT_EQ(parse_gdk_dpi_scale("0.1"), std::nullopt);
}

// A window larger than the usable area is made to fit it, so no part of it is off the screen.
TEST(AppMetrics, WindowFitsTheUsableArea) {
  EXPECT_EQ(fitted_size({0, 0, 2560, 1600}, 1600, 1000).x, 1600);
  const IntPoint small = fitted_size({0, 30, 1280, 770}, 1600, 1000);
  EXPECT_EQ(small.x, 1280);
  EXPECT_EQ(small.y, 770);
}
