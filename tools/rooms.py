#!/usr/bin/python3
"""Checks the rooms of src/: every include runs from a higher room to a lower one.

Each folder of src/ is a room with one header as its door, ``ROOM/ROOM.h``;
the rooms stand in the order of ROOMS, lowest first (docs/architecture.md).
A file of src/ may include its own room's headers and the doors of the rooms
below its own; the tests, the fuzz targets and the benchmarks may include any
door, and nothing behind one. Prints every include that breaks this and ends
with status 1, else prints the rooms and ends with 0.

    tools/rooms.py [REPOSITORY]
"""
from __future__ import annotations

import re
import sys
from pathlib import Path

# Lowest first: a room may use only the rooms before it.
ROOMS = ["console", "model", "numeric", "input", "facts", "report", "thermal", "burn", "results", "check", "driver"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCES = ("*.cpp", "*.h")


def faults(root: Path) -> list[str]:
    """Every include of the tree at ``root`` that breaks the rooms' order or goes behind a door."""
    found = []
    rank = {room: i for i, room in enumerate(ROOMS)}
    src = root / "src"
    rooms_here = sorted(p.name for p in src.iterdir() if p.is_dir())
    for room in rooms_here:
        if room not in rank:
            found.append(f"src/{room}/: a room that is not in the order of tools/rooms.py")
    for room in ROOMS:
        if not (src / room / f"{room}.h").is_file():
            found.append(f"src/{room}/{room}.h: the room's door is missing")
    for folder in ("src", "tests", "fuzz", "bench"):
        for pattern in SOURCES:
            for path in sorted((root / folder).rglob(pattern)):
                relative = path.relative_to(root)
                own = relative.parts[1] if folder == "src" else None
                for number, line in enumerate(path.read_text(errors="replace").splitlines(), start=1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    target = match.group(1)
                    room, _, header = target.partition("/")
                    if room not in rank or not header:
                        continue  # not a header of src/
                    where = f"{relative}:{number}: {target}"
                    if own == room:
                        continue
                    if header != f"{room}.h":
                        found.append(f"{where}: behind the door of {room}/ (include {room}/{room}.h)")
                    elif own is not None and rank.get(own, -1) < rank[room]:
                        found.append(f"{where}: an arrow up, from {own}/ to the higher room {room}/")
    return found


def main(argv: list[str]) -> int:
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parents[1]
    problems = faults(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the rooms: " + " < ".join(ROOMS))
        return 1
    print("rooms, lowest first: " + " < ".join(ROOMS) + "; every include runs downward")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
