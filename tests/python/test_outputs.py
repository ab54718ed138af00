"""Outputs a script writes: only regular files (or new names) are written, so
a FIFO or device in the way is refused at once instead of blocking."""
import errno
import os
import stat
import threading
import warnings

import pytest

import cellforge

CELL = "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n"


def finishes(call, seconds=20):
    """Runs call on a watchdog thread: a call that blocks on a FIFO fails the
    test instead of hanging it. Returns what the call raised, or None."""
    outcome = []

    def work():
        try:
            call()
            outcome.append(None)
        except BaseException as e:  # handed to the test
            outcome.append(e)

    t = threading.Thread(target=work, daemon=True)
    t.start()
    t.join(seconds)
    assert not t.is_alive(), "the call blocked"
    return outcome[0]


@pytest.mark.parametrize("write", [lambda d, p: d.save(p), lambda d, p: d.render(size=(8, 8), path=p),
                                   lambda d, p: d.checkpoint(p)], ids=["save", "render", "checkpoint"])
def test_a_fifo_is_refused_at_once_and_left_alone(tmp_path, write):
    doc = cellforge.Document()
    doc.place(0, 0, 0, 1)
    fifo = tmp_path / "out.png"
    os.mkfifo(fifo)
    e = finishes(lambda: write(doc, fifo))
    assert isinstance(e, OSError) and e.errno == errno.EINVAL and e.filename == str(fifo)
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)
    write(doc, tmp_path / "plain.png")  # a regular file is still written
    assert (tmp_path / "plain.png").stat().st_size > 0


def test_a_project_whose_monitor_writes_to_a_fifo_opens_and_runs(tmp_path):
    (tmp_path / "g.grd").write_text(CELL)
    (tmp_path / "t.trm").write_text("a 0 0 0 0 0\n")
    (tmp_path / "m.mon").write_text("taps.fifo\ng a : a END\n")
    (tmp_path / "p.prj").write_text("g.grd\nt.trm\nm.mon\n")
    os.mkfifo(tmp_path / "taps.fifo")
    opened = []

    def open_and_run():
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            doc = cellforge.open(tmp_path / "p.prj")
        doc.run(5)
        opened.append((doc.generation, [str(w.message) for w in caught]))

    assert finishes(open_and_run) is None
    generation, notes = opened[0]
    assert generation == 5 and any("taps.fifo" in n and "monitor" in n for n in notes)
    assert stat.S_ISFIFO(os.stat(tmp_path / "taps.fifo").st_mode)
