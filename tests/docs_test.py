#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs what a page of the docs presents as runnable, so that the docs cannot drift from the tools.

In a page (Markdown), each fenced block whose language is `sh` is run with bash, in order, in a
scratch directory of the page's own that holds the source tree's top-level entries (as links) and
`build/default` (a link to the build directory), so that the commands run as a reader runs them
from the source tree. A comment on the line before a block says more of it:

  <!-- file: PATH -->        the block is a file the later blocks use: written to PATH, not run
  <!-- status: N -->        the block must end with status N (else 0)
  <!-- not run: REASON -->  the block is not run here; REASON says what runs it instead

Every other block (text, a board file shown in passing, YAML) is only read.

Usage: docs_test.py SOURCE_DIR BUILD_DIR PAGE...
"""
import os
import re
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)\s*$")
MARK = re.compile(r"^<!--\s*(file|status|not run):\s*(.*?)\s*-->\s*$")
TIMEOUT_S = 600


def blocks(text):
    """Each fenced block of a page: (line, language, body, mark) with the mark of the line before."""
    lines = text.split("\n")
    found = []
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if not opening or not opening.group(1):
            i += 1
            continue
        previous = lines[i - 1] if i > 0 else ""
        mark = MARK.match(previous)
        start = i
        i += 1
        body = []
        while i < len(lines) and lines[i] != "```":
            body.append(lines[i])
            i += 1
        if i == len(lines):
            raise ValueError(f"line {start + 1}: a block that never ends")
        found.append((start + 1, opening.group(1), "\n".join(body) + "\n",
                      (mark.group(1), mark.group(2)) if mark else None))
        i += 1
    return found


def scratch_tree(source, build):
    """A directory that reads like the source tree with its build in build/default."""
    root = tempfile.mkdtemp(prefix="docs-")
    for entry in os.listdir(source):
        if entry not in ("build", ".git"):
            os.symlink(os.path.join(source, entry), os.path.join(root, entry))
    os.makedirs(os.path.join(root, "build"))
    os.symlink(build, os.path.join(root, "build", "default"))
    return root


def run_page(source, build, page):
    with open(page, encoding="utf-8") as f:
        found = blocks(f.read())
    root = scratch_tree(source, build)
    name = os.path.relpath(page, source)
    ran = skipped = written = 0
    failures = []
    for line, language, body, mark in found:
        where = f"{name}:{line}"
        kind, value = mark if mark else (None, None)
        if kind == "file":
            path = os.path.join(root, value)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(body)
            written += 1
            continue
        if language != "sh":
            continue
        if kind == "not run":
            if not value:
                failures.append(f"{where}: 'not run' needs a reason")
            skipped += 1
            continue
        expected = int(value) if kind == "status" else 0
        result = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", body], cwd=root,
                                capture_output=True, text=True, timeout=TIMEOUT_S)
        ran += 1
        if result.returncode != expected:
            failures.append(f"{where}: ended with status {result.returncode}, the page says "
                            f"{expected}\n--- the block\n{body}--- its output\n{result.stdout}"
                            f"{result.stderr}")
    print(f"{name}: {ran} blocks run, {written} files written, {skipped} not run here")
    return failures


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    failures = []
    for page in sys.argv[3:]:
        failures += run_page(source, build, os.path.abspath(page))
    for failure in failures:
        print("FAILED: " + failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
