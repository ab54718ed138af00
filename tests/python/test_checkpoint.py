"""Checkpoints from scripts: the runner's file format, the same identity."""
import os

import pytest

import cellforge
from conftest import run_program


def test_checkpoint_resume_in_python_equals_one_run_and_reads_the_runners_files(runner, cars, tmp_path):
    grid = cars / "cars.grd"
    whole = cellforge.open(grid)
    whole.run(300)
    whole.save(tmp_path / "whole.grd")

    first = cellforge.open(grid)
    first.run(120)
    first.checkpoint(tmp_path / "py.ckpt")
    first.close()
    second = cellforge.open(grid)
    second.resume(tmp_path / "py.ckpt")
    assert second.generation == 120
    second.run(180)
    second.save(tmp_path / "resumed.grd")
    assert (tmp_path / "resumed.grd").read_bytes() == (tmp_path / "whole.grd").read_bytes()

    # The runner's checkpoint of the same moment is the same file, and the
    # module resumes from it.
    run_program([runner, grid, "-n", 120, "--checkpoint", tmp_path / "run.ckpt"])
    assert (tmp_path / "run.ckpt").read_bytes() == (tmp_path / "py.ckpt").read_bytes()
    third = cellforge.open(grid)
    third.resume(tmp_path / "run.ckpt")
    third.run(180)
    third.save(tmp_path / "third.grd")
    assert (tmp_path / "third.grd").read_bytes() == (tmp_path / "whole.grd").read_bytes()


def test_refused_checkpoints_raise_and_change_nothing(showcase, tmp_path):
    grid = showcase / "showcase.grd"
    doc = cellforge.open(grid)
    doc.run(7)
    doc.checkpoint(tmp_path / "good.ckpt")
    good = (tmp_path / "good.ckpt").read_bytes()
    damaged = bytearray(good)
    damaged[len(damaged) // 2] ^= 0x40
    (tmp_path / "damaged.ckpt").write_bytes(bytes(damaged))
    (tmp_path / "cut.ckpt").write_bytes(good[: len(good) // 3])

    other = cellforge.open(grid)
    other.run(3)
    other.save(tmp_path / "before.grd")
    for name in ("damaged.ckpt", "cut.ckpt"):
        with pytest.raises(ValueError, match="cannot resume"):
            other.resume(tmp_path / name)
    with pytest.raises(FileNotFoundError):
        other.resume(tmp_path / "missing.ckpt")
    with pytest.raises(IsADirectoryError):
        other.resume(tmp_path)
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    with pytest.raises(OSError, match="cannot read"):
        other.resume(fifo)  # refused at once, never blocks
    with pytest.raises(OSError):
        other.checkpoint(tmp_path / "no-such-folder" / "x.ckpt")
    assert other.generation == 3
    other.save(tmp_path / "after.grd")
    assert (tmp_path / "after.grd").read_bytes() == (tmp_path / "before.grd").read_bytes()


def test_open_refuses_a_fifo_without_blocking(tmp_path):
    fifo = tmp_path / "pipe.grd"
    os.mkfifo(fifo)
    with pytest.raises(OSError):
        cellforge.open(fifo)


def test_checkpoint_replaces_only_regular_files_and_follows_links(tmp_path):
    # (A FIFO in the way: test_outputs.py.)
    doc = cellforge.Document()
    doc.place(0, 0, 0, 1)
    (tmp_path / "folder").mkdir()
    with pytest.raises(IsADirectoryError):
        doc.checkpoint(tmp_path / "folder")
    # A link: the file it names gets the checkpoint, the link stays a link.
    (tmp_path / "real").mkdir()
    (tmp_path / "real" / "run.ckpt").write_bytes(b"old")
    (tmp_path / "link.ckpt").symlink_to(tmp_path / "real" / "run.ckpt")
    doc.checkpoint(tmp_path / "link.ckpt")
    assert (tmp_path / "link.ckpt").is_symlink()
    doc.checkpoint(tmp_path / "plain.ckpt")
    assert (tmp_path / "real" / "run.ckpt").read_bytes() == (tmp_path / "plain.ckpt").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["folder", "link.ckpt", "plain.ckpt", "real"]
