"""Edits, undo and rewind through the session's timeline; transform(); copies;
terminals from code and projects written back. Positions the timeline goes
back to are compared byte for byte with the checkpoint a straight run wrote."""
import random
import struct
import warnings

import numpy as np
import pytest

import cellforge

# Random parts land on each other; the one test about conflicts records them itself.
pytestmark = pytest.mark.filterwarnings("ignore::cellforge.ConflictWarning")

# Unit vectors of the directions, by their names (PLUS_X, MINUS_Z, ...).
VEC = {int(d): np.array([(d.name[-1] == a) * (1 if d.name.startswith("PLUS") else -1) for a in "XYZ"])
       for d in cellforge.Direction}
DIR_OF = {tuple(v): d for d, v in VEC.items()}


def state(doc, tmp_path, tag="s"):
    p = tmp_path / f"{tag}.ckp"
    doc.checkpoint(p)
    return p.read_bytes()


def random_parts(rng, n, lo=-6, hi=6):
    rows = []
    for _ in range(n):
        front = rng.randrange(6)
        side = rng.choice([d for d in range(6) if not (VEC[d] == VEC[front]).all() and not (VEC[d] == -VEC[front]).all()])
        up = DIR_OF[tuple(np.cross(VEC[front], VEC[side]))]
        rows.append((rng.randint(lo, hi), rng.randint(lo, hi), rng.randint(lo, hi), rng.randint(1, 10), front, side,
                     up, rng.randrange(64), 0))
    return np.array(rows, dtype=cellforge.PART_DTYPE)


def random_input(doc, rng):
    """One edit or input, as a script makes them."""
    k = rng.randrange(6)
    x, y, z = (rng.randint(-6, 6) for _ in range(3))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cellforge.ConflictWarning)
        if k == 0:
            doc.place(x, y, z, rng.randint(1, 10), outputs=rng.randrange(64))
        elif k == 1:
            doc.place_parts(random_parts(rng, rng.randint(1, 8)))
        elif k == 2:
            doc.remove(x, y, z)
        elif k == 3:
            doc.erase_box((x, y, z), (x + 2, y + 1, z + 2))
        elif k == 4:
            doc.pulse()
        else:
            parts = doc.parts()
            if len(parts):
                p = parts[rng.randrange(len(parts))]
                for d, v in VEC.items():
                    if doc.cell(*(np.array([p["x"], p["y"], p["z"]]) + v)) is not None:
                        doc.set_bond(int(p["x"]), int(p["y"]), int(p["z"]), d, rng.random() < 0.7)
                        break


@pytest.mark.parametrize("seed", range(4))
def test_rewind_and_undo_reach_the_states_of_a_straight_run(tmp_path, seed):
    rng = random.Random(seed)
    doc = cellforge.Document(history=32 << 20)
    doc.place_parts(random_parts(rng, 60))
    seen = {doc.generation: state(doc, tmp_path)}
    for _ in range(25):
        # Rewinding to g applies every input recorded at g: the state to
        # compare is the one after the last of them.
        random_input(doc, rng)
        seen[doc.generation] = state(doc, tmp_path)
        doc.run(rng.randint(0, 6))
        seen[doc.generation] = state(doc, tmp_path)
    h = doc.history
    assert h.first == 0 and h.last == doc.generation and h.keyframes >= 1 and h.bytes > 0
    for g in rng.sample(sorted(seen), min(8, len(seen))) + [max(seen)]:
        doc.rewind(g)
        assert doc.generation == g and state(doc, tmp_path) == seen[g], g
        assert doc._verify() == ""
    # A straight run without a timeline, fed the same inputs, ends in the same bytes.
    rng = random.Random(seed)
    plain = cellforge.Document(history=0)
    assert plain.history is None
    plain.place_parts(random_parts(rng, 60))
    for _ in range(25):
        random_input(plain, rng)
        plain.run(rng.randint(0, 6))
    assert state(plain, tmp_path, "p") == seen[max(seen)]
    with pytest.raises(ValueError, match="history"):
        plain.undo()


