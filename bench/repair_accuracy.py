#!/usr/bin/env python3
"""How well ouzel-convert finds and repairs double-encoded files and files of two encodings,
and how often it raises a false alarm, measured on the held-out half of the detection corpus.

    python3 bench/repair_accuracy.py --build build --data ../bench-data/repair [--half held]

DATA (outside the repository) receives the corpus (scripts/detect_corpus.py), the generated
trees and the outputs. Made from the corpus's texts:
  double/<ENC>/   each text as a tool that read its UTF-8 bytes as ENC wrote it out again, for
                  CP1252, ISO-8859-1, GBK, GB18030, BIG5, CP932, CP1251, KOI8-R, and twice over
                  through CP1252 (double/CP1252x2); a text whose UTF-8 bytes ENC does not read
                  strictly cannot be made that way and is counted apart
  mixed/<ENC>/    lines of one language, alternately in UTF-8 and in ENC (one of its legacy
                  encodings), 2-16 lines a file
and, as false-alarm tests, the corpus's own files (every encoding and size) and the UTF-8
manual pages and documentation, in every language, of the packages the corpus reads
(scripts/text_cache.py fetches them).

Double-encoded files are found when the dry run says double-encoded, repaired when --repair
writes exactly the original text. Two-encoding files count when --repair writes exactly the
original text, run per folder with --from ENC and over the whole tree with --detect and every
preset as candidates. False alarms: any double-encoded or mixed verdict, or a repair, on the
clean trees (run per encoding folder with --from ENC, and with --detect).
"""
import argparse
import collections
import gzip
import importlib.util
import json
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MISREADINGS = ["CP1252", "ISO-8859-1", "GBK", "GB18030", "BIG5", "CP932", "CP1251", "KOI8-R"]
PRESETS = ("Chinese,Japanese,Korean,Cyrillic,Western,Central European,Greek,Turkish,Hebrew,"
           "Arabic,Thai,Vietnamese")


