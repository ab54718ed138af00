"""run(record=..., counters=...): the recorder's arrays against the same
signals and counters read one generation at a time, and what a stopped run
hands back."""
import numpy as np
import pytest

import cellforge


def test_recorded_signals_equal_signal_reads_after_each_generation(membank):
    with cellforge.open(membank / "membank.prj") as a, cellforge.open(membank / "membank.prj") as b:
        names = sorted(a.terminals)[::9] + [t for t in sorted(a.terminals) if t.startswith("taps.")]
        faces = [tuple(a.terminals[n]) for n in names[:3]] + [(0, 0, 0, 1)]
        n = 400
        trace = a.run(n, record=names + faces, counters=True)
        assert isinstance(trace, cellforge.Trace)
        assert trace.signals.shape == (n, len(names) + len(faces)) and trace.signals.dtype == np.uint8
        assert (trace.generation == np.arange(1, n + 1)).all()
        assert trace.signals[:, :len(names)].any(), "the machine shows no signal at all"
        for g in range(n):
            b.run(1)
            want = [int(b.signal(t)) for t in names]
            assert list(trace.signals[g, :len(names)]) == want, g
            assert (trace.active_blocks[g], trace.blocks[g]) == (b.active_blocks, b.block_count)
        # A face probe reads what the terminal standing there reads (these terminals are not bound).
        assert (trace.signals[:, len(names):len(names) + 3] == trace.signals[:, :3]).all()
        only = a.run(5, counters=True)
        assert isinstance(only, cellforge.Counters) and list(only.generation) == list(range(n + 1, n + 6))
        assert a.run(4, record=[names[0]]).shape == (4, 1)
        assert a.run(2) is None
        with pytest.raises(KeyError):
            a.run(1, record=["no such terminal"])
        with pytest.raises(ValueError):
            a.run(1, record=[(0, 0, 0, 6)])
        with pytest.raises(TypeError):
            a.run(1, record="abc")


def test_a_stopped_run_hands_back_what_it_recorded(membank):
    with cellforge.open(membank / "membank.prj") as doc:
        name = sorted(doc.terminals)[0]
        seen = []

        def progress(done, total):
            seen.append(done)
            if done >= 300:
                doc.stop()

        with pytest.raises(cellforge.Stopped) as info:
            doc.run(10**6, progress=progress, record=[name], counters=True)
        e = info.value
        assert e.reason == "stop" and 300 <= e.generations < 10**6
        assert e.result.signals.shape == (e.generations, 1)
        assert list(e.result.generation) == list(range(1, e.generations + 1))
        with pytest.raises(cellforge.Stopped) as info:
            doc.run(10**7, timeout=0.05, record=[name])
        assert info.value.reason == "timeout" and info.value.result.shape == (info.value.generations, 1)
