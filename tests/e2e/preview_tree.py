#!/usr/bin/env python3
"""Detection and the preview in the real window under Xvfb, driven with xdotool.

A tree with GBK files in one folder, Big5 in another, UTF-8 and pure ASCII, with Chinese and
Japanese names: "Detect" ticked, "Preview" pressed, the table must show each file's right
encoding; then "Start Convert", and every output must equal what iconv makes of its file with
the encoding it was written in. Arguments: the tool's binary, the source tree (where
docs/preview.png is written when OUZEL_UPDATE_SCREENSHOT=1). Every wait is bounded.
"""
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, chinese_text, iconv, manual_text, run, run_e2e,  # noqa: E402
                           wait_for)

TRADITIONAL_FALLBACK = ("字元編碼轉換工具把原始碼和文件從一種編碼轉換為另一種編碼。\n"
                        "與 -l 同時使用時，列印檔案大小前將其除以指定的區塊大小。\n")

# What each folder's files are written in, and the encodings the table may name for them
# (the wider label reads the same text the same way). No Chinese candidate reads the French
# text: it is undetected until its row is told CP1252.
FOLDERS = {
    "gbk": ("GBK", {"GBK", "GB18030"}),
    "big5": ("BIG5", {"BIG5", "BIG5-HKSCS"}),
    "utf8": ("UTF-8", {"UTF-8"}),
    "ascii": ("ASCII", {"ASCII"}),
    "misc": ("CP1252", {""}),
}
FRENCH = "misc/café.txt"


def traditional_text():
    """Traditional Chinese in Big5 from a manual page of manpages-zh, or a fixed paragraph."""
    return manual_text("zh_TW", "BIG5", TRADITIONAL_FALLBACK)


def slice_at_lines(data, fraction, size):
    """About `size` bytes of `data` from the first line after `fraction` of it, cut at a line
    end. A short text (the fixed paragraph) is repeated first."""
    while len(data) < 4 * size:
        data += data
    begin = data.index(b"\n", int(len(data) * fraction)) + 1
    chunk = data[begin:begin + size]
    return chunk[:chunk.rfind(b"\n") + 1]


