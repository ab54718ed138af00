"""The module against cellforge-run and cranetalk: same files in, same bytes out."""
import re

import numpy as np
import pytest

import cellforge
from conftest import read_bmp, run_program


def stats(stdout):
    m = re.search(rb"generation (\d+) active (-?\d+) parts (\d+) blocks (\d+)", stdout)
    return tuple(int(g) for g in m.groups())


def run_in_python(path, generations, pulses=(), memory=None, corner=(0, 0, 0), offset=0):
    doc = cellforge.open(path)
    if memory is not None:
        doc.write_memory(memory, corner, offset)
    done = 0
    for g in sorted(pulses):
        doc.run(g - done)
        doc.pulse()
        done = g
    doc.run(generations - done)
    return doc


@pytest.mark.parametrize("generations, pulses, offset", [(300, (5, 120), 3), (1, (0,), 0), (0, (), 7)])
def test_membank_grid_counters_and_monitor_match_the_runner(runner, membank, tmp_path, generations, pulses, offset):
    ref = tmp_path / "ref"
    ref.mkdir()
    args = [runner, membank / "membank.prj", "-n", generations, "--memory", membank / "membank.mem",
            "--corner", "0,0,0", "--offset", offset, "--save", ref / "out.grd", "--stats", "--no-progress"]
    for g in pulses:
        args += ["--pulse", g]
    r = run_program(args, cwd=tmp_path)
    expected_taps = (membank / "membank-taps.txt").read_bytes()
    (membank / "membank-taps.txt").unlink()

    doc = run_in_python(membank / "membank.prj", generations, pulses, memory=str(membank / "membank.mem"),
                        offset=offset)
    doc.save(tmp_path / "py.grd")
    assert (tmp_path / "py.grd").read_bytes() == (ref / "out.grd").read_bytes()
    assert (doc.generation, doc.active_blocks, doc.part_count, doc.block_count) == stats(r.stdout)
    doc.close()  # flushes and closes the monitor's file
    assert (membank / "membank-taps.txt").read_bytes() == expected_taps


def test_showcase_pulses_change_the_grid_exactly_as_in_the_runner(runner, showcase, tmp_path):
    grid = showcase / "showcase.grd"
    run_program([runner, grid, "-n", 200, "--pulse", 10, "--pulse", 11, "--pulse", 90, "--save", tmp_path / "r.grd"])
    run_program([runner, grid, "-n", 200, "--save", tmp_path / "quiet.grd"])
    doc = run_in_python(grid, 200, (10, 11, 90))
    doc.save(tmp_path / "p.grd")
    assert (tmp_path / "p.grd").read_bytes() == (tmp_path / "r.grd").read_bytes()
    # The pulses did something, so the comparison above means something.
    assert (tmp_path / "r.grd").read_bytes() != (tmp_path / "quiet.grd").read_bytes()


def test_every_memory_image_form_writes_the_same_universe(membank, tmp_path):
    text = (membank / "membank.ct").read_text()
    image = cellforge.assemble(text).image
    forms = [str(membank / "membank.mem"), membank / "membank.mem", image, bytearray(image), list(image),
             np.frombuffer(image, dtype=np.uint8), np.frombuffer(image, dtype=np.uint8).astype(np.int64)]
    saved = []
    for i, form in enumerate(forms):
        doc = cellforge.open(membank / "membank.prj")
        doc.write_memory(form, corner=(0, 0, 0), offset=11)
        doc.save(tmp_path / f"{i}.grd")
        saved.append((tmp_path / f"{i}.grd").read_bytes())
        doc.close()
    assert all(s == saved[0] for s in saved)
    untouched = cellforge.open(membank / "membank.prj")
    untouched.save(tmp_path / "plain.grd")
    assert (tmp_path / "plain.grd").read_bytes() != saved[0]


@pytest.mark.parametrize("camera", [None, (95.5, -15.5, 190.0, 0.0, 0.0), (1.5, 52.9, 159.3, 20.0, 30.0), "view"])
def test_render_matches_the_runners_bitmap(runner, membank, tmp_path, camera):
    doc = cellforge.open(membank / "membank.prj")
    doc.run(40)
    args = [runner, membank / "membank.prj", "-n", 40, "--render", tmp_path / "r.bmp", "--size", "96x72"]
    if camera == "view":
        # A saved view is recalled as the desktop recalls it: each value cut
        # to a whole number.
        description, values = doc.views[1]
        assert any(v != int(v) for v in values)  # so the cut shows
        camera = description
        args += ["--camera", ",".join(str(int(v)) for v in values)]
    elif camera is not None:
        args += ["--camera", ",".join(str(v) for v in camera)]
    run_program(args, cwd=tmp_path)
    picture = doc.render(camera, size=(96, 72))
    assert picture.shape == (72, 96, 3) and picture.dtype == np.uint8
    expected = read_bmp(tmp_path / "r.bmp")
    assert np.array_equal(picture, expected)
    assert picture.any()


def test_png_files_are_identical_and_hold_the_returned_pixels(runner, cars, tmp_path):
    grid = cars / "cars.grd"
    run_program([runner, grid, "-n", 50, "--render", tmp_path / "r.png", "--size", "80x60"])
    doc = cellforge.open(grid)
    doc.run(50)
    picture = doc.render(size=(80, 60), path=tmp_path / "p.png")
    assert (tmp_path / "p.png").read_bytes() == (tmp_path / "r.png").read_bytes()
    doc.render(size=(80, 60), path=tmp_path / "p.bmp")
    assert np.array_equal(read_bmp(tmp_path / "p.bmp"), picture)
    pytest.importorskip("matplotlib")
    import matplotlib.image

    decoded = matplotlib.image.imread(tmp_path / "p.png")
    assert np.array_equal((decoded[:, :, :3] * 255).round().astype(np.uint8), picture)


SOURCES = {
    "membank": None,
    "errors": "start: O northup-eastside CALL nowhere ORIENT bogus ORG 8190 DB 1 2 3 4 5",
    "empty": "",
    "labels": "a: b: CALL a ORG 96 c: CALL b O sideways END trailing",
}


@pytest.mark.parametrize("name", sorted(SOURCES))
def test_assemble_matches_cranetalk_byte_for_byte(cranetalk, membank, tmp_path, name):
    source = SOURCES[name] if SOURCES[name] is not None else (membank / "membank.ct").read_text()
    (tmp_path / "src.ct").write_text(source)
    with open(tmp_path / "src.ct", "rb") as src:
        import subprocess

        r = subprocess.run([cranetalk, tmp_path / "l.lst", tmp_path / "s.sti"], stdin=src, capture_output=True,
                           timeout=60)
    assert r.returncode == 0
    a = cellforge.assemble(source)
    assert a.array.encode() == r.stdout
    assert a.listing.encode() == (tmp_path / "l.lst").read_bytes()
    assert a.stimulus.encode() == (tmp_path / "s.sti").read_bytes()
    assert "".join(m + "\n" for m in a.messages).encode() == r.stderr
    assert a.messages[-1] == str(a.length) and len(a.image) == a.length
    # The image is what the memory file says, byte for byte.
    words = [int(w) for w in re.findall(r"(-?\d+),", r.stdout.decode())]
    assert list(a.image) == words
    assert cellforge.assemble(source.encode()).listing == a.listing
