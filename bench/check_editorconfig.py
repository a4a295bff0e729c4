#!/usr/bin/env python3
"""--check --editorconfig against plain --check on the source-like tree, side by side.

    cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DOUZEL_GUI=OFF
    cmake --build build-rel --target bench_run ouzel-convert
    python3 bench/check_editorconfig.py /path/to/bench-data [--rounds 7]

DATA (never inside the repository) holds the source-like tree that `bench_run trees` makes
(11,000 GBK files); it is converted once to UTF-8 with LF (DATA/source-utf8) and given an
.editorconfig at its root (root = true, charset and end_of_line for every file, a section per
kind of source) and one in each top-level folder, so every file passes both checks. Each
round runs `ouzel-convert --check --from UTF-8 --to UTF-8 --eol lf` and `ouzel-convert
--check --editorconfig` on it, in alternating order; medians of wall time, files/s and the
ratio per round are printed.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT_CONFIG = """root = true
[*]
charset = utf-8
end_of_line = lf
[*.{cpp,h,c,hpp}]
indent_style = space
indent_size = 4
[*.{txt,md}]
trim_trailing_whitespace = false
"""
FOLDER_CONFIG = "[*.h]\nend_of_line = lf\n"


def run(cmd):
    start = time.monotonic()
    r = subprocess.run(cmd, capture_output=True)
    took = time.monotonic() - start
    if r.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (r.returncode, " ".join(cmd), r.stderr.decode()[-2000:]))
    return took


def prepare(build, data):
    source = os.path.join(data, "source")
    if not os.path.isdir(source):
        subprocess.run([os.path.join(build, "bench", "bench_run"), "trees", data], check=True)
    tree = os.path.join(data, "source-utf8")
    if not os.path.isdir(tree):
        subprocess.run([os.path.join(build, "ouzel-convert"), "--quiet", "--from", "GBK", "--to",
                        "UTF-8", "--eol", "lf", source, tree], check=True)
    with open(os.path.join(tree, ".editorconfig"), "w") as f:
        f.write(ROOT_CONFIG)
    for name in os.listdir(tree):
        if os.path.isdir(os.path.join(tree, name)):
            with open(os.path.join(tree, name, ".editorconfig"), "w") as f:
                f.write(FOLDER_CONFIG)
    files = sum(len([n for n in fs if not n.startswith(".")]) for _, _, fs in os.walk(tree))
    return tree, files


def main():
    p = argparse.ArgumentParser()
    p.add_argument("data")
    p.add_argument("--build", default="build-rel")
    p.add_argument("--rounds", type=int, default=7)
    a = p.parse_args()
    tree, files = prepare(a.build, os.path.abspath(a.data))
    tool = os.path.join(a.build, "ouzel-convert")
    methods = {
        "--check": [tool, "--quiet", "--check", "--from", "UTF-8", "--to", "UTF-8", "--eol",
                    "lf", tree],
        "--check --editorconfig": [tool, "--quiet", "--check", "--editorconfig", tree],
    }
    times = {name: [] for name in methods}
    ratios = []
    for i in range(a.rounds):
        order = list(methods) if i % 2 == 0 else list(reversed(methods))
        took = {name: run(methods[name]) for name in order}
        for name, t in took.items():
            times[name].append(t)
        ratios.append(took["--check --editorconfig"] / took["--check"])
        print("round %d: %s" % (i + 1, ", ".join("%s %.2f s" % (n, took[n]) for n in order)),
              flush=True)
    print("load average: %.1f %.1f %.1f" % os.getloadavg())
    print("%d files, %d rounds, medians:" % (files, a.rounds))
    for name, ts in times.items():
        m = statistics.median(ts)
        print("  %-24s %6.2f s  %7.0f files/s" % (name, m, files / m))
    print("  ratio per round, median: %.3f (min %.3f, max %.3f)" %
          (statistics.median(ratios), min(ratios), max(ratios)))


if __name__ == "__main__":
    main()
