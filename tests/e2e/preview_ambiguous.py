#!/usr/bin/env python3
"""A close call in the real window under Xvfb, driven with xdotool.

A tree with a French file in Latin-1 and, in a folder of its own, a one-word file whose only letter, 0xE8, is è in
Latin-1 and č in Latin-2: with Detect and those two candidates, the preview must list the
one-word file under "Needs a look" as ambiguous, its sample showing both readings; choosing
ISO-8859-2 in its row and pressing Start Convert must write exactly what iconv makes of it.
Arguments: the tool's binary, the source tree. Every wait is bounded.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import (Failure, Tool, iconv, probe_rows, run, run_e2e, wait_for,  # noqa: E402
                           wait_outputs)

CLOSE = "notes/skè.txt"
CLOSE_BYTES = b"x = 1; // sk\xe8\n"
PLAIN = "docs/menu.txt"
PLAIN_BYTES = ("Là-bas, à côté de la fenêtre, il y a très peu de lumière; voilà pourquoi le "
               "père est déjà prêt à partir, à pied, près de la forêt.\n" * 4).encode("cp1252")


def check(work, binary):
    in_dir, out_dir = os.path.join(work, "in"), os.path.join(work, "out")
    for rel, data in ((CLOSE, CLOSE_BYTES), (PLAIN, PLAIN_BYTES)):
        os.makedirs(os.path.dirname(os.path.join(in_dir, rel)), exist_ok=True)
        with open(os.path.join(in_dir, rel), "wb") as f:
            f.write(data)
    with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
        f.write('version: 3.0\ninput: "%s"\noutput: "%s"\nfilters:\n  - "*.*"\n'
                "filter-index: 0\nfrom: GBK\nto: UTF-8\ndetect: true\n"
                "candidates:\n  - ISO-8859-1\n  - ISO-8859-2\n" % (in_dir, out_dir))

    tool = Tool(binary, work)
    tool.click("preview")
    wait_for("both preview rows", lambda: len(probe_rows(tool, "preview.row:")) == 2, 60)
    # Only the close call needs a look.
    tool.click("preview.look")
    rows = wait_for("the rows that need a look", lambda: (
        probe_rows(tool, "preview.row:") if len(probe_rows(tool, "preview.row:")) == 1
        else None), 10)
    if rows.get(CLOSE) != "|ambiguous|ambiguous":
        raise Failure("needs a look: %r, expected %s as ambiguous with no encoding" %
                      (rows, CLOSE))
    sample = probe_rows(tool, "preview.sample:").get(CLOSE, "")
    for reading in ("ISO-8859-1", "sk\u00e8", "ISO-8859-2", "sk\u010d"):
        if reading not in sample:
            raise Failure("the ambiguous row's sample %r lacks %r" % (sample, reading))

    # Settled in its row: read again at once as ISO-8859-2, then converted as iconv does.
    tool.click("preview.enc:" + CLOSE)
    tool.wait_item("preview.enc_popup")
    run(["xdotool", "type", "--delay", "30", "iso-8859-2"], timeout=30)
    wait_for("ISO-8859-2 in the filtered list", lambda: tool.layout().get(
        "preview.enc:%s:ISO-8859-2" % CLOSE), 10)
    run(["xdotool", "key", "Return"])
    tool.click("preview.look")
    try:
        tool.wait_item("preview.row:%s|ISO-8859-2|override|converted" % CLOSE)
    except Failure:
        raise Failure("after the choice: rows %r" % probe_rows(tool, "preview.row:"))
    tool.click("start")
    expected = {CLOSE: iconv(CLOSE_BYTES, "ISO-8859-2", "UTF-8"),
                PLAIN: iconv(PLAIN_BYTES, "ISO-8859-1", "UTF-8")}

    wait_outputs(out_dir, expected, "both outputs byte-identical to iconv's")
    tool.wait_log("Convert complete, total: 2")
    tool.exit_by_menu()


def main():
    binary = os.path.abspath(sys.argv[1])
    return run_e2e("ouzel-e2e-ambiguous-", lambda work: check(work, binary))


if __name__ == "__main__":
    sys.exit(main())
