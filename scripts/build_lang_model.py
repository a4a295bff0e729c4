#!/usr/bin/env python3
"""Builds the language statistics detection scores decodings with, from real text.

    python3 scripts/build_lang_model.py [--out detect/lang_model.tsv] [--add LANGUAGES]

--add lt,lv counts only those languages and merges them into the model at --out, whose other
languages' counts and pooled S and T lines stay as they are (every L line's encodings follow
detect_corpus.LANGUAGES): a language joins without the others' figures moving.

Reads the TUNE half of the labelled corpus (scripts/detect_corpus.py, iter_texts('tune')):
never the held-out half, which stays for measuring. Per language it counts the steps between
ASCII letters, other ASCII and characters above ASCII, the characters above ASCII, the pairs
(previous character, character) that end in one, and the pairs (character above ASCII, ASCII
letter after it); an ASCII letter is kept in lower case, and counted once more as "A" (any
ASCII letter), for the pairs a letter of its own has too few of; anything else ASCII is
folded into " ". Rare entries are dropped to keep the file small. Pooled over every language,
it counts what stands on either side of a character above ASCII, per Unicode category of that
character: a letter, a blank (or the text's edge) or anything else (a capital letter alone
between brackets is rare, a quote there is not); and the same for each character above ASCII
that is neither a letter nor a mark (’ stands inside words, » after them).

Output, UTF-8, tab-separated, one record a line, after a first line "ouzel-lang-model 2":
    L  <language>  <encodings it is written in, comma-separated>  <characters counted>
       then 9 counts of steps between kinds of character, in the order aa as ah sa ss sh ha
       hs hh (a: ASCII letter, s: other ASCII, h: above ASCII)
    C  <language>  <Unicode general category, as Lu or So>  <characters of it counted>
    U  <language>  <character>  <count>
    B  <language>  <previous>  <character>  <count>
    N  <language>  <character>  <ASCII letter after it>  <count>
    S  <Unicode general category>  then 9 counts of its characters by what stands before and
       after them, in the order ll lb lo bl bb bo ol ob oo (l: a letter or combining mark of
       any script, b: a blank or the text's edge, o: anything else); every language pooled
    T  <character, not a letter nor a mark>  then 9 counts in the same order, pooled
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


BLANKS = " \t\n\r\v\f"


def shape_class(c):
    # Important: the same classes as the scorer's (detect/lang_model.cpp, shape_of).
    if c is None or c in BLANKS:
        return "b"
    category = unicodedata.category(c)
    if category[0] in "LM":
        return "l"
    return "b" if category in ("Zs", "Zl", "Zp") else "o"


def count_shapes(half):
    shapes = collections.defaultdict(collections.Counter)
    marks = collections.defaultdict(collections.Counter)  # per character, not letters
    for _language, _kind, _source, text in detect_corpus.iter_texts(half):
        for i, c in enumerate(text):
            if ord(c) >= 0x80:
                before = shape_class(text[i - 1] if i > 0 else None)
                after = shape_class(text[i + 1] if i + 1 < len(text) else None)
                category = unicodedata.category(c)
                shapes[category][before + after] += 1
                if category[0] not in "LM":
                    marks[c][before + after] += 1
    return shapes, marks


def count(half, only=None):
    uni = collections.defaultdict(collections.Counter)
    bi = collections.defaultdict(collections.Counter)
    nexts = collections.defaultdict(collections.Counter)
    steps = collections.defaultdict(collections.Counter)
    for language, _kind, _source, text in detect_corpus.iter_texts(half, languages=only):
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


def language_lines(uni, bi, nexts, steps):
    lines = []
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
    return lines


def merged(path, added):
    """The model at `path` with the languages of `added` (their lines) put in or replaced."""
    with open(path, encoding="utf-8") as f:
        old = f.read().split("\n")
    new_languages = {line.split("\t")[1] for line in added if line.startswith("L\t")}
    kept, pooled = [], []
    for line in old[1:]:
        cells = line.split("\t")
        if not line or (cells[0] in "LCUBN" and cells[1] in new_languages):
            continue
        if cells[0] == "L":
            cells[2] = ",".join(detect_corpus.LANGUAGES[cells[1]][1])
            line = "\t".join(cells)
        (pooled if cells[0] in "ST" else kept).append(line)
    by_language = collections.OrderedDict()
    for line in kept + added:
        by_language.setdefault(line.split("\t")[1], []).append(line)
    lines = [old[0]]
    for language in sorted(by_language):
        lines += by_language[language]
    return lines + pooled


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                  "..", "detect", "lang_model.tsv"))
    ap.add_argument("--add", help="comma-separated languages to count and merge into --out")
    args = ap.parse_args()
    if args.add:
        only = args.add.split(",")
        lines = merged(args.out, language_lines(*count("tune", only)))
        languages = only
    else:
        uni, bi, nexts, steps = count("tune")
        lines = ["ouzel-lang-model 2"] + language_lines(uni, bi, nexts, steps)
        shapes, marks = count_shapes("tune")
        lines += shape_lines(shapes, marks)
        languages = uni
    with open(args.out + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(args.out + ".tmp", args.out)
    print("%s: %d languages, %d bytes" % (args.out, len(languages), os.path.getsize(args.out)))


def shape_lines(shapes, marks):
    lines = []
    for category in sorted(shapes):
        lines.append("S\t%s\t%s" % (category, "\t".join(
            str(shapes[category][a + b]) for a in "lbo" for b in "lbo")))
    for c in sorted(marks):
        if sum(marks[c].values()) >= MIN_COUNT and clean(c):
            lines.append("T\t%s\t%s" % (c, "\t".join(
                str(marks[c][a + b]) for a in "lbo" for b in "lbo")))
    return lines


if __name__ == "__main__":
    main()
