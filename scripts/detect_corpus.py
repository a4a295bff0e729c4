#!/usr/bin/env python3
"""Builds a labelled corpus of real packaged text in legacy encodings, for detection benchmarks.

Interface (other tools rely on it; keep it):

  python3 scripts/detect_corpus.py --out DIR [--half tune|held|both] [--size short|full]

  DIR/labels.tsv    header line, then one row per file, tab-separated:
                    path encoding language class kind source half
                    path      relative to DIR: <half>/<ENCODING>/<language>-<class>-<nn>.<ext>
                    encoding  a glibc iconv name (the file decodes with it to exactly its text)
                    class     by the count of bytes >= 0x80 in the file: title (1-6 words),
                              tiny 10-60, small 60-500, medium 500-8000; `ascii` for the
                              ASCII files (none); `boxed` for English text in a box of
                              line-drawing characters (CP437). ISO-2022-JP, -KR and -CN
                              count the bytes of their non-ASCII characters, since their
                              files have none >= 0x80.
                    kind      plain (text alone) or source (text in comments and strings of
                              ASCII code)
                    source    where the text comes from: mo:<domain>, iso:<standard>,
                              man:<page>, debconf:<package>
                    half      tune or held
  DIR/text/<path>   the exact UTF-8 text of each file, so anything can score by decoded text.

  Importable: iter_texts(half) yields (language, kind, source_id, utf8_text) for every piece
  of real text of that half (kind: message, title or doc), for building language models.

Text comes from what Debian packages ship: gettext catalogues (program messages), iso-codes
translations (short titles), translated manual pages (documentation paragraphs) and debconf
templates (installation questions). Each file holds text of one source in one language. The
packages are fetched and unpacked, never installed, by scripts/text_cache.py (run on demand);
DIR/packages.txt names the version of each, since another version may change the corpus.

Important: the corpus is split by SOURCE (a stable hash of the source id, the same for every
language), never by file, into `tune` and `held`. The held half is held out: nothing may ever
be tuned on it (no thresholds, no model data, no weights); report accuracy on it only.

Deterministic (fixed seeds, sorted inputs). The output directory must lie outside the
repository's tracked tree (a build* or bench-data folder of the repository is fine); generated
corpora are never committed.
"""

import argparse
import ctypes
import gzip
import hashlib
import os
import random
import re
import shutil
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import text_cache  # noqa: E402

TEXT_ROOT = text_cache.root()
LOCALE_DIR = os.path.join(TEXT_ROOT, "usr", "share", "locale")
MAN_DIR = os.path.join(TEXT_ROOT, "usr", "share", "man")
DEBCONF_DIR = os.path.join(TEXT_ROOT, "var", "lib", "dpkg", "info")

