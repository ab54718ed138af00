#!/usr/bin/env python3
"""The cars demo as a film strip: draw the universe every 50 generations and
save each picture as a PNG.

    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/cars_frames.py --out out/cars

Pictures are drawn off screen (no display needed), from the runner's default
project's first saved view unless --view names another (or "default" for
the runner's camera).
"""
import argparse
from pathlib import Path

import cellforge

DEMO = Path(__file__).resolve().parents[1] / "cars"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--generations", type=int, default=500)
    ap.add_argument("--every", type=int, default=50)
    ap.add_argument("--size", default="480x360", help="WxH in pixels")
    ap.add_argument("--view", default=None,
                    help="description of a saved view (default: the first one; 'default': the runner's camera)")
    ap.add_argument("--out", type=Path, default=Path("out/cars-frames"))
    args = ap.parse_args(argv)
    width, height = (int(v) for v in args.size.split("x"))

    args.out.mkdir(parents=True, exist_ok=True)
    frames = []
    with cellforge.open(DEMO / "cars.prj") as doc:
        print("saved views:", [description for description, _ in doc.views])
        view = args.view
        if view is None:
            view = doc.views[0][0] if doc.views else None
        elif view == "default":
            view = None
        while True:
            path = args.out / f"cars-{doc.generation:06d}.png"
            doc.render(view, size=(width, height), path=path)
            frames.append(path)
            if doc.generation + args.every > args.generations:
                break
            doc.run(args.every)
    print(f"wrote {len(frames)} frames to {args.out}")
    return frames


if __name__ == "__main__":
    main()
