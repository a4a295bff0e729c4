#!/usr/bin/env python3
"""Builds the language statistics detection scores decodings with, from real text.

    python3 scripts/build_lang_model.py [--out convert/lang_model.tsv]

Reads the TUNE half of the labelled corpus (scripts/detect_corpus.py, iter_texts('tune')):
never the held-out half, which stays for measuring. Per language it counts the steps between
ASCII letters, other ASCII and characters above ASCII, the characters above ASCII, the pairs
(previous character, character) that end in one, and the pairs (character above ASCII, ASCII
letter after it); an ASCII letter is kept in lower case, and counted once more as "A" (any
ASCII letter), for the pairs a letter of its own has too few of; anything else ASCII is
folded into " ". Rare entries are dropped to keep the file small.

Output, UTF-8, tab-separated, one record a line, after a first line "ouzel-lang-model 2":
    L  <language>  <encodings it is written in, comma-separated>  <characters counted>
       then 9 counts of steps between kinds of character, in the order aa as ah sa ss sh ha
       hs hh (a: ASCII letter, s: other ASCII, h: above ASCII)
    C  <language>  <Unicode general category, as Lu or So>  <characters of it counted>
    U  <language>  <character>  <count>
    B  <language>  <previous>  <character>  <count>
    N  <language>  <character>  <ASCII letter after it>  <count>
"""
import argparse
import collections
import os
import sys
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import detect_corpus  # noqa: E402

UNIGRAMS = 3000  # per language, most frequent first
BIGRAMS = 3000
NEXTS = 2000
MIN_COUNT = 3


def fold(c):
    if ord(c) >= 0x80:
        return c
    return c.lower() if c.isalpha() else " "


def token_class(c):
    return "h" if ord(c) >= 0x80 else ("a" if c.isalpha() else "s")


def count(half):
    uni = collections.defaultdict(collections.Counter)
    bi = collections.defaultdict(collections.Counter)
    nexts = collections.defaultdict(collections.Counter)
    steps = collections.defaultdict(collections.Counter)
    for language, _kind, _source, text in detect_corpus.iter_texts(half):
        u, b, n, t = uni[language], bi[language], nexts[language], steps[language]
        prev, prev_class = " ", "s"
        for c in text:
            if ord(c) >= 0x80:
                u[c] += 1
                b[prev + c] += 1
                if prev_class == "a":
                    b["A" + c] += 1
            elif prev_class == "h" and token_class(c) == "a":
                n[prev + fold(c)] += 1
            t[prev_class + token_class(c)] += 1
            prev, prev_class = fold(c), token_class(c)
    return uni, bi, nexts, steps


def clean(c):
    # Tabs and line ends never reach here (ASCII); other controls would break the lines.
    return c if c.isprintable() or ord(c) >= 0xA0 else None


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "..", "convert", "lang_model.tsv"))
    args = ap.parse_args()
    uni, bi, nexts, steps = count("tune")
    lines = ["ouzel-lang-model 2"]
    for language in sorted(uni):
        encodings = ",".join(detect_corpus.LANGUAGES[language][1])
        total = sum(uni[language].values())
        categories = collections.Counter()
        for c, n in uni[language].items():
            categories[unicodedata.category(c)] += n
        t = steps[language]
        lines.append("L\t%s\t%s\t%d\t%s" % (language, encodings, total, "\t".join(
            str(t[a + b]) for a in "ash" for b in "ash")))
        for category, n in sorted(categories.items()):
            lines.append("C\t%s\t%s\t%d" % (language, category, n))
        for c, n in uni[language].most_common(UNIGRAMS):
            if n >= MIN_COUNT and clean(c):
                lines.append("U\t%s\t%s\t%d" % (language, c, n))
        for pair, n in bi[language].most_common(BIGRAMS):
            if n >= MIN_COUNT and clean(pair[0]) and clean(pair[1]):
                lines.append("B\t%s\t%s\t%s\t%d" % (language, pair[0], pair[1], n))
        for pair, n in nexts[language].most_common(NEXTS):
            if n >= MIN_COUNT and clean(pair[0]):
                lines.append("N\t%s\t%s\t%s\t%d" % (language, pair[0], pair[1], n))
    with open(args.out + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(args.out + ".tmp", args.out)
    print("%s: %d languages, %d bytes" % (args.out, len(uni), os.path.getsize(args.out)))


if __name__ == "__main__":
    main()
