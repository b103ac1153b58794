#!/usr/bin/env python3
"""`qarn --version` and `qarn info` agree with the build: the tool prints the version text of
its build, and info reads the same text and the linker's build ID from the plug-in file.

Usage: check_version.py --qarn QARN --plugin libqarn.so --version-cmake version.cmake
                        --project-version X.Y.Z --readelf READELF
"""
import argparse
import re
import subprocess
import sys
import tempfile


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited with {done.returncode}: {done.stderr}")
    return done.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("--qarn", "--plugin", "--version-cmake", "--project-version", "--readelf"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    text = re.search(r'set\(QARN_VERSION_TEXT "([^"]*)"\)',
                     open(args.version_cmake, encoding="utf-8").read()).group(1)
    problems = []
    if not (text == args.project_version or text.startswith(args.project_version + " (git ")):
        problems.append(f"version text '{text}' does not start with {args.project_version}")

    version = run(args.qarn, "--version").strip()
    if version != f"qarn {text}":
        problems.append(f"qarn --version prints '{version}', expected 'qarn {text}'")

    notes = run(args.readelf, "-n", args.plugin)
    build_id = re.search(r"Build ID: ([0-9a-f]+)", notes)
    with tempfile.TemporaryDirectory() as scratch:
        info = run(args.qarn, "info", "--plugin", args.plugin, "--store", scratch + "/store.ini")
    line = re.search(r"^Version: +(.*)$", info, re.MULTILINE)
    expected = text + (f", build ID {build_id.group(1)}" if build_id else "")
    if not line or line.group(1) != expected:
        problems.append(f"qarn info shows '{line.group(1) if line else None}', "
                        f"expected '{expected}'")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"qarn --version and qarn info show {expected}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as error:
        print(error, file=sys.stderr)
        sys.exit(1)
