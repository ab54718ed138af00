#!/usr/bin/env python3
"""A parameter sweep on dask.distributed: one function mapped over many
independent runs, the results gathered into one CSV table and one plot.

Each task writes the memory-bank program into the bank at one loop offset,
runs a number of generations and reports the counters, the work the run did
(active blocks summed over its generations, from run(counters=True)), how
many parts carry a signal, and a digest of the saved grid. Tasks open their own files inside
the worker, so the inputs must be readable there under the same path (one
machine, or a shared folder on a cluster).

    # on this machine (a LocalCluster with 2 workers)
    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/sweep.py --out out/sweep
    # on a running cluster (see docs/scripting.md)
    PYTHONPATH=build/python /usr/bin/python3 examples/scripts/sweep.py tcp://scheduler:8786 --out out/sweep
"""
import argparse
import csv
import hashlib
import itertools
import os
import tempfile
from pathlib import Path

DEMO = Path(__file__).resolve().parents[1] / "membank"
FIELDS = ["grid", "memory", "offset", "generations", "generation", "active_blocks", "work", "parts", "lit_parts",
          "grid_sha256"]


def run_one(task):
    """One run, from files to numbers. Runs in a worker; imports there."""
    import cellforge

    # One thread per run: the sweep already keeps every core busy with runs.
    with cellforge.open(task["grid"], threads=1) as doc:
        if task.get("memory"):
            doc.write_memory(task["memory"], corner=tuple(task.get("corner", (0, 0, 0))), offset=task["offset"])
        counters = doc.run(task["generations"], counters=True)
        parts = doc.parts()
        with tempfile.TemporaryDirectory() as tmp:
            saved = os.path.join(tmp, "after.grd")
            doc.save(saved)
            with open(saved, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
        return {
            "grid": task["grid"],
            "memory": task.get("memory", ""),
            "offset": task["offset"],
            "generations": task["generations"],
            "generation": doc.generation,
            "active_blocks": doc.active_blocks,
            "work": int(counters.active_blocks.sum()),
            "parts": len(parts),
            "lit_parts": int((parts["outputs"] != 0).sum()),
            "grid_sha256": digest,
        }


def make_tasks(grid, memory, offsets, generations):
    return [{"grid": str(grid), "memory": str(memory) if memory else "", "offset": k, "generations": g}
            for g, k in itertools.product(generations, offsets)]


def run_sweep(client, tasks, timeout=None):
    """Maps run_one over the tasks on the cluster; results in task order.
    A task that fails raises its error here; one that takes longer than
    `timeout` seconds in all raises TimeoutError."""
    from dask.distributed import wait

    futures = client.map(run_one, tasks, pure=False)
    wait(futures, timeout=timeout)
    return client.gather(futures)


def write_table(results, path):
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=FIELDS)
        w.writeheader()
        w.writerows(results)


def plot(results, path):
    """One column per run length: the work each offset made the run do, and
    how many parts carry a signal at the end. Each panel is scaled to its own
    values, since the offsets differ by a fraction of a percent."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    lengths = sorted({r["generations"] for r in results})
    fig, axes = plt.subplots(2, len(lengths), figsize=(4.5 * len(lengths), 6), squeeze=False)
    for column, g in enumerate(lengths):
        rows = sorted((r for r in results if r["generations"] == g), key=lambda r: r["offset"])
        offsets = [r["offset"] for r in rows]
        top, bottom = axes[0][column], axes[1][column]
        top.plot(offsets, [r["work"] for r in rows], marker="o", color="tab:blue")
        top.set_title(f"{g} generations")
        top.set_ylabel("active blocks, summed over the run")
        bottom.plot(offsets, [r["lit_parts"] for r in rows], marker="s", color="tab:orange")
        bottom.set_ylabel("parts carrying a signal at the end")
        bottom.set_xlabel("loop offset of the memory write")
        for ax in (top, bottom):
            ax.ticklabel_format(axis="y", useOffset=False, style="plain")
            ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def ints(text):
    """"0:8" (a range), "100,200" (a list) or "5"."""
    if ":" in text:
        a, b = text.split(":")
        return list(range(int(a), int(b)))
    return [int(v) for v in text.split(",")]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("scheduler", nargs="?", help="address of a running scheduler (default: a LocalCluster)")
    ap.add_argument("--workers", type=int, default=2, help="LocalCluster workers")
    ap.add_argument("--in-process", action="store_true", help="LocalCluster workers as threads of this process")
    ap.add_argument("--grid", default=str(DEMO / "membank.grd"))
    ap.add_argument("--memory", default=str(DEMO / "membank.mem"))
    ap.add_argument("--offsets", type=ints, default=ints("0:8"))
    ap.add_argument("--generations", type=ints, default=ints("50,300"))
    ap.add_argument("--out", type=Path, default=Path("out/sweep"))
    ap.add_argument("--timeout", type=float, default=600, help="seconds to wait for the results")
    args = ap.parse_args(argv)

    from dask.distributed import Client, LocalCluster

    # Paths go to the workers as they are: make them absolute here.
    tasks = make_tasks(os.path.abspath(args.grid), os.path.abspath(args.memory) if args.memory else "",
                       args.offsets, args.generations)
    args.out.mkdir(parents=True, exist_ok=True)
    if args.scheduler:
        client = Client(args.scheduler, timeout=60)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=not args.in_process,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        print(f"{len(tasks)} runs on {client}")
        results = run_sweep(client, tasks, timeout=args.timeout)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    write_table(results, args.out / "sweep.csv")
    plot(results, args.out / "sweep.png")
    print(f"wrote {args.out / 'sweep.csv'} and {args.out / 'sweep.png'}")
    return results


if __name__ == "__main__":
    main()
