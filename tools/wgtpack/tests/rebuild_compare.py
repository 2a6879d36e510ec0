#!/usr/bin/env python3
"""Packs the widget again, away from the build, and compares the bytes with the build's package.

The sources are copied to a fresh folder (another path, other file times and permissions) and
wgtpack runs with another time zone and umask, twice. Each result must equal the built package
byte for byte: nothing in it may come from the clock, the file system or the environment.

    rebuild_compare.py --expect Velmora.wgt --src widget/ -- wgtpack [ARGS without --src and -o]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SOURCES = ["config.xml", "index.html", "main.js", "css/style.css", "wgt_ico.png"]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--expect", required=True)
    p.add_argument("--src", required=True)
    p.add_argument("command", nargs=argparse.REMAINDER)
    args = p.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with open(args.expect, "rb") as f:
        expected = f.read()

    failures = 0
    with tempfile.TemporaryDirectory(prefix="wgt-rebuild-") as tmp:
        for run, (tz, umask, stamp) in enumerate([("Pacific/Auckland", 0o077, 1_000_000_000),
                                                  ("America/Los_Angeles", 0o002, 2_000_000_000)]):
            src = os.path.join(tmp, "copy%d" % run, "sources")
            for name in SOURCES:
                os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
                shutil.copyfile(os.path.join(args.src, name), os.path.join(src, name))
                os.utime(os.path.join(src, name), (stamp, stamp))
            out = os.path.join(tmp, "copy%d" % run, "Velmora.wgt")
            env = dict(os.environ, TZ=tz)
            env.pop("SOURCE_DATE_EPOCH", None)
            old = os.umask(umask)
            try:
                r = subprocess.run(command + ["--src", src, "-o", out], env=env)
            finally:
                os.umask(old)
            if r.returncode != 0:
                print("run %d: wgtpack failed with %d" % (run, r.returncode))
                failures += 1
                continue
            with open(out, "rb") as f:
                got = f.read()
            if got == expected:
                print("run %d (TZ=%s, umask %03o, source times %d): identical, %d bytes"
                      % (run, tz, umask, stamp, len(got)))
            else:
                at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
                print("run %d: differs from %s at byte %d (%d vs %d bytes)"
                      % (run, args.expect, at, len(got), len(expected)))
                failures += 1
    print("%d passed, %d failed" % (2 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
