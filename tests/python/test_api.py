"""The module's own behaviour: what each call returns, how it fails, and
that the native objects behave like Python objects."""
import _thread
import gc
import os
import threading
import warnings

import numpy as np
import pytest

import cellforge
from conftest import run_program, saved_grid_parts


def grid_text(*cells):
    """One 1x1x1 box per (x, y, z, type, front, side) cell."""
    return "".join(f"{x} {y} {z} 1 1 1 {t} {f} {s} 0 0 0 0 0 0 0 0 0 0 0 0\n" for x, y, z, t, f, s in cells)


# ---------------------------------------------------------------- parts and cells

def test_parts_follow_the_save_order_and_survive_the_document(membank, tmp_path):
    doc = cellforge.open(membank / "membank.prj")
    doc.run(37)
    parts = doc.parts()
    assert parts.dtype.names == ("x", "y", "z", "type", "front", "side", "up", "outputs", "bonds")
    assert [parts.dtype[n] for n in parts.dtype.names] == [np.dtype("int32")] * 7 + [np.dtype("uint8")] * 2
    assert len(parts) == doc.part_count
    doc.save(tmp_path / "g.grd")
    expected = saved_grid_parts((tmp_path / "g.grd").read_text())
    got = [tuple(int(r[n]) for n in ("x", "y", "z", "type", "front", "side", "outputs", "bonds")) for r in parts]
    assert got == expected
    # up is side x front for every part of the bank (all valid frames)
    first = doc.cell(int(parts[0]["x"]), int(parts[0]["y"]), int(parts[0]["z"]))
    assert first == tuple(int(v) for v in parts[0])
    del doc
    gc.collect()
    assert parts.base is None or parts.flags.owndata or parts.base is not None
    assert int(parts["type"].sum()) > 0  # memory still readable after the document is gone
    assert parts.flags.writeable


def test_cell_is_none_for_empty_and_absent_cells():
    doc = cellforge.Document()
    assert doc.cell(0, 0, 0) is None
    doc.place(0, 0, 0, cellforge_type := 2, front=4, side=0, outputs=5)
    assert doc.cell(0, 0, 0) == cellforge.Cell(0, 0, 0, 2, 4, 0, 1, 5, 0)
    assert doc.cell(1, 0, 0) is None  # same block, empty slot
    assert doc.cell(2**31 - 1, -(2**31), 0) is None
    assert doc.part_count == 1 and doc.block_count == 1 and cellforge_type == 2


def test_place_gives_the_grid_loaders_conflict_text(tmp_path):
    # The same two parts on one position, once from a file, once by place().
    (tmp_path / "twice.grd").write_text(grid_text((3, -4, 5, 1, 0, 1), (3, -4, 5, 2, 1, 0)))
    with warnings.catch_warnings(record=True) as from_file:
        warnings.simplefilter("always")
        loaded = cellforge.open(tmp_path / "twice.grd")
    doc = cellforge.Document()
    doc.place(3, -4, 5, 1, front=0, side=1)
    with pytest.warns(cellforge.ConflictWarning) as from_place:
        doc.place(3, -4, 5, 2, front=1, side=0)
    assert [str(w.message) for w in from_file] == [str(w.message) for w in from_place]
    assert str(from_place[0].message).startswith("Error: UniverseCell at 2 -4 3, block 1 0 2 contains part type 1")
    assert loaded.cell(3, -4, 5) == doc.cell(3, -4, 5)
    # Warnings as errors: the call raises instead of printing.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(cellforge.ConflictWarning):
            doc.place(3, -4, 5, 3)


def test_parts_beyond_the_coordinate_limit_are_skipped_with_a_note(tmp_path):
    (tmp_path / "far.grd").write_text(grid_text((0, 0, 0, 1, 0, 1), (2000000000, 0, 0, 1, 0, 1)))
    with pytest.warns(UserWarning, match="skipped 1 parts outside the coordinate range") as caught:
        doc = cellforge.open(tmp_path / "far.grd")
    assert not any(isinstance(w.message, cellforge.ConflictWarning) for w in caught)
    assert doc.part_count == 1


