#!/usr/bin/env python3
"""Kill -9 of a running job at random instants: no target is ever truncated or mixed, and the
next run over the same directories completes, removes what the killed one left and says so.
In place, the undo of the killed run brings the whole tree back, and so does an undo killed at
random instants itself, once undone again.

    crash_test.py JOB_CHILD [ROUNDS [UNDO_KILLS]]   (OUZEL_CRASH_SEED=N repeats the instants)

A tree of many small GBK files and a few of several MiB (some above the whole-file limit, so
converted in chunks) is converted to UTF-8 by tests/job_child, killed after a random delay:
into a fresh output tree, over an output tree that holds older targets (named temporary files,
as on a file system without unnamed ones), and in place. After each kill every target is
absent, its old content, or exactly what the iconv command makes of its source. Undo rounds
kill runs in place over a smaller tree and their undos until UNDO_KILLS kills of each landed.
"""
import glob
import gzip
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts"))
import text_cache  # noqa: E402

TEMP_NAME = re.compile(r"^\..+\.ouzel-[A-Za-z0-9]{6}$")
# A new folder is filled under this name and renamed whole at the end of the run.
STAGING_NAME = re.compile(r"^\..+\.ouzel-new-[A-Za-z0-9]{6}$")
# In place, what a run replaces is kept here (the undo store).
UNDO_STORE = ".ouzel-undo"
REMOVED = re.compile(r"^Removed (\d+) (temporary files?|unfinished folders?) a stopped run left in ")
# Small enough that two of the big files are converted in chunks of 256 KiB.
LIMITS = ["--whole-limit", str(4 << 20), "--chunk", str(256 << 10)]
FALLBACK = "中文编码转换工具把源代码从一种编码转换为另一种编码，文件名和注释都保持不变。\n"


def chinese_gbk(size):
    """About `size` bytes of real Chinese text in GBK, cut at line ends."""
    text = ""
    pages = os.path.join(text_cache.root(), "usr/share/man/zh_CN/man1/*.gz")
    for path in sorted(glob.glob(pages))[:60]:
        with gzip.open(path, "rb") as f:
            text += f.read().decode("utf-8", "ignore")
        if len(text) > size:
            break
    if len(text) < 1000:
        text = FALLBACK * 200
    # iconv -c keeps exactly what GBK can hold, as the iconv command reads it.
    gbk = subprocess.run(["iconv", "-c", "-f", "UTF-8", "-t", "GBK"], input=text.encode(),
                         stdout=subprocess.PIPE).stdout
    while len(gbk) < size:
        gbk += gbk
    return gbk


