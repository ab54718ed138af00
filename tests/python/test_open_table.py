"""The shared table of paths (tests/session/open_table.txt): cellforge.open
answers every row as the session layer does, in the exception a script
expects for the fault."""
import errno
import os
import shutil
import warnings

import pytest

import cellforge

SOURCE = os.environ.get("CELLFORGE_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
TABLE = os.path.join(SOURCE, "tests", "session", "open_table.txt")
GRID = "0 0 0 2 1 1\n1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"


def read_table():
    """Rows as (name, path, fault, [(file, content)]), as open_table.h reads them."""
    cases = []
    with open(TABLE) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cols = [c.strip() for c in line.split("|")] + [""] * 4
            files = []
            for item in cols[3].split(";"):
                if "=" in item:
                    name, content = item.split("=", 1)
                    files.append((name.strip(), content.strip()))
            cases.append((cols[0], cols[1], cols[2], files))
    return cases


def make_case(path, files, folder):
    """The fixtures of open_table.h: @dir, @fifo, @grid, @junk, else text with ',' as line breaks."""
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, content in files:
        p = folder / name
        if content == "@dir":
            p.mkdir()
        elif content == "@fifo":
            os.mkfifo(p)
        elif content == "@grid":
            p.write_text(GRID)
        elif content == "@junk":
            p.write_bytes(bytes((i * 37 + 11) & 0xFF for i in range(4096)))
        else:
            p.write_text(content.replace(",", "\n"))
    return path if path.startswith("/") else str(folder / path)


CASES = read_table()

# The session's fault -> the exception type, and the errno an OSError carries.
EXPECTED = {
    "Folder": (IsADirectoryError, errno.EISDIR),
    "NotRegular": (OSError, errno.EINVAL),
    "Missing": (FileNotFoundError, errno.ENOENT),
    "WrongSuffix": (ValueError, None),
    "NoGrid": (ValueError, None),
}


def test_the_table_is_read_and_covers_every_fault_the_module_maps():
    faults = {fault for _, _, fault, _ in CASES}
    assert len(CASES) >= 18
    assert faults <= set(EXPECTED) | {"None", "None+note"}, faults - set(EXPECTED)
    assert set(EXPECTED) | {"None", "None+note"} <= faults


@pytest.mark.parametrize("name,path,fault,files", CASES, ids=[c[0] for c in CASES])
def test_open_answers_the_row(tmp_path, name, path, fault, files):
    target = make_case(path, files, tmp_path / "case")
    if fault in EXPECTED:
        kind, err = EXPECTED[fault]
        with pytest.raises(kind) as info:
            cellforge.open(target)  # never blocks on a FIFO
        if err is None:
            assert not isinstance(info.value, OSError)
        else:
            assert info.value.errno == err
        # strict changes nothing about a refusal.
        with pytest.raises(kind):
            cellforge.open(target, strict=True)
        return
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        doc = cellforge.open(target)
    notes = [w for w in caught if issubclass(w.category, UserWarning)
             and not issubclass(w.category, cellforge.ConflictWarning)]
    with doc:
        assert doc._verify() == ""
        if fault == "None":
            assert notes == [] and doc.part_count == 2
    if fault == "None+note":
        assert len(notes) == 1 and "line" in str(notes[0].message), [str(n.message) for n in notes]
        with pytest.raises(ValueError, match="line"):
            cellforge.open(target, strict=True)
    else:
        cellforge.open(target, strict=True).close()
