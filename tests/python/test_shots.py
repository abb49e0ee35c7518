"""Whole shots: the program with --frames, the module in a loop and a
two-worker LocalCluster write the same bytes, and a worker killed in the
middle of the range still leaves every frame written and correct."""
import os
import signal
import subprocess

import numpy as np
import pytest

import dof

distributed = pytest.importorskip("distributed")
from dof.dask import render  # noqa: E402  (needs distributed)

FRAMES = range(1, 7)


@pytest.fixture
def shot(tmp_path, example):
    """Six frames of the example scene, each a little shifted, and the switches for them."""
    color, depth, lens = example
    for frame in FRAMES:
        dof.write(tmp_path / ("shot.%04d.tga" % frame), np.ascontiguousarray(np.roll(color, 7 * frame, axis=1)))
        dof.write(tmp_path / ("depth.%04d.tga" % frame), np.ascontiguousarray(np.roll(depth, 7 * frame, axis=1)))
    dof.write(tmp_path / "lens.tga", lens)
    switches = ["-i", str(tmp_path / "shot.####.tga"), "-z", str(tmp_path / "depth.####.tga"),
                "-l", str(tmp_path / "lens.tga"), "-s", "6", "-c", "3.705", "-n", "1.5", "-f", "30"]
    return tmp_path, switches


def outputs(folder, name):
    return [(folder / (name % frame)).read_bytes() for frame in FRAMES]


def test_program_module_and_cluster_write_the_same_frames(shot):
    folder, switches = shot
    program = os.environ.get("DOF_PROGRAM")
    if not program:
        pytest.skip("DOF_PROGRAM names no built program")
    run = subprocess.run([program, *switches, "--frames", "1-6", "-o", str(folder / "program.####.tga")],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout
    assert run.stdout.count("\n") == 6 and run.stdout.startswith("frame 1: ")

    for frame in FRAMES:
        blurred = dof.blur(dof.read(folder / ("shot.%04d.tga" % frame)),
                           dof.read_depth(folder / ("depth.%04d.tga" % frame)), dof.read(folder / "lens.tga"),
                           size=6, focus=3.705, near=1.5, far=30)
        dof.write(folder / ("module.%04d.tga" % frame), blurred)

    report = render(switches + ["-o", str(folder / "cluster.%04d.tga")], "1-6", workers=2)
    assert report.ok and report.done == list(FRAMES), report.summary()
    assert set(report.seconds) == set(FRAMES)

    expected = outputs(folder, "program.%04d.tga")
    assert outputs(folder, "module.%04d.tga") == expected
    assert outputs(folder, "cluster.%04d.tga") == expected

    # Resumed with --skip-existing, nothing is done again; a missing frame fails by name.
    report = render(switches + ["-o", str(folder / "cluster.%04d.tga"), "--skip-existing"], [1, 2, 9], workers=2)
    assert report.skipped == [1, 2] and list(report.failed) == [9]
    assert "shot.0009.tga" in report.failed[9]


def test_a_killed_worker_leaves_every_frame_written(shot):
    folder, switches = shot
    # Frames slow enough that the kill comes in the middle of the range.
    slow = switches + ["-s", "14", "-o", str(folder / "kill.%04d.tga")]
    for frame in FRAMES:
        blurred = dof.blur(dof.read(folder / ("shot.%04d.tga" % frame)),
                           dof.read_depth(folder / ("depth.%04d.tga" % frame)), dof.read(folder / "lens.tga"),
                           size=14, focus=3.705, near=1.5, far=30)
        dof.write(folder / ("expected.%04d.tga" % frame), blurred)
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = distributed.Client(cluster)
    try:
        pids = list(client.run(os.getpid).values())
        killed = []

        def kill_once(entry):
            if not killed:
                os.kill(pids[0], signal.SIGKILL)
                killed.append(pids[0])

        report = render(slow, list(FRAMES), client=client, on_frame=kill_once)
    finally:
        client.close()
        cluster.close()
    assert killed
    assert report.ok and report.done == list(FRAMES), report.summary()
    assert outputs(folder, "kill.%04d.tga") == outputs(folder, "expected.%04d.tga")
    assert not [name for name in os.listdir(folder) if name.startswith(".kill")], "no temporary file stays"
