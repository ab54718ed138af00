#!/usr/bin/env python3
"""Figures of the Python module: doc.run(n) against cellforge-run -n n on the
memory-bank demo, and doc.parts() on a 1,000,000-part grid. Medians of
--repeat runs each.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/module_bench.py --build build
"""
import argparse
import re
import resource
import shutil
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

import cellforge

ROOT = Path(__file__).resolve().parents[2]


def child_cpu(args):
    """CPU seconds of one child process (less sensitive to a busy machine than wall time)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(args, check=True, capture_output=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)


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

        # The same in CPU time: the runner's run is its CPU time minus that of a
        # run of 0 generations (load and exit); the module's is the calling
        # thread's CPU time over doc.run, the thread that steps the universe.
        runner_cpu, load_cpu, module_cpu = [], [], []
        for _ in range(args.repeat):
            runner_cpu.append(child_cpu([runner, prj, "-n", str(n), "--no-progress"]))
            load_cpu.append(child_cpu([runner, prj, "-n", "0", "--no-progress"]))
            with cellforge.open(prj) as doc:
                t = time.thread_time()
                doc.run(n)
                module_cpu.append(time.thread_time() - t)
        r = statistics.median(runner_cpu) - statistics.median(load_cpu)
        m = statistics.median(module_cpu)
        print(f"  CPU time: cellforge-run {r:.3f} s, doc.run {m:.3f} s, overhead {100 * (m - r) / r:+.1f}%")

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
