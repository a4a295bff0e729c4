#!/usr/bin/env python3
"""The real window in another language under Xvfb: every widget of the panel inside the window,
a preview and a conversion with the job's log lines in that language, the report saved through
the file chooser with its log line in that language and its CSV fields in English.

Run inside an X server (xvfb-run). Arguments: the tool's binary, the source tree, the language
(zh_CN, zh_TW, ja, ko, ru). OUZEL_UPDATE_SCREENSHOT=1 writes docs/window-<language>.png from
the preview. Every wait is bounded.
"""
import gettext
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import Failure, Tool, chinese_text, iconv, run_e2e, wait_for  # noqa: E402

PANEL = ["choose_input", "choose_output", "filter", "bom", "from", "detect", "candidates", "to",
         "eol", "start", "preview", "stop", "repair", "tab.log", "tab.report", "tab.preview",
         "tab.rules"]


def check(work, binary, source_dir, language):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    gbk = chinese_text()
    files = {"a.cpp": gbk[:3000], "说明/b.h": gbk[:6000]}
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(in_dir, rel)), exist_ok=True)
        with open(os.path.join(in_dir, rel), "wb") as f:
            f.write(data[:data.rfind(b"\n") + 1])
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.cpp;*.h"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\n" % (in_dir, out_dir))
    # The catalogue the window reads, to know its words (beside the binary in the build tree).
    texts = gettext.translation("ouzeltool", os.path.join(os.path.dirname(binary), "locale"),
                                [language])

    locale = language + ".UTF-8"
    tool = Tool(binary, work, env={"LC_ALL": locale, "LANG": locale, "LANGUAGE": ""})
    items = tool.layout()
    right = items["close"][2] - 8  # the window's right edge, inside its padding
    for probe in PANEL:
        if items[probe][2] > right:
            raise Failure("%s ends at x=%d, outside the window (%d)" % (probe, items[probe][2],
                                                                       right))
    tool.click("preview")
    tool.wait_item("preview.table", 30)
    wait_for("the preview's rows", lambda: len([k for k in tool.layout()
                                                if k.startswith("preview.row:")]) == 2, 30)
    time.sleep(0.3)  # glyphs of the new names are added between frames
    shot = os.path.join(work, "window.png")
    tool.screenshot(shot)

    tool.click("start")

    def converted():
        for rel in files:
            target = os.path.join(out_dir, rel)
            if not os.path.exists(target):
                return False
            with open(os.path.join(in_dir, rel), "rb") as f, open(target, "rb") as g:
                if g.read() != iconv(f.read(), "GBK", "UTF-8"):
                    return False
        return True
    wait_for("the outputs as iconv writes them", converted, 60)
    tool.wait_log(texts.gettext("Processing file: %s").split("%")[0] + "a.cpp")

    # File > Save Report...: the chooser offers report.csv in the working directory.
    tool.click("menu_file")
    tool.click("save_report")
    tool.click("dialog.ok")
    report = os.path.join(work, "report.csv")
    wait_for("report.csv", lambda: os.path.exists(report), 10)
    with open(report, encoding="utf-8") as f:
        if f.readline() != "path,outcome,source,target,bytes,detail\n":
            raise Failure("the report's fields are not the English ones")
    saved = texts.ngettext("save report to file %s success, %zu entries",
                           "save report to file %s success, %zu entries", 2).split("%")[0]
    if saved.startswith("save report"):
        raise Failure("the catalogue does not translate the report's log line")
    tool.wait_log(saved)
    tool.exit_by_menu()
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        shutil.copyfile(shot, os.path.join(source_dir, "docs", "window-%s.png" % language))


def main():
    binary, source_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
    language = sys.argv[3] if len(sys.argv) > 3 else "zh_CN"
    return run_e2e("ouzel-e2e-lang-", lambda work: check(work, binary, source_dir, language))


if __name__ == "__main__":
    sys.exit(main())
