#!/usr/bin/env python3
"""Rules per pattern in the real window under Xvfb, driven with xdotool.

A tree of CRLF GBK sources; the run writes UTF-8 with LF, and a rule typed into the Rules tab
sends "*.cpp;*.h" to UTF-8 with a mark and CRLF. The preview must name the rule on each C++
file and nothing on the others; after "Start Convert" every output must equal iconv's text
with the line ends and mark asked for, byte for byte; Exit saves the rule. Arguments: the
tool's binary, the source tree (where docs/rules.png and docs/preview_rules.png are written
when OUZEL_UPDATE_SCREENSHOT=1). Every wait is bounded.
"""
import os
import shutil
import sys
import re
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, chinese_text, iconv, probe_rows, run,  # noqa: E402
                           run_e2e, wait_for, wait_outputs)

RULE = "rule 1: *.cpp;*.h"
BOM = b"\xef\xbb\xbf"


def crlf_lines(data, start, count):
    """`count` lines of `data` with Chinese in them from the `start`th, with CRLF ends."""
    lines = [line for line in data.split(b"\n") if max(line, default=0) > 127]
    lines = lines[start:start + count]
    return b"".join(line.rstrip(b"\r") + b"\r\n" for line in lines)


def make_tree(root):
    gbk = chinese_text()
    files = {
        "src/读取配置.cpp": b"// " + crlf_lines(gbk, 0, 6) + b"int main() { return 0; }\r\n",
        "src/config.h": b"/* " + crlf_lines(gbk, 10, 4) + b"*/\r\n",
        "src/main.c": b"// " + crlf_lines(gbk, 20, 3),
        "docs/说明.txt": crlf_lines(gbk, 5, 12),
        "build.sh": b"#!/bin/sh\r\n# " + crlf_lines(gbk, 30, 2),
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


def expected_output(rel, data):
    utf8 = iconv(data, "GBK", "UTF-8")
    if rel.endswith((".cpp", ".h")):
        return BOM + utf8
    return utf8.replace(b"\r\n", b"\n")


def shoot(tool, work, source_dir, name):
    time.sleep(0.5)  # the cursor and hover settle
    shot = os.path.join(work, name)
    tool.screenshot(shot)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        os.makedirs(os.path.join(source_dir, "docs"), exist_ok=True)
        shutil.copyfile(shot, os.path.join(source_dir, "docs", name))


def add_rule(tool):
    tool.click("progress")  # the window learns where the pointer is
    tool.select_tab("tab.rules", "rules.add")
    tool.click("rules.add")
    tool.type_into("rules.filter:1", "*.cpp;*.h")
    tool.pick_encoding("rules.to:1", "with bom", "UTF-8 with BOM")
    # A short list that fits: clicked once it has settled (its first frame sizes it).
    tool.click("rules.eol:1")
    tool.wait_item("rules.eol:1:CRLF")
    time.sleep(0.3)
    tool.click("rules.eol:1:CRLF")
    tool.wait_gone("rules.eol:1_popup")


def check(work, binary, source_dir):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    files = make_tree(in_dir)
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\neol: lf\n" % (in_dir, out_dir))

    tool = Tool(binary, work)
    add_rule(tool)
    shoot(tool, work, source_dir, "rules.png")

    tool.click("preview")
    tool.select_tab("tab.preview", "preview.text")
    rows = wait_for("the preview's rule cells", lambda: (
        probe_rows(tool, "preview.rule:") if len(probe_rows(tool, "preview.rule:")) == len(files)
        else None), 60)
    for rel in files:
        want = "%s|UTF-8 with BOM" % RULE if rel.endswith((".cpp", ".h")) else "|UTF-8"
        if rows.get(rel) != want:
            raise Failure("%s: the preview shows %r, expected %r" % (rel, rows.get(rel), want))
    if os.path.exists(out_dir):
        raise Failure("the preview wrote " + out_dir)
    # The table paged right to its last columns by clicks on its scroll bar's track (the path
    # stays), then the pointer on nothing that lights up.
    x0, y0, x1, y1 = tool.wait_item("preview.text")
    track_y = int(run(["xdotool", "getwindowgeometry", tool.wid]).stdout.decode().split(
        "Geometry: ")[1].split("x")[1]) - 14
    for _ in range(4):
        run(["xdotool", "mousemove", "--window", tool.wid, str(int(x1 + 60)), str(track_y),
             "sleep", "0.1", "click", "1", "sleep", "0.2"])
    tool.click("progress")
    shoot(tool, work, source_dir, "preview_rules.png")

    tool.click("start")
    wait_outputs(out_dir, {rel: expected_output(rel, data) for rel, data in files.items()},
                 "every output as the rule or the run asks, byte for byte")
    tool.wait_log("Convert complete, total: %d" % len(files))

    tool.exit_by_menu()
    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        saved = f.read()
    rule = r'rules:\n  - filter: "\*\.cpp;\*\.h"\n    to: UTF-8 with BOM\n    eol: crlf\n?$'
    if not re.search(rule, saved) or not re.search(r"^eol: lf$", saved, re.M):
        raise Failure("saved settings lack the rule or eol: lf\n" + saved)


def main():
    binary, source_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    return run_e2e("ouzel-e2e-rules-", lambda work: check(work, binary, source_dir))


if __name__ == "__main__":
    sys.exit(main())
