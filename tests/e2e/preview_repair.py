#!/usr/bin/env python3
"""Repair in the real window under Xvfb, driven with xdotool.

A tree with a double-encoded French file (its UTF-8 once read as CP1252 and saved again), a
Chinese file whose lines are alternately GBK and UTF-8, and a plain GBK file; GBK to UTF-8.
The preview must list the first two under "Needs a look" as double-encoded and mixed, each
sample showing the text now and after the repair. Ticking only the double-encoded row must
write exactly its original and leave the mixed file as it was read; in a second window,
ticking "Repair double-encoded files" must write exactly both originals and be saved on exit.
Arguments: the tool's binary, the source tree (where docs/repair-preview.png is written when
OUZEL_UPDATE_SCREENSHOT=1). Every wait is bounded.
"""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, chinese_text, iconv, probe_rows, run, run_e2e,  # noqa: E402
                           wait_for, wait_outputs)

DOUBLE = "notes/résumé.txt"
MIXED = "src/混合.txt"
PLAIN = "src/说明.txt"
FRENCH = ("Crème brûlée\n"
          "Le café de la gare est très bon, à côté de la forêt.\n"
          "Voilà pourquoi le père est déjà prêt à partir, à pied.\n"
          "Ça ne coûte que deux euros ; c'est économique.\n")
FRENCH_UTF8 = FRENCH.encode("utf-8")
# What a tool that read the UTF-8 bytes as CP1252 wrote out again: "Ã©" for "é".
FRENCH_BROKEN = FRENCH_UTF8.decode("cp1252").encode("utf-8")


def chinese_lines(count):
    """`count` lines of real Chinese text (GBK) of a manual page's prose: each with several
    characters beyond ASCII, short enough for the sample cell to show before and after."""
    lines = []
    for raw in chinese_text().split(b"\n"):
        text = raw.decode("gbk").strip()
        if text.startswith(".") or "\\" in text:
            continue  # a troff request or escape
        if 6 <= sum(1 for c in text if ord(c) > 0x2E80) <= 14 and text not in lines:
            lines.append(text)
        if len(lines) == count:
            return lines
    raise Failure("the Chinese text has fewer than %d lines to mix" % count)


def make_tree(in_dir):
    """{path: (source bytes, exact repair)} of the files written under `in_dir`."""
    lines = chinese_lines(8)
    # Even lines as the old editor wrote them (GBK), odd ones as a newer one (UTF-8).
    mixed = b"".join((l + "\n").encode("utf-8" if i % 2 else "gbk") for i, l in enumerate(lines))
    mixed_utf8 = "".join(l + "\n" for l in lines).encode("utf-8")
    plain = "".join(l + "\n" for l in reversed(lines)).encode("gbk")
    files = {DOUBLE: (FRENCH_BROKEN, FRENCH_UTF8), MIXED: (mixed, mixed_utf8),
             PLAIN: (plain, iconv(plain, "GBK", "UTF-8"))}
    for rel, (data, _) in files.items():
        os.makedirs(os.path.dirname(os.path.join(in_dir, rel)), exist_ok=True)
        with open(os.path.join(in_dir, rel), "wb") as f:
            f.write(data)
    return files, lines


def write_settings(work, in_dir, out_dir):
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\n" % (in_dir, out_dir))


def check_preview(tool, lines):
    tool.click("preview")
    wait_for("the three preview rows", lambda: len(probe_rows(tool, "preview.row:")) == 3, 60)
    tool.click("preview.look")
    rows = wait_for("the rows that need a look", lambda: (
        probe_rows(tool, "preview.row:") if len(probe_rows(tool, "preview.row:")) == 2
        else None), 10)
    if rows.get(DOUBLE, "").split("|")[-1] != "double-encoded" or \
            rows.get(MIXED, "").split("|")[-1] != "mixed":
        raise Failure("needs a look: %r, expected %s double-encoded and %s mixed" %
                      (rows, DOUBLE, MIXED))
    samples = probe_rows(tool, "preview.sample:")
    # Now, then after: the misreading and the text it came from.
    expected = {DOUBLE: ("CrÃ¨me", "Crème"), MIXED: (None, lines[1])}
    for rel, (now, after) in expected.items():
        sample = samples.get(rel, "")
        if " \u2192 " not in sample:
            raise Failure("the sample of %s shows no repair: %r" % (rel, sample))
        before, repaired = sample.split(" \u2192 ", 1)
        # A UTF-8 line of the mixed file shows as a GBK reading garbles it.
        now_shown = now in before if now else before.strip() and after not in before
        if not now_shown or after not in repaired:
            raise Failure("the sample of %s is %r, expected %r before and %r after" %
                          (rel, sample, now, after))


def per_row(work, binary, in_dir, files, lines, source_dir):
    out_dir = os.path.join(work, "out-row")
    write_settings(work, in_dir, out_dir)
    tool = Tool(binary, work)
    check_preview(tool, lines)
    # The pointer on the double-encoded row: its tooltip shows the whole text now and after.
    x0, y0, x1, y1 = tool.layout()[next(k for k in tool.layout()
                                        if k.startswith("preview.row:" + DOUBLE))]
    run(["xdotool", "mousemove", "--window", tool.wid, str(int((x0 + x1) / 2)),
         str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "3"])
    time.sleep(1.0)  # the tooltip's delay
    shot = os.path.join(work, "repair-preview.png")
    tool.screenshot(shot)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        os.makedirs(os.path.join(source_dir, "docs"), exist_ok=True)
        shutil.copyfile(shot, os.path.join(source_dir, "docs", "repair-preview.png"))
    # Only the double-encoded row is told to repair: the mixed file stays as it was read.
    tool.click("preview.repair:" + DOUBLE)
    tool.click("start")
    wait_outputs(out_dir, {DOUBLE: files[DOUBLE][1], MIXED: files[MIXED][0],
                           PLAIN: files[PLAIN][1]}, "the row's repair alone")
    # The file left alone brings the report forward.
    tool.wait_item("report.row:" + MIXED, 30)
    tool.select_tab("tab.log", "clear_log")
    tool.wait_log("Convert complete, total: 3")
    tool.exit_by_menu()


def whole_run(work, binary, in_dir, files):
    out_dir = os.path.join(work, "out-run")
    write_settings(work, in_dir, out_dir)
    tool = Tool(binary, work)
    tool.click("repair")
    tool.click("start")
    wait_outputs(out_dir, {rel: repaired for rel, (_, repaired) in files.items()},
                 "every file repaired exactly")
    tool.wait_log("Convert complete, total: 3")
    tool.exit_by_menu()
    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        if "repair: true" not in f.read():
            raise Failure("the ticked box was not saved as repair: true")


def check(work, binary, source_dir):
    in_dir = os.path.join(work, "in")
    files, lines = make_tree(in_dir)
    per_row(work, binary, in_dir, files, lines, source_dir)
    whole_run(work, binary, in_dir, files)
    for rel, (data, _) in files.items():
        with open(os.path.join(in_dir, rel), "rb") as f:
            if f.read() != data:
                raise Failure("the source %s was changed" % rel)


def main():
    binary = os.path.abspath(sys.argv[1])
    source_dir = sys.argv[2] if len(sys.argv) > 2 else os.getcwd()
    return run_e2e("ouzel-e2e-repair-", lambda work: check(work, binary, source_dir))


if __name__ == "__main__":
    sys.exit(main())