# Language -> (locale folders, encodings it is written in besides UTF-8).
LANGUAGES = {
    "zh_CN": (["zh_CN"], ["GB18030", "GBK"]),
    "zh_TW": (["zh_TW"], ["BIG5", "BIG5-HKSCS", "EUC-TW"]),
    "ja": (["ja"], ["CP932", "EUC-JP", "SHIFT_JIS", "ISO-2022-JP"]),
    "ko": (["ko"], ["CP949", "EUC-KR", "JOHAB", "ISO-2022-KR"]),
    "ru": (["ru"], ["CP1251", "KOI8-R", "CP866", "ISO-8859-5", "MAC-CYRILLIC", "CP855"]),
    "uk": (["uk"], ["CP1251", "KOI8-U", "CP866"]),
    "el": (["el"], ["CP1253", "ISO-8859-7"]),
    "de": (["de"], ["CP1252", "ISO-8859-15", "ISO-8859-1", "CP850", "MACINTOSH"]),
    "fr": (["fr"], ["CP1252", "ISO-8859-15", "ISO-8859-1", "CP850", "MACINTOSH"]),
    "es": (["es"], ["CP1252", "ISO-8859-15", "ISO-8859-1", "CP437"]),
    "pt": (["pt", "pt_BR"], ["CP1252", "ISO-8859-15", "ISO-8859-1"]),
    "it": (["it"], ["CP1252", "ISO-8859-15", "ISO-8859-1"]),
    "pl": (["pl"], ["CP1250", "ISO-8859-2", "CP852", "ISO-8859-16"]),
    "cs": (["cs"], ["CP1250", "ISO-8859-2", "MAC-CENTRALEUROPE"]),
    "hu": (["hu"], ["CP1250", "ISO-8859-2"]),
    "tr": (["tr"], ["CP1254", "ISO-8859-9", "ISO-8859-3"]),
    "he": (["he"], ["CP1255", "ISO-8859-8"]),
    "ar": (["ar"], ["CP1256", "ISO-8859-6"]),
    "th": (["th"], ["CP874", "TIS-620", "ISO-8859-11"]),
    "vi": (["vi"], ["CP1258", "VISCII"]),
    "lt": (["lt"], ["CP1257", "ISO-8859-13", "ISO-8859-4"]),
    "lv": (["lv"], ["CP1257", "ISO-8859-13"]),
}
# English text in a box of line-drawing characters, as DOS-era files hold it (class `boxed`).
BOXED_ENCODING = "CP437"
NO_SPACE_LANGUAGES = {"zh_CN", "zh_TW", "ja", "th"}
ASCII_LANGUAGE = "en"

CLASSES = {"title": (1, 10**9), "tiny": (10, 60), "small": (60, 500), "medium": (500, 8000)}
MEDIUM_CAP = 2500  # medium files stop here: the class allows 8000, run time does not
FILES_PER_CELL = {"short": 3, "full": 12}  # per language, encoding, class and half
MAN_PAGES_PER_LANGUAGE = {"short": 80, "full": 100000}
SEED = 20261208

# iso-codes domains grouped by standard, so overlapping catalogues share one half.
ISO_GROUPS = {
    "iso_3166-1": "3166", "iso_3166-3": "3166", "iso_3166-2": "3166-2", "iso_4217": "4217",
    "iso_15924": "15924", "iso_639-2": "639", "iso_639-3": "639", "iso_639-5": "639",
}
# Older names of the same iso-codes catalogues, left out so no text counts twice.
ISO_ALIASES = {"iso_3166", "iso_3166_2", "iso_639", "iso_639_3", "iso_639_5"}


# ---------------------------------------------------------------------------------------------
# glibc iconv, so labels mean exactly what the product's converter does with them.

_libc = ctypes.CDLL(None, use_errno=True)
_libc.iconv_open.restype = ctypes.c_void_p
_libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_libc.iconv.restype = ctypes.c_size_t
_libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.c_void_p] * 4
_libc.iconv_close.argtypes = [ctypes.c_void_p]
_FAIL = ctypes.c_size_t(-1).value
_descriptors = {}


def _descriptor(src, dst):
    key = (src, dst)
    if key not in _descriptors:
        cd = _libc.iconv_open(dst.encode(), src.encode())
        if cd is None or cd == ctypes.c_void_p(-1).value:
            raise ValueError(f"iconv cannot convert {src} to {dst}")
        _descriptors[key] = cd
    return _descriptors[key]


def iconv(data, src, dst):
    """`data` converted by glibc iconv, or None where it cannot be converted exactly."""
    cd = _descriptor(src, dst)
    _libc.iconv(cd, None, None, None, None)  # Important: reset the shift state of reused cd
    inbuf = ctypes.create_string_buffer(data, len(data))
    out_size = len(data) * 4 + 16
    outbuf = ctypes.create_string_buffer(out_size)
    inp, inl = ctypes.c_char_p(ctypes.addressof(inbuf)), ctypes.c_size_t(len(data))
    outp, outl = ctypes.c_char_p(ctypes.addressof(outbuf)), ctypes.c_size_t(out_size)
    args = [ctypes.byref(inp), ctypes.byref(inl), ctypes.byref(outp), ctypes.byref(outl)]
    if _libc.iconv(cd, *args) == _FAIL or inl.value != 0:
        return None
    if _libc.iconv(cd, None, None, ctypes.byref(outp), ctypes.byref(outl)) == _FAIL:
        return None
    return outbuf.raw[: out_size - outl.value]


