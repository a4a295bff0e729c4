#!/usr/bin/env python3
"""Following .editorconfig in the real window under Xvfb, driven with xdotool.

A tree of CRLF GBK files under an .editorconfig (UTF-8 with LF for every file, CRLF for C++
sources, UTF-16LE under win/); the run's own settings say UTF-8 and keep. "Follow .editorconfig"
is ticked on the Rules tab; the preview must name the .editorconfig on each file with its
target, "Start Convert" must write every output as its section says, byte for byte, and Exit
must save editorconfig: true. Arguments: the tool's binary. Every wait is bounded.
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, chinese_text, iconv, probe_rows,  # noqa: E402
                           run_e2e, wait_for, wait_outputs)

EDITORCONFIG = (b"root = true\n[*]\ncharset = utf-8\nend_of_line = lf\n"
                b"[*.cpp]\nend_of_line = crlf\n[win/**]\ncharset = utf-16le\n")
LABELS = {
    "src/a.cpp": ".editorconfig: charset=utf-8, end_of_line=crlf|UTF-8",
    "docs/说明.txt": ".editorconfig: charset=utf-8, end_of_line=lf|UTF-8",
    "win/w.txt": ".editorconfig: charset=utf-16le, end_of_line=lf|UTF-16LE",
}


def make_tree(root):
    lines = [line for line in chinese_text().split(b"\n") if max(line, default=0) > 127]
    files = {rel: b"".join(l.rstrip(b"\r") + b"\r\n" for l in lines[i * 3:i * 3 + 3])
             for i, rel in enumerate(LABELS)}
    for rel, data in list(files.items()) + [(".editorconfig", EDITORCONFIG)]:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return files


def expected_output(rel, data):
    utf8 = iconv(data, "GBK", "UTF-8")
    if rel.endswith(".cpp"):
        return utf8
    text = utf8.replace(b"\r\n", b"\n")
    return iconv(text, "UTF-8", "UTF-16LE") if rel.startswith("win/") else text


def check(work, binary):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    files = make_tree(in_dir)
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\n" % (in_dir, out_dir))
    tool = Tool(binary, work)
    tool.click("progress")  # the window learns where the pointer is
    tool.select_tab("tab.rules", "editorconfig")
    tool.click("editorconfig")
    tool.click("preview")
    tool.select_tab("tab.preview", "preview.text")
    rows = wait_for("the preview's rule cells", lambda: (
        probe_rows(tool, "preview.rule:") if len(probe_rows(tool, "preview.rule:")) == len(files)
        else None), 60)
    for rel, want in LABELS.items():
        if rows.get(rel) != want:
            raise Failure("%s: the preview shows %r, expected %r" % (rel, rows.get(rel), want))
    tool.click("start")
    wait_outputs(out_dir, {rel: expected_output(rel, data) for rel, data in files.items()},
                 "every output as its .editorconfig asks, byte for byte")
    tool.wait_log("Convert complete, total: %d" % len(files))
    tool.exit_by_menu()
    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        saved = f.read()
    if not re.search(r"^editorconfig: true$", saved, re.M):
        raise Failure("saved settings lack editorconfig: true\n" + saved)


def main():
    binary = os.path.abspath(sys.argv[1])
    return run_e2e("ouzel-e2e-editorconfig-", lambda work: check(work, binary))


if __name__ == "__main__":
    sys.exit(main())
