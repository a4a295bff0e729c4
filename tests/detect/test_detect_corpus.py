#!/usr/bin/env python3
"""Checks the detection corpus builder: labels true to glibc, split by source, deterministic;
and the cache of packaged text it reads, laid out as the installed packages would be."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "detect_corpus.py")
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import detect_corpus  # noqa: E402
import text_cache  # noqa: E402

REQUIRED_LANGUAGES = {"zh_CN", "zh_TW", "ja", "ko", "ru", "uk", "el", "de", "fr", "es", "pt",
                      "it", "pl", "cs", "hu", "tr", "he", "ar", "th", "vi"}


def preset_encodings():
    """Every encoding the product's presets name, read from its source."""
    with open(os.path.join(ROOT, "detect", "detect_labels.cpp"), encoding="utf-8") as f:
        source = f.read()
    body = source[source.index("presets()"):]
    body = body[:body.index("};")]
    # A preset's name may be marked for translation, and its list wrapped onto the next line.
    return {name for group in re.findall(r"\{(?:N_\()?\"[^\"]+\"\)?,\s*\{([^}]*)\}\}", body)
            for name in re.findall(r"\"([^\"]+)\"", group)}


def build(out, half):
    subprocess.run([sys.executable, SCRIPT, "--out", out, "--half", half, "--size", "short"],
                   check=True, stderr=subprocess.DEVNULL)
    with open(os.path.join(out, "labels.tsv"), encoding="utf-8") as f:
        lines = f.read().splitlines()
    header = lines[0].split("\t")
    return header, [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def read(out, path):
    with open(os.path.join(out, path), "rb") as f:
        return f.read()


class CorpusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.both = os.path.join(cls.tmp.name, "both")
        cls.header, cls.rows = build(cls.both, "both")
        cls.texts = {h: list(detect_corpus.iter_texts(h, "short")) for h in ("tune", "held")}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_labels_have_the_documented_columns(self):
        self.assertEqual(self.header,
                         ["path", "encoding", "language", "class", "kind", "source", "half"])
        self.assertGreater(len(self.rows), 1000)

    def test_rebuilding_one_half_gives_the_same_files(self):
        held = os.path.join(self.tmp.name, "held")
        _, rows = build(held, "held")
        expected = [r for r in self.rows if r["half"] == "held"]
        self.assertEqual(rows, expected)
        for row in rows:
            self.assertEqual(read(held, row["path"]), read(self.both, row["path"]), row["path"])

    def test_no_source_lies_in_both_halves(self):
        halves = {}
        for row in self.rows:
            halves.setdefault(row["source"], set()).add(row["half"])
            self.assertTrue(row["path"].startswith(row["half"] + "/"), row["path"])
        self.assertGreater(len(halves), 40)
        self.assertEqual([s for s, h in halves.items() if len(h) > 1], [])
        for half in ("tune", "held"):
            kinds = {r["source"].split(":")[0] for r in self.rows if r["half"] == half}
            self.assertGreaterEqual(kinds, {"mo", "man", "iso"}, half)

    def test_shared_text_belongs_to_no_half(self):
        tune = {(lang, t) for lang, _, _, t in self.texts["tune"]}
        held = {(lang, t) for lang, _, _, t in self.texts["held"]}
        self.assertGreater(len(tune), 1000)
        self.assertGreater(len(held), 1000)
        self.assertEqual(sorted(tune & held)[:5], [])

    def test_every_preset_encoding_and_language_is_in_each_half(self):
        # Pages no language of the corpus is written in (Nordic, Celtic), or that read its
        # text as another listed page does (KOI8-RU as KOI8-U, ISO-2022-CN's escapes), are not.
        unlisted = {"ISO-8859-10", "ISO-8859-14", "KOI8-RU", "ISO-2022-CN"}
        wanted = (preset_encodings() - unlisted) | {"ISO-8859-1", "UTF-8", "ASCII", "CP437"}
        self.assertIn("CP1258", wanted)  # the parse of the presets found them
        for half in ("tune", "held"):
            rows = [r for r in self.rows if r["half"] == half]
            self.assertEqual(wanted - {r["encoding"] for r in rows}, set(), half)
            self.assertEqual(REQUIRED_LANGUAGES - {r["language"] for r in rows}, set(), half)
            for cls in ("title", "tiny", "small", "medium"):
                self.assertGreater(sum(r["class"] == cls for r in rows), 150, (half, cls))

    def test_each_file_decodes_to_its_text_and_fits_its_class(self):
        bounds = {"title": (1, 10**9), "tiny": (10, 60), "small": (60, 500),
                  "medium": (500, 8000), "ascii": (0, 0), "boxed": (1, 10**9)}
        for row in self.rows:
            data, text = read(self.both, row["path"]), read(self.both, "text/" + row["path"])
            decoded = detect_corpus.iconv(data, row["encoding"], "UTF-8")
            self.assertEqual(decoded, text, row["path"])
            count = sum(b >= 0x80 for b in data)
            if row["encoding"].startswith("ISO-2022-"):
                self.assertEqual(count, 0, row["path"])
                count = 2 * sum(ord(c) >= 0x80 for c in text.decode())
            low, high = bounds[row["class"]]
            self.assertTrue(low <= count <= high, (row["path"], count))

    def test_titles_are_a_few_words(self):
        titles = [r for r in self.rows if r["class"] == "title" and r["kind"] == "plain"]
        self.assertGreater(len(titles), 100)
        for row in titles:
            text = read(self.both, "text/" + row["path"]).decode().strip()
            self.assertLessEqual(len(text.split()), 6, row["path"])
            self.assertNotIn("\n", text, row["path"])

    def test_about_a_third_are_source_files(self):
        source = [r for r in self.rows if r["kind"] == "source"]
        self.assertTrue(0.25 <= len(source) / len(self.rows) <= 0.45)
        exts = {os.path.splitext(r["path"])[1] for r in source}
        self.assertGreaterEqual(len(exts), 3)
        self.assertNotIn(".txt", exts)

    def test_shift_jis_files_hold_no_yen_or_overline(self):
        # glibc's SHIFT_JIS reads 0x5C and 0x7E as yen and overline: such a file is CP932's.
        rows = [r for r in self.rows if r["encoding"] == "SHIFT_JIS"]
        self.assertGreater(len(rows), 10)
        for row in rows:
            text = read(self.both, "text/" + row["path"]).decode()
            self.assertFalse(set(text) & {"\u00a5", "\u203e"}, row["path"])

    def test_manual_pages_lose_their_markup(self):
        roff = ("." + '\\" comment\n.TH LS 1\n.SH NAME\nls \\- liste\n.PP\n'
                "\\fBcopie\\fR de \\fIfichier\\fP \\(em fin\n.B gras\nsuite\n")
        self.assertEqual(detect_corpus._man_paragraphs(roff),
                         ["NAME", "ls - liste", "copie de fichier - fin gras suite"])
        pages = [(s, t) for _, _, s, t in self.texts["held"] if s.startswith("man:")]
        self.assertGreater(len(pages), 1000)
        for source, text in pages:
            self.assertNotRegex(text, r"\\f[BIRP]|\\\(..|\\-", source)

    def test_refuses_a_folder_of_the_tracked_tree(self):
        target = os.path.join(ROOT, "job", "corpus_out")
        result = subprocess.run([sys.executable, SCRIPT, "--out", target, "--size", "short"],
                                capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("inside the repository", result.stderr)
        self.assertFalse(os.path.exists(target))

    def test_refuses_to_clear_a_folder_that_holds_something_else(self):
        other = os.path.join(self.tmp.name, "other")
        os.makedirs(other)
        with open(os.path.join(other, "keep.txt"), "w") as f:
            f.write("mine")
        result = subprocess.run([sys.executable, SCRIPT, "--out", other], capture_output=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(os.listdir(other), ["keep.txt"])


def make_deb(tmp, name, files, multi_arch=None, links=()):
    """A package file holding `files` ({path: bytes}), links and debconf questions."""
    tree = os.path.join(tmp, "src-" + name)
    for path, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
        with open(os.path.join(tree, path), "wb") as f:
            f.write(data)
    for path, target in links:
        os.symlink(target, os.path.join(tree, path))
    os.makedirs(os.path.join(tree, "DEBIAN"))
    control = [f"Package: {name}", "Version: 1.0-1", "Architecture: amd64", "Maintainer: t <t@t>",
               "Description: t"] + ([f"Multi-Arch: {multi_arch}"] if multi_arch else [])
    with open(os.path.join(tree, "DEBIAN", "control"), "w") as f:
        f.write("\n".join(control) + "\n")
    with open(os.path.join(tree, "DEBIAN", "templates"), "w") as f:
        f.write(f"Template: {name}/q\nType: note\nDescription: q\nDescription-de.UTF-8: Frage\n")
    deb = os.path.join(tmp, name + ".deb")
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zgzip", "--build", tree, deb], check=True,
                   stdout=subprocess.DEVNULL)
    return deb


class TextCacheTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_unpacked_packages_read_as_installed_ones(self):
        man = "usr/share/man/de/man1/"
        a = make_deb(self.tmp.name, "liba", {
            "usr/share/locale/de/LC_MESSAGES/a.mo": b"A", man + "a.1.gz": b"page",
            "usr/bin/a": b"binary"}, multi_arch="same",
            links=[(man + "alias.1.gz", "/" + man + "a.1.gz")])
        b = make_deb(self.tmp.name, "b", {"usr/share/locale/de/LC_MESSAGES/a.mo": b"B"},
                     multi_arch="foreign")
        trees = [os.path.join(self.tmp.name, "pkg", n) for n in ("liba", "b")]
        text_cache.unpack(a, trees[0])
        text_cache.unpack(b, trees[1])
        root = os.path.join(self.tmp.name, "root")
        clashes = text_cache.merge(trees, root)
        self.assertEqual(clashes, ["usr/share/locale/de/LC_MESSAGES/a.mo"])
        self.assertEqual(read(root, "usr/share/locale/de/LC_MESSAGES/a.mo"), b"A")
        # dpkg's names, which order the debconf sources of the corpus.
        self.assertEqual(sorted(os.listdir(os.path.join(root, "var/lib/dpkg/info"))),
                         ["b.templates", "liba:amd64.templates"])
        self.assertFalse(os.path.exists(os.path.join(root, "usr/bin")))
        # A link stays a link (the corpus skips them) and leads into the cache.
        alias = os.path.join(root, man, "alias.1.gz")
        self.assertTrue(os.path.islink(alias))
        self.assertEqual(os.path.realpath(alias), os.path.join(os.path.realpath(root), man,
                                                               "a.1.gz"))

    def test_a_complete_cache_needs_no_apt_and_an_empty_one_fails(self):
        cache = os.path.join(self.tmp.name, "cache")
        env = dict(os.environ, OUZEL_TEXT_DIR=cache, PATH=os.path.join(self.tmp.name, "bin"))
        fetch = [sys.executable, os.path.join(ROOT, "scripts", "text_cache.py"), "fetch"]
        empty = subprocess.run(fetch, env=env, capture_output=True, text=True)
        self.assertNotEqual(empty.returncode, 0)
        self.assertIn("cannot fetch", empty.stderr)
        os.makedirs(os.path.join(cache, "root"))
        with open(os.path.join(cache, "root", text_cache.MANIFEST), "w") as f:
            f.writelines(f"{name} 1.0 all\n" for name in text_cache.PACKAGES)
        complete = subprocess.run(fetch, env=env, capture_output=True, text=True)
        self.assertEqual((complete.returncode, complete.stdout.strip()),
                         (0, os.path.join(cache, "root")))


if __name__ == "__main__":
    unittest.main()