def test_a_machine_built_with_place_saves_like_the_same_grid_file(runner, tmp_path):
    cells = [(0, 0, 0, 1, 0, 1), (0, 1, 0, 1, 0, 1), (0, 2, 0, 2, 0, 1), (1, 2, 0, 1, 1, 0), (-3, 7, -2, 5, 4, 0)]
    (tmp_path / "m.grd").write_text(grid_text(*cells))
    run_program([runner, tmp_path / "m.grd", "-n", 25, "--save", tmp_path / "r.grd"])
    doc = cellforge.Document()
    for x, y, z, t, f, s in cells:
        doc.place(x, y, z, t, front=f, side=s)
    doc.run(25)
    doc.save(tmp_path / "p.grd")
    assert (tmp_path / "p.grd").read_bytes() == (tmp_path / "r.grd").read_bytes()


# ---------------------------------------------------------------- terminals, views, repr

def test_terminals_signal_and_inject(membank):
    doc = cellforge.open(membank / "membank.prj")
    terms = doc.terminals
    assert len(terms) > 100
    name = "pc1.mc.mad.mem.memory-module-a.m.i0"
    assert terms[name] == (0, 0, 0, 4)
    with pytest.raises(TypeError):
        terms[name] = (1, 2, 3, 4)
    with pytest.raises(KeyError):
        doc.signal("no such terminal")
    with pytest.raises(KeyError):
        doc.inject("no such terminal")
    assert isinstance(doc.signal(name), bool)
    # Injecting sets the input the terminal's face sees; testOutput reads the
    # part's own output, so compare with the engine after a generation.
    empty = cellforge.Document()
    assert dict(empty.terminals) == {} and empty.views == []


def test_inject_feeds_a_conductor_chain_and_signal_reads_its_end(tmp_path):
    # Three conductors facing +y; "in" is the middle one fed from below, "out" the last one's +y face.
    (tmp_path / "t.grd").write_text(grid_text((0, 0, 0, 1, 0, 1), (0, 1, 0, 1, 0, 1), (0, 2, 0, 1, 0, 1)))
    (tmp_path / "t.trm").write_text("in 0 1 0 2 0\nout 0 2 0 0 0\n")
    (tmp_path / "t.prj").write_text("t.grd\nt.trm\n")

    def trace(inject):
        doc = cellforge.open(tmp_path / "t.prj")
        assert doc.terminals == {"in": (0, 1, 0, 2), "out": (0, 2, 0, 0)}
        if inject:
            doc.inject("in")
        seen = []
        for _ in range(4):
            doc.run(1)
            seen.append(doc.signal("out"))
        return seen

    assert not any(trace(False))
    assert any(trace(True))


def test_views_and_repr(membank):
    doc = cellforge.open(membank / "membank.prj")
    views = doc.views
    assert len(views) == 5
    description, camera = views[0]
    assert isinstance(description, str) and len(camera) == 5
    assert "membank.prj" in repr(doc) and "49153 parts" in repr(doc)
    doc.close()
    assert "closed" in repr(doc) and doc.closed


# ---------------------------------------------------------------- lifetime

def test_with_closes_and_closed_documents_refuse_every_call(tmp_path):
    with cellforge.Document() as doc:
        doc.place(0, 0, 0, 1)
    assert doc.closed
    calls = [lambda: doc.run(1), doc.pulse, lambda: doc.generation, doc.parts, lambda: doc.cell(0, 0, 0),
             lambda: doc.place(0, 0, 0, 1), lambda: doc.save(tmp_path / "x.grd"), lambda: doc.terminals,
             lambda: doc.signal("a"), lambda: doc.write_memory([1]), lambda: doc.views, doc.render]
    for call in calls:
        with pytest.raises(ValueError, match="closed"):
            call()
    doc.close()  # twice is fine
    assert not (tmp_path / "x.grd").exists()


