#!/usr/bin/env python3
"""The cars demo as a film strip: draw the universe every 50 generations and
save each picture as a PNG.

    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/cars_frames.py --out out/cars

Pictures are drawn off screen (no display needed). The camera follows the
cars: it starts at the project's first saved view (--view names another) and
then keeps the same offset from the cars, taken as the median position of the
parts that moved since the previous picture (the median, so the one car that
turns off does not drag the camera into the empty road between). --view fit
frames the whole machine anew for each picture instead (Document.fit_camera),
which shrinks the cars as they spread out.
"""
import argparse
from pathlib import Path

import numpy as np

import cellforge

DEMO = Path(__file__).resolve().parents[1] / "cars"


def positions(doc):
    """The parts' positions as an (n, 3) array."""
    parts = doc.parts()
    return np.stack([parts[a] for a in "xyz"], axis=1) if len(parts) else np.zeros((0, 3), dtype=np.int32)


def rows(points):
    """Each (x, y, z) row as one comparable value."""
    return points.astype(np.int64) @ np.array([1, 1 << 21, 1 << 42], dtype=np.int64)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--generations", type=int, default=500)
    ap.add_argument("--every", type=int, default=50)
    ap.add_argument("--size", default="480x360", help="WxH in pixels")
    ap.add_argument("--view", default=None,
                    help="description of a saved view to start from (default: the first one), or 'fit'")
    ap.add_argument("--out", type=Path, default=Path("out/cars-frames"))
    args = ap.parse_args(argv)
    width, height = (int(v) for v in args.size.split("x"))

    args.out.mkdir(parents=True, exist_ok=True)
    frames = []
    with cellforge.open(DEMO / "cars.prj") as doc:
        print("saved views:", [description for description, _ in doc.views])
        views = dict(doc.views)
        start = views.get(args.view) if args.view else (doc.views[0][1] if doc.views else None)
        if args.view not in (None, "fit") and start is None:
            raise SystemExit(f"no saved view is described as {args.view!r}")
        if start is None:
            start = doc.fit_camera((width, height))
        before = positions(doc)
        subject = np.median(before, axis=0)
        offset = np.array(start[:3]) - subject
        while True:
            if args.view == "fit":
                camera = doc.fit_camera((width, height))
            else:
                now = positions(doc)
                moved = now[~np.isin(rows(now), rows(before))] if len(before) else now
                if len(moved):
                    subject = np.median(moved, axis=0)
                before = now
                eye = subject + offset
                camera = (float(eye[0]), float(eye[1]), float(eye[2]), start[3], start[4])
            path = args.out / f"cars-{doc.generation:06d}.png"
            doc.render(camera, size=(width, height), path=path)
            frames.append(path)
            if doc.generation + args.every > args.generations:
                break
            doc.run(args.every)
    print(f"wrote {len(frames)} frames to {args.out}")
    return frames


if __name__ == "__main__":
    main()
