#!/usr/bin/env python3
"""The same conversion job started from the real window and headless, interleaved, medians.

Run inside an X server:
    xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \\
        python3 bench/window_vs_headless.py BUILD_DIR [ROUNDS] [DATA_DIR] [OLD_TOOL]

Two trees, made once under DATA_DIR (default bench-data/window) and reused: an 11,000-file
source-like GBK tree (bench_headless_job --make-tree, as bench_job makes its trees) and 3,000
files that cannot be converted from GBK (two log lines each). Each round runs the job once
from the window (Start pressed through the layout file, until the log says "Convert
complete" or the report comes forward) and once with build/bench/bench_headless_job, the
order rotating, every run into a fresh output directory (removed only at the end). OLD_TOOL,
another build of the tool, has its window timed in the same rounds.

Figures: the conversion phase as the engine measures it ("Convert complete ... cost"), the
same code path in both; the wall time from the press to the job's end (the window's includes
up to a frame and a poll of delay); and the CPU time the window took meanwhile (its own thread,
the software renderer's threads and the X server), which the job's threads could not use.
"""
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from window_driver import Tool, chinese_text, run, wait_for  # noqa: E402

SETTINGS = ('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\nfilter-index: 0\n'
            "from: GBK\nto: UTF-8\n")
CLK_TCK = os.sysconf("SC_CLK_TCK")


def make_trees(build, data):
    source = os.path.join(data, "source")
    run([os.path.join(build, "bench", "bench_headless_job"), "--make-tree", source, "11000",
         "1000", "27000"], timeout=600)
    failing = os.path.join(data, "failing")
    if not os.path.exists(failing):
        unit = chinese_text()
        unit = unit[:unit.rfind(b"\n", 0, 2000) + 1]
        staging = failing + ".partial"
        shutil.rmtree(staging, ignore_errors=True)
        for i in range(3000):
            path = os.path.join(staging, "d%d" % (i % 30), "f%d.txt" % i)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(unit + b"\xff\xff not GBK\n")
        os.rename(staging, failing)
    return [("11,000-file GBK tree", source), ("3,000 files that cannot be converted", failing)]


def cpu_seconds(stat_path):
    with open(stat_path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def window_cpu(pid):
    """CPU seconds of the window's side of the tool: its first thread and the threads that
    are not its own (the software renderer's, SDL's); the job's threads are named like it."""
    total = 0.0
    for tid in os.listdir("/proc/%d/task" % pid):
        base = "/proc/%d/task/%s/" % (pid, tid)
        try:
            with open(base + "comm") as f:
                name = f.read().strip()
            if int(tid) == pid or name != "ouzeltool":
                total += cpu_seconds(base + "stat")
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended
    return total


def x_server_pid():
    """The Xvfb process of $DISPLAY, or None."""
    display = os.environ.get("DISPLAY", "")
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if args and args[0].endswith(b"Xvfb") and display.encode() in args:
            return int(entry)
    return None


def server_cpu(pid):
    return cpu_seconds("/proc/%d/stat" % pid) if pid else 0.0


def window_run(binary, tree, out):
    work = tempfile.mkdtemp(prefix="ouzel-wvh-")
    tool = None
    try:
        with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
            f.write(SETTINGS % (tree, out))
        tool = Tool(binary, work)
        x0, y0, x1, y1 = tool.wait_item("start")
        run(["xdotool", "mousemove", "--window", tool.wid, str(int((x0 + x1) / 2)),
             str(int((y0 + y1) / 2))])
        time.sleep(0.3)
        server = x_server_pid()
        cpu0 = window_cpu(tool.proc.pid) + server_cpu(server)
        t0 = time.monotonic()
        run(["xdotool", "click", "1"])

        def ended():
            items = tool.layout()
            return "report.text" in items or any(
                k.startswith("log.line:") and "Convert complete" in k for k in items)
        wait_for("the job's end", ended, 600)
        wall = time.monotonic() - t0
        ui_cpu = window_cpu(tool.proc.pid) + server_cpu(server) - cpu0
        if "report.text" in tool.layout():
            tool.select_tab("tab.log", "log")
        line = tool.wait_log("Convert complete", 10)
        convert = float(re.search(r"cost: ([0-9.]+) seconds", line).group(1))
        return convert, wall, ui_cpu
    finally:
        if tool and tool.proc.poll() is None:
            tool.proc.send_signal(signal.SIGTERM)
            tool.wait_exit(60)
        shutil.rmtree(work, ignore_errors=True)


def headless_run(program, tree, out):
    text = run([program, tree, out, "GBK", "UTF-8"], timeout=600, text=True).stdout
    values = dict(zip(text.split()[0::2], text.split()[1::2]))
    return float(values["convert"]), float(values["wall"]), 0.0


def summary(name, rounds, results):
    print("%s, %d rounds (busy shared machine: indicative)" % (name, rounds))
    for kind, runs in results.items():
        convert, wall, window = (statistics.median(v[i] for v in runs) for i in range(3))
        extra = ", window and X server CPU %.3f s" % window if kind != "headless" else ""
        print("  %-10s median convert %7.3f s  wall %7.3f s%s" % (kind, convert, wall, extra))
        print("             converts: %s" % " ".join("%.3f" % v[0] for v in runs))
    # Each round's runs came one after the other: their ratio cancels the machine's drift.
    base = results["headless"]
    for kind, runs in results.items():
        if kind == "headless":
            continue
        convert = statistics.median(a[0] / b[0] for a, b in zip(runs, base))
        wall = statistics.median(a[1] / b[1] for a, b in zip(runs, base))
        print("  %s / headless, median of the rounds' ratios: convert %.3fx, wall %.3fx" % (
            kind, convert, wall))
    print()
    sys.stdout.flush()


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    data = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else "bench-data/window")
    windows = {"window": os.path.join(build, "ouzeltool")}
    if len(sys.argv) > 4:
        windows["old window"] = os.path.abspath(sys.argv[4])
    program = os.path.join(build, "bench", "bench_headless_job")
    os.makedirs(data, exist_ok=True)
    trees = make_trees(build, data)
    outputs = tempfile.mkdtemp(prefix="out-", dir=data)
    serial = [0]

    def fresh():
        serial[0] += 1
        return os.path.join(outputs, "run%d" % serial[0])
    try:
        for name, tree in trees:
            headless_run(program, tree, fresh())  # warms the page cache, untimed
            kinds = list(windows) + ["headless"]
            results = {k: [] for k in kinds}
            for r in range(rounds):
                for kind in kinds[r % len(kinds):] + kinds[:r % len(kinds)]:
                    if kind == "headless":
                        results[kind].append(headless_run(program, tree, fresh()))
                    else:
                        results[kind].append(window_run(windows[kind], tree, fresh()))
            summary(name, rounds, results)
    finally:
        shutil.rmtree(outputs, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
