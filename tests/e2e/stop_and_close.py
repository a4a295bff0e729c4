#!/usr/bin/env python3
"""Stopping a long job and closing the window during one, in the real window under Xvfb.

Arguments: the tool's binary. Four GBK files of about 100 MB each, converted into UTF-16LE
(which the C library's converter does, not the faster table into UTF-8), make a job that runs
for about a second. Three runs, each into a fresh output directory: "Stop" (the log says how many files
were done, exactly those are written, whole, and the report lists the rest first); the close
button (the window stays with its notice until the files in progress are written, the settings
are saved, exit code 0); SIGTERM (the same, and nothing saved). Every wait is bounded.
"""
import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import Failure, Tool, chinese_text, iconv, run_e2e, wait_for  # noqa: E402

FILES = 4
FILE_BYTES = 100 << 20
SETTINGS = ('# the first save drops this line\nversion: 3.0\ninput: "%s"\noutput: "%s"\n'
            'filters:\n  - "*.*"\nfilter-index: 0\nfrom: GBK\nto: UTF-16LE\n')
TARGET = "UTF-16LE"


def make_tree(root):
    """FILES files of whole copies of one GBK text; returns the name -> expected output."""
    unit = chinese_text()
    unit = unit[:unit.rfind(b"\n") + 1]  # whole lines, so no character is split
    copies = FILE_BYTES // len(unit)
    expected_unit = iconv(unit, "GBK", TARGET)
    expected = {}
    for i in range(FILES):
        name = "part%d/big%d.txt" % (i % 2, i)
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(unit * copies)
        expected[name] = (expected_unit, copies)
    return expected


def written_files(out_dir):
    found = []
    for top, _, names in os.walk(out_dir):
        found += [os.path.relpath(os.path.join(top, n), out_dir) for n in names]
    return sorted(found)


def check_outputs(out_dir, expected):
    """Every file in the output is a whole conversion of its source; nothing else is there
    (no temporary file). Returns the names written."""
    found = written_files(out_dir)
    for name in found:
        if name not in expected:
            raise Failure("unexpected file in the output: " + name)
        unit, copies = expected[name]
        path = os.path.join(out_dir, name)
        if os.path.getsize(path) != len(unit) * copies:
            raise Failure("%s is cut: %d bytes of %d" % (name, os.path.getsize(path),
                                                         len(unit) * copies))
        with open(path, "rb") as f:
            if f.read() != unit * copies:
                raise Failure(name + " differs from iconv's conversion")
    return found


def start_job(work, in_dir, out_dir, binary):
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write(SETTINGS % (in_dir, out_dir))
    tool = Tool(binary, work)
    tool.click("start")
    tool.wait_log("Search complete", 60)  # the files are being converted now
    return tool


def wait_closing_window(tool):
    """The notice is up and the window still exists while the job finishes its files."""
    tool.wait_item("closing", 20)
    if os.environ.get("OUZEL_CLOSING_SHOT"):  # a picture of the notice, to look at
        time.sleep(0.2)  # an auto-sized window is measured in its first frame, shown after
        tool.screenshot(os.environ["OUZEL_CLOSING_SHOT"])
    if not tool.find_window():
        raise Failure("the window vanished while the job was finishing")
    code = tool.wait_exit(120)
    if code != 0:
        raise Failure("exit code %d" % code)


def run_stop(work, in_dir, expected, binary):
    out_dir = os.path.join(work, "out-stop")
    tool = start_job(work, in_dir, out_dir, binary)
    tool.click("stop")
    line = tool.wait_log("Conversion stopped after ", 120)
    done, total = (int(v) for v in re.search(r"after (\d+) of (\d+) files", line).groups())
    if total != FILES or done >= FILES:
        raise Failure("stopped after %d of %d files" % (done, total))
    found = check_outputs(out_dir, expected)
    if len(found) != done:
        raise Failure("%d files written, the log says %d" % (len(found), done))
    # A stopped job does not bring its report forward; there the files not reached come first.
    tool.select_tab("tab.report", "report.text")
    missing = sorted(set(expected) - set(found))
    wait_for("the report's rows", lambda: len(tool.report_rows()) == FILES, 10)
    if sorted(tool.report_rows()[:len(missing)]) != missing:
        raise Failure("the report does not start with the files not reached: %s" %
                      tool.report_rows())
    tool.click("menu_file")
    tool.click("exit")
    if tool.wait_exit() != 0:
        raise Failure("exit code after Exit")
    return "stop after %d of %d files" % (done, total)


def run_close(work, in_dir, expected, binary, how):
    out_dir = os.path.join(work, "out-" + how)
    tool = start_job(work, in_dir, out_dir, binary)
    if how == "close":
        tool.click("close")
    else:
        tool.proc.send_signal(signal.SIGTERM)
    wait_closing_window(tool)
    found = check_outputs(out_dir, expected)
    if len(found) >= FILES:
        raise Failure("the job was not stopped: every file was written")
    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        saved = not f.read().startswith("# the first save")
    if saved != (how == "close"):
        raise Failure("settings %s after %s" % ("saved" if saved else "not saved", how))
    return "%s with %d of %d files written" % (how, len(found), FILES)


def check(work, binary):
    in_dir = os.path.join(work, "in")
    expected = make_tree(in_dir)
    results = [run_stop(work, in_dir, expected, binary),
               run_close(work, in_dir, expected, binary, "close"),
               run_close(work, in_dir, expected, binary, "sigterm")]
    print("e2e stop and close: " + "; ".join(results))


def main():
    binary = os.path.abspath(sys.argv[1])
    return run_e2e("ouzel-e2e-stop-", lambda work: check(work, binary))


if __name__ == "__main__":
    sys.exit(main())
