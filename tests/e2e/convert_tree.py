#!/usr/bin/env python3
"""The whole tool as a person uses it: real window under Xvfb, driven with xdotool.

Run inside an X server (xvfb-run). Arguments: the tool's binary, the source tree (where
docs/using.png, docs/chooser.png and docs/undo.png are written when OUZEL_UPDATE_SCREENSHOT=1).
Every wait is bounded.
"""
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import Failure, Tool, chinese_text, iconv, run, run_e2e, wait_for  # noqa: E402

# Names in scripts the first font lacks (or has), each beside a name of as many "?" as it has
# characters: drawn without their glyphs, the two would look the same.
NAMED_PAIRS = [("中文说明", "????", ".cpp"), ("日本語", "???", ".h"), ("한국어", "???", ".cpp"),
               ("русский", "???????", ".cpp")]


BROKEN = "names/损坏.cpp"  # not GBK: added for a second run, whose report lists it first


def make_tree(root, gbk):
    """Matching files at three depths, plus files the run must leave alone."""
    files = {
        "a.cpp": gbk[:4000],
        "sub/b.h": gbk[:9000],
        "sub/deeper/c.cpp": gbk,
        "notes.txt": gbk[:100],         # does not match the filter
        ".hidden.cpp": gbk[:100],       # hidden file
        ".cache/d.cpp": gbk[:100],      # in a hidden directory
    }
    # Text from the body of the page (its first lines are ASCII markup), starting at a line,
    # so the named files are converted and their log lines stay in view.
    body = gbk.index(b"\n", 2000) + 1
    for name, question_marks, ext in NAMED_PAIRS:
        files["names/" + name + ext] = gbk[body:body + 300]
        files["names/" + question_marks + ext] = gbk[body:body + 300]
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # Cut at a line end so no GBK character is split.
        cut = data.rfind(b"\n")
        with open(path, "wb") as f:
            f.write(data[:cut + 1] if cut >= 0 else data)
    named = [os.path.join("names", n + e) for pair in NAMED_PAIRS for n, e in
             ((pair[0], pair[2]), (pair[1], pair[2]))]
    return ["a.cpp", "sub/b.h", "sub/deeper/c.cpp"] + named, ["notes.txt", ".hidden.cpp", ".cache"]


def gray_crop(image, box):
    """The pixels of `box` (x0, y0, x1, y1) of a PNG file, 8-bit grey, row by row."""
    x0, y0, x1, y1 = (int(round(v)) for v in box)
    geometry = "%dx%d+%d+%d" % (x1 - x0, y1 - y0, x0, y0)
    return run(["convert", image, "-crop", geometry, "+repage", "-depth", "8", "gray:-"]).stdout


def check_name_glyphs(tool, shot):
    """Each name's pixels in the log differ from those of its "?" twin, and are not blank."""
    for name, question_marks, ext in NAMED_PAIRS:
        line_a = tool.log_line("Processing file: " + name + ext)
        line_b = tool.log_line("Processing file: " + question_marks + ext)
        text_b, box_b = line_b
        char_w = (box_b[2] - box_b[0]) / len(text_b)  # the twin's line is ASCII: one width
        start = (len(text_b) - len(question_marks + ext)) * char_w
        width = len(question_marks) * char_w
        crops = []
        for _, box in (line_a, line_b):
            crops.append(gray_crop(shot, (box[0] + start, box[1], box[0] + start + width,
                                          box[3])))
        if crops[0] == crops[1]:
            raise Failure(name + " is drawn like " + question_marks)
        if max(crops[0]) - min(crops[0]) < 64:
            raise Failure(name + " is drawn blank")


def undo_in_place(tool, work, in_dir, wanted):
    """Converts the tree in place, changes one file, then File > Undo Last Conversion: the
    confirmation names that file, Undo puts every other one back byte for byte. Returns the
    confirmation's screenshot."""
    def read(rel):
        with open(os.path.join(in_dir, rel), "rb") as f:
            return f.read()
    originals = {rel: read(rel) for rel in wanted}
    tool.type_into("output_dir", in_dir)
    tool.click("start")
    wait_for("the tree converted in place", lambda: all(
        read(rel) == iconv(originals[rel], "GBK", "UTF-8") for rel in wanted), 60)
    changed = wanted[-1]  # in names/, which the report's text filter keeps
    with open(os.path.join(in_dir, changed), "wb") as f:
        f.write(b"mine\n")

    def confirmation():
        # The item is greyed until the worker is idle again, a moment after the run's last line.
        tool.click("menu_file")
        tool.click("undo_last")
        try:
            tool.wait_item("undo.dialog", timeout=3)
            return True
        except Failure:
            run(["xdotool", "key", "--window", tool.wid, "Escape"])
            return False
    wait_for("the undo's confirmation", confirmation, 30)
    tool.wait_item("undo.row:" + changed)
    time.sleep(0.3)
    shot = os.path.join(work, "undo.png")
    tool.screenshot(shot)
    tool.click("undo.confirm")
    tool.wait_gone("undo.dialog")
    wait_for("the tree back as it was", lambda: all(
        read(rel) == (b"mine\n" if rel == changed else originals[rel]) for rel in wanted), 30)
    # The file changed since is not back: the report comes forward with it first.
    wait_for("the changed file first in the report", lambda: tool.report_rows()[:1] == [changed],
             10)
    tool.select_tab("tab.log", "clear_log")
    tool.wait_log("Undo complete: %d of %d files" % (len(wanted) - 1, len(wanted)))
    if not os.path.isdir(os.path.join(in_dir, ".ouzel-undo")):
        raise Failure("the run with a file changed since is no longer kept")
    return shot


