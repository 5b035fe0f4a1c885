#!/usr/bin/env python3
"""Each room of src/ includes only the rooms below it.

Usage: check_rooms.py REPOSITORY_ROOT. Prints each include that crosses the
rules as FILE:LINE: ROOM may not include OTHER, and exits 1 when there is
any. The table is the one docs/architecture.md draws.
"""
import os
import re
import sys

# room: the rooms its files may include ("vornix" is the generated version header).
MAY_USE = {
    "config": set(),
    "station": {"config"},
    "link": {"config", "station"},
    "automation": {"config", "station"},
    "procedures": {"config", "station", "link", "automation"},
    "records": {"config", "station", "link"},
    "view": {"config", "station", "records"},
    "platform": {"config", "station", "link", "automation", "records"},
    "app": {"config", "station", "link", "automation", "procedures", "records", "platform", "vornix"},
    "cli": {"config", "station", "app", "view", "vornix"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')


def main(root):
    source = os.path.join(root, "src")
    problems = []
    for directory, _, files in sorted(os.walk(source)):
        relative = os.path.relpath(directory, source)
        if relative == ".":
            continue
        room = relative.split(os.sep)[0]
        for name in sorted(files):
            if not name.endswith((".cpp", ".h")):
                continue
            path = os.path.join(directory, name)
            shown = os.path.relpath(path, root)
            if room not in MAY_USE:
                problems.append(f"{shown}:1: the room {room} is not in the table")
                continue
            with open(path, encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if match and match.group(1) != room and match.group(1) not in MAY_USE[room]:
                        problems.append(f"{shown}:{number}: {room} may not include {match.group(1)}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: check_rooms.py REPOSITORY_ROOT", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
