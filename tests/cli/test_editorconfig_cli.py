#!/usr/bin/env python3
"""ouzel-convert --editorconfig as a process on real trees: converting each file as its
.editorconfig says, and --check naming the first offending line of each file.
Usage: test_editorconfig_cli.py PATH_TO_OUZEL_CONVERT"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = ""
EDITORCONFIG = b"""root = true
[*]
charset = utf-8
end_of_line = lf
[*.{cpp,h}]
end_of_line = crlf
[win/**]
charset = utf-16le
[old/*.txt]
charset = latin1
[*.cs]
charset = utf-8-bom
"""


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root):
    out = {}
    for d, _, files in os.walk(root):
        for name in files:
            p = os.path.join(d, name)
            out[os.path.relpath(p, root)] = read(p)
    return out


class Editorconfig(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ouzel-ec-")
        self.src = os.path.join(self.tmp, "src")
        write(os.path.join(self.src, ".editorconfig"), EDITORCONFIG)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_cli(self, *args):
        return subprocess.run([BIN, *args], capture_output=True, timeout=120, cwd=self.tmp)

    def put(self, rel, data):
        write(os.path.join(self.src, rel), data)

    def bad_tree(self):
        self.put("a.cpp", b"int a;\r\n// ok\r\n")                           # right
        self.put("b.h", b"int b;\r\nint c;\n")                              # LF on line 2
        self.put("lib/c.py", "# 中文\n".encode("gbk") + b"x = 1\n")         # GBK on line 1
        self.put("lib/d.md", b"ok\nok\r\n")                                 # CRLF on line 2
        self.put("win/e.txt", b"\xff\xfe" + "中\nx\n".encode("utf-16le"))   # right
        self.put("old/f.txt", b"caf\xe9\n")                                 # right
        self.put("g.cs", b"class G {}\n")                                   # no mark
        self.put("h.txt", b"\xef\xbb\xbfmarked\n")                          # a mark

    # The first offending line of each wrong file, as file:line: what; right files unnamed,
    # nothing written, exit 1; the same for the files named as arguments.
    def test_check_names_first_offending_line(self):
        self.bad_tree()
        before = tree(self.src)
        r = self.run_cli("--check", "--editorconfig", "src")
        self.assertEqual(r.returncode, 1, r.stderr)
        err = r.stderr.decode()
        self.assertIn("b.h:2: LF line end, CRLF wanted; decided by .editorconfig: "
                      "charset=utf-8, end_of_line=crlf\n", err)
        self.assertIn("lib/c.py:1: not UTF-8 (column 3)", err)
        self.assertIn("lib/d.md:2: CRLF line end, LF wanted", err)
        self.assertIn("g.cs:1: no byte-order mark, one wanted", err)
        self.assertIn("h.txt:1: a byte-order mark, none wanted", err)
        for ok in ("a.cpp", "e.txt", "f.txt"):
            self.assertNotIn(ok, err)
        self.assertIn("check failed: 5 of 8 entries", err)
        self.assertEqual(tree(self.src), before)
        # Files as arguments, as a commit hook passes them.
        r = subprocess.run([BIN, "--check", "--editorconfig", "b.h", "a.cpp", "old/f.txt"],
                           capture_output=True, timeout=120, cwd=self.src)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual([l for l in r.stderr.decode().splitlines() if l.startswith("b.h")],
                         ["b.h:2: LF line end, CRLF wanted; decided by .editorconfig: "
                          "charset=utf-8, end_of_line=crlf"])
        r = subprocess.run([BIN, "--check", "--editorconfig", "a.cpp", "old/f.txt"],
                           capture_output=True, timeout=120, cwd=self.src)
        self.assertEqual(r.returncode, 0, r.stderr)

    # Converting in place with --editorconfig and --detect makes each file as its section says
    # (files already in their charset read as such), and the check passes afterwards.
    def test_convert_then_check_passes(self):
        self.bad_tree()
        os.remove(os.path.join(self.src, "old/f.txt"))  # no Chinese candidate reads it
        r = self.run_cli("--editorconfig", "--detect", "--from", "GBK", "--in-place", "src")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(os.path.join(self.src, "b.h")), b"int b;\r\nint c;\r\n")
        self.assertEqual(read(os.path.join(self.src, "lib/c.py")), "# 中文\nx = 1\n".encode())
        self.assertEqual(read(os.path.join(self.src, "lib/d.md")), b"ok\nok\n")
        self.assertEqual(read(os.path.join(self.src, "g.cs")), b"\xef\xbb\xbfclass G {}\n")
        self.assertEqual(read(os.path.join(self.src, "h.txt")), b"marked\n")
        self.assertEqual(read(os.path.join(self.src, "win/e.txt")),
                         b"\xff\xfe" + "中\nx\n".encode("utf-16le"))
        r = self.run_cli("--check", "--editorconfig", "src")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("check passed", r.stderr.decode())

    # A broken .editorconfig: its files are named with the file and line that cannot be parsed,
    # the check fails, a conversion leaves them as they are; the other files are converted.
    def test_broken_editorconfig_loses_nothing(self):
        self.put("a.cpp", "// 中文\r\n".encode("gbk"))
        self.put("sub/.editorconfig", b"[*.cpp\ncharset = latin1\n")
        self.put("sub/b.cpp", "// 中文\r\n".encode("gbk"))
        bad = os.path.join(self.src, "sub", ".editorconfig")
        r = self.run_cli("--check", "--editorconfig", "src")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("sub/b.cpp: cannot-convert: %s: line 1 cannot be parsed" % bad,
                      r.stderr.decode())
        r = self.run_cli("--editorconfig", "--from", "GBK", "--in-place", "src")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual(read(os.path.join(self.src, "sub/b.cpp")), "// 中文\r\n".encode("gbk"))
        self.assertEqual(read(os.path.join(self.src, "a.cpp")), "// 中文\r\n".encode())

    # A .editorconfig that is a FIFO or a link to /dev/zero, in the tree or above it, is named
    # for the files below it (cannot-convert, left as they are) at once: never waited on.
    def test_odd_editorconfig_is_named_not_waited_for(self):
        gbk = "// 中文\n".encode("gbk")
        self.put("sub/b.cpp", gbk)
        for folder in (os.path.join(self.src, "sub"), self.tmp):
            for kind in ("fifo", "zero"):
                with self.subTest(folder=folder, kind=kind):
                    odd = os.path.join(folder, ".editorconfig")
                    if kind == "fifo":
                        os.mkfifo(odd)
                    else:
                        os.symlink("/dev/zero", odd)
                    try:
                        r = subprocess.run([BIN, "--editorconfig", "--in-place", "src"],
                                           capture_output=True, timeout=20, cwd=self.tmp)
                    finally:
                        os.unlink(odd)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("sub/b.cpp: cannot-convert: %s is not a regular file" % odd,
                                  r.stderr.decode())
                    self.assertEqual(read(os.path.join(self.src, "sub/b.cpp")), gbk)

    # Without --editorconfig, .editorconfig files change nothing.
    def test_off_without_the_option(self):
        self.put("b.h", b"int b;\r\nint c;\n")
        r = self.run_cli("--check", "--to", "UTF-8", "src")
        self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