def load_corpus_module():
    spec = importlib.util.spec_from_file_location(
        "detect_corpus", os.path.join(ROOT, "scripts", "detect_corpus.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(binary, *args):
    r = subprocess.run([binary, *args], capture_output=True, timeout=3600)
    if r.returncode not in (0, 1):
        sys.exit("%s failed (%d): %s" % (" ".join(args), r.returncode, r.stderr.decode()[-2000:]))
    return r


def report_of(binary, tree, out, report, *options, write_out=False):
    """{path: entry} of a run over `tree`; a dry run unless write_out."""
    args = list(options) + ["--quiet", "--report", report, "--threads", "2"]
    if write_out:
        shutil.rmtree(out, ignore_errors=True)
        run(binary, *args, tree, out)
    else:
        run(binary, "--dry-run", *args, tree)
    with open(report, encoding="utf-8") as f:
        return {e["path"]: e for e in json.load(f)["files"]}


def misread(corpus, data, encoding):
    """What a tool that read `data` as `encoding` wrote out as UTF-8, or None if not strict."""
    return corpus.iconv(data, encoding, "UTF-8")


def unique_texts(corpus_dir):
    """The corpus's texts with non-ASCII characters, once each, with their language."""
    seen, out = set(), []
    with open(os.path.join(corpus_dir, "labels.tsv"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    for path, encoding, language, cls, kind, source, half in rows:
        text = read(os.path.join(corpus_dir, "text", path))
        if text in seen or text.isascii():
            continue
        seen.add(text)
        out.append((language, text))
    return rows, out


def make_double(corpus, texts, root):
    """double/<ENC>/<n>.txt and their originals; counts of texts each ENC cannot misread."""
    expected, unmakeable = {}, collections.Counter()
    for enc in MISREADINGS + ["CP1252x2"]:
        for n, (language, text) in enumerate(texts):
            if enc == "CP1252x2":
                once = misread(corpus, text, "CP1252")
                broken = misread(corpus, once, "CP1252") if once else None
            else:
                broken = misread(corpus, text, enc)
            if broken is None or broken == text:
                unmakeable[enc] += 1
                continue
            rel = "%s/%s-%04d.txt" % (enc, language, n)
            write(os.path.join(root, rel), broken)
            expected[rel] = text
    return expected, unmakeable


def make_mixed(corpus, texts, root):
    """mixed/<ENC>/<n>.txt: a language's lines alternately in UTF-8 and in ENC."""
    by_language = collections.defaultdict(list)
    for language, text in texts:
        for line in text.decode("utf-8").splitlines():
            if not line.isascii() and line.strip():
                by_language[language].append(line)
    expected = {}
    for language, lines in sorted(by_language.items()):
        encodings = corpus.LANGUAGES.get(language, ([], []))[1]
        for enc in encodings:
            at, n = 0, 0
            while at + 2 <= len(lines):
                count = 2 + (n * 7) % 15  # 2 to 16 lines
                chunk = lines[at:at + count]
                at += count
                parts = []
                for i, line in enumerate(chunk):
                    raw = (line + "\n").encode("utf-8")
                    parts.append(raw if i % 2 else corpus.encode_exact(line + "\n", enc))
                if any(p is None for p in parts) or len(chunk) < 2:
                    continue
                rel = "%s/%s-%04d.txt" % (enc, language, n)
                write(os.path.join(root, rel), b"".join(parts))
                expected[rel] = "".join(l + "\n" for l in chunk).encode("utf-8")
                n += 1
    return expected


def packaged_manuals(corpus, root, limit_bytes=1 << 20):
    """The UTF-8 manual pages and documentation of the fetched packages, decompressed."""
    count = 0
    share = os.path.join(corpus.text_cache.fetch(), "usr", "share")
    for top in (os.path.join(share, "man"), os.path.join(share, "doc")):
        for d, _, files in os.walk(top):
            for name in sorted(files):
                path = os.path.join(d, name)
                if os.path.islink(path) or os.path.getsize(path) > limit_bytes:
                    continue
                try:
                    data = gzip.open(path).read() if name.endswith(".gz") else read(path)
                except (OSError, EOFError):
                    continue
                if data.isascii() or b"\0" in data:
                    continue
                try:
                    data.decode("utf-8")
                except UnicodeDecodeError:
                    continue
                rel = os.path.relpath(path, share)
                write(os.path.join(root, rel[:-3] if rel.endswith(".gz") else rel), data)
                count += 1
    return count


def score_repairs(binary, tree, expected, data, options, label):
    """Dry-run verdicts and exact repairs per top folder."""
    verdicts = report_of(binary, tree, None, os.path.join(data, label + ".json"), *options)
    out = os.path.join(data, "out-" + label)
    report_of(binary, tree, out, os.path.join(data, label + "-w.json"), "--repair", *options,
              write_out=True)
    table = collections.defaultdict(lambda: [0, 0, 0])  # files, found, exact
    for rel, original in expected.items():
        row = table[rel.split("/")[0]]
        row[0] += 1
        row[1] += verdicts.get(rel, {}).get("outcome") in ("double-encoded", "mixed")
        target = os.path.join(out, rel)
        row[2] += os.path.exists(target) and read(target) == original
    return table


def print_table(title, table, unmakeable=None):
    print("\n" + title)
    print("| folder | files | found | repaired exactly |%s" % (" not makeable |" if unmakeable
                                                            is not None else ""))
    print("|---|---|---|---|%s" % ("---|" if unmakeable is not None else ""))
    total = [0, 0, 0]
    for key in sorted(table):
        files, found, exact = table[key]
        total = [a + b for a, b in zip(total, table[key])]
        extra = " %d |" % unmakeable[key] if unmakeable is not None else ""
        print("| %s | %d | %.1f %% | %.1f %% |%s" % (key, files, 100.0 * found / max(files, 1),
                                                   100.0 * exact / max(files, 1), extra))
    print("| all | %d | %.1f %% | %.1f %% |" % (total[0], 100.0 * total[1] / max(total[0], 1),
                                               100.0 * total[2] / max(total[0], 1)))


def false_alarms(entries):
    bad = [(p, e["outcome"], e.get("detail", "")) for p, e in entries.items()
           if e["outcome"] in ("double-encoded", "mixed") or "repaired:" in e.get("detail", "")]
    return bad


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--data", required=True)
    parser.add_argument("--half", choices=["tune", "held"], default="held")
    parser.add_argument("--size", choices=["short", "full"], default="full")
    parser.add_argument("--no-manuals", action="store_true")
    a = parser.parse_args()
    binary = os.path.abspath(os.path.join(a.build, "ouzel-convert"))
    data = os.path.abspath(a.data)
    corpus = load_corpus_module()
    corpus_dir = os.path.join(data, "corpus-%s-%s" % (a.half, a.size))
    if not os.path.exists(os.path.join(corpus_dir, "labels.tsv")):
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "detect_corpus.py"),
                        "--out", corpus_dir, "--half", a.half, "--size", a.size], check=True)
    rows, texts = unique_texts(corpus_dir)
    for name in ("double", "mixed", "manuals"):
        shutil.rmtree(os.path.join(data, name), ignore_errors=True)
    double_expected, unmakeable = make_double(corpus, texts, os.path.join(data, "double"))
    mixed_expected = make_mixed(corpus, texts, os.path.join(data, "mixed"))
    print("corpus: %s, %d files, %d distinct texts with non-ASCII characters" %
          (corpus_dir, len(rows), len(texts)))

    table = score_repairs(binary, os.path.join(data, "double"), double_expected, data, [],
                          "double")
    print_table("Double-encoded files (default run, GBK -> UTF-8)", table, unmakeable)

    per_folder = collections.defaultdict(lambda: [0, 0, 0])
    for enc in sorted({rel.split("/")[0] for rel in mixed_expected}):
        sub = {rel.split("/", 1)[1]: v for rel, v in mixed_expected.items()
               if rel.startswith(enc + "/")}
        t = score_repairs(binary, os.path.join(data, "mixed", enc), sub, data,
                          ["--from", enc], "mixed-" + enc)
        per_folder[enc] = [sum(r[i] for r in t.values()) for i in range(3)]
    print_table("Two-encoding files, each folder with --from ENC", per_folder)
    table = score_repairs(binary, os.path.join(data, "mixed"), mixed_expected, data,
                          ["--detect", "--candidates", PRESETS], "mixed-detect")
    print_table("Two-encoding files, the whole tree with --detect and every preset", table)

    print("\nFalse alarms on clean files")
    alarms = []
    clean = os.path.join(corpus_dir, a.half)
    for enc in sorted(os.listdir(clean)):
        entries = report_of(binary, os.path.join(clean, enc), None,
                            os.path.join(data, "clean-%s.json" % enc), "--from", enc)
        alarms += [("corpus --from " + enc, *b) for b in false_alarms(entries)]
    entries = report_of(binary, clean, None, os.path.join(data, "clean-detect.json"), "--detect",
                        "--candidates", PRESETS)
    alarms += [("corpus --detect", *b) for b in false_alarms(entries)]
    print("corpus files: %d, in %d folders; false alarms: %d" %
          (len(rows), len(os.listdir(clean)), len(alarms)))
    if not a.no_manuals:
        manuals = os.path.join(data, "manuals")
        n = packaged_manuals(corpus, manuals)
        found = []
        for options in ([], ["--detect", "--candidates", PRESETS]):
            entries = report_of(binary, manuals, None, os.path.join(data, "manuals.json"),
                                *options)
            found += [("manuals " + " ".join(options[:1]), *b) for b in false_alarms(entries)]
        print("UTF-8 manual pages and documentation of the corpus's packages: %d files; "
              "false alarms: %d" % (n, len(found)))
        alarms += found
    for alarm in alarms[:40]:
        print("  false alarm:", *alarm)


if __name__ == "__main__":
    main()