def test_undo_takes_back_each_edit_and_redo_puts_it_back(tmp_path):
    rng = random.Random(9)
    doc = cellforge.Document()
    before = [state(doc, tmp_path)]
    for _ in range(12):
        doc.place_parts(random_parts(rng, 5))
        before.append(state(doc, tmp_path))
    assert doc.history.undo == 12
    for i in range(12, 0, -1):
        doc.undo()
        assert state(doc, tmp_path) == before[i - 1]
    with pytest.raises(ValueError):
        doc.undo()
    assert doc.history.redo == 12
    for i in range(1, 13):
        doc.redo()
        assert state(doc, tmp_path) == before[i]
    doc.reset()
    assert doc.part_count == 0 and doc.history.undo == 0
    with pytest.raises(ValueError):
        doc.rewind(5)


def test_place_parts_is_one_step_and_reports_its_conflicts_once():
    doc = cellforge.Document()
    parts = random_parts(random.Random(3), 40, 0, 2)  # crowded: many rows share a cell
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        doc.place_parts(parts)
    cells = {(int(r["x"]), int(r["y"]), int(r["z"])) for r in parts}
    conflicts = [w.message for w in caught if issubclass(w.category, cellforge.ConflictWarning)]
    assert len(conflicts) == 1 and conflicts[0].count == len(parts) - len(cells)
    assert doc.part_count == len(cells) and doc.history.undo == 1
    # The last row for a cell wins, with its frame, outputs and type.
    last = {}
    for r in parts:
        last[(int(r["x"]), int(r["y"]), int(r["z"]))] = tuple(int(r[f]) for f in ("type", "front", "side", "up", "outputs"))
    for (x, y, z), want in last.items():
        c = doc.cell(x, y, z)
        assert (c.type, c.front, c.side, c.up, c.outputs) == want
    inside = doc.parts(box=((2, 2, 2), (0, 0, 1)))
    assert len(inside) == sum(1 for (x, y, z) in cells if z >= 1)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        doc.undo()  # a replay reports nothing
    assert doc.part_count == 0
    bad = parts.copy()
    bad["side"][0] = bad["front"][0]
    with pytest.raises(ValueError, match="row 0"):
        doc.place_parts(bad)
    with pytest.raises(TypeError):
        doc.place_parts(np.zeros(3))


def rotate(v, axis, q):
    """Right-hand quarter turns of an integer vector about an axis."""
    v = np.array(v)
    for _ in range(q % 4):
        a, b = [(1, 2), (2, 0), (0, 1)][axis]
        v[a], v[b] = -v[b], v[a]
    return v


@pytest.mark.parametrize("seed", range(6))
def test_transform_turns_positions_and_every_direction_a_part_carries(seed):
    rng = random.Random(seed)
    parts = random_parts(rng, 30)
    parts["bonds"] = [rng.randrange(64) for _ in range(len(parts))]
    turns = tuple(rng.randint(-5, 5) for _ in range(3))
    mirror = rng.choice([None, "x", "y", "z"])
    offset = tuple(rng.randint(-9, 9) for _ in range(3))
    out = cellforge.transform(parts, turns=turns, mirror=mirror, offset=offset)

    def move(v, translate):
        for axis in range(3):
            v = rotate(v, axis, turns[axis])
        if mirror:
            v[["x", "y", "z"].index(mirror)] *= -1
        return v + np.array(offset) if translate else v

    def mask(m):
        return sum(1 << DIR_OF[tuple(move(VEC[d], False))] for d in range(6) if m >> d & 1)

    for a, b in zip(parts, out):
        assert tuple(move([a["x"], a["y"], a["z"]], True)) == (b["x"], b["y"], b["z"])
        for f in ("front", "side", "up"):
            assert b[f] == DIR_OF[tuple(move(VEC[int(a[f])], False))]
        assert b["outputs"] == mask(int(a["outputs"])) and b["bonds"] == mask(int(a["bonds"]))
        assert b["type"] == a["type"]
    # Four quarter turns about each axis are no turn at all.
    same = cellforge.transform(parts, turns=(4, 8, -4))
    assert same.tobytes() == parts.tobytes()
    with pytest.raises(ValueError):
        cellforge.transform(parts, mirror="w")


