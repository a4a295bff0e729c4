#!/usr/bin/env python3
"""The translations' checks.
marks: fails when a text a person reads is a string literal not marked for translation (_(),
N_(), P_()) in the given sources, unless po/not-translated.txt lists it as read by programs (a
probe, a file name, the product's name). An entry of that list that no longer matches fails too.
catalogues: makes the template from the sources again and fails when po/ouzeltool.pot is not
that template, or a catalogue does not pass `msgfmt --check`, lacks a translation of one of its
texts, has one marked fuzzy, or drops an option, a placeholder name or a file name it holds.
Usage: scripts/check_i18n.py marks SOURCE_DIR PATH...   (folders or files, relative to it)
       scripts/check_i18n.py catalogues SOURCE_DIR MSGFMT XGETTEXT [OPTION...] -- SOURCE...
"""
import os
import re
import subprocess
import sys
import tempfile

MARKERS = ("_", "N_", "P_")
# Calls whose literals are never shown: samples a width is measured with.
NOT_SHOWN = ("CalcTextSize",)
# Words of two letters or more, in a text with a blank or beginning with a capitalised word.
WORD = re.compile(r"[A-Za-z]{2,}")
CAPITALISED = re.compile(r"^[^A-Za-z]*[A-Z][a-z]")
FORMAT = re.compile(r"%[-+ #0-9.*]*(?:hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp%]")
ESCAPE = re.compile(r"\\(?:x[0-9A-Fa-f]+|u[0-9A-Fa-f]{4}|[0-7]{1,3}|.)")
BLANK_ESCAPE = re.compile(r"\\[nrt]")


