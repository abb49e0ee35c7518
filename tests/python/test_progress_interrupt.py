"""Progress reports, the interpreter lock, and stopping a running blur."""
import os
import signal
import threading
import time

import numpy as np
import pytest

import dof


@pytest.fixture(scope="module")
def portrait(scenes):
    return (dof.read(scenes / "portrait/color.tga"), dof.read_depth(scenes / "portrait/depth.tga"),
            dof.read(scenes / "lens/hexagon.tga"))


LONG = dict(size=56, focus=2.4, near=0.9, far=22, threads=1)  # seconds of work


def test_progress_rises_to_one(portrait, example):
    for blur, arguments in ((dof.blur, dict(size=8, focus=2.4, near=0.9, far=22)),
                            (dof.blur_physical, dict(fstop=1.4, focal_length=85, focus_distance=2.4, near=0.9,
                                                     far=22))):
        fractions = []
        blur(*portrait, **arguments, threads=1, progress=fractions.append)
        assert len(fractions) >= 2 and fractions[-1] == 1.0
        assert all(0 <= a <= b <= 1 for a, b in zip(fractions, fractions[1:]))


def test_exception_from_progress_stops_the_blur(portrait, example):
    class Stop(Exception):
        pass

    for exception in (Stop, KeyboardInterrupt):
        def stop(fraction):
            raise exception()
        with pytest.raises(exception):
            dof.blur(*portrait, **LONG, progress=stop)
    assert dof.blur(*example, size=2).shape == (270, 480, 4)


def test_sigint_stops_a_running_blur_promptly(portrait, example):
    sent = []
    timer = threading.Timer(0.3, lambda: (sent.append(time.monotonic()), os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            dof.blur(*portrait, **LONG)
        stopped = time.monotonic()
    finally:
        timer.cancel()
    assert sent and stopped - sent[0] < 1.5
    assert dof.blur(*example, size=2).shape == (270, 480, 4)


def test_other_threads_run_while_a_blur_works(portrait):
    counted = [0]
    running = threading.Event()

    def count():
        running.set()
        while running.is_set():
            counted[0] += 1

    thread = threading.Thread(target=count)
    thread.start()
    running.wait()
    before = counted[0]
    dof.blur(*portrait, size=8, focus=2.4, near=0.9, far=22, threads=1)
    during = counted[0] - before
    running.clear()
    thread.join()
    assert during > 0
