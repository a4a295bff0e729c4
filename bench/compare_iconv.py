#!/usr/bin/env python3
"""One big file, end to end: the command line on one thread against one iconv(1) call, both
directions, for several encodings and two shapes of text, in interleaved rounds.

    python3 bench/compare_iconv.py [--build build-rel] [--old DIR] [--rounds 5] [--mib 48]
                                   [--pairs zh_CN:GBK,zh_TW:BIG5,...] [--dir /dev/shm/...]

For each LANGUAGE:ENCODING pair `bench_run shapes` writes a C++ source file with comments in
that language (mostly ASCII) and a file of prose, in ENCODING and in UTF-8 (MIB mebibytes of
UTF-8 each, above the whole-file limit, so read in chunks); then each round times, in an order
that moves by one every round, `iconv -f A -t B FILE -o OUT` and `ouzel-convert -q -j 1
--no-sync --from A --to B IN OUT` (and the one of --old, another build, when given) into fresh
outputs in DIR (a tmpfs by default). An untimed first round warms the caches and checks every
output is iconv's, byte for byte. Prints medians of wall time and of processor time (user and
system, every thread) and the ratios as a Markdown table.
"""
import argparse
import filecmp
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

DEFAULT_PAIRS = "zh_CN:GBK,zh_TW:BIG5,ja:CP932,ko:EUC-KR,ru:CP1251,de:CP1252"


def timed(cmd):
    """Wall and processor seconds (user and system, every thread) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def commands(tools, src, dst, frm, to):
    """name -> (command, output file) for converting src (a folder holding one.txt)."""
    cmds = {"iconv": (["iconv", "-f", frm, "-t", to, os.path.join(src, "one.txt"), "-o",
                       os.path.join(dst, "iconv.txt")], os.path.join(dst, "iconv.txt"))}
    for name, binary in tools:
        out = os.path.join(dst, name)
        cmds[name] = ([binary, "-q", "-j", "1", "--no-sync", "--from", frm, "--to", to, src, out],
                      os.path.join(out, "one.txt"))
    return cmds


def measure(tools, src, work, frm, to, rounds):
    names = ["iconv"] + [n for n, _ in tools]
    times = {n: [] for n in names}
    cpu = {n: [] for n in names}
    for r in range(-1, rounds):  # round -1: untimed, outputs checked
        order = names[r % len(names):] + names[:r % len(names)] if r >= 0 else names
        for n in order:
            dst = os.path.join(work, "out-%s-%d" % (n, r))
            os.makedirs(dst)
            cmd, out = commands(tools, src, dst, frm, to)[n]
            t, c = timed(cmd)
            if r < 0:
                ref = os.path.join(work, "reference.txt")
                if n == "iconv":
                    shutil.copyfile(out, ref)
                elif not filecmp.cmp(out, ref, shallow=False):
                    sys.exit("%s made another output than iconv: %s -> %s" % (n, frm, to))
            else:
                times[n].append(t)
                cpu[n].append(c)
            shutil.rmtree(dst)
    return ({n: statistics.median(v) for n, v in times.items()},
            {n: statistics.median(v) for n, v in cpu.items()})


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build-rel")
    ap.add_argument("--old", help="another build folder to time beside this one")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--mib", type=int, default=48)
    ap.add_argument("--pairs", default=DEFAULT_PAIRS)
    ap.add_argument("--dir", default="/dev/shm/ouzel-compare-iconv")
    a = ap.parse_args()
    tools = [("new", os.path.join(a.build, "ouzel-convert"))]
    if a.old:
        tools.append(("old", os.path.join(a.old, "ouzel-convert")))
    runner = os.path.join(a.build, "bench", "bench_run")
    header = ("| encoding | text | direction | MB | iconv ms | new ms | new vs iconv | processor: "
              "iconv ms | new ms | new vs iconv |")
    if a.old:
        header += " old ms | old vs iconv | old processor ms |"
    print("load average %.1f at the start" % os.getloadavg()[0])
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    for pair in a.pairs.split(","):
        language, encoding = pair.split(":")
        shutil.rmtree(a.dir, ignore_errors=True)
        subprocess.run([runner, "shapes", a.dir, str(a.mib), language, encoding], check=True)
        for shape in ("source", "prose"):
            for frm, to, kind in ((encoding, "UTF-8", "legacy"), ("UTF-8", encoding, "utf8")):
                src = os.path.join(a.dir, "%s-%s" % (shape, kind))
                mb = os.path.getsize(os.path.join(src, "one.txt")) / 1e6
                m, c = measure(tools, src, a.dir, frm, to, a.rounds)
                row = "| %s | %s | %s -> %s | %.0f | %.0f | %.0f | %.2fx | %.0f | %.0f | %.2fx |" % (
                    encoding, shape, frm, to, mb, m["iconv"] * 1e3, m["new"] * 1e3,
                    m["iconv"] / m["new"], c["iconv"] * 1e3, c["new"] * 1e3, c["iconv"] / c["new"])
                if a.old:
                    row += " %.0f | %.2fx | %.0f |" % (m["old"] * 1e3, m["iconv"] / m["old"],
                                                       c["old"] * 1e3)
                print(row, flush=True)
        shutil.rmtree(a.dir, ignore_errors=True)
    print("load average %.1f at the end" % os.getloadavg()[0])


if __name__ == "__main__":
    main()
