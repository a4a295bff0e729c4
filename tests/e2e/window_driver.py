"""Driving the real window under Xvfb: the tool's process, its widgets from the layout file it
writes ($OUZEL_PROBE_FILE), xdotool input, screenshots. Shared by the end-to-end tests and the
window benchmark. Every wait is bounded.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import text_cache  # noqa: E402

TITLE = "varnel Encoding Convert Tool v3.0"
FALLBACK_TEXT = ("字符编码转换工具把源代码和文档从一种编码转换为另一种编码。\n"
                 "中华人民共和国，简体中文的文本文件。\n")


class Failure(Exception):
    pass


def run(cmd, timeout=20, **kw):
    return subprocess.run(cmd, check=True, timeout=timeout, capture_output=True, **kw)


def iconv(data, src, dst):
    return run(["iconv", "-f", src, "-t", dst], input=data).stdout


def manual_text(locale, encoding, fallback):
    """A manual page of the Chinese manuals for `locale` in `encoding`, or `fallback`."""
    page = os.path.join(text_cache.root(), "usr/share/man/%s/man1/ls.1.gz" % locale)
    if os.path.exists(page):
        text = run(["zcat", page]).stdout
        # -c drops the few characters the encoding lacks, so the source is valid whatever the page.
        return run(["iconv", "-c", "-f", "UTF-8", "-t", encoding], input=text).stdout
    return iconv(fallback.encode(), "UTF-8", encoding)


def chinese_text():
    """Simplified Chinese in GBK from a manual page of manpages-zh, or a fixed paragraph."""
    return manual_text("zh_CN", "GBK", FALLBACK_TEXT)


def wait_for(what, predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise Failure("timed out waiting for " + what)


def probe_rows(tool, prefix):
    rows = {}
    for key in tool.layout():
        if key.startswith(prefix):
            path, rest = key[len(prefix):].split("|", 1)
            rows[path] = rest
    return rows


def wait_outputs(out_dir, expected, what):
    def written():
        for rel, data in expected.items():
            target = os.path.join(out_dir, rel)
            if not os.path.exists(target):
                return False
            with open(target, "rb") as f:
                if f.read() != data:
                    return False
        return True
    try:
        wait_for(what, written, 60)
    except Failure:
        found = {}
        for rel in expected:
            target = os.path.join(out_dir, rel)
            found[rel] = open(target, "rb").read()[:80] if os.path.exists(target) else None
        raise Failure("%s; the outputs begin %r" % (what, found))


STARTED = []  # every tool started, so that a failed check leaves none running


def run_e2e(prefix, body):
    """Runs body(work) in a fresh working directory and prints the verdict; afterwards no tool
    it started runs and the directory is gone. The exit code."""
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        body(work)
        print("e2e: 1 passed, 0 failed")
        return 0
    except (Failure, subprocess.SubprocessError) as e:
        print("e2e failed:", e, file=sys.stderr)
        print("e2e: 0 passed, 1 failed")
        return 1
    finally:
        for tool in STARTED:
            if tool.proc.poll() is None:
                tool.proc.kill()
                tool.proc.wait()
        shutil.rmtree(work, ignore_errors=True)


class Tool:
    """The running tool: its window, and its widgets from the layout file it writes."""

    def __init__(self, binary, workdir, env=None):
        self.layout_path = os.path.join(workdir, "layout.tsv")
        env = dict(os.environ, **(env or {}), OUZEL_PROBE_FILE=self.layout_path)
        self.proc = subprocess.Popen([binary], cwd=workdir, env=env)
        STARTED.append(self)
        wait_for("the first layout", lambda: "start" in self.layout(), 30)
        self.wid = wait_for("the window", self.find_window, 10)
        # A window just found may not be mapped yet: focusing it fails until it is.
        wait_for("the window's focus", self.focus, 10)

    def focus(self):
        return subprocess.run(["xdotool", "windowfocus", "--sync", self.wid],
                              capture_output=True, timeout=10).returncode == 0

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

    def select_tab(self, tab, content):
        """Clicks a tab and waits for `content`, an item it holds. Under Xvfb the window learns
        where the pointer is only from a button press (a synthetic move leaves the position it
        keeps), and a tab takes no press in the frame the pointer reached it from another
        item; so a right click, which tabs ignore, brings the pointer there first."""
        x0, y0, x1, y1 = self.wait_item(tab)
        run(["xdotool", "mousemove", "--window", self.wid, str(int((x0 + x1) / 2)),
             str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "3", "sleep", "0.1", "click", "1"])
        self.wait_item(content)

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
        # Keys that arrive in the frame of the click reach no field yet: one that held text
        # would keep it.
        time.sleep(0.2)
        run(["xdotool", "key", "--window", self.wid, "ctrl+a", "BackSpace"])
        run(["xdotool", "type", "--delay", "30", text], timeout=60)

    def log_line(self, suffix):
        """(text, box) of the visible log line that ends in `suffix`."""
        for key, box in self.layout().items():
            if key.startswith("log.line:") and key.endswith(suffix):
                return key[len("log.line:"):], box
        raise Failure("no visible log line ends in " + suffix)

    def log_lines(self):
        """The visible log lines, top to bottom."""
        items = self.layout()
        rows = sorted((box[1], key[len("log.line:"):]) for key, box in items.items()
                      if key.startswith("log.line:"))
        return [text for _, text in rows]

    def wait_log(self, part, timeout=30):
        """The first visible log line that contains `part`, once there is one."""
        return wait_for("a log line with " + repr(part),
                        lambda: next((t for t in self.log_lines() if part in t), None), timeout)

    def report_rows(self):
        """Paths of the report's visible rows, top to bottom."""
        items = self.layout()
        rows = sorted((box[1], key[len("report.row:"):]) for key, box in items.items()
                      if key.startswith("report.row:"))
        return [path for _, path in rows]

    def screenshot(self, path):
        run(["import", "-window", self.wid, path], timeout=30)

    def exit_by_menu(self):
        """File > Exit, which saves the settings; the program must end with code 0."""
        self.click("menu_file")
        self.click("exit")
        code = self.wait_exit()
        if code != 0:
            raise Failure("exit code %d" % code)

    def wait_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure("the tool did not end within %d s" % timeout)