def make_tree(root, rng):
    text = chinese_gbk(1 << 20)
    lines = [i + 1 for i, b in enumerate(text) if b == 0x0A]

    def piece(size):
        start = rng.choice(lines[: len(lines) // 2])
        end = max(start + 1, text.rfind(b"\n", start, start + size) + 1)
        return text[start:end]

    files = {}
    for i in range(400):
        rel = "d%d/e%d/f%d.txt" % (i % 7, i % 5, i)
        files[rel] = piece(rng.randint(1000, 4000))
    big = text * (7 * (1 << 20) // len(text) + 1)
    for i, mib in enumerate([2, 3, 5, 6]):  # the last two are streamed
        start = big.index(b"\n", rng.randint(0, 1 << 19)) + 1
        end = big.rindex(b"\n", 0, start + (mib << 20)) + 1
        files["d%d/big%d.txt" % (i, i)] = big[start:end]
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
        with open(os.path.join(root, rel), "wb") as f:
            f.write(data)
    return files


def expected_outputs(root, files):
    out = {}
    for rel in files:
        p = subprocess.run(["iconv", "-f", "GBK", "-t", "UTF-8", os.path.join(root, rel)],
                           stdout=subprocess.PIPE, check=True)
        out[rel] = p.stdout
    return out


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def walk(root):
    """Relative paths of every file below root, hidden ones included; a staging folder is
    listed as itself, not what it holds."""
    found = []
    for d, dirs, names in os.walk(root):
        staged = [n for n in dirs if STAGING_NAME.match(n)]
        dirs[:] = [n for n in dirs if n not in staged and n != UNDO_STORE]
        found += [os.path.relpath(os.path.join(d, n), root) for n in names + staged]
    return found


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


class CrashTest:
    def __init__(self, child, work, rng):
        self.child, self.work, self.rng = child, work, rng
        self.src = os.path.join(work, "src")
        self.files = make_tree(self.src, rng)
        self.expected = expected_outputs(self.src, self.files)
        self.serial = 0
        self.alive_kills = 0
        self.leftovers_seen = 0
        self.staged_seen = 0

    def fresh(self, what):
        self.serial += 1
        return os.path.join(self.work, "%s%d" % (what, self.serial))

    def command(self, src, out, extra):
        return [self.child, src, out, "GBK", "UTF-8"] + LIMITS + extra

    def undo(self, tree):
        """The undo of the last run over `tree`, to its end: True when one was kept."""
        p = subprocess.run([self.child, "--undo", tree], stdout=subprocess.PIPE, timeout=60)
        check(p.returncode in (0, 2), "an undo failed: %d\n%s" % (
            p.returncode, p.stdout.decode("utf-8", "replace")[-2000:]))
        return p.returncode == 0

    def check_undone(self, tree, old, label):
        """The tree holds exactly its old files, their content as before, and no undo store;
        temporary files a killed run left are the next run's to remove."""
        names = sorted(n for n in walk(tree) if not TEMP_NAME.match(os.path.basename(n)))
        check(names == sorted(old), "%s: after the undo the tree holds %s" % (
            label, [n for n in names if n not in old][:5]))
        for rel, data in old.items():
            check(read(os.path.join(tree, rel)) == data, "%s: the undo did not bring back %s" % (
                label, rel))
        check(not os.path.exists(os.path.join(tree, UNDO_STORE)),
              "%s: the undo store is still there" % label)

    def run(self, src, out, extra):
        p = subprocess.run(self.command(src, out, extra), stdout=subprocess.PIPE, timeout=60)
        lines = p.stdout.decode("utf-8", "replace").splitlines()
        check(p.returncode == 0, "the run after the kill failed: %d\n%s" % (
            p.returncode, "\n".join([l for l in lines if l.startswith("Cannot")][:6])))
        return lines

    def calibrate(self):
        times = []
        for _ in range(3):
            start = time.monotonic()
            self.run(self.src, self.fresh("calibrate"), [])
            times.append(time.monotonic() - start)
        return sorted(times)[1]

    def kill_after(self, src, out, extra, delay):
        p = subprocess.Popen(self.command(src, out, extra), stdout=subprocess.DEVNULL)
        time.sleep(delay)
        alive = p.poll() is None
        self.alive_kills += alive
        p.send_signal(signal.SIGKILL)
        p.wait()
        return alive

    def check_after_kill(self, out, old, label):
        """Every target absent (no old content), old, or complete; only our temporary files
        besides. Returns how many temporary files were left."""
        leftovers = 0
        for rel in walk(out):
            name = os.path.basename(rel)
            if TEMP_NAME.match(name) or STAGING_NAME.match(name):
                leftovers += 1
                self.staged_seen += bool(STAGING_NAME.match(name))
                continue
            check(rel in self.files, "%s: %s is not a target" % (label, rel))
        for rel in self.files:
            got = read(os.path.join(out, rel))
            ok = got == self.expected[rel] or got == old.get(rel)
            check(ok, "%s: %s is truncated or mixed (%s bytes)" % (
                label, rel, "no" if got is None else len(got)))
        return leftovers

    def check_after_rerun(self, out, lines, leftovers, label):
        removed = sum(int(m.group(1)) for m in map(REMOVED.match, lines) if m)
        check(removed == leftovers, "%s: %d temporary files left, %d reported removed" % (
            label, leftovers, removed))
        names = sorted(walk(out))
        check(names == sorted(self.files), "%s: after the next run the tree holds %s" % (
            label, [n for n in names if n not in self.files][:5]))
        for rel in self.files:
            check(read(os.path.join(out, rel)) == self.expected[rel],
                  "%s: %s is not the complete conversion" % (label, rel))

    def round(self, kind, delay, threads):
        extra = ["--threads", str(threads)]
        if kind == "fresh":
            src, out, old = self.src, self.fresh("out"), {}
        elif kind == "replace":
            src, out = self.src, self.fresh("out")
            old = {rel: b"older target of " + rel.encode() + b"\n" for rel in self.files}
            for rel, data in old.items():
                os.makedirs(os.path.dirname(os.path.join(out, rel)), exist_ok=True)
                with open(os.path.join(out, rel), "wb") as f:
                    f.write(data)
            extra.append("--named-temp")
        else:  # in place: the old content is the source itself
            src = out = self.fresh("inplace")
            shutil.copytree(self.src, out)
            old = {rel: read(os.path.join(self.src, rel)) for rel in self.files}
            if threads == 1:
                extra.append("--named-temp")
        label = "%s, %d thread(s), killed after %.3f s" % (kind, threads, delay)
        alive = self.kill_after(src, out, extra, delay)
        leftovers = self.check_after_kill(out, old, label)
        self.leftovers_seen += leftovers
        if kind == "in place":
            self.undo(out)
            self.check_undone(out, old, label + ", undone")
        lines = self.run(src, out, extra)
        self.check_after_rerun(out, lines, leftovers, label)
        return alive


class UndoCrashTest:
    """Runs in place over one smaller tree killed at random, then their undo killed at random:
    every file is old or new after each kill, and the next undo brings the tree back, whole, so
    the next round starts from it again. Every other round keeps copies (no second names).
    Without flushes (a kill loses nothing the page cache holds), so the kills fall in the work
    itself."""

    def __init__(self, t, rng):
        self.t, self.rng = t, rng
        self.tree = os.path.join(t.work, "undo-tree")
        names = [rel for rel in sorted(t.files) if "big" not in rel][:80]
        for rel in names:
            os.makedirs(os.path.dirname(os.path.join(self.tree, rel)), exist_ok=True)
            with open(os.path.join(self.tree, rel), "wb") as f:
                f.write(t.files[rel])
        self.old = {rel: t.files[rel] for rel in names}
        self.new = {rel: t.expected[rel] for rel in names}
        self.run_kills = self.undo_kills = self.rounds = 0
        self.run_command = lambda threads, copy=False: t.command(self.tree, self.tree, [
            "--threads", str(threads), "--no-durable"] + (["--no-link"] if copy else []))
        self.undo_command = [t.child, "--undo", self.tree, "--no-durable"]

    def timed(self, command):
        start = time.monotonic()
        subprocess.run(command, stdout=subprocess.DEVNULL, timeout=60)
        return time.monotonic() - start

    def calibrate(self):
        """How long a run over the tree takes, and an undo of it."""
        runs, undos = [], []
        for _ in range(3):
            runs.append(self.timed(self.run_command(2)))
            undos.append(self.timed(self.undo_command))
        self.t.check_undone(self.tree, self.old, "calibration")
        return sorted(runs)[1], sorted(undos)[1]

    def kill_after(self, command, delay):
        p = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        time.sleep(delay)
        alive = p.poll() is None
        p.send_signal(signal.SIGKILL)
        p.wait()
        return alive

    def check_old_or_new(self, label):
        for rel, data in self.old.items():
            got = read(os.path.join(self.tree, rel))
            check(got == data or got == self.new[rel], "%s: %s is neither old nor new (%s)" % (
                label, rel, "missing" if got is None else "%d bytes" % len(got)))

    def round(self, run_span, undo_span):
        """One round; whether the run, and the undo, were still going when killed."""
        self.rounds += 1
        run_delay = self.rng.uniform(0.0, 1.0) * run_span
        # Every other round the old content is copied, and copies go back.
        copy = self.rounds % 2 == 0
        label = "undo round %d%s, run killed after %.3f s" % (
            self.rounds, " (copies)" if copy else "", run_delay)
        run_alive = self.kill_after(self.run_command(self.rng.choice([1, 2]), copy), run_delay)
        self.check_old_or_new(label)
        # The killed run may not have kept anything yet: then there is nothing to undo.
        undo_delay = self.rng.uniform(0.0, 1.0) * undo_span
        label += ", its undo killed after %.3f s" % undo_delay
        undo_alive = self.kill_after(self.undo_command, undo_delay)
        self.check_old_or_new(label)
        self.t.undo(self.tree)
        self.t.check_undone(self.tree, self.old, label)
        self.run_kills += run_alive
        self.undo_kills += undo_alive
        return run_alive, undo_alive


def undo_rounds(t, rng, wanted):
    """Rounds until `wanted` kills landed in runs and as many in undos (at most 4x as many)."""
    started = time.monotonic()
    u = UndoCrashTest(t, rng)
    run_time, undo_time = u.calibrate()
    # Kills after the end shrink the span the next ones fall in (an undo of what a killed run
    # kept is shorter than of a whole run), kills that land widen it again.
    run_span, undo_span = run_time, undo_time
    while (u.run_kills < wanted or u.undo_kills < wanted) and u.rounds < 4 * wanted:
        run_alive, undo_alive = u.round(run_span, undo_span)
        run_span = min(run_time, run_span * 1.1) if run_alive else max(0.002, run_span * 0.7)
        undo_span = min(undo_time, undo_span * 1.1) if undo_alive else max(0.002, undo_span * 0.7)
    print("%d undo rounds in %.1f s (a run %.3f s, its undo %.3f s): %d kills while a run went "
          "on, %d while its undo did; each time the tree came back whole" % (
              u.rounds, time.monotonic() - started, run_time, undo_time, u.run_kills,
              u.undo_kills))
    check(u.run_kills >= wanted and u.undo_kills >= wanted,
          "too few kills landed while a run or an undo went on")


def aim_at_staging(t, rng, full):
    """Kills into fresh trees until one leaves an unfinished folder: with few rounds (a slow
    sanitizer build) every random kill can fall in the search or after the end. Returns how
    many it took."""
    low, high = 0.0, 1.0
    for n in range(12):
        if t.staged_seen:
            return n
        fraction = rng.uniform(low, high)
        alive = t.round("fresh", fraction * full, 1 + n % 2)
        if not t.staged_seen:
            # Dead already: the run ended sooner; alive: it was still searching.
            (high, low) = (fraction, low) if not alive else (high, fraction)
            if high - low < 0.05:
                low, high = max(0.0, low - 0.2), min(1.5, high + 0.2)
    return 12


def main():
    child = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 24
    wanted_undo_kills = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    seed = int(os.environ.get("OUZEL_CRASH_SEED", random.randrange(1 << 30)))
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="ouzel-crash-")
    try:
        t = CrashTest(child, work, rng)
        full = t.calibrate()
        kinds = ["fresh", "replace", "in place"]
        # Important: the calibration runs can be slower than the killed ones (a cold cache, a
        # busy machine); kills that come after the end shrink the span the next ones fall in.
        span = 1.0
        for i in range(rounds):
            alive = t.round(kinds[i % 3], rng.uniform(0.02, 1.0) * full * span, 1 + i % 2)
            span = min(1.0, span * 1.1) if alive else max(0.05, span * 0.7)
        aimed = aim_at_staging(t, rng, full)
        print("%d kills (seed %d, a full run %.3f s): %d while the job ran, %d temporary files "
              "and unfinished folders (%d) left and removed by the next run; %d more kills "
              "aimed at the staging" % (rounds, seed, full, t.alive_kills, t.leftovers_seen,
                                        t.staged_seen, aimed))
        check(t.alive_kills >= rounds // 3, "too few kills landed while the job ran")
        check(t.staged_seen > 0, "no kill left an unfinished folder: the staging went untested")
        undo_rounds(t, rng, wanted_undo_kills)
    except Failure as e:
        print("FAILED (seed %d): %s" % (seed, e))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
