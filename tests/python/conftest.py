"""Shared fixtures: the built programs, fresh copies of the demos, and helpers
that run the programs the module must agree with."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(os.environ.get("CELLFORGE_SOURCE", Path(__file__).resolve().parents[2]))
EXAMPLES = SOURCE / "examples"


def _program(var, *candidates):
    if os.environ.get(var):
        return os.environ[var]
    for c in candidates:
        p = SOURCE / "build" / c
        if p.exists():
            return str(p)
    pytest.skip(f"{var} is not set and no built program was found")


@pytest.fixture(scope="session")
def runner():
    return _program("CELLFORGE_RUN", "apps/run/cellforge-run")


@pytest.fixture(scope="session")
def cranetalk():
    return _program("CRANETALK", "apps/cranetalk")


@pytest.fixture(scope="session")
def workload():
    return _program("CELLFORGE_WORKLOAD", "tools/cellforge-workload")


def copy_demo(name, dest):
    """A private copy of examples/<name>, so monitors write into it."""
    target = Path(dest) / name
    shutil.copytree(EXAMPLES / name, target, ignore=shutil.ignore_patterns("*-taps.txt", ".gitignore"))
    return target


@pytest.fixture
def membank(tmp_path):
    return copy_demo("membank", tmp_path)


@pytest.fixture
def cars(tmp_path):
    return copy_demo("cars", tmp_path)


@pytest.fixture
def showcase(tmp_path):
    return copy_demo("showcase", tmp_path)


def run_program(args, cwd=None, check=True):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    r = subprocess.run([str(a) for a in args], cwd=cwd, env=env, capture_output=True, timeout=300)
    if check and r.returncode != 0:
        raise AssertionError(f"{args} failed with {r.returncode}: {r.stderr.decode(errors='replace')}")
    return r


def read_bmp(path):
    """(height, width, 3) RGB rows top first from a 24-bit bitmap file."""
    import numpy as np

    data = Path(path).read_bytes()
    assert data[:2] == b"BM"
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little")
    height = int.from_bytes(data[22:26], "little")
    assert int.from_bytes(data[28:30], "little") == 24
    row = (width * 3 + 3) // 4 * 4
    pixels = np.frombuffer(data, dtype=np.uint8, count=row * height, offset=offset).reshape(height, row)
    bgr = pixels[:, : width * 3].reshape(height, width, 3)
    return bgr[::-1, :, ::-1].copy()


def saved_grid_parts(text):
    """The non-empty cells of a saved grid, in file order, as tuples of the
    parts() fields (up is not in the file and is left out)."""
    words = text.split()
    out = []
    i = 0
    while i < len(words):
        x0, y0, z0, nx, ny, nz = (int(w) for w in words[i : i + 6])
        i += 6
        for iy in range(ny):
            for iz in range(nz):
                for ix in range(nx):
                    v = [int(w) for w in words[i : i + 15]]
                    i += 15
                    if v[0] == 0:
                        continue
                    outputs = sum(1 << d for d in range(6) if v[3 + d])
                    bonds = sum(1 << d for d in range(6) if v[9 + d])
                    out.append((x0 + ix, y0 + iy, z0 + iz, v[0], v[1], v[2], outputs, bonds))
    return out


sys.path.insert(0, str(Path(__file__).parent))