def make_tree(root):
    """{relative path: folder} of the files written under `root`."""
    gbk, big5 = chinese_text(), traditional_text()
    utf8 = iconv(gbk, "GBK", "UTF-8")
    files = {
        "gbk/说明.txt": slice_at_lines(gbk, 0.2, 3000),
        "gbk/读取配置.cpp": slice_at_lines(gbk, 0.5, 1500),
        "gbk/日本語メモ.txt": slice_at_lines(gbk, 0.7, 2000),
        "big5/說明.txt": slice_at_lines(big5, 0.2, 3000),
        "big5/設定.cpp": slice_at_lines(big5, 0.5, 1500),
        "big5/ファイル.h": slice_at_lines(big5, 0.7, 2000),
        "utf8/中文.md": slice_at_lines(utf8, 0.4, 2000),
        "utf8/日本語.txt": "// 日本語のコメント\nint main() { return 0; }\n".encode(),
        "ascii/readme.txt": b"plain ASCII text\n",
        "ascii/漢字名.h": b"#define X 1\n",
        FRENCH: "Le café est prêt.\nVoilà le menu du café – à bientôt.\n".encode("cp1252"),
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return {rel: rel.split("/", 1)[0] for rel in files}


def cpu_share(pid, seconds):
    """The share of one core process `pid` used over `seconds`."""
    def ticks():
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime, stime
    before = ticks()
    time.sleep(seconds)
    return (ticks() - before) / os.sysconf("SC_CLK_TCK") / seconds


def preview_rows(tool):
    """{path: (encoding, evidence, outcome)} of the table's rows in sight."""
    rows = {}
    for key in tool.layout():
        if key.startswith("preview.row:"):
            path, encoding, evidence, outcome = key[len("preview.row:"):].rsplit("|", 3)
            rows[path] = (encoding, evidence, outcome)
    return rows


def click_header(tool, name):
    """Clicks a column's header. Like a tab, a header takes a press only once the pointer was
    over it a frame before, and under Xvfb the window learns where the pointer is from a
    press: a middle click, which headers ignore, brings it there first."""
    x0, y0, x1, y1 = tool.wait_item("preview.header:" + name)
    run(["xdotool", "mousemove", "--window", tool.wid, str(int((x0 + x1) / 2)),
         str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "2", "sleep", "0.1", "click", "1"])


def rows_top_down(tool):
    """Paths of the table's rows in sight, top to bottom."""
    rows = sorted((box[1], key[len("preview.row:"):].rsplit("|", 3)[0])
                  for key, box in tool.layout().items() if key.startswith("preview.row:"))
    return [path for _, path in rows]


def check_encodings(tool, files):
    """Narrows the table to each folder in turn and checks every row's encoding."""
    for folder, (_, allowed) in FOLDERS.items():
        expected = sorted(rel for rel, f in files.items() if f == folder)
        tool.type_into("preview.text", folder + "/")
        rows = wait_for("the rows of " + folder, lambda: (
            preview_rows(tool) if sorted(preview_rows(tool)) == expected else None), 10)
        for path, (encoding, evidence, outcome) in rows.items():
            if encoding not in allowed:
                raise Failure("%s: shown as %s (%s), expected one of %s" %
                              (path, encoding, evidence, sorted(allowed)))
            if outcome not in ("converted", "already-utf8", "ascii", "undetected"):
                raise Failure("%s: planned outcome %s" % (path, outcome))
    tool.type_into("preview.text", "")


def check(work, binary, source_dir):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    files = make_tree(in_dir)
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\n" % (in_dir, out_dir))

    tool = Tool(binary, work)
    tool.click("detect")
    tool.click("preview")
    wait_for("the preview's rows", lambda: preview_rows(tool), 60)
    if os.path.exists(out_dir):
        raise Failure("the preview wrote " + out_dir)
    check_encodings(tool, files)
    # A second preview, pressed from the preview itself (its log lines come while the log
    # is hidden), replaces the first and the choices made in it.
    tool.click("preview.skip:" + FRENCH)
    tool.wait_item("preview.row:%s||undetected|excluded" % FRENCH)
    tool.click("preview")
    tool.wait_item("preview.row:%s||undetected|undetected" % FRENCH, 60)

    # The table sorted by encoding for the picture (the undetected file, ASCII, Big5, GBK),
    # its CJK glyphs loaded, the pointer on nothing that lights up.
    wait_for("the unfiltered table", lambda: len(preview_rows(tool)) >= 6, 10)
    click_header(tool, "Encoding")
    wait_for("the rows by encoding", lambda: [
        p.split("/")[0] for p in rows_top_down(tool)[:4]] == ["misc", "ascii", "ascii", "big5"],
        10)
    tool.click("progress")  # the filter field lets go of the keyboard
    time.sleep(0.5)
    shot = os.path.join(work, "preview.png")
    tool.screenshot(shot)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        os.makedirs(os.path.join(source_dir, "docs"), exist_ok=True)
        shutil.copyfile(shot, os.path.join(source_dir, "docs", "preview.png"))

    # Left alone on the preview, the window draws nothing: under 5 % of a core over 3 s.
    used = cpu_share(tool.proc.pid, 3.0)
    if used >= 0.05:
        raise Failure("the idle window on the preview used %.0f %% of a core" % (used * 100))

    # The undetected file, flagged and first, is told its encoding in its row.
    row = "preview.row:%s|CP1252|override|converted" % FRENCH
    tool.click("preview.enc:" + FRENCH)
    tool.wait_item("preview.enc_popup")
    run(["xdotool", "type", "--delay", "30", "cp1252"], timeout=30)
    wait_for("CP1252 in the filtered list", lambda: tool.layout().get(
        "preview.enc:%s:CP1252" % FRENCH), 10)
    run(["xdotool", "key", "Return"])
    tool.wait_item(row)

    tool.click("start")

    def converted():
        for rel, folder in files.items():
            target = os.path.join(out_dir, rel)
            if not os.path.exists(target):
                return False
            with open(os.path.join(in_dir, rel), "rb") as f:
                expected = iconv(f.read(), FOLDERS[folder][0], "UTF-8")
            with open(target, "rb") as f:
                if f.read() != expected:
                    return False
        return True
    wait_for("every output byte-identical to iconv's", converted, 60)
    tool.wait_log("Convert complete, total: %d" % len(files))
    if preview_rows(tool):
        raise Failure("the preview is still shown after the conversion started")

    tool.exit_by_menu()
    with open(os.path.join(work, "ouzel.yml"), encoding="utf-8") as f:
        saved = f.read()
    if not re.search(r"^detect: true$", saved, re.M):
        raise Failure("saved settings lack detect: true\n" + saved)


def main():
    binary, source_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    return run_e2e("ouzel-e2e-preview-", lambda work: check(work, binary, source_dir))


if __name__ == "__main__":
    sys.exit(main())
