#!/usr/bin/env python3
"""Figures of the Python module: doc.run(n) against cellforge-run -n n on the
memory-bank demo, and doc.parts() on a 1,000,000-part grid. Medians of
--repeat runs each.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/module_bench.py --build build
"""
import argparse
import re
import shutil
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

import cellforge

ROOT = Path(__file__).resolve().parents[2]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", type=Path, default=ROOT / "build")
    ap.add_argument("--generations", type=int, default=20000)
    ap.add_argument("--parts", type=int, default=1000000)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    runner = args.build / "apps/run/cellforge-run"
    workload = args.build / "tools/cellforge-workload"

    with tempfile.TemporaryDirectory() as tmp:
        bank = Path(tmp) / "membank"
        shutil.copytree(ROOT / "examples/membank", bank)
        prj = bank / "membank.prj"
        n = args.generations
        runner_s, module_s = [], []
        for _ in range(args.repeat):
            # Alternate the two so drift on a shared machine hits both alike.
            out = subprocess.run([runner, prj, "-n", str(n), "--stats", "--no-progress"], capture_output=True,
                                 check=True, text=True).stdout
            runner_s.append(float(re.search(r"seconds ([0-9.]+)", out).group(1)))
            with cellforge.open(prj) as doc:
                t = time.perf_counter()
                doc.run(n)
                module_s.append(time.perf_counter() - t)
        r, m = statistics.median(runner_s), statistics.median(module_s)
        print(f"membank {n} generations: cellforge-run {r:.3f} s ({n / r:,.0f} gen/s), "
              f"doc.run {m:.3f} s ({n / m:,.0f} gen/s), overhead {100 * (m - r) / r:+.1f}%")
        print(f"  runs: runner {[round(v, 3) for v in runner_s]} module {[round(v, 3) for v in module_s]}")

        grid = Path(tmp) / "random.grd"
        with open(grid, "wb") as f:
            subprocess.run([workload, "random", str(args.parts)], stdout=f, check=True)
        with cellforge.open(grid) as doc:
            times = []
            for _ in range(args.repeat):
                t = time.perf_counter()
                parts = doc.parts()
                times.append(time.perf_counter() - t)
                del parts
            print(f"parts() of {doc.part_count:,} parts: median {1000 * statistics.median(times):.1f} ms "
                  f"(runs {[round(1000 * v, 1) for v in times]} ms)")


if __name__ == "__main__":
    main()
