#!/usr/bin/env python3
"""Time from start to the first frame of two builds of the tool, interleaved, medians.

Run inside an X server:  xvfb-run -a -s "-screen 0 1280x800x24" \\
    python3 bench/first_frame.py BASELINE_BINARY CANDIDATE_BINARY [ROUNDS]
The first frame is the moment the layout file ($OUZEL_PROBE_FILE) appears: the tool writes
it right after drawing its first frame. Each start gets a fresh working directory with the
same settings file; one untimed round warms the page cache.
"""
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SETTINGS = ('version: 3.0\ninput: /tmp\noutput: /tmp/ouzel-out\nfilters:\n  - "*.*"\n'
            "filter-index: 0\nfrom: GBK\nto: UTF-8\n")


def first_frame_ms(binary):
    work = tempfile.mkdtemp(prefix="ouzel-ff-")
    try:
        with open(os.path.join(work, "ouzel.yml"), "w", encoding="utf-8") as f:
            f.write(SETTINGS)
        layout = os.path.join(work, "layout.tsv")
        env = dict(os.environ, OUZEL_PROBE_FILE=layout)
        start = time.monotonic()
        proc = subprocess.Popen([binary], cwd=work, env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        try:
            while not os.path.exists(layout):
                if proc.poll() is not None or time.monotonic() - start > 30:
                    raise RuntimeError("%s drew no frame (exit %s): %s" % (
                        binary, proc.poll(), proc.stderr.read().decode(errors="replace")))
                time.sleep(0.0005)
            return (time.monotonic() - start) * 1000.0
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(timeout=20)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    builds = [os.path.abspath(b) for b in sys.argv[1:3]]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    for b in builds:
        first_frame_ms(b)  # warm-up, untimed
    times = {b: [] for b in builds}
    for r in range(rounds):
        order = builds if r % 2 == 0 else builds[::-1]
        for b in order:
            times[b].append(first_frame_ms(b))
    base, cand = (statistics.median(times[b]) for b in builds)
    for name, b, med in (("baseline", builds[0], base), ("candidate", builds[1], cand)):
        print("%-9s median %7.1f ms  (min %6.1f, max %6.1f, %d runs)  %s" %
              (name, med, min(times[b]), max(times[b]), rounds, b))
    print("difference %+.1f ms, ratio %.2f" % (cand - base, cand / base))
    return 0


if __name__ == "__main__":
    sys.exit(main())
