#!/usr/bin/env python3
"""Times commands over one tree, interleaved, into fresh output folders: two builds of the job,
or the job against the plain walks. Prints each one's median wall and processor time and its
ratio to the first.

    python3 bench/compare_runs.py TREE OUT ROUNDS NAME=COMMAND...

Each COMMAND is a bench_run invocation without its IN and OUT (they are put after its first two
words), e.g. "old=/old/build-rel/bench/bench_run job --quiet" "new=build-rel/bench/bench_run job
--quiet" "plain1=build-rel/bench/bench_run plain --threads 1". OUT must be outside the
repository; every run's output is removed after it, and each round starts one command later.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    tree, out, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    methods = dict(spec.split("=", 1) for spec in sys.argv[4:])
    names = list(methods)
    wall = {n: [] for n in names}
    cpu = {n: [] for n in names}
    for r in range(rounds):
        for n in names[r % len(names):] + names[:r % len(names)]:
            cmd = methods[n].split()
            target = os.path.join(out, "run-%s-%d" % (n, r))
            subprocess.run(["sync"], check=True)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(cmd[:2] + [tree, target] + cmd[2:], check=True,
                           stdout=subprocess.DEVNULL)
            wall[n].append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[n].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
            shutil.rmtree(target)
    first = statistics.median(wall[names[0]])
    for n in names:
        m = statistics.median(wall[n])
        print("%-10s wall %.3f s (x%.2f of %s)  processor %.3f s  rounds: %s" % (
            n, m, first / m, names[0], statistics.median(cpu[n]),
            " ".join("%.2f" % x for x in wall[n])))


if __name__ == "__main__":
    main()