def test_many_documents_come_and_go(membank):
    for _ in range(20):
        d = cellforge.open(membank / "membank.prj")
        d.run(3)
    del d
    gc.collect()


def test_one_document_from_two_threads_and_two_documents_at_once(cars, tmp_path):
    a = cellforge.open(cars / "cars.grd")
    b = cellforge.open(cars / "cars.grd")
    errors = []

    def work(doc, n):
        try:
            for _ in range(n):
                doc.run(25)
                doc.parts()
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(d, 8)) for d in (a, a, b)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not errors
    assert a.generation == 400 and b.generation == 200
    assert a._verify() == "" and b._verify() == ""


# ---------------------------------------------------------------- run

def test_progress_callable_and_bar(capsys):
    doc = cellforge.Document()
    doc.place(0, 0, 0, 1)
    seen = []
    doc.run(5000, progress=lambda done, total: seen.append((done, total)))
    assert seen and seen[-1] == (5000, 5000) and all(t == 5000 for _, t in seen)
    doc.run(10, progress=True)
    doc.run(10, progress=False)
    assert doc.generation == 5020
    with pytest.raises(TypeError):
        doc.run(1, progress="yes")


def test_an_error_in_the_progress_callable_stops_the_run():
    doc = cellforge.Document()

    def fail(done, total):
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        doc.run(10**12, progress=fail)
    assert 0 < doc.generation < 10**12
    with pytest.raises(RuntimeError, match="busy"):
        doc.run(10, progress=lambda d, t: doc.parts())
    shown = []
    doc.run(10, progress=lambda d, t: shown.append(repr(doc)))
    assert shown and "(running)" in shown[-1]
    doc.run(1)  # usable again


def test_ctrl_c_stops_between_generations_with_a_consistent_universe(membank, tmp_path):
    doc = cellforge.open(membank / "membank.prj")
    timer = threading.Timer(0.4, _thread.interrupt_main)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            doc.run(10**12)
    finally:
        timer.cancel()
    g = doc.generation
    assert 0 < g < 10**12
    assert doc._verify() == ""
    doc.run(5)
    doc.save(tmp_path / "a.grd")
    # A run that was never interrupted reaches the same universe.
    fresh = cellforge.open(membank / "membank.prj")
    fresh.run(g + 5)
    fresh.save(tmp_path / "b.grd")
    assert (tmp_path / "a.grd").read_bytes() == (tmp_path / "b.grd").read_bytes()


# ---------------------------------------------------------------- bad arguments

