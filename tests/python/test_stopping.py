"""Ending runs early: stop() from another thread, a timeout, close() during a
run, and the interpreter's exit under a run on a daemon thread."""
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import cellforge


def busy_document():
    doc = cellforge.Document()
    doc.place(0, 0, 0, cellforge.PartType.NOR_GATE)
    return doc


def test_stop_ends_a_run_between_generations_and_the_run_can_continue(cars, tmp_path):
    doc = cellforge.open(cars / "cars.grd")
    asked = []
    timer = threading.Timer(0.3, lambda: (asked.append(time.monotonic()), doc.stop()))
    timer.start()
    with pytest.raises(cellforge.Stopped) as info:
        doc.run(10**12)
    ended = time.monotonic()
    timer.join()
    assert info.value.reason == "stop" and info.value.generations == doc.generation > 0
    assert ended - asked[0] < 1.0  # loosely: within a generation or so, not at the end of the run
    assert doc._verify() == ""
    doc.run(7)
    doc.save(tmp_path / "stopped.grd")
    fresh = cellforge.open(cars / "cars.grd")
    fresh.run(doc.generation)
    fresh.save(tmp_path / "straight.grd")
    assert (tmp_path / "stopped.grd").read_bytes() == (tmp_path / "straight.grd").read_bytes()


def test_a_stop_while_nothing_runs_is_not_kept_for_the_next_run():
    doc = busy_document()
    doc.stop()
    doc.run(20)
    assert doc.generation == 20
    doc.close()
    doc.stop()  # closed: nothing to stop


def test_timeout():
    doc = busy_document()
    start = time.monotonic()
    with pytest.raises(cellforge.Stopped) as info:
        doc.run(10**12, timeout=0.2)
    assert info.value.reason == "timeout" and 0.2 <= time.monotonic() - start < 5
    assert info.value.generations == doc.generation > 0
    doc.run(5, timeout=60)
    doc.run(5, timeout=float("inf"))
    assert doc.generation == info.value.generations + 10
    for bad, error in [(-1, ValueError), (float("nan"), ValueError), ("1", TypeError), (True, TypeError)]:
        with pytest.raises(error):
            doc.run(1, timeout=bad)


def test_close_from_another_thread_stops_the_run_first():
    doc = busy_document()
    closed = []
    closer = threading.Timer(0.3, lambda: (doc.close(), closed.append(doc.closed)))
    closer.start()
    with pytest.raises(cellforge.Stopped) as info:
        doc.run(10**12)
    closer.join(30)
    assert info.value.reason == "close" and closed == [True]
    with pytest.raises(ValueError, match="closed"):
        doc.run(1)


EXIT_SCRIPT = """
import threading, time
import cellforge
d = cellforge.Document(); d.place(0, 0, 0, 2)
threading.Thread(target=lambda: d.run(10**12), daemon=True).start()
# A second thread waits for the same document, a third keeps reading another.
threading.Thread(target=lambda: d.run(10), daemon=True).start()
e = cellforge.Document(); e.place(0, 0, 0, 1)
def reader():
    while True:
        e.parts(); e.run(100)
threading.Thread(target=reader, daemon=True).start()
time.sleep(0.5)
"""


@pytest.mark.parametrize("attempt", range(3))
def test_the_interpreter_exits_cleanly_under_runs_on_daemon_threads(attempt):
    r = subprocess.run([sys.executable, "-c", textwrap.dedent(EXIT_SCRIPT)], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr.decode(errors="replace")
    assert r.stderr == b""
