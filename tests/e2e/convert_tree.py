#!/usr/bin/env python3
"""The whole tool as a person uses it: real window under Xvfb, driven with xdotool.

Run inside an X server (xvfb-run). Arguments: the tool's binary, the source tree (where
docs/using.png and docs/chooser.png are written when OUZEL_UPDATE_SCREENSHOT=1). Every wait
is bounded.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TITLE = "varnel Encoding Convert Tool v3.0"
FALLBACK_TEXT = ("字符编码转换工具把源代码和文档从一种编码转换为另一种编码。\n"
                 "中华人民共和国，简体中文的文本文件。\n")


class Failure(Exception):
    pass


def run(cmd, timeout=20, **kw):
    return subprocess.run(cmd, check=True, timeout=timeout, capture_output=True, **kw)


def iconv(data, src, dst):
    return run(["iconv", "-f", src, "-t", dst], input=data).stdout


def chinese_text():
    """Simplified Chinese from a manual page of manpages-zh, or a fixed paragraph."""
    page = "/usr/share/man/zh_CN/man1/ls.1.gz"
    if os.path.exists(page):
        text = run(["zcat", page]).stdout
        # -c drops the few characters GBK lacks, so the source is valid GBK whatever the page.
        return run(["iconv", "-c", "-f", "UTF-8", "-t", "GBK"], input=text).stdout
    return iconv(FALLBACK_TEXT.encode(), "UTF-8", "GBK")


def wait_for(what, predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


class Tool:
    """The running tool: its window, and its widgets from the layout file it writes."""

    def __init__(self, binary, workdir):
        self.layout_path = os.path.join(workdir, "layout.tsv")
        env = dict(os.environ, OUZEL_PROBE_FILE=self.layout_path)
        self.proc = subprocess.Popen([binary], cwd=workdir, env=env)
        wait_for("the first layout", lambda: "start" in self.layout(), 30)
        self.wid = wait_for("the window", self.find_window, 10)
        run(["xdotool", "windowfocus", "--sync", self.wid])

    def find_window(self):
        r = subprocess.run(["xdotool", "search", "--name", TITLE], capture_output=True,
                           timeout=10, text=True)
        ids = r.stdout.split()
        return ids[0] if ids else None

    def layout(self):
        items = {}
        try:
            with open(self.layout_path, encoding="utf-8") as f:
                for line in f:
                    name, *box = line.rstrip("\n").split("\t")
                    items[name] = tuple(float(v) for v in box)
        except FileNotFoundError:
            pass
        return items

    def wait_item(self, name, timeout=10):
        return wait_for("widget " + name, lambda: self.layout().get(name), timeout)

    def wait_gone(self, name, timeout=10):
        wait_for(name + " to close", lambda: name not in self.layout(), timeout)

    def click(self, name):
        x0, y0, x1, y1 = self.wait_item(name)
        run(["xdotool", "mousemove", "--window", self.wid, str(int((x0 + x1) / 2)),
             str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "1"])

    def jump_near(self, item, popup):
        """Clicks the list's scrollbar where `item` sits in proportion, as a person would."""
        items = self.layout()
        prefix = item.split(":", 1)[0] + ":"
        boxes = [b for k, b in items.items() if k.startswith(prefix)]
        box, view = items[item], items[popup]
        top, bottom = min(b[1] for b in boxes), max(b[3] for b in boxes)
        if bottom - top <= 2 * (view[3] - view[1]):
            return  # a short list: the wheel is quicker
        f = ((box[1] + box[3]) / 2 - top) / (bottom - top)
        x, y = view[2] - 4, view[1] + f * (view[3] - view[1])
        run(["xdotool", "mousemove", "--window", self.wid, str(int(x)), str(int(y)),
             "sleep", "0.1", "click", "1"])
        wait_for("the list to jump", lambda: self.layout() != items, 5)

    def wheel_until_visible(self, item, popup, limit=100):
        """Scrolls an open list with the wheel until `item` lies wholly inside it."""
        if item in self.layout():
            self.jump_near(item, popup)
        for _ in range(limit):
            items = self.layout()
            box, view = items.get(item), items.get(popup)
            if box is None or view is None:
                raise Failure(item + " is not in the open list")
            if box[1] >= view[1] + 2 and box[3] <= view[3] - 2:
                return
            before = items
            button = "5" if box[3] > view[3] - 2 else "4"  # 5 scrolls down
            x, y = (view[0] + view[2]) / 2, (view[1] + view[3]) / 2
            run(["xdotool", "mousemove", "--window", self.wid, str(int(x)), str(int(y)),
                 "click", button])
            wait_for("the list to scroll", lambda: self.layout() != before, 5)
        raise Failure("could not scroll to " + item)

    def choose(self, combo, item):
        self.click(combo)
        popup = combo + "_popup"
        self.wait_item(popup)
        full = combo + ":" + item
        self.wheel_until_visible(full, popup)
        self.click(full)
        self.wait_gone(popup)

    def pick_encoding(self, combo, typed, name, key=True, shot=None):
        """Opens an encoding list and types a filter (the field has the keyboard at once);
        once `name` is the first match, picks it with Enter, or with a click. `shot`: a
        screenshot of the filtered list is taken there."""
        self.click(combo)
        self.wait_item(combo + "_popup")
        run(["xdotool", "type", "--delay", "30", typed], timeout=30)

        def first_item():
            items = self.layout()
            rows = [(box[1], key) for key, box in items.items() if key.startswith(combo + ":")]
            return min(rows)[1] if rows else None
        wait_for(combo + " list filtered to " + name, lambda: first_item() == combo + ":" + name,
                 10)
        if shot:
            time.sleep(0.3)  # the cursor and hover settle
            self.screenshot(shot)
        if key:
            run(["xdotool", "key", "Return"])
        else:
            self.click(combo + ":" + name)
        self.wait_gone(combo + "_popup")

    def type_into(self, field, text):
        self.click(field)
        run(["xdotool", "key", "--window", self.wid, "ctrl+a", "BackSpace"])
        run(["xdotool", "type", "--delay", "30", text], timeout=60)

    def log_line(self, suffix):
        """(text, box) of the visible log line that ends in `suffix`."""
        for key, box in self.layout().items():
            if key.startswith("log.line:") and key.endswith(suffix):
                return key[len("log.line:"):], box
        raise Failure("no visible log line ends in " + suffix)

    def screenshot(self, path):
        run(["import", "-window", self.wid, path], timeout=30)

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the tool did not end after Exit")