def encode_exact(text, encoding):
    """`text` in `encoding`, or None unless decoding it back gives exactly `text`."""
    raw = text.encode("utf-8")
    if encoding == "UTF-8":
        return raw
    data = iconv(raw, "UTF-8", encoding)
    if data is None or iconv(data, encoding, "UTF-8") != raw:
        return None
    return data


def high_count(text, data, encoding):
    if encoding.startswith("ISO-2022-"):
        return 2 * sum(1 for c in text if ord(c) >= 0x80)
    return sum(1 for b in data if b >= 0x80)


# ---------------------------------------------------------------------------------------------
# Sources: each yields (source_id, kind, [units]) for one language.

_CONTROL = re.compile(r"[\x00-\x08\x0b-\x1f\x7f-\x9f\u2028\u2029\ufeff]")


def _clean(text):
    text = text.replace("\r", "").strip()
    if not text or _CONTROL.search(text):
        return None
    return text


def _stable_hash(text):
    return int.from_bytes(hashlib.sha256(text.encode()).digest()[:8], "big")


def half_of(source_id):
    """The half a source belongs to: the same for every language, and for every run."""
    return "tune" if _stable_hash("half:" + source_id) % 2 == 0 else "held"


def _mo_catalogue(path):
    """(msgid, msgstr) pairs of a compiled catalogue: singular forms, context dropped."""
    try:
        with open(path, "rb") as f:
            data = f.read()
        order = "<" if data[:4] == b"\xde\x12\x04\x95" else ">"
        count, originals, translations = struct.unpack(order + "3I", data[8:20])
        entries = []
        for i in range(count):
            pair = []
            for table in (originals, translations):
                length, offset = struct.unpack(order + "2I", data[table + 8 * i:table + 8 * i + 8])
                pair.append(data[offset:offset + length].split(b"\0")[0])
            entries.append(pair)
    except (OSError, struct.error):
        return []
    charset = "utf-8"
    for msgid, msgstr in entries:
        if msgid == b"":
            match = re.search(rb"charset=([-\w]+)", msgstr)
            charset = match.group(1).decode() if match else charset
    pairs = []
    for msgid, msgstr in entries:
        try:
            pairs.append((msgid.split(b"\x04")[-1].decode(charset), msgstr.decode(charset)))
        except (UnicodeDecodeError, LookupError):
            continue
    return pairs


def _mo_sources(folders, english=False):
    """Catalogues of the language (or their English msgids): (source_id, kind, units)."""
    seen = set()
    for folder in folders:
        directory = os.path.join(LOCALE_DIR, folder, "LC_MESSAGES")
        for name in sorted(os.listdir(directory)) if os.path.isdir(directory) else []:
            domain = name[:-3]
            if not name.endswith(".mo") or domain in ISO_ALIASES or domain in seen:
                continue
            seen.add(domain)
            catalogue = _mo_catalogue(os.path.join(directory, name))
            texts = []
            for msgid, value in catalogue:
                if msgid == "":
                    continue
                text = _clean(msgid if english else value)
                if text and (english or value != msgid):
                    texts.append(text)
            if domain in ISO_GROUPS:
                yield "iso:" + ISO_GROUPS[domain], "title", texts
            else:
                yield "mo:" + domain, "message", texts


