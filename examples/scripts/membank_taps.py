#!/usr/bin/env python3
"""The memory-bank demo from a script: assemble its program, write it into
the memory modules, run, and plot the monitored taps over the generations.

    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/membank_taps.py --out out/taps

The project is copied into the output folder first: its monitor writes the
tap file next to the project, and the demo's own folder stays clean.
"""
import argparse
import shutil
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt

import cellforge

DEMO = Path(__file__).resolve().parents[1] / "membank"


def tap_names(monitor_file):
    """The value terminals of the first group of a .mon file ("name trigger : values END")."""
    words = Path(monitor_file).read_text().split()
    start = words.index(":") + 1
    return [w for w in words[start:] if w not in ("END", "end")]


def read_taps(tap_file):
    """One row of 0/1 values per line the monitor wrote."""
    rows = []
    for line in Path(tap_file).read_text().splitlines():
        fields = line.split()
        if len(fields) == 3:
            rows.append([int(c) for c in fields[2]])
    return rows


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--generations", type=int, default=600)
    ap.add_argument("--offset", type=int, default=0, help="loop offset of the memory write")
    ap.add_argument("--out", type=Path, default=Path("out/membank-taps"))
    args = ap.parse_args(argv)

    args.out.mkdir(parents=True, exist_ok=True)
    project_dir = args.out / "membank"
    shutil.copytree(DEMO, project_dir, dirs_exist_ok=True, ignore=shutil.ignore_patterns("*-taps.txt"))

    program = cellforge.assemble((project_dir / "membank.ct").read_text())
    print(f"assembled {program.length} bytes; cranetalk says: {program.messages}")

    with cellforge.open(project_dir / "membank.prj") as doc:
        doc.write_memory(program.image, corner=(0, 0, 0), offset=args.offset)
        doc.run(args.generations, progress=True)
        print(doc)
    # Closing the document closed the monitor's file, so it is complete now.

    names = tap_names(project_dir / "membank.mon")
    rows = read_taps(project_dir / "membank-taps.txt")
    fig, ax = plt.subplots(figsize=(10, 0.5 + 0.45 * len(names)))
    for i, name in enumerate(names):
        values = [row[i] for row in rows]
        ax.step(range(len(values)), [i + 0.8 * v for v in values], where="post", linewidth=0.8)
    ax.set_yticks([i + 0.4 for i in range(len(names))], names)
    ax.set_xlabel("generation")
    ax.set_title(f"memory-bank taps, program written at offset {args.offset}")
    fig.tight_layout()
    picture = args.out / "membank-taps.png"
    fig.savefig(picture, dpi=100)
    print(f"wrote {picture} ({len(rows)} samples of {len(names)} taps)")
    return picture


if __name__ == "__main__":
    main()
