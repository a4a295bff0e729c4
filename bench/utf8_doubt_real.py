#!/usr/bin/env python3
"""Real UTF-8 text with few characters above ASCII: how often ouzel-convert --from GBK leaves it
already-utf8 (right) or refuses, converts or repairs it (the cost of doubting valid UTF-8).

    python3 bench/utf8_doubt_real.py --build build --data DIR [--half held] [--show N]

Each line with 1-3 non-ASCII characters of the UTF-8 text in the packaged manual pages and
documents (scripts/text_cache.py fetch; gzip-compressed or plain, at most 15 lines a file,
duplicates dropped) is written alone as a file; a hash of the line puts it in the tune or the
held half. Report on the held half; the tune half is for tuning. The tree is run --dry-run with
the command line's defaults (--from GBK --to UTF-8) and with --detect; the outcomes are counted.
"""
import argparse
import collections
import csv
import gzip
import hashlib
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "scripts"))
import text_cache  # noqa: E402

PER_FILE = 15
MODES = {"defaults": [], "detect": ["--detect"]}


def read_text(path):
    try:
        with (gzip.open(path) if path.endswith(".gz") else open(path, "rb")) as f:
            return f.read().decode("utf-8")
    except (OSError, EOFError, UnicodeDecodeError):
        return None


def few_character_lines(root):
    """{line: source path} over every UTF-8 text file below root/usr."""
    lines = {}
    for folder, _dirs, names in os.walk(os.path.join(root, "usr")):
        for name in sorted(names):
            if name.endswith(".mo"):
                continue
            text = read_text(os.path.join(folder, name))
            if text is None:
                continue
            taken = 0
            for line in text.splitlines():
                n = sum(1 for c in line if ord(c) > 127)
                if 1 <= n <= 3 and len(line) <= 200 and "\ufffd" not in line and line not in lines:
                    lines[line] = os.path.join(folder, name)
                    taken += 1
                    if taken >= PER_FILE:
                        break
    return lines


def write_tree(tree, lines, half):
    shutil.rmtree(tree, ignore_errors=True)
    written = {}
    for line in sorted(lines):
        held = hashlib.md5(line.encode("utf-8")).digest()[0] & 1
        if (half == "held") != bool(held):
            continue
        n = len(written)
        path = "d%03d/s%05d.txt" % (n // 500, n)
        os.makedirs(os.path.join(tree, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(tree, path), "wb") as f:
            f.write((line + "\n").encode("utf-8"))
        written[path] = line
    return written


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--half", choices=["tune", "held"], default="held")
    ap.add_argument("--show", type=int, default=0, help="list the first N files not left as UTF-8")
    args = ap.parse_args()
    binary = os.path.join(os.path.abspath(args.build), "ouzel-convert")
    tree = os.path.join(args.data, "real-utf8-" + args.half)
    written = write_tree(tree, few_character_lines(text_cache.root()), args.half)
    print("| run | files | already-utf8 | ambiguous | converted | double-encoded | undetected "
          "| other |\n|---|---|---|---|---|---|---|---|")
    shown = []
    for mode, extra in MODES.items():
        report = tree + "-" + mode + ".csv"
        subprocess.run([binary, "--dry-run", "--report", report] + extra + [tree],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        with open(report, encoding="utf-8", newline="") as f:
            rows = list(csv.DictReader(f))
        tally = collections.Counter(r["outcome"] for r in rows)
        named = ("already-utf8", "ambiguous", "converted", "double-encoded", "undetected")
        other = sum(v for k, v in tally.items() if k not in named)
        print("| %s | %d | %s | %d |" % (mode, len(rows), " | ".join(str(tally[k]) for k in named),
                                         other))
        shown += [(mode, r["outcome"], written.get(r["path"], r["path"]))
                  for r in rows if r["outcome"] != "already-utf8"][:args.show]
    for mode, outcome, line in shown:
        print("%s\t%s\t%s" % (mode, outcome, line[:100]))


if __name__ == "__main__":
    main()
