#!/usr/bin/env python3
"""The Python baseline of bench_tool.py: one process walks IN and writes every file, decoded
from GBK and encoded as UTF-8, at the same place under OUT.  Usage: codecs_walk.py IN OUT"""
import os
import sys


def main():
    src, dst = sys.argv[1], sys.argv[2]
    for root, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        out = os.path.join(dst, os.path.relpath(root, src))
        os.makedirs(out, exist_ok=True)
        for name in files:
            if name.startswith("."):
                continue
            with open(os.path.join(root, name), "rb") as f:
                data = f.read()
            with open(os.path.join(out, name), "wb") as f:
                f.write(data.decode("gbk").encode("utf-8"))


if __name__ == "__main__":
    main()
