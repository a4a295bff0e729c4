#!/usr/bin/env python3
"""The conversion job against its baselines, in one go: speed on three generated trees, then
peak memory on one huge file.

    cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DOUZEL_GUI=OFF
    cmake --build build-rel --target bench_run
    python3 bench/bench_tool.py /path/to/bench-data

DATA (never inside the repository) receives the input trees, generated once from the Chinese
manual pages of manpages-zh and kept for the next run (--clean removes them at the end): a
source-like tree (11,000 files, 170 MB of GBK), 50,000 files of 1-4 KB, 20 files of 12-19 MB.
Every timed run writes GBK -> UTF-8 into a fresh folder under DATA/out, after an untimed sync,
in interleaved rounds (each round starts one method later); medians and ratios are printed.
Output trees are removed only after a tree's last round (the big tree's at once, the others' at
the end: removing many files makes creating files slow here for minutes).

Options: --build DIR (default build-rel), --rounds N (5), --slow-rounds N (3; find -exec and
xargs, which start one process per file), --trees big,source,small, --memory 1024,4608 (MiB of
the huge files; 0 for none; skipped when the disk has too little room), --keep-outputs, --clean, --out DIR
(outputs on another file system, e.g. a freshly made ext4 or a tmpfs; the trees stay in DATA).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TREES = {"source": "source-like tree", "small": "50,000 small files", "big": "20 big files"}


def sh_quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


class Methods:
    """The commands that convert (or copy) tree IN into a fresh OUT."""

    def __init__(self, runner):
        self.runner = runner

    def all(self):
        r = self.runner
        codecs = os.path.join(HERE, "codecs_walk.py")
        return [
            ("job", False, lambda i, o: [r, "job", i, o]),
            ("job, not durable", False, lambda i, o: [r, "job", i, o, "--no-durable"]),
            ("plain walk, 1 thread", False, lambda i, o: [r, "plain", i, o, "--threads", "1"]),
            ("plain walk, 2 threads", False, lambda i, o: [r, "plain", i, o, "--threads", "2"]),
            ("cp -r", False, lambda i, o: ["cp", "-r", i, o]),
            ("Python codecs", False, lambda i, o: [sys.executable, codecs, i, o]),
            ("xargs -P2 iconv", True, self.xargs),
            ("find -exec iconv", True, self.find_exec),
        ]

    @staticmethod
    def dirs(i, o):
        return "cd %s && mkdir -p %s && find . -type d -print0 | (cd %s && xargs -0 mkdir -p)" % (
            sh_quote(i), sh_quote(o), sh_quote(o))

    def xargs(self, i, o):
        loop = 'for f; do iconv -f GBK -t UTF-8 "$f" > %s/"$f"; done' % sh_quote(o)
        return ["sh", "-c", self.dirs(i, o) + " && find . -type f -print0 | xargs -0 -P2 -n 50 "
                "sh -c %s sh" % sh_quote(loop)]

    def find_exec(self, i, o):
        return ["sh", "-c", self.dirs(i, o) + " && find . -type f -exec iconv -f GBK -t UTF-8 "
                "-o %s/{} {} \\;" % sh_quote(o)]


def tree_size(path):
    files, size = 0, 0
    for root, _, names in os.walk(path):
        for n in names:
            files += 1
            size += os.lstat(os.path.join(root, n)).st_size
    return files, size


def run_child(cmd):
    """Runs cmd to its end: wall seconds, processor seconds (its own and its children's), peak
    resident MB, standard output."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.monotonic()
        p = subprocess.Popen(cmd, stdout=out, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)  # reaped here, so its usage is its own
        seconds = time.monotonic() - start
        p.returncode = code = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        if code != 0:
            sys.exit("failed (%d): %s\n%s" % (code, " ".join(cmd), err.read().decode()[-2000:]))
        return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024, out.read().decode()


def run_timed(cmd):
    os.sync()  # untimed: every run starts with nothing dirty and pays for its own data only
    return run_child(cmd)


def median(values):
    v = sorted(values)
    return v[len(v) // 2] if len(v) % 2 else (v[len(v) // 2 - 1] + v[len(v) // 2]) / 2


def measure_tree(name, src, out_root, methods, rounds, slow_rounds):
    files, size = tree_size(src)
    load = os.getloadavg()[0]
    serial = [0]

    def fresh(label):
        serial[0] += 1
        slug = label.split(",")[0].replace(" ", "-").replace("/", "")
        return os.path.join(out_root, "%s-%s-%d" % (name, slug, serial[0]))

    # Untimed: the page cache holds the input, the converter modules are on disk in the cache.
    run_timed(methods[0][2](src, fresh("warm")))
    times = {m[0]: [] for m in methods}
    cpu = {m[0]: [] for m in methods}
    firsts = {}
    for r in range(rounds):
        for k in range(len(methods)):
            label, slow, cmd = methods[(k + r) % len(methods)]
            if slow and r >= slow_rounds:
                continue
            out = fresh(label)
            seconds, processor, _, text = run_timed(cmd(src, out))
            times[label].append(seconds)
            cpu[label].append(processor)
            firsts.setdefault(label, out)
            if text.startswith("{") and json.loads(text)["failures"] != 0:
                sys.exit("%s reported failures on %s: %s" % (label, name, text))
    # Untimed: the job writes what the plain walk writes.
    diff = subprocess.run(["diff", "-rq", firsts["job"], firsts["plain walk, 1 thread"]],
                          stdout=subprocess.PIPE, text=True).stdout.splitlines()
    return {"name": TREES[name], "files": files, "bytes": size, "times": times, "cpu": cpu,
            "load": (load, os.getloadavg()[0]), "differ": diff}


def report_tree(t, rounds, slow_rounds):
    mb = t["bytes"] / 1e6
    print("%s: %d files, %.1f MB; %d rounds (%d for the slow ones); load %.1f -> %.1f" % (
        t["name"], t["files"], mb, rounds, slow_rounds, t["load"][0], t["load"][1]))
    med = {k: median(v) for k, v in t["times"].items() if v}
    cpu = {k: median(v) for k, v in t["cpu"].items() if v}
    jobs = ["job", "job, not durable"]
    print("  %-24s %8s %8s %9s %8s %10s %12s" % ("method", "seconds", "MB/s", "files/s",
                                                "cpu s", "job is x", "not durable"))
    for label, s in med.items():
        ratio = "" if label in jobs else "%10.2f %12.2f" % (s / med[jobs[0]], s / med[jobs[1]])
        print("  %-24s %8.3f %8.1f %9.0f %8.3f %s" % (label, s, mb / s, t["files"] / s, cpu[label],
                                                    ratio))
    if t["differ"]:
        # A GBK file whose bytes also read as UTF-8 is left as it is by the job (already-utf8).
        print("  WARNING: %d file(s) differ from the plain walk's output, e.g.:" % len(t["differ"]))
        for line in t["differ"][:3]:
            print("    " + line)
    print()
    return med


def check_goals(results):
    print("Goals (ratios of medians in the same run):")
    ok = True
    for job in ("job", "job, not durable"):
        for key, med in results.items():
            need = 1.7 if key == "big" else 1.4
            # Durable at least 0.95x the two-thread walk; not durable ahead of it.
            two = 0.95 if job == "job" else 1.0
            goals = [("plain walk, 1 thread", need), ("plain walk, 2 threads", two),
                     ("xargs -P2 iconv", 1.0)]
            for base, want in goals:
                if base not in med:
                    continue
                got = med[base] / med[job]
                met = got > want if (base, want) in (("xargs -P2 iconv", 1.0),
                                                     ("plain walk, 2 threads", 1.0)) else got >= want
                ok = ok and met
                print("  %-17s %-18s vs %-22s %5.2fx (goal %s%.2fx) %s" % (
                    job, TREES[key], base, got, ">=" if want != 1.0 else ">", want,
                    "met" if met else "MISSED"))
    print()
    return ok


def measure_memory(runner, data, sizes_mib):
    for mib in sizes_mib:
        need = mib * (1 << 20) * 2.7 + (2 << 30)  # input, output up to 1.5x, room to spare
        free = shutil.disk_usage(data).free
        if free < need:
            print("peak memory, one %d MiB file: skipped, %.1f GB free, %.1f GB wanted" % (
                mib, free / 1e9, need / 1e9))
            continue
        where = os.path.join(data, "memory-%d" % mib)
        shutil.rmtree(where, ignore_errors=True)
        os.makedirs(os.path.join(where, "in"))
        try:
            subprocess.run([runner, "bigfile", os.path.join(where, "in", "one.txt"), str(mib)],
                           check=True)
            seconds, _, peak, _ = run_timed([runner, "job", os.path.join(where, "in"),
                                             os.path.join(where, "out")])
            print("peak memory, one %d MiB file: %.0f MB (max RSS), %.1f s, %.0f MB/s" % (
                mib, peak, seconds, mib * 1.048576 / seconds))
        finally:
            shutil.rmtree(where, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("data")
    ap.add_argument("--build", default="build-rel")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--slow-rounds", type=int, default=3)
    ap.add_argument("--trees", default="big,source,small")
    ap.add_argument("--memory", default="1024,4608")
    ap.add_argument("--keep-outputs", action="store_true")
    ap.add_argument("--clean", action="store_true")
    ap.add_argument("--out", help="where the outputs go (default DATA/out): a fresh file system "
                    "or a tmpfs, the trees staying in DATA")
    a = ap.parse_args()
    runner = os.path.abspath(os.path.join(a.build, "bench", "bench_run"))
    if not os.access(runner, os.X_OK):
        sys.exit("%s is missing: build the bench_run target first (see the top of this file)"
                 % runner)
    data = os.path.abspath(a.data)
    if data.startswith(os.path.dirname(HERE) + os.sep):
        sys.exit("the data directory must be outside the repository")
    trees = [t for t in a.trees.split(",") if t]
    if any(t not in TREES for t in trees):
        sys.exit("--trees takes names from %s" % ",".join(TREES))
    print("bench_tool: %s, %d cores, load %.1f, %.1f GB free in %s" % (
        runner, os.cpu_count(), os.getloadavg()[0],
        shutil.disk_usage(os.path.dirname(data) or "/").free / 1e9, data))
    subprocess.run([runner, "trees", os.path.join(data, "trees")], check=True)
    out_root = os.path.abspath(a.out) if a.out else os.path.join(data, "out")
    os.makedirs(out_root, exist_ok=True)
    methods = Methods(runner).all()
    results = {}
    try:
        for t in trees:
            r = measure_tree(t, os.path.join(data, "trees", t), out_root, methods, a.rounds,
                             a.slow_rounds)
            results[t] = report_tree(r, a.rounds, a.slow_rounds)
            if t == "big" and not a.keep_outputs:  # few files: removing them costs nothing later
                for e in os.listdir(out_root):
                    if e.startswith("big-"):
                        shutil.rmtree(os.path.join(out_root, e))
        check_goals(results)
        sizes = [int(s) for s in a.memory.split(",") if s and int(s) > 0]
        measure_memory(runner, data, sizes)
    finally:
        if not a.keep_outputs:
            shutil.rmtree(out_root, ignore_errors=True)
        if a.clean:
            shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main()