_ROFF_ESCAPES = [
    (re.compile(r"\\f(\[[^\]]*\]|\(..|.)"), ""),
    (re.compile(r"\\s[+-]?\d+"), ""),
    (re.compile(r"\\\*(\[[^\]]*\]|\(..|.)"), ""),
    (re.compile(r"\\\((em|en|hy)"), "-"),
    (re.compile(r"\\\((lq|rq|dq)"), '"'),
    (re.compile(r"\\\((aq|oq|cq)"), "'"),
    (re.compile(r"\\\(bu"), "*"),
    (re.compile(r"\\\(co"), "(c)"),
    (re.compile(r"\\\(..|\\\[[^\]]*\]"), ""),
    (re.compile(r"\\[-]"), "-"),
    (re.compile(r"\\[e\\]"), "\\\\"),
    (re.compile(r"\\[&/,:|^%cdu]"), ""),
    (re.compile(r"\\[ ~0]"), " "),
    (re.compile(r"\\[nkz]."), ""),
]
_TEXT_MACROS = {"SH", "SS", "B", "I", "BR", "IR", "RB", "BI", "IB", "RI", "SM", "SB", "TP", "IP"}
_BREAK_MACROS = {"PP", "LP", "P", "SH", "SS", "TP", "IP", "HP", "RS", "RE", "nf", "fi", "br",
                 "sp", "EX", "EE", "TH"}


def _roff_line(text):
    for pattern, replacement in _ROFF_ESCAPES:
        text = pattern.sub(replacement, text)
    return text.replace("\\", "")


def _man_paragraphs(roff):
    """Documentation paragraphs of a manual page, markup stripped."""
    paragraphs, current = [], []

    def flush():
        if current:
            text = _clean(re.sub(r"[ \t]+", " ", " ".join(current)))
            if text:
                paragraphs.append(text)
            current.clear()

    for line in roff.split("\n"):
        if line.startswith((".\\\"", "'\\\"", '.\\"')):
            continue
        if line.startswith((".", "'")):
            parts = line[1:].strip().split(None, 1)
            macro = parts[0] if parts else ""
            if macro in _BREAK_MACROS:
                flush()
            if macro in _TEXT_MACROS and len(parts) > 1:
                words = re.findall(r'"[^"]*"|\S+', parts[1])
                current.append(_roff_line(" ".join(w.strip('"') for w in words)))
                if macro in ("SH", "SS"):
                    flush()
            continue
        if not line.strip():
            flush()
            continue
        current.append(_roff_line(line.strip()))
    flush()
    return paragraphs


def _man_sources(folders, limit):
    """Translated manual pages: (source_id, "doc", paragraphs), at most `limit` pages."""
    pages = []
    for folder in folders:
        root = os.path.join(MAN_DIR, folder)
        for directory, _, names in os.walk(root):
            for name in names:
                if ".gz" in name or re.search(r"\.\d\w*$", name):
                    pages.append(os.path.join(directory, name))
    pages.sort(key=lambda p: (_stable_hash(os.path.basename(p)), p))
    seen = set()
    for path in pages:
        page = re.sub(r"\.gz$", "", os.path.basename(path))
        if page in seen or len(seen) >= limit or os.path.islink(path):
            continue
        try:
            with (gzip.open if path.endswith(".gz") else open)(path, "rb") as f:
                roff = f.read(400000).decode("utf-8")
        except (OSError, UnicodeDecodeError, EOFError, gzip.BadGzipFile):
            continue
        if roff.startswith(".so "):
            continue
        seen.add(page)
        yield "man:" + page, "doc", _man_paragraphs(roff)


def _debconf_sources(language_folders):
    """Translated debconf templates: (source_id, "doc", descriptions) of one language."""
    fields = {f"Description-{f}.UTF-8" for f in language_folders}
    names = sorted(os.listdir(DEBCONF_DIR)) if os.path.isdir(DEBCONF_DIR) else []
    for name in names:
        if not name.endswith(".templates"):
            continue
        try:
            with open(os.path.join(DEBCONF_DIR, name), encoding="utf-8") as f:
                content = f.read()
        except (OSError, UnicodeDecodeError):
            continue
        texts, current = [], None
        for line in content.split("\n") + [""]:
            if line.startswith(" ") and current is not None:
                current.append("" if line.strip() == "." else line.strip())
                continue
            if current:
                text = _clean("\n".join(current))
                if text:
                    texts.append(re.sub(r"\n{3,}", "\n\n", text))
            key, _, value = line.partition(":")
            current = [value.strip()] if key in fields else None
        package = name[: -len(".templates")].split(":")[0]
        if texts:
            yield "debconf:" + package, "doc", texts


