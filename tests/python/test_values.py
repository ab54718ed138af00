"""Values a script hands over: part types, memory words, and grids that stop
being read before their end."""
import os
import warnings

import pytest

import cellforge

CELL = "{x} 0 0 1 1 1 {t} 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"


def test_part_types_outside_the_named_ones_need_allow_any_type(tmp_path):
    doc = cellforge.Document()
    for t in range(1, 11):
        doc.place(2 * t, 0, 0, t)
    for t in (11, 254, 255, 256, -1, 2**31 - 1):
        with pytest.raises(ValueError, match="allow_any_type"):
            doc.place(0, 5, 0, t)
    assert doc.part_count == 10
    # Every non-zero 32-bit type survives a save and a load unchanged,
    # including those the cells keep beside their bytes (255 and beyond).
    wide = [11, 254, 255, 256, 70000, -1, 2**31 - 1, -(2**31)]
    any_type = cellforge.Document()
    for i, t in enumerate(wide):
        any_type.place(i, 7, 0, t, allow_any_type=True)
    any_type.save(tmp_path / "wide.grd")
    again = cellforge.open(tmp_path / "wide.grd")
    assert [int(t) for t in again.parts()["type"]] == [int(t) for t in any_type.parts()["type"]]
    assert sorted(int(t) for t in again.parts()["type"]) == sorted(wide)
    with pytest.raises(ValueError):
        any_type.place(0, 0, 0, 0, allow_any_type=True)  # 0 is an empty cell either way


def test_write_memory_takes_6_bit_words_and_reports_what_it_met(membank):
    doc = cellforge.open(membank / "membank.prj")
    for image in ([64], [0, -1], bytes([1, 2, 200]), [2**31 - 1]):
        with pytest.raises(ValueError, match="6-bit"):
            doc.write_memory(image)
    report = doc.write_memory(membank / "membank.mem")
    assert isinstance(report, cellforge.MemoryWrite)
    assert report.pages > 0 and 0 < report.modules <= report.pages
    # Far away from the bank nothing is met: said, and 0 returned.
    with pytest.warns(UserWarning, match="nothing was written"):
        far = doc.write_memory([1, 2, 3], corner=(10**6, 0, 0))
    assert far == (1, 0)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            cellforge.Document().write_memory([5])
        assert cellforge.Document().write_memory([]) == (0, 0)  # nothing to write, nothing to say


def test_strict_open_refuses_a_grid_read_only_in_part(tmp_path):
    text = CELL.format(x=0, t=1) + CELL.format(x=2, t=2) + "5 0 0 1 1 1 1 zero 1\n" + CELL.format(x=9, t=1)
    (tmp_path / "cut.grd").write_text(text)
    (tmp_path / "p.prj").write_text("cut.grd\n")
    for name in ("cut.grd", "p.prj"):
        with pytest.warns(UserWarning, match="line 3"):  # said, as the runner says it
            assert cellforge.open(tmp_path / name).part_count == 2  # the desktop's rule: keep what was read
        with pytest.raises(ValueError, match="line 3") as info:
            cellforge.open(tmp_path / name, strict=True)
        assert "cut.grd" in str(info.value)
    (tmp_path / "whole.grd").write_text(CELL.format(x=0, t=1))
    assert cellforge.open(tmp_path / "whole.grd", strict=True).part_count == 1


def test_strict_assembly_raises_on_errors_and_carries_them():
    from conftest import EXAMPLES

    good = (EXAMPLES / "membank" / "membank.ct").read_text()
    plain, strict = cellforge.assemble(good), cellforge.assemble(good, strict=True)
    assert plain.errors == [] and strict.image == plain.image and strict.messages == plain.messages
    bad = "start:\n    GATHER\n    BOGUS\n    ORIENT NOWHERE\n"
    lenient = cellforge.assemble(bad)
    assert lenient.messages[:-1] == lenient.errors and lenient.messages[-1] == str(lenient.length)
    assert any("BOGUS" in m for m in lenient.errors) and any("END" in m for m in lenient.errors)
    with pytest.raises(cellforge.AssemblyError) as info:
        cellforge.assemble(bad, strict=True)
    assert isinstance(info.value, ValueError)
    assert info.value.messages == lenient.errors and str(len(lenient.errors)) in str(info.value)
    assert info.value.assembly.image == lenient.image


def test_part_type_and_direction_enums_mean_what_the_engine_does():
    D = cellforge.Direction
    vector = {D.PLUS_X: (1, 0, 0), D.MINUS_X: (-1, 0, 0), D.PLUS_Y: (0, 1, 0), D.MINUS_Y: (0, -1, 0),
              D.PLUS_Z: (0, 0, 1), D.MINUS_Z: (0, 0, -1)}
    assert sorted(vector) == list(range(6))

    def cross(a, b):
        return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])

    # up is side x front for every perpendicular frame: the names match the vectors.
    doc = cellforge.Document()
    frames = [(f, s) for f in D for s in D if sum(a * b for a, b in zip(vector[f], vector[s])) == 0]
    assert len(frames) == 24
    for x, (front, side) in enumerate(frames):
        doc.place(3 * x, 0, 0, cellforge.PartType.CONDUCTOR, front=front, side=side)
        assert vector[D(doc.cell(3 * x, 0, 0).up)] == cross(vector[side], vector[front])
    # A NOR gate without inputs drives its front; a conductor without input does not.
    P = cellforge.PartType
    assert [p.name for p in P][:3] == ["EMPTY", "CONDUCTOR", "NOR_GATE"] and P.DRIVE == len(P) - 1
    machine = cellforge.Document()
    machine.place(0, 0, 0, P.NOR_GATE, front=D.PLUS_Y, side=D.PLUS_X)
    machine.place(5, 0, 0, P.CONDUCTOR, front=D.PLUS_Y, side=D.PLUS_X)
    machine.run(2)
    assert machine.cell(0, 0, 0).outputs == 1 << D.PLUS_Y and machine.cell(5, 0, 0).outputs == 0


def test_threads_give_the_same_universe(cars, tmp_path):
    saved = []
    for n in (1, 3):
        doc = cellforge.open(cars / "cars.grd", threads=n)
        assert doc.threads == n
        doc.run(60)
        doc.threads = 4 - n  # changing it between runs changes nothing either
        doc.run(60)
        doc.save(tmp_path / f"t{n}.grd")
        saved.append((tmp_path / f"t{n}.grd").read_bytes())
    assert saved[0] == saved[1]
    # Unless told, a document gets every core (scripts draw no view).
    cores = max(1, min(os.cpu_count() or 1, 64))
    assert cellforge.open(cars / "cars.grd").threads == cores
    doc = cellforge.Document()
    assert doc.threads == cores
    for bad, error in [(0, ValueError), (65, ValueError), (2.0, TypeError)]:
        with pytest.raises(error):
            doc.threads = bad
        with pytest.raises(error):
            cellforge.open(cars / "cars.grd", threads=bad)
    assert doc.threads == cores  # refused values leave it as it was