def test_copies_are_independent_and_run_alike(membank, tmp_path):
    with cellforge.open(membank / "membank.prj") as doc:
        doc.run(30)
        doc.add_terminal("extra", 0, 0, 0, 1)
        twin = doc.copy()
        assert twin.generation == 30 and "extra" in twin.terminals
        names = sorted(doc.terminals)[:20]
        a = doc.run(60, record=names)
        b = twin.run(60, record=names)
        assert (a == b).all() and doc.parts().tobytes() == twin.parts().tobytes()
        twin.remove(*[int(v) for v in twin.parts()[0][["x", "y", "z"]]])
        assert twin.part_count == doc.part_count - 1
        twin.close()
    grid = cellforge.Document()
    grid.place(1, 2, 3, 1)
    other = grid.copy()
    other.place(0, 0, 0, 2)
    assert grid.part_count == 1 and other.part_count == 2


def test_terminals_from_code_and_saved_projects_reopen_alike(membank, tmp_path):
    doc = cellforge.Document()
    doc.place(0, 0, 0, cellforge.PartType.SOURCE)
    doc.add_terminal("out", 0, 0, 0, 1)
    with pytest.raises(ValueError, match="already"):
        doc.add_terminal("out", 1, 1, 1, 1)
    with pytest.raises(ValueError):
        doc.add_terminal("two words", 1, 1, 1, 1)
    doc.run(3)
    doc.save_project(tmp_path / "mine.prj")
    with pytest.raises(ValueError):
        doc.save_project(tmp_path / "mine.grd")
    with cellforge.open(tmp_path / "mine.prj") as again:
        assert dict(again.terminals) == dict(doc.terminals)
        assert again.parts().tobytes() == doc.parts().tobytes()
        assert again.signal("out") == doc.signal("out")
    with cellforge.open(membank / "membank.prj") as m:
        m.run(25)
        (tmp_path / "copy").mkdir()
        m.save_project(tmp_path / "copy" / "bank.prj")
        with cellforge.open(tmp_path / "copy" / "bank.prj") as again:
            assert dict(again.terminals) == dict(m.terminals)
            assert again.parts().tobytes() == m.parts().tobytes()
            assert again.views == m.views


def test_inputs_from_scripts_are_replayed_by_rewind(membank, tmp_path):
    with cellforge.open(membank / "membank.prj") as doc:
        name = sorted(doc.terminals)[0]
        doc.run(5)
        states = [state(doc, tmp_path)]
        for step in (lambda: doc.inject(name), doc.pulse, lambda: doc.write_memory(bytes(range(64)))):
            step()
            states.append(state(doc, tmp_path))
        assert len(set(states)) == 4  # each input changes the state, so leaving one out would show
        doc.run(10)
        end = state(doc, tmp_path)
        doc.rewind(5)
        assert state(doc, tmp_path) == states[-1]
        doc.rewind(7)
        doc.run(8)
        assert state(doc, tmp_path) == end


def png_size(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", data[16:24])


def test_look_at_puts_the_target_in_the_middle_and_fit_camera_frames_all():
    doc = cellforge.Document()
    doc.place(40, -3, 7, 1)
    for alt, az in [(0, 0), (30, 45), (-20, 200), (60, -90)]:
        cam = cellforge.look_at((40, -3, 7), 12, alt, az)
        assert cam[3:] == (alt, az)
        pic = doc.render(camera=cam, size=(81, 61))
        background = pic[0, 0]
        assert (pic[30, 40] != background).any(), (alt, az)
        assert (pic[:8] == background).all() and (pic[:, :8] == background).all()
    doc.place(-40, 10, -7, 2)
    pic = doc.render(camera=doc.fit_camera((200, 150)), size=(200, 150))
    drawn = np.argwhere((pic != pic[0, 0]).any(axis=2))
    # Both ends are drawn, well apart, and nothing touches the border.
    assert len(drawn) and drawn[:, 1].max() - drawn[:, 1].min() > 60
    assert drawn[:, 0].min() > 0 and drawn[:, 1].min() > 0 and drawn[:, 1].max() < 199
    assert png_size(doc._repr_png_()) == (480, 360)