def language_sources(language, size="full"):
    """Every source of `language`: list of (source_id, kind, units), in a stable order."""
    text_cache.fetch()
    if language == ASCII_LANGUAGE:
        return [s for s in _mo_sources(["fr", "de"], english=True)]
    folders = LANGUAGES[language][0]
    sources = list(_mo_sources(folders))
    sources += list(_man_sources(folders, MAN_PAGES_PER_LANGUAGE[size]))
    sources += list(_debconf_sources(folders))
    # Important: text found in two sources (translator credits, "Usage:") could sit in both
    # halves; it belongs to neither.
    seen, shared = set(), set()
    for _, _, units in sources:
        for text in set(units):
            (shared if text in seen else seen).add(text)
    sources = [(s, k, [t for t in units if t not in shared]) for s, k, units in sources]
    return [s for s in sources if s[2]]


def iter_texts(half, size="full", languages=None):
    """Yields (language, kind, source_id, utf8_text) of every piece of text of `half`."""
    if half not in ("tune", "held"):
        raise ValueError("half must be tune or held")
    for language in sorted(languages or LANGUAGES):
        for source_id, kind, units in language_sources(language, size):
            if half_of(source_id) == half:
                for text in units:
                    yield language, kind, source_id, text


# ---------------------------------------------------------------------------------------------
# Samples: files that look like what users convert.


def _is_title(language, text):
    if "\n" in text or text.isascii():
        return False
    if language in NO_SPACE_LANGUAGES:
        return len(text) <= 12 and len(text.split()) <= 3
    return len(text.split()) <= 6 and len(text) <= 60


def _c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def _py_string(text):
    if "\n" in text or '"' in text:
        return '"""' + text.replace("\\", "\\\\").replace('"""', '\\"\\"\\"') + '"""'
    return '"' + text.replace("\\", "\\\\") + '"'


def _comment_lines(prefix, text):
    return [f"{prefix} {line}".rstrip() for line in text.split("\n")]


def _source_cpp(units, rng):
    lines = ["#include <cstdio>", "#include <string>", ""]
    lines += ["namespace messages {", ""]
    for i, text in enumerate(units):
        if rng.random() < 0.5 or "\n" in text:
            lines += _comment_lines("//", text)
            lines.append(f"int step_{i}(int value) {{ return value * {i + 2} + 1; }}")
        else:
            lines.append(f"const char* const kText{i} = {_c_string(text)};")
        lines.append("")
    lines += ["}  // namespace messages", ""]
    return "\n".join(lines)


def _source_python(units, rng):
    lines = ["import sys", ""]
    for i, text in enumerate(units):
        if rng.random() < 0.5:
            lines += _comment_lines("#", text)
            lines += [f"def step_{i}(value):", f"    return value * {i + 2} + 1", ""]
        else:
            lines += [f"TEXT_{i} = {_py_string(text)}", ""]
    lines += ["if __name__ == '__main__':", "    sys.exit(0)", ""]
    return "\n".join(lines)


def _source_java(units, rng):
    lines = ["package org.example.text;", "", "public final class Messages {"]
    for i, text in enumerate(units):
        if rng.random() < 0.5 or "\n" in text:
            lines += ["    /**"] + _comment_lines("     *", text) + ["     */"]
            lines.append(f"    static int step{i}(int value) {{ return value * {i + 2}; }}")
        else:
            lines.append(f"    static final String TEXT_{i} = {_c_string(text)};")
        lines.append("")
    lines += ["}", ""]
    return "\n".join(lines)


def _source_shell(units, rng):
    lines = ["#!/bin/sh", "set -e", ""]
    for i, text in enumerate(units):
        if rng.random() < 0.5 or "'" in text:
            lines += _comment_lines("#", text)
            lines.append(f'count_{i}=$(( ${{1:-0}} + {i} ))')
        else:
            lines.append(f"printf '%s\\n' '{text}'")
        lines.append("")
    return "\n".join(lines)