@pytest.mark.parametrize("call, error", [
    (lambda d: d.run(-1), ValueError),
    (lambda d: d.run(1.5), TypeError),
    (lambda d: d.run("10"), TypeError),
    (lambda d: d.run(2**70), OverflowError),
    (lambda d: d.run(None), TypeError),
    (lambda d: d.cell(0, 0), TypeError),
    (lambda d: d.cell(2**40, 0, 0), ValueError),
    (lambda d: d.cell("a", 0, 0), TypeError),
    (lambda d: d.place(0, 0, 0, 0), ValueError),
    (lambda d: d.place(0, 0, 0, 1, front=6), ValueError),
    (lambda d: d.place(0, 0, 0, 1, front=0, side=2), ValueError),
    (lambda d: d.place(0, 0, 0, 1, front=0, side=0), ValueError),
    (lambda d: d.place(0, 0, 0, 1, outputs=64), ValueError),
    (lambda d: d.place(0, 0, 0, 1, bonds=-1), ValueError),
    (lambda d: d.place(2 * 10**9, 0, 0, 1), ValueError),
    (lambda d: d.place(0, 0, 0, 1.0), TypeError),
    (lambda d: d.place(0, 0, 0, True), TypeError),
    (lambda d: d.save(42), TypeError),
    (lambda d: d.save(""), ValueError),
    (lambda d: d.save("a\0b.grd"), ValueError),
    (lambda d: d.signal(3), TypeError),
    (lambda d: d.write_memory(3.5), TypeError),
    (lambda d: d.write_memory([1, 2.5]), TypeError),
    (lambda d: d.write_memory([2**40]), ValueError),
    (lambda d: d.write_memory(np.zeros((2, 2), dtype=np.int32)), ValueError),
    (lambda d: d.write_memory(np.zeros(3)), TypeError),
    (lambda d: d.write_memory(bytes(2**20 + 1)), ValueError),
    (lambda d: d.write_memory([1], corner=(0, 0)), TypeError),
    (lambda d: d.write_memory([1], corner=(0, 0, 2**31)), ValueError),
    (lambda d: d.write_memory([1], offset=-1), ValueError),
    (lambda d: d.write_memory([1], offset=2**32), ValueError),
    (lambda d: d.write_memory("/no/such/file.mem"), FileNotFoundError),
    (lambda d: d.write_memory("/"), IsADirectoryError),
    (lambda d: d.render(size=(0, 10)), ValueError),
    (lambda d: d.render(size=(-1, 10)), ValueError),
    (lambda d: d.render(size=(10**6, 10)), ValueError),
    (lambda d: d.render(size=(10,)), TypeError),
    (lambda d: d.render(size="10x10"), TypeError),
    (lambda d: d.render(camera="no such view", size=(4, 4)), ValueError),
    (lambda d: d.render(camera=(0, 0, 0), size=(4, 4)), TypeError),
    (lambda d: d.render(camera=(0, 0, float("nan"), 0, 0), size=(4, 4)), ValueError),
    (lambda d: d.render(camera=(0, 0, 1e39, 0, 0), size=(4, 4)), ValueError),
    (lambda d: d.render(camera=(0, 0, "z", 0, 0), size=(4, 4)), TypeError),
    (lambda d: d.render(camera=42, size=(4, 4)), TypeError),
    (lambda d: d.render(size=(4, 4), path=3), TypeError),
])
def test_bad_arguments_raise(call, error):
    doc = cellforge.Document()
    with pytest.raises(error):
        call(doc)
    doc.run(1)  # the document is still fine


def test_files_that_cannot_be_written_raise_naming_the_path(tmp_path):
    doc = cellforge.Document()
    doc.place(0, 0, 0, 1)
    for target, error in [(tmp_path, IsADirectoryError), (tmp_path / "no" / "such.grd", FileNotFoundError)]:
        with pytest.raises(error) as info:
            doc.save(target)
        assert str(target) in str(info.value)
    with pytest.raises(OSError) as info:
        doc.render(size=(4, 4), path=tmp_path / "no" / "pic.png")
    assert "pic.png" in str(info.value)


# ---------------------------------------------------------------- open

