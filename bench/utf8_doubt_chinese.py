#!/usr/bin/env python3
"""Short GBK text that is valid UTF-8 by chance: how often ouzel-convert still leaves it as
already-utf8, converts it right, or refuses it.

    python3 bench/utf8_doubt_chinese.py --build build --data DIR [--half held]

The lists come from the Chinese (zh_CN) text of one half of the detection corpus
(scripts/detect_corpus.py, iter_texts): its 3,500 commonest Han characters and its 2,000
commonest two-character Han sequences (words). Report on the held half; the tune half is for
tuning. Each item whose GBK bytes are valid UTF-8 is written alone in a file of its own folder,
in two layouts: a C++ comment ("// 展示" above "int x;") and a short line of text ("展示").
Each tree is run with the command line's defaults (--from GBK) and with --detect. An item is
right when the output holds its text in UTF-8; left when the outcome is already-utf8 (the
fault); refused when ambiguous or undetected (kept as it is); wrong otherwise.
"""
import argparse
import collections
import csv
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "scripts"))
import detect_corpus  # noqa: E402

LAYOUTS = {"comment": ("cpp", "// {}\nint x;\n"), "line": ("txt", "{}\n")}
MODES = {"defaults": [], "detect": ["--detect"]}


def is_han(c):
    return "\u4e00" <= c <= "\u9fff"


def lists(half):
    chars, words = collections.Counter(), collections.Counter()
    for _language, _kind, _source, text in detect_corpus.iter_texts(half, languages=["zh_CN"]):
        for i, c in enumerate(text):
            if is_han(c):
                chars[c] += 1
                if i + 1 < len(text) and is_han(text[i + 1]):
                    words[c + text[i + 1]] += 1
    return ([c for c, _ in chars.most_common(3500)], [w for w, _ in words.most_common(2000)])


def utf8_by_chance(item):
    data = item.encode("gbk")
    try:
        data.decode("utf-8")
        return data
    except UnicodeDecodeError:
        return None


def write_tree(root, items, layout):
    ext, form = LAYOUTS[layout]
    shutil.rmtree(root, ignore_errors=True)
    for n, item in enumerate(items):
        folder = os.path.join(root, "i%04d" % n)
        os.makedirs(folder)
        with open(os.path.join(folder, "f." + ext), "wb") as f:
            f.write(form.format(item).encode("gbk"))


def run(binary, tree, out, mode, items, layout):
    shutil.rmtree(out, ignore_errors=True)
    report = out + ".csv"
    subprocess.run([binary, "--report", report] + MODES[mode] + [tree, out],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    ext, form = LAYOUTS[layout]
    tally = collections.Counter()
    with open(report, encoding="utf-8", newline="") as f:
        rows = {r["path"]: r for r in csv.DictReader(f)}
    for n, item in enumerate(items):
        path = "i%04d/f.%s" % (n, ext)
        outcome = rows.get(path, {}).get("outcome", "missing")
        try:
            with open(os.path.join(out, path), "rb") as f:
                written = f.read()
        except OSError:
            written = b""
        if outcome == "already-utf8":
            tally["left"] += 1
        elif outcome in ("ambiguous", "undetected"):
            tally["refused"] += 1
        elif written == form.format(item).encode("utf-8"):
            tally["right"] += 1
        else:
            tally["wrong"] += 1
    return tally


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--half", choices=["tune", "held"], default="held")
    args = ap.parse_args()
    binary = os.path.join(os.path.abspath(args.build), "ouzel-convert")
    chars, words = lists(args.half)
    print("| list | items | valid UTF-8 as GBK | layout | run | right | left already-utf8 "
          "| refused | wrong |\n|---|---|---|---|---|---|---|---|---|")
    for name, items in (("characters", chars), ("words", words)):
        chance = [i for i in items if utf8_by_chance(i)]
        for layout in LAYOUTS:
            tree = os.path.join(args.data, "%s-%s" % (name, layout))
            write_tree(tree, chance, layout)
            for mode in MODES:
                t = run(binary, tree, tree + "-" + mode, mode, chance, layout)
                print("| %s | %d | %d | %s | %s | %d | %d | %d | %d |" % (
                    name, len(items), len(chance), layout, mode, t["right"], t["left"],
                    t["refused"], t["wrong"]))


if __name__ == "__main__":
    main()