# Names in scripts the first font lacks (or has), each beside a name of as many "?" as it has
# characters: drawn without their glyphs, the two would look the same.
NAMED_PAIRS = [("中文说明", "????", ".cpp"), ("日本語", "???", ".h"), ("한국어", "???", ".cpp"),
               ("русский", "???????", ".cpp")]


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


def main():
    binary, source_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    work = tempfile.mkdtemp(prefix="ouzel-e2e-")
    tool = None
    try:
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
        wait_for("the wider ideographs", lambda: (
            tool.log_line("中文说明.cpp")[1][2] > tool.log_line("????.cpp")[1][2]), 10)
        time.sleep(0.3)
        shot = os.path.join(work, "using.png")
        tool.screenshot(shot)
        check_name_glyphs(tool, shot)
        if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
            os.makedirs(os.path.join(source_dir, "docs"), exist_ok=True)
            shutil.copyfile(shot, os.path.join(source_dir, "docs", "using.png"))
            shutil.copyfile(chooser_shot, os.path.join(source_dir, "docs", "chooser.png"))

        tool.click("menu_file")
        tool.click("exit")
        code = tool.wait_exit()
        if code != 0:
            raise Failure("exit code %d" % code)

        with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
            saved = f.read()
        for key, value in (("input", in_dir), ("output", out_dir), ("filter-index", "1"), ("from", "GBK"),
                           ("to", "UTF-8"), ("kept-key", "kept")):
            if not re.search(r"^%s: \"?%s\"?$" % (key, re.escape(value)), saved, re.M):
                raise Failure("saved settings lack %s: %s\n%s" % (key, value, saved))
        print("e2e: 1 passed, 0 failed")
        return 0
    except (Failure, subprocess.SubprocessError) as e:
        print("e2e failed:", e, file=sys.stderr)
        print("e2e: 0 passed, 1 failed")
        return 1
    finally:
        if tool and tool.proc.poll() is None:
            tool.proc.kill()
            tool.proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
