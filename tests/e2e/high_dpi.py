#!/usr/bin/env python3
"""The real window on a 192-DPI X server that sets no Xft.dpi (as a bare server or a desktop
without that resource): the window opens at twice its 96-DPI size, the text of its buttons is
drawn twice as tall (measured in the pixels), and no widget lies outside the window.
Arguments: the tool's binary, the source folder (OUZEL_UPDATE_SCREENSHOT=1 refreshes
docs/high-dpi.png). Every wait is bounded.
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import Failure, Tool, run, run_e2e, wait_for  # noqa: E402


def window_geometry(wid):
    out = run(["xdotool", "getwindowgeometry", "--shell", wid], text=True).stdout
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def ink_height(shot, box, origin):
    """Height in pixels of what is drawn on a button: its picture trimmed of its own colour."""
    x0, y0, x1, y1 = (int(v) for v in box)
    inset = 6  # past the rounded corners and the frame
    crop = "%dx%d+%d+%d" % (x1 - x0 - 2 * inset, y1 - y0 - 2 * inset, origin[0] + x0 + inset,
                            origin[1] + y0 + inset)
    out = run(["convert", shot, "-crop", crop, "+repage", "-fuzz", "25%", "-trim",
               "-format", "%h", "info:"], text=True).stdout
    return int(out)


def check(work, binary, src):
    with open(os.path.join(work, "ouzel.yml"), "w") as f:
        f.write('input: ""\noutput: /tmp/ouzel-out\nfrom: GBK\nto: UTF-8\n')
    env_dpi = run(["xdpyinfo"], text=True).stdout
    if "192x192 dots per inch" not in env_dpi:
        raise Failure("the X server does not say 192 DPI")
    tool = Tool(binary, work)
    x, y, w, h = window_geometry(tool.wid)
    if (w, h) != (1600, 1000):
        raise Failure("the window is %dx%d at 192 DPI, not 1600x1000" % (w, h))
    items = wait_for("the main widgets", lambda: tool.layout() if "start" in tool.layout() and
                     "log" in tool.layout() else None, 10)
    # Important: the speed is a label whose item box runs on past its text at any scale (at
    # 96 DPI too); only where its text starts can be checked.
    outside = [k for k, (x0, y0, x1, y1) in items.items()
               if x0 < 0 or y0 < 0 or x0 > w or y1 > h + 0.5 or (x1 > w + 0.5 and k != "speed")]
    if outside:
        raise Failure("widgets outside the %dx%d window: %s" % (w, h, ", ".join(outside)))
    shot = os.path.join(work, "shot.png")
    time.sleep(1)  # a few frames drawn
    wait_for("a screenshot", lambda: subprocess.run(["import", "-window", "root", shot],
                                                    timeout=30).returncode == 0, 30)
    # "Start Convert": capitals without descenders, 9 or 10 pixels at 96 DPI.
    text = ink_height(shot, items["start"], (x, y))
    if not 17 <= text <= 26:
        raise Failure("the text of Start Convert is %d pixels tall at 192 DPI" % text)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        run(["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
             os.path.join(src, "docs", "high-dpi.png")])
    tool.exit_by_menu()
    print("window %dx%d, %d widgets inside it, button text %d px" % (w, h, len(items), text))


def main():
    binary = os.path.abspath(sys.argv[1])
    src = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else ""
    if not shutil.which("xdpyinfo"):
        print("xdpyinfo is missing: run scripts/setup.sh", file=sys.stderr)
        return 1
    return run_e2e("ouzel-e2e-dpi-", lambda work: check(work, binary, src))


if __name__ == "__main__":
    sys.exit(main())
