#!/usr/bin/env python3
"""Detection speed of two builds of bench_detect_accuracy, run in turn on the same corpus.

    python3 bench/compare_detect_speed.py CORPUS ROUNDS OLD_BENCH NEW_BENCH

Each round runs both programs' --speed (one thread, 3,000 small files, their own medians of 5),
the first program first in even rounds and second in odd ones. Prints, per build, the median
files/s of the detecting job and of the job without detection, and the ratios new/old: the
detecting job's files/s, and its time against the job without detection of the same run (the
figure least moved by other work on the machine).
"""
import re
import statistics
import subprocess
import sys

ROW = re.compile(r"^\| (job, detect[^|]*|job without detection[^|]*) \| (\d+) \|")


def speed(bench, corpus):
    out = subprocess.run([bench, "--corpus", corpus, "--no-accuracy", "--speed"], check=True,
                         capture_output=True, text=True).stdout
    rows = {}
    for line in out.splitlines():
        m = ROW.match(line)
        if m:
            rows["detect" if m.group(1).startswith("job, detect") else "plain"] = int(m.group(2))
    if len(rows) != 2:
        sys.exit("no speed table in the output of " + bench)
    return rows


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    corpus, rounds, builds = sys.argv[1], int(sys.argv[2]), {"old": sys.argv[3], "new": sys.argv[4]}
    runs = {"old": [], "new": []}
    for r in range(rounds):
        for name in (["old", "new"] if r % 2 == 0 else ["new", "old"]):
            runs[name].append(speed(builds[name], corpus))
            print("round %d %s: %s" % (r + 1, name, runs[name][-1]), flush=True)
    med = {}
    for name in runs:
        detect = statistics.median(x["detect"] for x in runs[name])
        plain = statistics.median(x["plain"] for x in runs[name])
        # The detecting job's time over the plain job's, per run, then the median.
        relative = statistics.median(x["plain"] / x["detect"] for x in runs[name])
        med[name] = (detect, plain, relative)
        print("%s: detect %.0f files/s, without detection %.0f files/s, detect time %.2fx the "
              "plain job's" % (name, detect, plain, relative))
    print("new/old: detect files/s %.3f; detect time against the plain job %.3f (below 1: faster)"
          % (med["new"][0] / med["old"][0], med["new"][2] / med["old"][2]))


if __name__ == "__main__":
    main()