def check(work, binary, source_dir):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out dir")
    wanted, unwanted = make_tree(in_dir, chinese_text())
    # The settings name the input tree in an untidy spelling that the chooser replaces;
    # everything else is chosen in the window.
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s/./in/"\noutput: ""\nfilters:\n'
                '  - "*.xml;*.json"\n  - "*.cpp;*.h"\n  - "*.*"\n'
                "filter-index: 0\nfrom: UTF-8\nto: GBK\nkept-key: kept\n" % work)

    tool = Tool(binary, work)
    # The chooser starts in the working directory: enter "in", confirm.
    tool.click("choose_input")
    tool.click("dialog.entry.in")
    tool.wait_item("dialog.entry.sub")
    tool.click("dialog.ok")
    tool.wait_gone("dialog.ok")
    tool.type_into("output_dir", out_dir)
    tool.choose("filter", "*.cpp;*.h")
    tool.pick_encoding("from", "gbk", "GBK")
    chooser_shot = os.path.join(work, "chooser.png")
    tool.pick_encoding("to", "utf", "UTF-8", key=False, shot=chooser_shot)
    tool.click("start")

    def converted():
        for rel in wanted:
            target = os.path.join(out_dir, rel)
            if not os.path.exists(target):
                return False
            with open(os.path.join(in_dir, rel), "rb") as f:
                expected = iconv(f.read(), "GBK", "UTF-8")
            with open(target, "rb") as f:
                if f.read() != expected:
                    return False
        return True
    wait_for("every output byte-identical to iconv's", converted, 60)
    for rel in unwanted:
        if os.path.exists(os.path.join(out_dir, rel)):
            raise Failure(rel + " was written")

    # The names' glyphs are added between frames once the log shows them.
    def names_shown():
        lines = [k for k in tool.layout() if k.startswith("log.line:")]
        return all(any(k.endswith(": " + n + e) for k in lines)
                   for pair in NAMED_PAIRS for n, e in ((pair[0], pair[2]), (pair[1], pair[2])))
    wait_for("every name in the log", names_shown, 20)
    boxes = {}

    def wider():
        # Important: the whole name, "???????.cpp" (Russian) also ends in "????.cpp", and
        # the threads log the files in any order.
        boxes["ideographs"] = tool.log_line("Processing file: 中文说明.cpp")
        boxes["question marks"] = tool.log_line("Processing file: ????.cpp")
        return boxes["ideographs"][1][2] > boxes["question marks"][1][2]
    try:
        wait_for("the wider ideographs", wider, 10)
    except Failure as e:
        # What was drawn, to tell a missing glyph from a line that moved or went away.
        raise Failure("%s: %s" % (e, boxes)) from e
    time.sleep(0.3)
    shot = os.path.join(work, "log.png")
    tool.screenshot(shot)
    check_name_glyphs(tool, shot)
    # Run again with a file that is not GBK: the report comes forward, that file first,
    # and its text filter narrows it to the named files.
    with open(os.path.join(in_dir, BROKEN), "wb") as f:
        f.write(b"GBK? \xff\xff\xff\n")
    tool.click("start")
    wait_for("the report", lambda: tool.report_rows()[:1] == [BROKEN], 60)
    tool.type_into("report.text", "NAMES/")
    named = [BROKEN] + sorted("names/" + n + e for pair in NAMED_PAIRS
                              for n, e in ((pair[0], pair[2]), (pair[1], pair[2])))
    wait_for("the report's named files", lambda: (
        tool.report_rows()[:1] + sorted(tool.report_rows()[1:]) == named), 10)
    time.sleep(0.3)
    shot = os.path.join(work, "using.png")
    tool.screenshot(shot)
    undo_shot = undo_in_place(tool, work, in_dir, wanted)
    tool.type_into("output_dir", out_dir)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        os.makedirs(os.path.join(source_dir, "docs"), exist_ok=True)
        shutil.copyfile(shot, os.path.join(source_dir, "docs", "using.png"))
        shutil.copyfile(chooser_shot, os.path.join(source_dir, "docs", "chooser.png"))
        shutil.copyfile(undo_shot, os.path.join(source_dir, "docs", "undo.png"))

    tool.exit_by_menu()

    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        saved = f.read()
    for key, value in (("input", in_dir), ("output", out_dir), ("filter-index", "1"), ("from", "GBK"),
                       ("to", "UTF-8"), ("kept-key", "kept")):
        if not re.search(r"^%s: \"?%s\"?$" % (key, re.escape(value)), saved, re.M):
            raise Failure("saved settings lack %s: %s\n%s" % (key, value, saved))


def main():
    binary, source_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    return run_e2e("ouzel-e2e-", lambda work: check(work, binary, source_dir))


if __name__ == "__main__":
    sys.exit(main())
