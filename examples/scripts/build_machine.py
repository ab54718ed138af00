#!/usr/bin/env python3
"""A small machine built from code: a NorGate driving a line of Conductors,
placed with Document.place and saved as a grid file that cellforge-run and
the desktop program open like any other.

    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/build_machine.py --out out/machine

Part types and directions come from cellforge.PartType and
cellforge.Direction; a part's `up` follows from its front and side.
"""
import argparse
from pathlib import Path

import cellforge
from cellforge import Direction, PartType


def build(length=8):
    doc = cellforge.Document()
    # The gate has no inputs, so it drives its front (+y) every generation.
    doc.place(0, 0, 0, PartType.NOR_GATE, front=Direction.PLUS_Y, side=Direction.PLUS_X)
    for y in range(1, length + 1):
        doc.place(0, y, 0, PartType.CONDUCTOR, front=Direction.PLUS_Y, side=Direction.PLUS_X)
    return doc


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--length", type=int, default=8, help="number of conductors")
    ap.add_argument("--generations", type=int, default=12)
    ap.add_argument("--out", type=Path, default=Path("out/machine"))
    args = ap.parse_args(argv)
    args.out.mkdir(parents=True, exist_ok=True)

    doc = build(args.length)
    grid = args.out / "machine.grd"
    doc.save(grid)
    print(f"saved {doc.part_count} parts to {grid}")

    # Watch the signal travel: which conductors drive their front.
    for _ in range(args.generations):
        doc.run(1)
        lit = "".join("#" if doc.cell(0, y, 0).outputs & (1 << Direction.PLUS_Y) else "." for y in range(1, args.length + 1))
        print(f"generation {doc.generation:3d}  {lit}")
    doc.render(size=(320, 240), camera=(0.5, args.length / 2, args.length + 4, 0, 0),
               path=args.out / "machine.png")
    doc.save(args.out / "machine-after.grd")
    return grid


if __name__ == "__main__":
    main()