def literals(text):
    """(line, value, marked) per string literal, adjacent ones joined, comments skipped;
    marked: inside a marker, or a call that never shows it."""
    out = []
    stack = []  # per open parenthesis: whether it belongs to a marker or a call never shown
    i, line, n = 0, 1, len(text)
    pending = None  # [line, value, marked] of the literal being joined
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            line += text.count("\n", i, end)
            i = end
            continue
        if c == "#" and text[text.rfind("\n", 0, i) + 1:i].strip() == "":
            # A preprocessor line: includes and macro values are not texts of the program's.
            end = i
            while True:
                end = text.find("\n", end)
                if end < 0 or text[end - 1] != "\\":
                    break
                end += 1
            end = n if end < 0 else end
            line += text.count("\n", i, end)
            i = end
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^(\s]*)\(', text[i:])
        if raw:
            close = ")" + raw.group(1) + '"'
            start = i + raw.end()
            end = text.find(close, start)
            value, i0 = text[start:end], i
            i = end + len(close)
            pending = join(out, pending, line, value, any(stack))
            line += text.count("\n", i0, i)
            continue
        quote = re.match(r'(?:u8|u|U|L)?"', text[i:])
        if quote and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            j = i + quote.end()
            while text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            pending = join(out, pending, line, text[i + quote.end():j], any(stack))
            i = j + 1
            continue
        if c == "'" and not (i > 0 and text[i - 1].isalnum()):
            j = i + 1
            while text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        if not c.isspace():
            if pending:
                out.append(tuple(pending))
                pending = None
        if c == "(":
            name = re.search(r"([A-Za-z_][A-Za-z_0-9]*)\s*$", text[max(0, i - 40):i])
            stack.append(bool(name) and name.group(1) in MARKERS + NOT_SHOWN)
        elif c == ")" and stack:
            stack.pop()
        i += 1
    if pending:
        out.append(tuple(pending))
    return out


def join(out, pending, line, value, marked):
    if pending:
        pending[1] += value
        return pending
    return [line, value, marked]


def is_text(value):
    """Whether a literal reads as words for a person: words with a blank between them, a
    capitalised word, or a word that a blank joins to others ("repaired: ", " aside")."""
    if value.startswith("##"):
        return False
    plain = ESCAPE.sub("", BLANK_ESCAPE.sub(" ", FORMAT.sub("", value.split("##")[0])))
    if not WORD.search(plain):
        return False
    if " " in plain.strip() or CAPITALISED.match(plain):
        return True
    return bool(re.search(r"[a-z]{3,}", plain)) and plain != plain.strip()


def sources(root, paths):
    for p in paths:
        full = os.path.join(root, p)
        if os.path.isdir(full):
            for name in sorted(os.listdir(full)):
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(p, name)
        else:
            yield p


def check_marks(root, paths):
    allowed = {}
    with open(os.path.join(root, "po", "not-translated.txt"), encoding="utf-8") as f:
        for number, entry in enumerate(f, 1):
            entry = entry.rstrip("\n")
            if entry and not entry.startswith("#"):
                path, _, literal = entry.partition(" ")
                allowed[(path, literal)] = number
    used = set()
    bad = 0
    for path in sources(root, paths):
        with open(os.path.join(root, path), encoding="utf-8") as f:
            text = f.read()
        for line, value, marked in literals(text):
            if marked or not is_text(value):
                continue
            key = (path, '"%s"' % value)
            if key in allowed:
                used.add(key)
                continue
            print('%s:%d: not marked for translation: "%s"' % (path, line, value))
            bad += 1
    checked = set(sources(root, paths))
    for key, number in sorted(allowed.items(), key=lambda kv: kv[1]):
        if key not in used and key[0] in checked:
            print("po/not-translated.txt:%d: matches nothing: %s %s" % (number, *key))
            bad += 1
    if bad:
        print("%d problem(s): mark the texts with _() (N_() in tables, P_() with a count), or "
              "list a text read by programs in po/not-translated.txt" % bad)
        return 1
    print("check_i18n: every text of %d files is marked" % len(checked))
    return 0


# What a translation keeps as it is: options, upper-case names (INPUT, UTF-8, SIGTERM), and
# names with a dot or an underscore (.editorconfig, end_of_line, ouzel.yml).
KEPT = re.compile(r"--[a-z][a-z-]*|\b[A-Z][A-Z0-9]+(?:[-_][A-Z0-9]+)*\b|"
                  r"[A-Za-z0-9]*[._][A-Za-z][A-Za-z0-9._-]*")


def unquote(block):
    text = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', block))
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


def entries(path):
    """(msgid, [msgstr...], fuzzy) of every live entry of a .po or .pot file."""
    with open(path, encoding="utf-8") as f:
        blocks = f.read().split("\n\n")
    out = []
    for block in blocks:
        lines = [l for l in block.strip("\n").split("\n") if l and not l.startswith("#~")]
        if not any(l.startswith("msgid") for l in lines):
            continue
        fuzzy = any(l.startswith("#,") and "fuzzy" in l for l in lines)
        body = "\n".join(l for l in lines if not l.startswith("#"))
        parts = re.split(r"^(msgid_plural|msgid|msgstr(?:\[\d+\])?) ", body, flags=re.M)[1:]
        fields = {}
        for key, value in zip(parts[0::2], parts[1::2]):
            fields.setdefault(key.split("[")[0], []).append(unquote(value))
        msgid = fields["msgid"][0]
        if msgid:
            out.append((msgid, fields.get("msgstr", []), fuzzy))
    return out


def check_catalogues(root, msgfmt, xgettext, options, sources):
    bad = []
    with tempfile.TemporaryDirectory() as tmp:
        fresh = os.path.join(tmp, "fresh.pot")
        subprocess.run([xgettext] + options + ["-o", fresh] + sources, cwd=root, check=True)
        wanted = [e[0] for e in entries(fresh)]
    committed = [e[0] for e in entries(os.path.join(root, "po", "ouzeltool.pot"))]
    if sorted(committed) != sorted(wanted):
        bad.append("po/ouzeltool.pot is not the sources' template: run `cmake --build <build> "
                   "--target po-merge` and translate what it adds")
    languages = sorted(f[:-3] for f in os.listdir(os.path.join(root, "po")) if f.endswith(".po"))
    for lang in languages:
        po = os.path.join(root, "po", lang + ".po")
        r = subprocess.run([msgfmt, "--check", "-o", os.devnull, po], capture_output=True,
                           text=True)
        if r.returncode != 0:
            bad.append("%s: msgfmt --check fails:\n%s" % (po, r.stderr))
        translated = {}
        for msgid, msgstrs, fuzzy in entries(po):
            if fuzzy:
                bad.append("%s: fuzzy: %r" % (po, msgid))
            elif msgstrs and all(msgstrs):
                translated[msgid] = msgstrs
        for msgid in wanted:
            if msgid not in translated:
                bad.append("%s: no translation of %r" % (po, msgid))
                continue
            for form in translated[msgid]:
                lost = [t for t in set(KEPT.findall(msgid)) if t not in form and t != msgid]
                if lost:
                    bad.append("%s: %s missing from the translation of %r" % (po, lost, msgid))
    for line in bad:
        print(line)
    if bad:
        return 1
    print("check_i18n: %d catalogues translate all %d texts" % (len(languages), len(wanted)))
    return 0


def main():
    mode, root = sys.argv[1], sys.argv[2]
    if mode == "marks":
        return check_marks(root, sys.argv[3:])
    split = sys.argv.index("--")
    return check_catalogues(root, sys.argv[3], sys.argv[4], sys.argv[5:split],
                            sys.argv[split + 1:])


if __name__ == "__main__":
    sys.exit(main())
