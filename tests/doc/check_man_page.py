#!/usr/bin/env python3
"""Fails when a command that `qarn --help` lists has no entry in the man page qarn(1), or the
page lists a command the tool does not have.

Usage: check_man_page.py --qarn QARN --page qarn.1.scd
"""
import argparse
import re
import subprocess
import sys


def tool_commands(qarn):
    text = subprocess.run([qarn, "--help"], check=True, capture_output=True, text=True).stdout
    section = text.split("Subcommands:\n", 1)[1].split("\n\n", 1)[0]
    return {line.split()[0] for line in section.splitlines() if line.strip()}


def page_commands(page):
    # Entries of the COMMANDS section start a line with *name*.
    text = open(page, encoding="utf-8").read()
    section = text.split("# COMMANDS\n", 1)[1].split("\n# ", 1)[0]
    return set(re.findall(r"^\*([a-z][a-z-]*)\*", section, re.MULTILINE))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qarn", required=True)
    parser.add_argument("--page", required=True)
    args = parser.parse_args()
    tool, page = tool_commands(args.qarn), page_commands(args.page)
    if not tool:
        print("qarn --help lists no commands", file=sys.stderr)
        return 1
    problems = [f"command '{c}' has no entry in {args.page}" for c in sorted(tool - page)]
    problems += [f"{args.page} describes '{c}', which qarn does not have"
                 for c in sorted(page - tool)]
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"the man page describes all {len(tool)} commands")
    return 0


if __name__ == "__main__":
    sys.exit(main())
