#!/usr/bin/env python3
"""A small machine built from code: a NorGate driving a line of Conductors,
placed with Document.place and saved as a grid file that cellforge-run and
the desktop program open like any other.

    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/build_machine.py --out out/machine

Part types and directions come from cellforge.PartType and
cellforge.Direction; a part's `up` follows from its front and side. The
picture is framed by Document.fit_camera and carries a legend in the colours
the view paints each part type with (cellforge.part_colours).
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


def picture(doc, path, size=(480, 360)):
    """The machine drawn as the view draws it, with a legend of its part types."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Patch

    pixels = doc.render(camera=doc.fit_camera(size), size=size)
    types = sorted({int(t) for t in doc.parts()["type"]})
    # A part's corners differ in colour by half: the legend shows its front
    # half (rows with bit 2 set), the colour that tells the types apart.
    handles = [Patch(facecolor=cellforge.part_colours(t)[4:].mean(axis=0) / 255, edgecolor="black",
                     label=PartType(t).name.replace("_", " ").lower() if t in {int(p) for p in PartType} else f"type {t}")
               for t in types]
    fig, ax = plt.subplots(figsize=(size[0] / 80, size[1] / 80 + 0.6), dpi=80)
    ax.imshow(pixels)
    ax.set_axis_off()
    ax.legend(handles=handles, loc="upper center", bbox_to_anchor=(0.5, 0), ncol=max(1, len(handles)),
              frameon=False)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


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
    picture(doc, args.out / "machine.png")
    doc.save(args.out / "machine-after.grd")
    return grid


if __name__ == "__main__":
    main()
