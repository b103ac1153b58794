#!/usr/bin/env python3
"""cmake/qarn_version.py in a scratch git repository: the Debian version and the version text
before any tag, at a release tag, after it, with local changes, outside git; the changelog's
top entry; and that an unchanged version leaves the files untouched.

Usage: version_test.py GENERATOR CHANGELOG
"""
import gzip
import os
import pathlib
import re
import subprocess
import sys
import tempfile

generator, history = sys.argv[1], sys.argv[2]
failures = []


def git(repo, *args):
    env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org",
               GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@example.org")
    return subprocess.run(["git", "-C", str(repo), *args], check=True, capture_output=True,
                          text=True, env=env).stdout.strip()


def generate(source, out):
    subprocess.run([sys.executable, generator, "--source", str(source), "--project-version",
                    "1.0.0", "--history", history, "--maintainer", "t <t@example.org>",
                    "--out", str(out)], check=True)
    text = (out / "version.cmake").read_text()
    debian = re.search(r'QARN_DEB_VERSION "([^"]*)"', text).group(1)
    shown = re.search(r'QARN_VERSION_TEXT "([^"]*)"', text).group(1)
    changelog = gzip.decompress((out / "changelog.gz").read_bytes()).decode()
    if not changelog.startswith(f"qarn ({debian}) "):
        failures.append(f"changelog starts {changelog.splitlines()[0]!r}, not version {debian}")
    if f'"{shown}"' not in (out / "Version.cpp").read_text():
        failures.append(f"Version.cpp lacks {shown!r}")
    return debian, shown


def expect(what, got, pattern):
    if not re.fullmatch(pattern, got):
        failures.append(f"{what}: {got!r} does not match {pattern!r}")


with tempfile.TemporaryDirectory() as scratch:
    repo, out = pathlib.Path(scratch) / "repo", pathlib.Path(scratch) / "out"
    repo.mkdir()
    git(repo, "init", "-q")
    (repo / "a").write_text("1")
    git(repo, "add", "a")
    git(repo, "commit", "-qm", "one")
    git(repo, "commit", "-qm", "two", "--allow-empty")
    head = git(repo, "rev-parse", "--short=7", "HEAD")
    cases = [
        ("no tag", None, rf"1\.0\.0\+git2\.g{head}", rf"1\.0\.0 \(git {head}\)"),
        ("at the release tag", "tag", r"1\.0\.0", r"1\.0\.0 \(git v1\.0\.0-0-g[0-9a-f]{7}\)"),
        ("after the tag", "commit", r"1\.0\.0\+git1\.g[0-9a-f]{7}",
         r"1\.0\.0 \(git v1\.0\.0-1-g[0-9a-f]{7}\)"),
        ("local changes", "edit", r"1\.0\.0\+git1\.g[0-9a-f]{7}\.dirty",
         r"1\.0\.0 \(git v1\.0\.0-1-g[0-9a-f]{7}-dirty\)"),
    ]
    for what, step, debian_pattern, text_pattern in cases:
        if step == "tag":
            git(repo, "tag", "v1.0.0")
        elif step == "commit":
            git(repo, "commit", "-qm", "three", "--allow-empty")
        elif step == "edit":
            (repo / "a").write_text("2")
        debian, shown = generate(repo, out)
        expect(what, debian, debian_pattern)
        expect(what, shown, text_pattern)

    # The same version again: no file is rewritten, so nothing rebuilds.
    before = {p.name: p.stat().st_mtime_ns for p in out.iterdir()}
    os.utime(out / "Version.cpp", ns=(1, 1))
    before["Version.cpp"] = 1
    generate(repo, out)
    after = {p.name: p.stat().st_mtime_ns for p in out.iterdir()}
    if before != after:
        failures.append(f"an unchanged version rewrote files: {before} -> {after}")

    plain = pathlib.Path(scratch) / "plain"
    plain.mkdir()
    expect("outside git", generate(plain, pathlib.Path(scratch) / "out2")[0], r"1\.0\.0")

for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