def test_open_reports_missing_and_unreadable_files(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        cellforge.open(tmp_path / "missing.grd")
    assert "missing.grd" in str(info.value)
    with pytest.raises(FileNotFoundError):
        cellforge.open(tmp_path / "missing.prj")
    (tmp_path / "dir.grd").mkdir()
    with pytest.raises(IsADirectoryError):
        cellforge.open(tmp_path / "dir.grd")
    # The path is judged before its suffix, as the runner does.
    with pytest.raises(FileNotFoundError):
        cellforge.open(tmp_path / "x.txt")
    (tmp_path / "x.txt").write_text("")
    with pytest.raises(ValueError, match="neither a grid"):
        cellforge.open(tmp_path / "x.txt")
    with pytest.raises(TypeError):
        cellforge.open(None)
    # A project whose grid is missing names the grid.
    (tmp_path / "p.prj").write_text("gone.grd\n")
    with pytest.raises(FileNotFoundError) as info:
        cellforge.open(tmp_path / "p.prj")
    assert "gone.grd" in str(info.value)
    (tmp_path / "q.prj").write_text("nothing here\n")
    with pytest.raises(ValueError, match="names no grid"):
        cellforge.open(tmp_path / "q.prj")
    if os.geteuid() != 0:  # root reads everything
        (tmp_path / "locked.grd").write_text("")
        os.chmod(tmp_path / "locked.grd", 0)
        with pytest.raises(PermissionError):
            cellforge.open(tmp_path / "locked.grd")


def test_a_project_reads_from_its_folder_and_leaves_ours(membank, tmp_path, monkeypatch):
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    monkeypatch.chdir(elsewhere)
    doc = cellforge.open(os.path.relpath(membank / "membank.prj"))
    assert os.getcwd() == str(elsewhere)
    assert doc.part_count == 49153 and len(doc.terminals) > 100 and len(doc.views) == 5
    doc.run(3)
    doc.close()
    assert (membank / "membank-taps.txt").exists()  # the monitor writes next to the project
    assert not (elsewhere / "membank-taps.txt").exists()
    # Relative save paths mean our folder.
    with cellforge.open(membank / "membank.prj") as d:
        d.save("here.grd")
    assert (elsewhere / "here.grd").exists()


def test_open_accepts_path_objects_and_bytes(showcase):
    for p in (showcase / "showcase.grd", str(showcase / "showcase.grd"), os.fsencode(showcase / "showcase.grd")):
        with cellforge.open(p) as d:
            assert d.part_count > 0 and d.path == str(showcase / "showcase.grd")


def test_parts_of_a_large_universe(workload, tmp_path):
    with open(tmp_path / "r.grd", "wb") as out:
        import subprocess

        subprocess.run([workload, "random", "20000"], stdout=out, check=True, timeout=120)
    doc = cellforge.open(tmp_path / "r.grd")
    parts = doc.parts()
    assert len(parts) == doc.part_count > 15000
    doc.save(tmp_path / "s.grd")
    expected = saved_grid_parts((tmp_path / "s.grd").read_text())
    assert [tuple(int(v) for v in (r["x"], r["y"], r["z"], r["type"], r["front"], r["side"], r["outputs"],
                                   r["bonds"])) for r in parts[:500]] == expected[:500]
    assert len(expected) == len(parts)


def test_conflict_warnings_say_where_and_what_once_per_call(tmp_path):
    # Every position lands in a different slot of its block, negatives included.
    positions = [(3, -4, 5), (-1, -1, -1), (0, 0, 0), (-7, 8, -9), (10**9, -(10**9), 2)]
    doc = cellforge.Document()
    for i, (x, y, z) in enumerate(positions):
        doc.place(x, y, z, 1)
        with pytest.warns(cellforge.ConflictWarning) as caught:
            doc.place(x, y, z, 2 + i % 8)
        assert len(caught) == 1
        w = caught[0].message
        assert (w.x, w.y, w.z, w.old, w.new, w.count) == (x, y, z, 1, 2 + i % 8, 1)
        assert w.conflicts == [cellforge.Conflict(x, y, z, 1, 2 + i % 8, str(w))]
    # A grid with many conflicts: one warning for the whole open.
    (tmp_path / "many.grd").write_text(grid_text(*[(x, y, z, t, 0, 1) for x, y, z in positions for t in (1, 2, 5)]))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        cellforge.open(tmp_path / "many.grd")
    assert len(caught) == 1
    w = caught[0].message
    assert w.count == 2 * len(positions) and len(w.conflicts) == w.count
    assert [(c.x, c.y, c.z, c.old, c.new) for c in w.conflicts] == [
        (x, y, z, old, new) for x, y, z in positions for old, new in ((1, 2), (2, 5))]
    assert str(w).startswith(w.conflicts[0].text) and f"{w.count - 1} more" in str(w)
