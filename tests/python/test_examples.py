"""The example scripts on small inputs, and a sweep on a 2-worker LocalCluster
checked against the same runs made in-process."""
import csv
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import cellforge
from conftest import SOURCE

SCRIPTS = SOURCE / "examples" / "scripts"


def load(name):
    found = importlib.util.spec_from_file_location(name, SCRIPTS / f"{name}.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def is_png(path):
    return Path(path).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_membank_taps_plot(tmp_path):
    demo_taps = SOURCE / "examples" / "membank" / "membank-taps.txt"
    existed = demo_taps.exists()
    picture = load("membank_taps").main(["--generations", "120", "--out", str(tmp_path)])
    assert is_png(picture)
    taps = (tmp_path / "membank" / "membank-taps.txt").read_text().splitlines()
    assert len(taps) == 120 and all(line.startswith("taps 1 ") for line in taps)
    assert existed or not demo_taps.exists()  # the script ran on its own copy


def test_cars_frames(tmp_path):
    frames = load("cars_frames").main(["--generations", "100", "--every", "50", "--size", "64x48",
                                       "--out", str(tmp_path)])
    assert [f.name for f in frames] == ["cars-000000.png", "cars-000050.png", "cars-000100.png"]
    assert all(is_png(f) for f in frames)
    assert frames[0].read_bytes() != frames[2].read_bytes()  # the cars moved


def drawn_share(pixels):
    """The share of pixels that differ from the corner's (the background)."""
    return float((pixels != pixels[0, 0]).any(axis=2).mean())


def test_cars_frames_keep_the_cars_in_the_picture(tmp_path):
    # Long enough that a fixed camera lost the cars: every picture still shows
    # parts, and no two are alike.
    import matplotlib.image
    import numpy as np

    for view in (None, "Lanes from behind the start line", "fit"):
        out = tmp_path / str(len(str(view)))
        frames = load("cars_frames").main(["--generations", "500", "--every", "125", "--size", "96x72",
                                           "--out", str(out)] + (["--view", view] if view else []))
        assert len(frames) == 5 and frames[0].read_bytes() != frames[-1].read_bytes()
        if view == "fit":
            assert len({f.read_bytes() for f in frames}) == 5
            continue  # the whole machine, which the spreading cars make small
        # Followed, the cars fill each picture (cars in steady motion may give
        # the same picture twice, which is what following them means).
        pictures = [(matplotlib.image.imread(f)[..., :3] * 255).round() for f in frames]
        assert min(drawn_share(p) for p in pictures) > 0.004
        if view is None:
            # The fixed first view, as the script drew it before, shows only
            # what stayed behind once the cars have left: the same picture
            # from 150 on. The followed frames are not that picture.
            with cellforge.open(SOURCE / "examples" / "cars" / "cars.prj") as doc:
                for picture in pictures[1:]:
                    doc.run(125)
                    fixed = doc.render(doc.views[0][1], size=(96, 72))
                    assert (np.abs(fixed - picture) > 1).any(axis=2).mean() > 0.004


def test_build_machine_saves_a_grid_that_reloads(tmp_path, capsys):
    grid = load("build_machine").main(["--length", "5", "--generations", "8", "--out", str(tmp_path)])
    out = capsys.readouterr().out
    assert "generation   8  #####" in out
    with cellforge.open(grid) as doc:
        assert doc.part_count == 6
        assert doc.cell(0, 0, 0).type == 2 and doc.cell(0, 5, 0).type == 1
    assert is_png(tmp_path / "machine.png")
    # The legend's swatches are the view's colours for the two part types.
    import matplotlib.image
    import numpy as np

    pixels = (matplotlib.image.imread(tmp_path / "machine.png")[..., :3] * 255).round()
    for t in (cellforge.PartType.NOR_GATE, cellforge.PartType.CONDUCTOR):
        swatch = cellforge.part_colours(t)[4:].mean(axis=0)
        assert (np.abs(pixels - swatch).max(axis=2) <= 1).sum() > 20, t


def test_sweep_on_a_two_worker_local_cluster_matches_in_process_runs(tmp_path):
    distributed = pytest.importorskip("distributed")
    sweep = load("sweep")
    demo = SOURCE / "examples" / "membank"
    tasks = sweep.make_tasks(demo / "membank.grd", demo / "membank.mem", offsets=[0, 1, 5], generations=[20, 60])
    expected = [sweep.run_one(t) for t in tasks]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        got = sweep.run_sweep(client, tasks, timeout=120)
        ran_on = client.run(lambda: True)
    assert len(ran_on) == 2
    assert got == expected
    assert len({r["grid_sha256"] for r in got}) == len(got)  # every run differs, so the check means something
    # The plotted quantity varies with the offset (a flat line would say nothing).
    for g in (20, 60):
        assert len({r["work"] for r in got if r["generations"] == g}) > 1
    sweep.write_table(got, tmp_path / "sweep.csv")
    sweep.plot(got, tmp_path / "sweep.png")
    with open(tmp_path / "sweep.csv") as f:
        rows = list(csv.DictReader(f))
    assert [int(r["lit_parts"]) for r in rows] == [r["lit_parts"] for r in expected]
    assert is_png(tmp_path / "sweep.png")


def test_sweep_script_end_to_end_with_worker_processes(tmp_path):
    pytest.importorskip("distributed")
    env = dict(os.environ)
    r = subprocess.run([sys.executable, SCRIPTS / "sweep.py", "--offsets", "0,3", "--generations", "10",
                        "--out", tmp_path, "--timeout", "120"], env=env, capture_output=True, timeout=240)
    assert r.returncode == 0, r.stderr.decode(errors="replace")
    with open(tmp_path / "sweep.csv") as f:
        rows = list(csv.DictReader(f))
    assert [(r["offset"], r["generation"]) for r in rows] == [("0", "10"), ("3", "10")]
    assert is_png(tmp_path / "sweep.png")
