"""Opening under the runner's rules: the path is judged before its suffix, a
project's named files before anything loads, and both front ends say the
same thing about the same path."""
import errno
import os

import pytest

import cellforge
from conftest import run_program

CELL = "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"


def make_project(folder, names, present):
    """A project naming `names`; only those in `present` exist."""
    contents = {".grd": CELL, ".trm": "t 0 0 0 0 0\n", ".sti": "", ".uvw": "1 2 3 0 0 a view\n",
                ".mon": "out.txt\n"}
    for name in present:
        (folder / name).write_text(contents[os.path.splitext(name)[1]])
    (folder / "p.prj").write_text("".join(n + "\n" for n in names))
    return folder / "p.prj"


@pytest.mark.parametrize("missing", ["g.grd", "t.trm", "s.sti", "m.mon"])
def test_a_project_naming_a_missing_file_names_it(tmp_path, missing, runner):
    names = ["g.grd", "t.trm", "s.sti", "m.mon"]
    prj = make_project(tmp_path, names, [n for n in names if n != missing])
    with pytest.raises(FileNotFoundError) as info:
        cellforge.open(prj)
    assert info.value.filename == str(tmp_path / missing) and missing in str(info.value)
    # The runner refuses the same project, naming the same file.
    r = run_program([runner, prj, "-n", 1], check=False)
    assert r.returncode == 2 and missing.encode() in r.stderr


def test_a_missing_views_file_is_accepted(tmp_path):
    prj = make_project(tmp_path, ["g.grd", "v.uvw"], ["g.grd"])
    with cellforge.open(prj) as doc:
        assert doc.part_count == 1 and doc.views == []


def test_what_stands_at_the_path_decides_before_the_suffix(tmp_path):
    os.mkfifo(tmp_path / "pipe.grd")
    os.mkfifo(tmp_path / "pipe.txt")
    (tmp_path / "folder.prj").mkdir()
    (tmp_path / "folder.txt").mkdir()
    cases = {"pipe.grd": errno.EINVAL, "pipe.txt": errno.EINVAL, "folder.prj": errno.EISDIR,
             "folder.txt": errno.EISDIR, "gone.txt": errno.ENOENT, "gone.PRJ": errno.ENOENT}
    for name, err in cases.items():
        with pytest.raises(OSError) as info:
            cellforge.open(tmp_path / name)  # never blocks on the FIFOs
        assert info.value.errno == err, name
        assert info.value.filename == str(tmp_path / name)
    assert type(info.value) is FileNotFoundError
    (tmp_path / "plain.txt").write_text(CELL)
    with pytest.raises(ValueError, match="neither a grid"):
        cellforge.open(tmp_path / "plain.txt")


def test_upper_case_suffixes_are_accepted(tmp_path):
    (tmp_path / "G.GRD").write_text(CELL)
    (tmp_path / "g.grd").write_text(CELL)
    (tmp_path / "P.PRJ").write_text("g.grd\n")  # lines inside a project keep their exact suffixes
    for name in ("G.GRD", "P.PRJ"):
        with cellforge.open(tmp_path / name) as doc:
            assert doc.cell(0, 0, 0).type == 1


def test_opening_projects_from_threads_never_moves_the_current_folder(membank, tmp_path, monkeypatch):
    import threading

    monkeypatch.chdir(tmp_path)
    seen = []

    def work():
        for _ in range(3):
            with cellforge.open(membank / "membank.prj") as d:
                seen.append((os.getcwd(), len(d.terminals)))

    threads = [threading.Thread(target=work) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert len(seen) == 9 and all(cwd == str(tmp_path) and n > 100 for cwd, n in seen)
