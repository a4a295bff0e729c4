#!/usr/bin/env python3
"""A settings file with a syntax error survives the real window: a start, File > Save Config
and File > Exit leave it as "ouzel.yml.bad", byte for byte, and a readable "ouzel.yml" beside
it. Arguments: the tool's binary. Every wait is bounded.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_driver import Failure, Tool, run_e2e, wait_for  # noqa: E402

# An unclosed quote: the parser gives up at it, so nothing after it may be trusted either.
BROKEN = ('version: 3.0\ninput: "/data/\xe4\xb8\xad\xe6\x96\x87\noutput: /tmp/out\n'
          'my-own-key: kept\n').encode("latin-1")


def check(work, binary):
    path = os.path.join(work, "ouzel.yml")
    with open(path, "wb") as f:
        f.write(BROKEN)
    tool = Tool(binary, work)
    tool.click("menu_file")
    tool.click("save_config")
    wait_for("ouzel.yml.bad", lambda: os.path.exists(path + ".bad"), 10)
    tool.exit_by_menu()
    with open(path + ".bad", "rb") as f:
        if f.read() != BROKEN:
            raise Failure("ouzel.yml.bad is not the file as it was")
    if os.path.exists(path + ".bad.1"):
        raise Failure("a second copy was made at Exit")
    with open(path, encoding="utf-8") as f:
        saved = f.read()
    if "\nfilters:\n" not in saved or "from: " not in saved:
        raise Failure("the saved settings do not read as settings:\n" + saved)


def main():
    binary = os.path.abspath(sys.argv[1])
    return run_e2e("ouzel-e2e-bad-", lambda work: check(work, binary))


if __name__ == "__main__":
    sys.exit(main())