SOURCE_FORMS = [("cpp", _source_cpp), ("py", _source_python), ("java", _source_java),
                ("sh", _source_shell)]


def _render(kind, units, unit_kind, rng):
    """The file's text and extension."""
    if kind == "plain":
        joiner = "\n\n" if unit_kind == "doc" else "\n"
        return joiner.join(units) + "\n", "txt"
    ext, form = SOURCE_FORMS[rng.randrange(len(SOURCE_FORMS))]
    return form(units, rng), ext


class Pool:
    """The sources of one language and half, with their units' encoded forms cached."""

    def __init__(self, language, sources):
        self.language = language
        self.sources = sources
        self.cache = {}
        self.titles = [(s, k, t) for s, k, units in sources for t in units
                       if _is_title(language, t)]
        # Characters >= 0x80 of each source: an upper bound of what it can give a file.
        self.capacity = [sum(len(t) - len(t.encode("ascii", "ignore")) for t in units)
                         for _, _, units in sources]

    def encoded(self, text, encoding):
        key = (text, encoding)
        if key not in self.cache:
            data = encode_exact(text, encoding)
            self.cache[key] = None if data is None else high_count(text, data, encoding)
        return self.cache[key]


def _pick_units(pool, encoding, cls, rng):
    """Units of one source whose high-byte count lands in the class, and their kind."""
    low, high = CLASSES[cls]
    if cls == "title":
        titles = pool.titles
        for _ in range(60):
            if not titles:
                return None
            source_id, kind, text = titles[rng.randrange(len(titles))]
            if pool.encoded(text, encoding):
                return source_id, kind, [text]
        return None
    high = min(high, MEDIUM_CAP) if cls == "medium" else high
    target = rng.randint(low, high) if cls != "medium" else rng.randint(low, (low + high) // 2)
    per_char = 1 if encoding.startswith(("CP12", "CP8", "ISO-8859", "KOI8", "TIS")) else 2
    order = [i for i, c in enumerate(pool.capacity) if c * per_char >= target]
    rng.shuffle(order)
    for index in order[:12]:
        source_id, kind, units = pool.sources[index]
        picks, count = [], 0
        for i in rng.sample(range(len(units)), len(units)):
            n = pool.encoded(units[i], encoding)
            if not n or count + n > high:
                continue
            picks.append(units[i])
            count += n
            if count >= target:
                return source_id, kind, picks
        if count >= low:
            return source_id, kind, picks
    return None


def _pick_ascii(pool, rng):
    sources = [s for s in pool.sources if len(s[2]) >= 4]
    source_id, kind, units = sources[rng.randrange(len(sources))]
    count = rng.choice([1, 3, 12, 40])
    picks = [u for u in rng.sample(units, min(count, len(units))) if u.isascii()]
    return (source_id, kind, picks) if picks else None


def _boxed(units, rng):
    """ASCII lines in a frame of line-drawing characters, a rule under the first."""
    lines = [line[:70] for unit in units for line in unit.split("\n") if line.strip()][:12]
    width = max(len(line) for line in lines) + 2
    double = rng.random() < 0.5
    h, v, corners, tee = ("═", "║", "╔╗╚╝", "╟─╢") if double else ("─", "│", "┌┐└┘", "├─┤")
    out = [corners[0] + h * width + corners[1]]
    for i, line in enumerate(lines):
        out.append(v + " " + line.ljust(width - 1) + v)
        if i == 0 and len(lines) > 1:
            out.append(tee[0] + tee[1] * width + tee[2])
    out.append(corners[2] + h * width + corners[3])
    return "\n".join(out) + "\n", "txt"


def _make_sample(pool, encoding, cls, kind, rng):
    """(text, data, ext, source_id) of one file, or None when the pool cannot give one."""
    for _ in range(8):
        ascii_units = cls in ("ascii", "boxed")
        picked = _pick_ascii(pool, rng) if ascii_units else _pick_units(pool, encoding, cls, rng)
        if picked is None:
            return None
        source_id, unit_kind, units = picked
        if cls == "boxed":
            text, ext = _boxed(units, rng)
            data = encode_exact(text, encoding)
            if data is not None:
                return text, data, ext, source_id
            continue
        text, ext = _render(kind, units, unit_kind, rng)
        data = encode_exact(text, encoding)
        if data is None:
            continue
        count = high_count(text, data, encoding)
        low, high = CLASSES.get(cls, (0, 0))
        if cls == "ascii" or low <= count <= high:
            return text, data, ext, source_id
    return None


def _cells(language):
    """(encoding, class) pairs a language is written in."""
    if language == ASCII_LANGUAGE:
        return [("ASCII", "ascii"), (BOXED_ENCODING, "boxed")]
    encodings = LANGUAGES[language][1] + ["UTF-8"]
    return [(e, c) for e in encodings for c in CLASSES]


def build(out, halves, size, log=sys.stderr):
    """Writes the corpus to `out`; returns the label rows."""
    rows = []
    per_cell = FILES_PER_CELL[size]
    for language in sorted(LANGUAGES) + [ASCII_LANGUAGE]:
        sources = language_sources(language, size)
        for half in halves:
            pool = Pool(language, [s for s in sources if half_of(s[0]) == half])
            for encoding, cls in _cells(language):
                count = per_cell * (2 if cls in ("ascii", "boxed") else 1)
                for n in range(count):
                    kind = "source" if n % 3 == 2 and cls != "boxed" else "plain"
                    seed = f"{SEED}:{language}:{encoding}:{cls}:{half}:{n}"
                    rng = random.Random(_stable_hash(seed))
                    sample = _make_sample(pool, encoding, cls, kind, rng)
                    if sample is None:
                        print(f"detect_corpus: no {cls} {kind} sample for {language} "
                              f"{encoding} in {half}", file=log)
                        continue
                    text, data, ext, source_id = sample
                    path = f"{half}/{encoding}/{language}-{cls}-{n:02d}.{ext}"
                    _write(out, path, data)
                    _write(os.path.join(out, "text"), path, text.encode("utf-8"))
                    rows.append([path, encoding, language, cls, kind, source_id, half])
    return rows


def _write(root, path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


def _check_out_dir(out):
    """Refuses a folder of the tracked tree, or one holding something else than a corpus."""
    repo = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
    real = os.path.realpath(out)
    if real == repo or real.startswith(repo + os.sep):
        top = os.path.relpath(real, repo).split(os.sep)[0]
        if not (top.startswith("build") or top == "bench-data"):
            sys.exit(f"detect_corpus: {out} is inside the repository; use a build* or "
                     "bench-data folder or one outside it")
    if os.path.isdir(out) and os.listdir(out) and not os.path.isfile(
            os.path.join(out, "labels.tsv")):
        sys.exit(f"detect_corpus: {out} is not empty and holds no corpus; refusing to clear it")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="folder to write the corpus to")
    parser.add_argument("--half", choices=["tune", "held", "both"], default="both")
    parser.add_argument("--size", choices=["short", "full"], default="full")
    args = parser.parse_args(argv)
    _check_out_dir(args.out)
    for stale in ("tune", "held", "text", "labels.tsv", text_cache.MANIFEST):
        path = os.path.join(args.out, stale)
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.remove(path)
    halves = ["tune", "held"] if args.half == "both" else [args.half]
    rows = build(args.out, halves, args.size)
    header = ["path", "encoding", "language", "class", "kind", "source", "half"]
    temporary = os.path.join(args.out, "labels.tsv.tmp")
    with open(temporary, "w", encoding="utf-8") as f:
        for row in [header] + rows:
            f.write("\t".join(row) + "\n")
    os.replace(temporary, os.path.join(args.out, "labels.tsv"))
    shutil.copy(os.path.join(TEXT_ROOT, text_cache.MANIFEST), args.out)
    print(f"detect_corpus: {len(rows)} files in {args.out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
