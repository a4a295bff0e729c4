#!/usr/bin/env python3
"""ouzel-convert as a process: what it writes, its exit statuses, its reports, its output on a
terminal and off one, and a stop by signal. Usage: test_ouzel_convert.py PATH_TO_OUZEL_CONVERT"""
import csv
import io
import json
import os
import pty
import re
import unicodedata
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BIN = ""
GBK_TEXT = "字符编码转换工具，中文注释。\n".encode("gbk")
UTF8_TEXT = "字符编码转换工具，中文注释。\n".encode("utf-8")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root):
    """{relative path: bytes} of every regular file under root."""
    out = {}
    for d, _, files in os.walk(root):
        for name in files:
            p = os.path.join(d, name)
            out[os.path.relpath(p, root)] = read(p)
    return out


def unreadable_file(root):
    """A file the search lists but that cannot be opened: no permission at all (the test then
    runs the program as an unprivileged user when it runs as root)."""
    name = "locked.txt"
    write(os.path.join(root, name), UTF8_TEXT)
    os.chmod(os.path.join(root, name), 0)
    return name


# Runs a command with permissions in force (as nobody when we are root).
AS_UNPRIVILEGED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                               "as_unprivileged.sh")


class OuzelConvert(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ouzel-cli-")
        self.src = os.path.join(self.tmp, "in")
        self.out = os.path.join(self.tmp, "out")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_cli(self, *args, **kw):
        return subprocess.run([BIN, *args], capture_output=True, timeout=120, cwd=self.tmp, **kw)

    def stderr_lines(self, result):
        return result.stderr.decode("utf-8", "replace").splitlines()

    def mixed_tree(self):
        write(os.path.join(self.src, "a.cpp"), GBK_TEXT)
        write(os.path.join(self.src, "sub", "b.h"), b"int x;\n")
        write(os.path.join(self.src, "sub", "c,d.txt"), UTF8_TEXT)
        write(os.path.join(self.src, "中文", "名字.txt"), GBK_TEXT + GBK_TEXT)
        write(os.path.join(self.src, "bad.txt"), b"\x81\x20broken\n")

    # --detect reads each folder with its own encoding: GBK here, Big5 there, UTF-8 left as it is.
    def test_detect_reads_each_folder_right(self):
        comments = ["初始化缓冲区", "读取配置文件", "释放内存", "检查参数", "打开文件失败", "计算校验和"]
        traditional = ["初始化緩衝區", "讀取設定檔", "釋放記憶體", "檢查參數", "開啟檔案失敗", "計算校驗和"]
        expected = {}
        for i, (s, t) in enumerate(zip(comments, traditional)):
            for folder, text, enc in (("app", s, "gbk"), ("vendor", t, "big5")):
                src = "int f%d(void);\n// %s\n" % (i, text)
                write(os.path.join(self.src, folder, "f%d.c" % i), src.encode(enc))
                expected[os.path.join(folder, "f%d.c" % i)] = src.encode("utf-8")
        write(os.path.join(self.src, "u.c"), UTF8_TEXT)
        expected["u.c"] = UTF8_TEXT
        r = self.run_cli("--detect", "--candidates", "Chinese", self.src, self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.out), expected)

    # --dry-run classifies and reports, and writes nothing: no output tree, input unchanged.
    def test_dry_run_writes_nothing(self):
        self.mixed_tree()
        before = tree(self.src)
        stamps = {p: os.stat(os.path.join(self.src, p)).st_mtime_ns for p in before}
        r = self.run_cli("--dry-run", "--report", "r.json", self.src, self.out)
        self.assertEqual(r.returncode, 1, r.stderr)  # bad.txt cannot be converted
        self.assertFalse(os.path.exists(self.out))
        r = self.run_cli("--dry-run", self.src)  # no OUTPUT: looked at in place
        self.assertEqual(tree(self.src), before)
        self.assertEqual({p: os.stat(os.path.join(self.src, p)).st_mtime_ns for p in before},
                         stamps)
        self.assertEqual(len(json.loads(read(os.path.join(self.tmp, "r.json")))["files"]), 5)

    # --check passes on a tree that is already UTF-8 (ASCII and binary files included).
    def test_check_passes_on_utf8_tree(self):
        write(os.path.join(self.src, "a.cpp"), UTF8_TEXT)
        write(os.path.join(self.src, "x", "b.h"), b"plain ascii\n")
        write(os.path.join(self.src, "x", "pic.bin"), b"\x89PNG\x00\x00\xff")
        r = self.run_cli("--check", "--from", "GBK", "--to", "UTF-8", self.src)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("check passed", r.stderr.decode())
        self.assertEqual(r.stdout, b"")

    # --bom: add marks a converted file (the JSON report says the mark before and after); in
    # place keep leaves a marked UTF-8 file untouched, --check with the default (remove) fails
    # on it, and remove drops the mark; an unknown mode is a usage error.
    def test_bom_modes(self):
        write(os.path.join(self.src, "g.cpp"), GBK_TEXT)
        r = self.run_cli("--to", "UTF-8", "--bom", "add", "--report", "r.json", self.src,
                         self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(os.path.join(self.out, "g.cpp")), b"\xef\xbb\xbf" + UTF8_TEXT)
        entry = [f for f in json.loads(read(os.path.join(self.tmp, "r.json")))["files"]
                 if f["path"] == "g.cpp"][0]
        self.assertEqual((entry["mark_before"], entry["mark_after"]), (False, True))
        os.remove(os.path.join(self.src, "g.cpp"))
        write(os.path.join(self.src, "m.cpp"), b"\xef\xbb\xbf" + UTF8_TEXT)
        ino = os.stat(os.path.join(self.src, "m.cpp")).st_ino
        r = self.run_cli("--from", "UTF-8", "--to", "UTF-8", "--bom", "keep", self.src, self.src)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.stat(os.path.join(self.src, "m.cpp")).st_ino, ino)
        r = self.run_cli("--from", "UTF-8", "--to", "UTF-8", "--check", self.src)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("m.cpp", r.stderr.decode() + r.stdout.decode())
        r = self.run_cli("--from", "UTF-8", "--to", "UTF-8", "--bom", "remove", self.src,
                         self.src)
        self.assertEqual(read(os.path.join(self.src, "m.cpp")), UTF8_TEXT)
        r = self.run_cli("--bom", "sometimes", self.src)
        self.assertEqual(r.returncode, 2)

    # Rules from --config: the first match decides per file, the run's settings fill the rest;
    # the text, CSV and JSON reports name the rule; a bad rule refuses the run, writing nothing.
    def test_rules_from_config(self):
        crlf = GBK_TEXT.replace(b"\n", b"\r\n")
        for rel in ("a.cpp", "sub/b.h", "notes.txt", "run.sh"):
            write(os.path.join(self.src, rel), crlf)
        settings = os.path.join(self.tmp, "s.yml")
        with open(settings, "w") as f:
            f.write("filters: ['*.*']\neol: lf\nrules:\n"
                    "  - {filter: '*.cpp;*.h', to: UTF-8 with BOM, eol: crlf}\n"
                    "  - {filter: '*.sh', bom: add}\n")
        r = self.run_cli("--config", settings, "-v", "--report", "r.json", self.src, self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        utf8_crlf = UTF8_TEXT.replace(b"\n", b"\r\n")
        self.assertEqual(tree(self.out), {"a.cpp": b"\xef\xbb\xbf" + utf8_crlf,
                                          "sub/b.h": b"\xef\xbb\xbf" + utf8_crlf,
                                          "notes.txt": UTF8_TEXT,
                                          "run.sh": b"\xef\xbb\xbf" + UTF8_TEXT})
        text = r.stdout.decode() + r.stderr.decode()
        self.assertIn("a.cpp: converted: decided by rule 1: *.cpp;*.h", text)
        self.assertIn("run.sh: converted: decided by rule 2: *.sh", text)
        files = {f["path"]: f for f in json.loads(read(os.path.join(self.tmp, "r.json")))["files"]}
        self.assertEqual(files["sub/b.h"]["rule"], "rule 1: *.cpp;*.h")
        self.assertEqual(files["sub/b.h"]["target"], "UTF-8 with BOM")
        self.assertNotIn("rule", files["notes.txt"])
        r = self.run_cli("--config", settings, "--dry-run", "--report", "r.csv", self.src, self.out)
        rows = {row["path"]: row for row in
                csv.DictReader(io.StringIO(read(os.path.join(self.tmp, "r.csv")).decode()))}
        self.assertIn("decided by rule 2: *.sh", rows["run.sh"]["detail"])
        with open(settings, "w") as f:
            f.write("rules:\n  - {filter: '*.cpp', eol: unix}\n")
        shutil.rmtree(self.out)
        r = self.run_cli("--config", settings, self.src, self.out)
        self.assertEqual(r.returncode, 2)
        self.assertIn("rule 1 (*.cpp) eol takes keep, lf or crlf, not \"unix\"", r.stderr.decode())
        self.assertFalse(os.path.exists(self.out))

    # --check fails on a tree with a file that would change, names it, and writes nothing.
    def test_check_fails_on_mixed_tree(self):
        write(os.path.join(self.src, "a.cpp"), UTF8_TEXT)
        write(os.path.join(self.src, "old.cpp"), GBK_TEXT)
        r = self.run_cli("--check", self.src, self.out)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("old.cpp: converted: would change", self.stderr_lines(r))
        self.assertFalse(os.path.exists(self.out))
        self.assertEqual(read(os.path.join(self.src, "old.cpp")), GBK_TEXT)
        # A mark the target asks for is a change too.
        r = self.run_cli("--check", "--to", "UTF-8 with BOM", os.path.join(self.src))
        self.assertEqual(r.returncode, 1)

    # A double-encoded file and a file of two encodings: --dry-run names them, --check fails on
    # them, a run without --repair leaves them as they are, --repair writes the originals.
    def test_repair_double_encoded_and_mixed(self):
        text = "Le fichier n'a pas pu être ouvert : vérifiez les droits d'accès.\n"
        write(os.path.join(self.src, "fr.txt"), text.encode("utf-8").decode("cp1252").encode("utf-8"))
        lines = ["// 初始化缓冲区 %d\n" % i for i in range(6)]
        mixed = b"".join(l.encode("gbk" if i % 2 else "utf-8") for i, l in enumerate(lines))
        write(os.path.join(self.src, "mixed.c"), mixed)
        write(os.path.join(self.src, "ok.c"), UTF8_TEXT)
        r = self.run_cli("--dry-run", "--report", "r.json", self.src)
        self.assertEqual(r.returncode, 1, r.stderr)
        err = r.stderr.decode()
        self.assertIn("fr.txt: double-encoded: UTF-8 read as CP1252", err)
        self.assertIn("mixed.c: mixed: 3 lines UTF-8 (line 1: // 初始化缓冲区 0), 3 lines GBK", err)
        report = {f["path"]: f for f in json.loads(read(os.path.join(self.tmp, "r.json")))["files"]}
        self.assertEqual(report["fr.txt"]["outcome"], "double-encoded")
        self.assertEqual(report["mixed.c"]["outcome"], "mixed")
        self.assertEqual(self.run_cli("--check", self.src).returncode, 1)
        before = tree(self.src)
        r = self.run_cli(self.src, self.out)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual(tree(self.out), before)  # left as they are
        r = self.run_cli("--repair", self.src, self.out + "2")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.out + "2"), {"fr.txt": text.encode("utf-8"),
                                                "mixed.c": "".join(lines).encode("utf-8"),
                                                "ok.c": UTF8_TEXT})
        self.assertEqual(self.run_cli("--check", self.out + "2").returncode, 0)

    # With --detect, a file of UTF-8 and GBK lines no candidate reads whole is repaired, and its
    # report row names what read it: its lines that are not UTF-8, not "undetected".
    def test_repair_with_detect_names_what_read_it(self):
        lines = ["// 这是一个配置文件的说明\n", "// 打开文件失败时返回错误代码\n",
                 "// 无法读取用户目录中的设置\n"]
        mixed = b"".join(l.encode("gbk" if i == 1 else "utf-8") for i, l in enumerate(lines))
        write(os.path.join(self.src, "a.txt"), mixed)
        r = self.run_cli("--detect", "--candidates", "Chinese", "--repair", "--report", "r.csv",
                         self.src, self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(self.out), {"a.txt": "".join(lines).encode("utf-8")})
        rows = read(os.path.join(self.tmp, "r.csv")).decode("utf-8")
        self.assertIn("1 line GBK (line 2: ", rows)
        self.assertIn("read as GBK by its lines that are not UTF-8 (undetected as a whole)", rows)
        self.assertNotIn("by undetected", rows)

    # Repaired files go through the same later stages as converted ones: --eol crlf and the
    # target's mark.
    def test_repair_takes_line_ends_and_mark(self):
        text = "Le fichier n'a pas pu être ouvert.\nVérifiez les droits d'accès.\n"
        write(os.path.join(self.src, "fr.txt"), text.encode("utf-8").decode("cp1252").encode("utf-8"))
        lines = ["// 初始化缓冲区 %d\n" % i for i in range(6)]
        write(os.path.join(self.src, "mixed.c"),
              b"".join(l.encode("gbk" if i % 2 else "utf-8") for i, l in enumerate(lines)))
        r = self.run_cli("--repair", "--eol", "crlf", "--to", "UTF-8 with BOM", self.src, self.out)
        self.assertEqual(r.returncode, 0, r.stderr)
        bom = b"\xef\xbb\xbf"
        self.assertEqual(tree(self.out), {
            "fr.txt": bom + text.replace("\n", "\r\n").encode("utf-8"),
            "mixed.c": bom + "".join(lines).replace("\n", "\r\n").encode("utf-8")})

    # --check fails on a file that cannot be read, even when everything else is UTF-8.
    def test_check_fails_on_unreadable_file(self):
        write(os.path.join(self.src, "a.cpp"), UTF8_TEXT)
        rel = unreadable_file(self.src)
        os.chmod(self.tmp, 0o777)  # the report is written here
        r = subprocess.run([AS_UNPRIVILEGED, BIN, "--check", "--report", "r.csv", self.src],
                           capture_output=True, timeout=120, cwd=self.tmp)
        self.assertEqual(r.returncode, 1, r.stderr)
        rows = list(csv.DictReader(io.StringIO(read(os.path.join(self.tmp, "r.csv")).decode())))
        outcomes = {row["path"]: row["outcome"] for row in rows}
        self.assertEqual(outcomes[rel], "cannot-read")
        self.assertEqual(outcomes["a.cpp"], "already-utf8")

    # --report writes CSV or JSON by the extension; both parse and name every file once.
    def test_reports_list_every_file_once(self):
        self.mixed_tree()
        expected = set(tree(self.src))
        r = self.run_cli("--report", "r.csv", self.src, self.out)
        self.assertEqual(r.returncode, 1)
        rows = list(csv.DictReader(io.StringIO(read(os.path.join(self.tmp, "r.csv")).decode())))
        self.assertEqual(sorted(row["path"] for row in rows), sorted(expected))
        self.assertEqual({row["path"]: row["outcome"] for row in rows}["bad.txt"],
                         "cannot-convert")
        r = self.run_cli("--report", "r.json", "--dry-run", "--from", "gbk", "--to", "utf_8",
                         self.src, self.out)
        self.assertTrue(read(os.path.join(self.tmp, "r.json")).endswith(b"}\n"))
        doc = json.loads(read(os.path.join(self.tmp, "r.json")))
        self.assertEqual(sorted(f["path"] for f in doc["files"]), sorted(expected))
        self.assertEqual(doc["counts"]["converted"], 2)
        self.assertFalse(doc["stopped"])

    # The report on standard output ("-", or /dev/stdout into a pipe) or into a FIFO a program
    # reads; /dev/full and a FIFO nobody reads are said in one line.
    def test_report_into_streams(self):
        write(os.path.join(self.src, "a.txt"), GBK_TEXT)
        for target in ("-", "/dev/stdout"):
            r = self.run_cli("--report", target, "--dry-run", self.src)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertTrue(r.stdout.startswith(b"path,outcome,"), r.stdout)
            self.assertIn(b"\na.txt,converted,", r.stdout)
        r = self.run_cli("--report", "/dev/full", "--dry-run", self.src)
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot write the report /dev/full: 28 (No space left on device)",
                      r.stderr.decode())
        fifo = os.path.join(self.tmp, "fifo")
        os.mkfifo(fifo)
        r = self.run_cli("--report", fifo, "--dry-run", self.src)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(self.stderr_lines(r),
                         ["ouzel-convert: cannot write the report %s: no program reads from it"
                          % fifo])
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        try:
            r = self.run_cli("--report", fifo, "--dry-run", self.src)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertTrue(os.read(reader, 65536).startswith(b"path,outcome,"))
        finally:
            os.close(reader)

    # A name holding a newline or a byte that is not UTF-8 is one quoted line on the terminal,
    # as ls quotes it; the JSON report keeps the name as it is.
    def test_odd_names_one_line_each(self):
        os.makedirs(self.src)
        for name in (b"bad\nname.txt", b"x\xff.txt"):
            write(os.path.join(os.fsencode(self.src), name), b"\x81\x20broken\n")
        r = self.run_cli("--report", "r.json", self.src, self.out)
        self.assertEqual(r.returncode, 1)
        lines = r.stderr.decode("utf-8", "replace").splitlines()
        self.assertIn("'bad'$'\\n''name.txt': cannot-convert: stops at byte 0 (line 1, column 1)",
                      lines)
        self.assertEqual(len([l for l in lines if "cannot-convert:" in l]), 2, lines)
        self.assertTrue(any(l.startswith("'x'$'\\377''.txt': cannot-convert") for l in lines),
                        lines)
        doc = json.loads(read(os.path.join(self.tmp, "r.json")))
        self.assertIn("bad\nname.txt", [f["path"] for f in doc["files"]])

    # Another program appends to a big file while it is converted in place: not one appended
    # line is lost; the file is reported `changed` (-v: in one line), exit 1, and the next run
    # converts it.
    def test_appends_during_conversion_are_kept(self):
        big = os.path.join(self.src, "big.txt")
        line = "// 中文 text\n".encode("gbk")
        write(big, line * (15000000 // len(line)))
        p = subprocess.Popen([BIN, "-v", self.src, self.src], stderr=subprocess.PIPE,
                             cwd=self.tmp)
        appended = 0
        while p.poll() is None:
            appended += 1
            with open(big, "ab") as f:
                f.write(b"appended %d\n" % appended)
            time.sleep(0.001)
        err = p.stderr.read().decode("utf-8", "replace")
        p.stderr.close()
        self.assertEqual(p.returncode, 1, err)
        self.assertIn("big.txt: changed", err)
        # One line per file, its final outcome: never "converted" first.
        self.assertEqual([l for l in err.splitlines() if "big.txt" in l],
                         ["big.txt: changed: changed while it was converted, left as it is; "
                          "the next run converts it"])
        self.assertEqual(read(big).count(b"appended "), appended)
        r = self.run_cli(self.src, self.src)
        self.assertEqual(r.returncode, 0, r.stderr)
        data = read(big)
        self.assertEqual(data.count(b"appended "), appended)
        self.assertTrue(data.startswith("// 中文 text\n".encode("utf-8")))

    # SIGINT or SIGTERM mid-job: the files in progress finish, exit 130, every written file is
    # whole, the report says what was done.
    def test_signal_stops_after_files_in_progress(self):
        for i in range(100):
            for j in range(150):
                write(os.path.join(self.src, "d%03d" % i, "f%03d.txt" % j), GBK_TEXT * 20)
        total = 100 * 150
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig):
                shutil.rmtree(self.out, ignore_errors=True)
                report = os.path.join(self.tmp, "stop.json")
                p = subprocess.Popen([BIN, "--verbose", "--threads", "1", "--report", report,
                                      self.src, self.out], stderr=subprocess.PIPE)
                with p.stderr:
                    # A file's line waits for its folder to be named at the end: the first
                    # file written (in a hidden folder) says the conversion is under way.
                    while p.poll() is None and not any(f for _, _, f in os.walk(self.out)):
                        time.sleep(0.001)
                    self.assertIsNone(p.poll(), "the job ended before a file was converted")
                    p.send_signal(sig)
                    p.stderr.read()
                self.assertEqual(p.wait(timeout=120), 130)
                written = tree(self.out)
                self.assertGreater(len(written), 0)
                self.assertLess(len(written), total)
                for path, data in written.items():
                    self.assertEqual(data, UTF8_TEXT * 20, path)
                doc = json.loads(read(report))
                self.assertTrue(doc["stopped"])
                self.assertEqual(doc["counts"]["converted"], len(written))
                self.assertEqual(doc["counts"]["not-reached"], total - len(written))

    # Bad usage, an unknown encoding or an unreadable settings file: exit 2, one line on
    # stderr, nothing written (a missing settings file is not created).
    def test_bad_usage_is_status_2_and_one_line(self):
        r = self.run_cli("--candidates", "Klingon", self.tmp, self.out)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(len(self.stderr_lines(r)), 1)
        write(os.path.join(self.src, "a.txt"), GBK_TEXT)
        write(os.path.join(self.tmp, "broken.yml"), b'input: "/src\nfrom: GBK\n')
        write(os.path.join(self.tmp, "odd.yml"), b"from: NOPE-1\n")
        write(os.path.join(self.tmp, "list.yml"), b"from: [BIG5]\n")
        write(os.path.join(self.tmp, "twice.yml"), b"from: BIG5\nfrom: GBK\n")
        write(os.path.join(self.tmp, "good.yml"), b"from: GBK\n")
        cases = [
            ["--bogus", self.src, self.out],
            ["--from"],
            ["--dry-run=yes", self.src],
            ["--threads", "many", self.src, self.out],
            [self.src, self.out, "third"],
            [],
            [os.path.join(self.tmp, "missing"), self.out],
            [self.src],
            ["--from", "gbk2", self.src, self.out],
            ["--to", "UTF-8 with bomb", self.src, self.out],
            ["--config", "missing.yml"],
            ["--config", "broken.yml", self.src, self.out],
            ["--config", "odd.yml", self.src, self.out],
            ["--config", "list.yml", self.src, self.out],
            ["--config", "twice.yml", self.src, self.out],
            ["--from", "", self.src, self.out],
            ["--to", "UTF-8", "--to", "UTF-16LE", self.src, self.out],
            # A report over a file of the run: a source, the settings file, under --check too.
            ["--report", os.path.join(self.src, "a.txt"), self.src, self.out],
            ["--report", "in/a.txt", "--check", self.src],
            ["--config", "good.yml", "--report", "good.yml", self.src, self.out],
            ["--quiet", "--verbose", self.src, self.out],
            [self.src, os.path.join(self.out, *["d" * 250] * 17)],  # paths past PATH_MAX
        ]
        for args in cases:
            with self.subTest(args=args):
                r = self.run_cli(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                lines = self.stderr_lines(r)
                self.assertEqual(len(lines), 1, lines)
                self.assertTrue(lines[0].startswith("ouzel-convert: "), lines[0])
                self.assertEqual(r.stdout, b"")
                self.assertFalse(os.path.exists(self.out))
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "missing.yml")))
        self.assertEqual(read(os.path.join(self.src, "a.txt")), GBK_TEXT)
        self.assertEqual(read(os.path.join(self.tmp, "good.yml")), b"from: GBK\n")
        r = self.run_cli("--to", "utf-8x", self.src, self.out)
        self.assertIn('did you mean "UTF-8"', r.stderr.decode())

    def named_tree(self):
        """GBK files with a blank and Chinese in their names, a UTF-8 one, a folder of GBK."""
        names = {"a b.cpp": GBK_TEXT, "中文 名字.h": GBK_TEXT, "ok.h": UTF8_TEXT,
                 "lib/x.c": GBK_TEXT, "lib/deep/y.c": GBK_TEXT, "lib/skip.txt": GBK_TEXT}
        for name, data in names.items():
            write(os.path.join(self.tmp, name), data)
        return names

    # Files named as arguments, the way a commit hook passes them: --check names each that
    # would change (blanks and CJK quoted as on a terminal), a file named twice or also inside
    # a named folder is checked once, and the check writes nothing.
    def test_check_named_files(self):
        names = self.named_tree()
        before = tree(self.tmp)
        r = self.run_cli("--check", "--to", "UTF-8", "a b.cpp", "ok.h", "中文 名字.h",
                         "./a b.cpp", "lib", "lib/x.c", "--report", "lib/r.json")
        self.assertEqual(r.returncode, 1, r.stderr)
        err = r.stderr.decode()
        self.assertIn("'a b.cpp': converted", err)
        self.assertIn("'中文 名字.h': converted", err)
        self.assertNotIn("ok.h:", err)
        doc = json.loads(read(os.path.join(self.tmp, "lib/r.json")))
        os.remove(os.path.join(self.tmp, "lib/r.json"))
        self.assertEqual(tree(self.tmp), before)
        paths = sorted(f["path"] for f in doc["files"])
        self.assertEqual(paths, sorted(["a b.cpp", "ok.h", "中文 名字.h", "lib/x.c",
                                        "lib/deep/y.c", "lib/skip.txt"]))
        r = self.run_cli("--check", "--to", "UTF-8", "ok.h", os.path.join(self.tmp, "ok.h"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(names["ok.h"], read(os.path.join(self.tmp, "ok.h")))

    # Writing named files needs --in-place or --output: in place each is converted where it
    # is (the filter still applies); under --output each keeps its path relative to the
    # current folder, and files outside it keep theirs below the folder holding them all.
    def test_convert_named_files(self):
        self.named_tree()
        r = self.run_cli("--to", "UTF-8", "a b.cpp", "lib")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn("--in-place", r.stderr.decode())
        self.assertEqual(read(os.path.join(self.tmp, "a b.cpp")), GBK_TEXT)
        r = self.run_cli("--output", "out", "--filter", "*.c;*.cpp", "a b.cpp", "lib")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(tree(os.path.join(self.tmp, "out")),
                         {"a b.cpp": UTF8_TEXT, "lib/x.c": UTF8_TEXT, "lib/deep/y.c": UTF8_TEXT})
        r = self.run_cli("--in-place", "lib/deep/y.c", "中文 名字.h", "中文 名字.h")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(os.path.join(self.tmp, "lib/deep/y.c")), UTF8_TEXT)
        self.assertEqual(read(os.path.join(self.tmp, "中文 名字.h")), UTF8_TEXT)
        self.assertEqual(read(os.path.join(self.tmp, "lib/x.c")), GBK_TEXT)
        elsewhere = tempfile.mkdtemp(prefix="ouzel-cli-other-")
        try:
            r = subprocess.run([BIN, "--output", os.path.join(self.tmp, "o2"),
                                os.path.join(self.tmp, "lib/x.c"), os.path.join(self.tmp, "a b.cpp")],
                               capture_output=True, timeout=120, cwd=elsewhere)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(tree(os.path.join(self.tmp, "o2")),
                             {"a b.cpp": UTF8_TEXT, "lib/x.c": UTF8_TEXT})
        finally:
            shutil.rmtree(elsewhere)

    # A named path that is missing or no file (a FIFO) is exit 2 with one line naming it,
    # before anything is looked at or written.
    def test_named_path_errors(self):
        self.named_tree()
        os.mkfifo(os.path.join(self.tmp, "pipe"))
        for args, says in ((["--in-place", "a b.cpp", "gone.cpp"], "gone.cpp does not exist"),
                           (["--check", "gone.cpp", "ok.h"], "gone.cpp does not exist"),
                           (["--check", "ok.h", "pipe"], "pipe is neither a file nor a folder"),
                           (["--in-place", "--output", "o", "ok.h"], "exclude each other")):
            with self.subTest(args=args):
                r = self.run_cli(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                lines = self.stderr_lines(r)
                self.assertEqual(len(lines), 1, lines)
                self.assertIn(says, lines[0])
        self.assertEqual(read(os.path.join(self.tmp, "a b.cpp")), GBK_TEXT)

    def files_as_they_are(self, root):
        """{path: (mode, mtime in ns, bytes)} of every file but the undo store's."""
        out = {}
        for d, dirs, files in os.walk(root):
            dirs[:] = [n for n in dirs if n != ".ouzel-undo"]
            for name in files:
                p = os.path.join(d, name)
                st = os.lstat(p)
                out[os.path.relpath(p, root)] = (st.st_mode & 0o7777, st.st_mtime_ns, read(p))
        return out

    # A run in place is taken back from the command line: --list-runs names it, --undo RUN DIR
    # puts every file back with its mode and time and forgets the run (exit 0); a file changed
    # since is left and named (exit 1) and the run kept until --forget, a report over one of its
    # files refused; --no-undo keeps nothing.
    def test_undo_commands(self):
        self.mixed_tree()
        os.chmod(os.path.join(self.src, "a.cpp"), 0o600)
        os.utime(os.path.join(self.src, "a.cpp"), ns=(1, 1500000000123456789))
        before = self.files_as_they_are(self.src)
        self.assertEqual(self.run_cli("--in-place", "in").returncode, 1)  # bad.txt
        r = self.run_cli("--list-runs", "in")
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().splitlines()
        self.assertEqual(len(lines), 3, lines)
        run = lines[1].split()[0]
        self.assertRegex(lines[1], r"^\d{8}-\d{6} .* 2 +\S+ \S+ +GBK-->UTF-8 +complete$")
        self.assertNotEqual(self.files_as_they_are(self.src), before)
        r = self.run_cli("--undo", run, "in")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("restored 2", r.stderr.decode())
        self.assertEqual(self.files_as_they_are(self.src), before)
        self.assertIn("No runs", self.run_cli("--list-runs", "in").stdout.decode())
        self.assertFalse(os.path.exists(os.path.join(self.src, ".ouzel-undo")))
        # Changed since: left as it is, named, and the run stays to be forgotten.
        self.assertEqual(self.run_cli("--in-place", "in").returncode, 1)
        write(os.path.join(self.src, "a.cpp"), b"mine\n")
        # A report over a file the undo puts back is refused before anything goes back.
        r = self.run_cli("--undo", "--report", os.path.join("in", "中文", "名字.txt"), "in")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn("would be written over", r.stderr.decode())
        r = self.run_cli("--undo", "in")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("a.cpp: changed-since", r.stderr.decode())
        self.assertEqual(read(os.path.join(self.src, "a.cpp")), b"mine\n")
        self.assertEqual(read(os.path.join(self.src, "中文", "名字.txt")), GBK_TEXT + GBK_TEXT)
        r = self.run_cli("--forget", "all", "in")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Forgot run", r.stdout.decode())
        self.assertFalse(os.path.exists(os.path.join(self.src, ".ouzel-undo")))
        self.assertEqual(self.run_cli("--no-undo", "--in-place", "in").returncode, 1)
        self.assertFalse(os.path.exists(os.path.join(self.src, ".ouzel-undo")))
        for args, says in ((["--undo", "in"], "No conversion in place"),
                           (["--undo", "20990101-000000", "in"], "No run 20990101-000000"),
                           (["--forget", "20990101-000000", "in"], "No run"),
                           (["--undo", "--list-runs"], "exclude each other"),
                           (["--undo", "in", "out"], "one folder")):
            with self.subTest(args=args):
                r = self.run_cli(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(says, (r.stdout + r.stderr).decode())

    # On a terminal, a progress line is redrawn in place on stderr; off one there is none.
    def test_progress_only_on_terminal(self):
        self.mixed_tree()
        plain = self.run_cli("--dry-run", self.src)
        self.assertNotIn(b"\r", plain.stderr)
        self.assertNotIn(b"\x1b[K", plain.stderr)

        master, slave = pty.openpty()
        env = dict(os.environ, TERM="xterm")
        p = subprocess.Popen([BIN, "--dry-run", self.src], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=slave, env=env)
        os.close(slave)
        seen = b""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 1)
            if not ready:
                if p.poll() is not None:
                    break
                continue
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the other side closed
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        self.assertEqual(p.wait(timeout=60), 1)
        self.assertIn(b"\r\x1b[K5/5 files", seen)
        self.assertIn(b"bad.txt: cannot-convert", seen)
        self.assertIn(b"files in", seen)  # the summary

    # --help, --version and --list-encodings print to stdout and exit 0; the list holds the
    # names --from and --to take, "UTF-8 with BOM" right after "UTF-8".
    def test_help_version_and_encodings(self):
        names = self.run_cli("--list-encodings").stdout.decode().splitlines()
        self.assertIn("GBK", names)
        self.assertEqual(names[names.index("UTF-8") + 1], "UTF-8 with BOM")
        r = self.run_cli("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"Examples:", r.stdout)
        self.assertIn(b"--check", r.stdout)
        r = self.run_cli("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout.decode(), r"^ouzel-convert \d+\.\d+\n$")

    # In each language with a catalogue (LC_ALL, as a desktop sets it; the system need not have
    # generated the locale) the help, the errors and the summary are translated, the help lists
    # every option of the English one, and what programs read stays: the exit statuses, the
    # CSV fields and outcome names. A terminal whose character set is not UTF-8 keeps English.
    def test_translated_help_and_messages(self):
        option = re.compile(r"^  (?:-\w, |    )(--[a-z-]+)", re.M)
        english = self.run_cli("--help").stdout.decode()
        self.mixed_tree()
        usage = {"zh_CN": "用法：", "zh_TW": "用法：", "ja": "使い方: ", "ko": "사용법: ",
                 "ru": "Использование: "}
        for lang, word in usage.items():
            env = dict(os.environ, LC_ALL=lang + ".UTF-8", LANGUAGE="")
            text = self.run_cli("--help", env=env).stdout.decode()
            self.assertTrue(text.startswith(word + "ouzel-convert [OPTIONS]"), text[:80])
            self.assertEqual(option.findall(text), option.findall(english), lang)
            for line in text.splitlines():  # a Chinese, Japanese or Korean character: 2 columns
                columns = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)
                self.assertLessEqual(columns, 90, line)
            bad = self.run_cli("--bogus", env=env)
            self.assertEqual(bad.returncode, 2)
            self.assertEqual(len(self.stderr_lines(bad)), 1)
            self.assertNotIn("unknown option", bad.stderr.decode(), lang)
            run = self.run_cli("--report", "r.csv", self.src, self.out, env=env)
            self.assertEqual(run.returncode, 1, lang)  # bad.txt cannot be converted
            self.assertNotIn("files in", run.stderr.decode(), lang)
            self.assertIn("cannot-convert 1", run.stderr.decode(), lang)
            with open(os.path.join(self.tmp, "r.csv"), encoding="utf-8", newline="") as f:
                rows = list(csv.reader(f))
            self.assertEqual(rows[0], ["path", "outcome", "source", "target", "bytes", "detail"])
            bad_row = next(r for r in rows if r[0] == "bad.txt")
            self.assertEqual(bad_row[1], "cannot-convert")
            self.assertNotIn("stops at byte", bad_row[5], lang)
        env = dict(os.environ, LC_ALL="zh_CN.GB18030", LANGUAGE="")
        self.assertTrue(self.run_cli("--help", env=env).stdout.decode("latin-1").startswith("Usage:"))


if __name__ == "__main__":
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
