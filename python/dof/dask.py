"""Whole shots on a Dask cluster: the frames of a range, one task a frame or
a chunk of frames, each rendered as the program renders it.

    from dof.dask import render
    report = render(["-i", "shot.####.exr", "-z", "shot.####.exr", "-l", "lens.tga",
                     "--fstop", "2.8", "--focus-distance", "3", "-o", "out.####.exr"],
                    frames="1-100", scheduler="tcp://farm:8786")
    print(report.summary())

From the shell, the program's own switches after the cluster's:

    python3 -m dof.dask [--scheduler ADDR] [--workers N] [--chunk N] --frames RANGE <dof switches>

Without a scheduler a LocalCluster of N worker processes (one thread each) is
started and closed again. Dask places, retries and balances the tasks; a
task whose worker dies is run again elsewhere, and since every frame is
written to a temporary file and renamed into place, a retried task never
leaves a broken file. With --skip-existing, frames already written are
skipped, so an interrupted range resumes where it stopped.
"""
import argparse
import sys
import time
from dataclasses import dataclass, field

from . import _dof

__all__ = ["render", "Report", "main"]


@dataclass
class Report:
    """What a range came to: the frames written, skipped and failed (with the
    program's line for each failure), and the seconds each frame took."""

    done: list = field(default_factory=list)
    skipped: list = field(default_factory=list)
    failed: dict = field(default_factory=dict)
    seconds: dict = field(default_factory=dict)
    lines: list = field(default_factory=list)
    wall_seconds: float = 0.0

    @property
    def ok(self):
        return not self.failed

    def summary(self):
        text = "%d frames written, %d skipped, %d failed in %.3f sec" % (
            len(self.done), len(self.skipped), len(self.failed), self.wall_seconds)
        if self.failed:
            text += "\nfailed frames!! _ " + ", ".join(str(f) for f in sorted(self.failed))
        return text


def _frames_of(frames, args):
    """The frames: a list or range of numbers, a range text ("1-100x2"), or
    None for the --frames of args."""
    if frames is None:
        for i, arg in enumerate(args):
            if arg == "--frames" and i + 1 < len(args):
                return _dof.parse_frames(args[i + 1])
            if arg.startswith("--frames="):
                return _dof.parse_frames(arg[len("--frames="):])
        raise ValueError("no frames: give frames= or --frames")
    if isinstance(frames, str):
        return _dof.parse_frames(frames)
    return [int(f) for f in frames]


def _without_frames(args):
    out, skip = [], False
    for arg in args:
        if skip:
            skip = False
        elif arg == "--frames":
            skip = True
        elif not arg.startswith("--frames="):
            out.append(arg)
    return out


def _render_chunk(args, frames):
    """A task: frames rendered one after the other in this worker's process,
    the lens prepared once. The blur uses the worker's threads, unless the
    switches say otherwise."""
    if not any(a == "--threads" or a.startswith("--threads=") for a in args):
        try:
            from distributed import get_worker
            threads = get_worker().state.nthreads
        except Exception:  # not on a worker (a test calling it directly)
            threads = 0
        args = list(args) + ["--threads", str(threads)]
    return _dof.run_frames(list(args), list(frames))


def render(args, frames=None, *, scheduler=None, workers=2, chunk=1, client=None, on_frame=None):
    """Renders frames of a shot on a Dask cluster.

    args: the program's switches (a list of str), with frame patterns
    (shot.####.exr or shot.%04d.exr) in the paths that change per frame.
    frames: a list or range of frame numbers, a range text, or None for the
    --frames of args. scheduler: the address of a running scheduler; without
    it (and without client) a LocalCluster of `workers` processes with one
    thread each is started and closed. chunk: frames per task. on_frame: a
    callable that sees each frame's report (a dict) as its task finishes.
    Raises ValueError for switches the program refuses.
    """
    from distributed import Client, LocalCluster, as_completed

    given = [str(a) for a in args]
    chosen = _frames_of(frames, given)
    args = _without_frames(given)
    # The switches are checked here, once, as the program would.
    _dof.run_frames(args, [])
    start = time.perf_counter()
    own_cluster = None
    if client is None:
        if scheduler:
            client = Client(scheduler)
        else:
            own_cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
            client = Client(own_cluster)
    report = Report()
    try:
        chunks = [chosen[i:i + max(1, chunk)] for i in range(0, len(chosen), max(1, chunk))]
        futures = [client.submit(_render_chunk, args, part, pure=False) for part in chunks]
        for future in as_completed(futures):
            for entry in future.result():
                report.lines.append(entry["line"])
                report.seconds[entry["frame"]] = entry["seconds"]
                if entry["status"] == "written":
                    report.done.append(entry["frame"])
                elif entry["status"] == "skipped":
                    report.skipped.append(entry["frame"])
                else:
                    report.failed[entry["frame"]] = entry["message"]
                if on_frame is not None:
                    on_frame(entry)
    finally:
        if own_cluster is not None:
            client.close()
            own_cluster.close()
    report.done.sort()
    report.skipped.sort()
    report.wall_seconds = time.perf_counter() - start
    return report


def main(argv=None):
    """python3 -m dof.dask [--scheduler ADDR] [--workers N] [--chunk N] --frames RANGE <dof switches>"""
    parser = argparse.ArgumentParser(
        prog="python3 -m dof.dask",
        description="Renders the frames of a shot on a Dask cluster; the program's own switches follow.")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster (default 2)")
    parser.add_argument("--chunk", type=int, default=1, help="frames per task (default 1)")
    parser.add_argument("--frames", required=True, help="the frames: 1-100, 1-100x2, 1,5,9-12")
    options, program = parser.parse_known_args(argv)
    try:
        report = render(program, options.frames, scheduler=options.scheduler, workers=options.workers,
                        chunk=options.chunk, on_frame=lambda entry: print(entry["line"], flush=True))
    except ValueError as error:
        print(error)
        return 1
    except OSError as error:
        print(error)
        return 1
    print(report.summary())
    return 0 if report.ok else 1


if __name__ == "__main__":
    sys.exit(main())
