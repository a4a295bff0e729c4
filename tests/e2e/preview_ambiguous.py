#!/usr/bin/env python3
"""A close call and text no candidate reads, in the real window under Xvfb, driven with xdotool.

A tree with a French file in Latin-1 and, in a folder of its own, a one-word file whose only letter, 0xE8, is è in
Latin-1 and č in Latin-2: with Detect and those two candidates, the preview must list the
one-word file under "Needs a look" as ambiguous, its sample showing both readings; choosing
ISO-8859-2 in its row and pressing Start Convert must write exactly what iconv makes of it.
Two Russian files in ISO-8859-5 in a folder of their own are undetected (no candidate reads
them as text), under "Needs a look" with the two readings where they part; ISO-8859-5 chosen
in one row, the row's menu gives it to the other file of the folder too, and both are written
as iconv makes them. Arguments: the tool's binary, the source tree (where
docs/preview-undetected.png is written when OUZEL_UPDATE_SCREENSHOT=1). Every wait is bounded.
"""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, iconv, probe_rows, run, run_e2e, wait_for,  # noqa: E402
                           wait_outputs)

CLOSE = "notes/skè.txt"
CLOSE_BYTES = b"x = 1; // sk\xe8\n"
RUSSIAN = {"ru/readme.txt": "Не удалось открыть файл настроек программы.\n",
           "ru/notes.txt": "Сохранить изменения в документе перед закрытием?\n"}
PLAIN = "docs/menu.txt"
PLAIN_BYTES = ("Là-bas, à côté de la fenêtre, il y a très peu de lumière; voilà pourquoi le "
               "père est déjà prêt à partir, à pied, près de la forêt.\n" * 4).encode("cp1252")


def check(work, binary, source_dir):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    russian = [(rel, text.encode("iso8859_5")) for rel, text in RUSSIAN.items()]
    for rel, data in [(CLOSE, CLOSE_BYTES), (PLAIN, PLAIN_BYTES)] + russian:
        os.makedirs(os.path.dirname(os.path.join(in_dir, rel)), exist_ok=True)
        with open(os.path.join(in_dir, rel), "wb") as f:
            f.write(data)
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\ndetect: true\n"
                "candidates:\n  - ISO-8859-1\n  - ISO-8859-2\n" % (in_dir, out_dir))

    tool = Tool(binary, work)
    tool.click("preview")
    wait_for("the preview rows", lambda: len(probe_rows(tool, "preview.row:")) == 4, 60)
    # The close call and the Russian files need a look.
    tool.click("preview.look")
    rows = wait_for("the rows that need a look", lambda: (
        probe_rows(tool, "preview.row:") if len(probe_rows(tool, "preview.row:")) == 3
        else None), 10)
    if rows.get(CLOSE) != "|ambiguous|ambiguous":
        raise Failure("needs a look: %r, expected %s as ambiguous with no encoding" %
                      (rows, CLOSE))
    samples = probe_rows(tool, "preview.sample:")
    for reading in ("ISO-8859-1", "sk\u00e8", "ISO-8859-2", "sk\u010d"):
        if reading not in samples.get(CLOSE, ""):
            raise Failure("the ambiguous row's sample %r lacks %r" % (samples.get(CLOSE), reading))
    for rel, text in RUSSIAN.items():
        if rows.get(rel) != "|undetected|undetected":
            raise Failure("needs a look: %r, expected %s as undetected" % (rows, rel))
        sample = samples.get(rel, "")
        # Both readings where they part: at the first letter.
        first_byte = text.encode("iso8859_5")[:1]
        for reading in ("line 1: ", "ISO-8859-1 \u201c" + first_byte.decode("latin-1"),
                        "ISO-8859-2 \u201c" + first_byte.decode("iso8859_2")):
            if reading not in sample:
                raise Failure("the undetected row's sample %r lacks %r" % (sample, reading))
    # The pointer on an undetected row: its tooltip holds both readings in full.
    first = list(RUSSIAN)[0]
    x0, y0, x1, y1 = tool.layout()[next(k for k in tool.layout()
                                        if k.startswith("preview.row:" + first))]
    run(["xdotool", "mousemove", "--window", tool.wid, str(int((x0 + x1) / 2)),
         str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "1"])
    time.sleep(1.0)  # the tooltip's delay
    shot = os.path.join(work, "preview-undetected.png")
    tool.screenshot(shot)
    if os.environ.get("OUZEL_UPDATE_SCREENSHOT") == "1":
        shutil.copyfile(shot, os.path.join(source_dir, "docs", "preview-undetected.png"))

    # One Russian file told its encoding in its row, the other through the row's menu.
    second = list(RUSSIAN)[1]
    tool.click("preview.enc:" + first)
    tool.wait_item("preview.enc_popup")
    run(["xdotool", "type", "--delay", "30", "iso-8859-5"], timeout=30)
    wait_for("ISO-8859-5 in the filtered list", lambda: tool.layout().get(
        "preview.enc:%s:ISO-8859-5" % first), 10)
    run(["xdotool", "key", "Return"])
    tool.click("preview.look")  # every row again: a settled row leaves the filtered list
    x0, y0, x1, y1 = tool.wait_item("preview.row:%s|ISO-8859-5|override|converted" % first)
    run(["xdotool", "mousemove", "--window", tool.wid, str(int((x0 + x1) / 2)),
         str(int((y0 + y1) / 2)), "sleep", "0.1", "click", "3"])
    tool.click("preview.folder:" + first)
    tool.wait_item("preview.row:%s|ISO-8859-5|override|converted" % second, 30)

    # Settled in its row: read again at once as ISO-8859-2, then converted as iconv does.
    tool.click("preview.enc:" + CLOSE)
    tool.wait_item("preview.enc_popup")
    run(["xdotool", "type", "--delay", "30", "iso-8859-2"], timeout=30)
    wait_for("ISO-8859-2 in the filtered list", lambda: tool.layout().get(
        "preview.enc:%s:ISO-8859-2" % CLOSE), 10)
    run(["xdotool", "key", "Return"])
    try:
        tool.wait_item("preview.row:%s|ISO-8859-2|override|converted" % CLOSE)
    except Failure:
        raise Failure("after the choice: rows %r" % probe_rows(tool, "preview.row:"))
    tool.click("start")
    expected = {CLOSE: iconv(CLOSE_BYTES, "ISO-8859-2", "UTF-8"),
                PLAIN: iconv(PLAIN_BYTES, "ISO-8859-1", "UTF-8")}
    expected.update({rel: text.encode("utf-8") for rel, text in RUSSIAN.items()})

    wait_outputs(out_dir, expected, "both outputs byte-identical to iconv's")
    tool.wait_log("Convert complete, total: 4")
    tool.exit_by_menu()


def main():
    binary = os.path.abspath(sys.argv[1])
    source_dir = os.path.abspath(sys.argv[2])
    return run_e2e("ouzel-e2e-ambiguous-", lambda work: check(work, binary, source_dir))


if __name__ == "__main__":
    sys.exit(main())
