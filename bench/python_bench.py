#!/usr/bin/env python3
"""One frame (read, blur, write) through the Python module against the same
frame through the program, medians of several runs. Prints figures; never fails.

    cmake --build build -j2 --target dof dof_python && /usr/bin/python3 bench/python_bench.py --runs 5

The program runs as a child process and prints the time of its read, blur and
write; a fresh interpreter imports numpy and dof and times the same frame
through the module, the comparison the figures are for. Also shown: the frame
repeated in this interpreter (its memory already mapped, so faster), and both
whole processes. Against the program: wall time against the time it prints,
processor time (all threads) against its whole process's. Runs alternate so
that the machine's load falls on all alike.
"""
import argparse
import os
import pathlib
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCENES = ROOT / "tests" / "data" / "scenes"

# name: (program switches, module call)
CASES = {
    "exact -s 24": (["-s", "24", "-c", "2.4", "-n", "0.9", "-f", "22"],
                    "dof.blur(c, d, l, size=24, focus=2.4, near=0.9, far=22)"),
    "physical f/2.8": (["-n", "0.9", "-f", "22", "--fstop", "2.8", "--focal-length", "85", "--focus-distance", "2.4"],
                       "dof.blur_physical(c, d, l, near=0.9, far=22, fstop=2.8, focal_length=85, "
                       "focus_distance=2.4)"),
}
INPUTS = ["portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga"]


def frame_code(call, out):
    color, depth, lens = (str(SCENES / name) for name in INPUTS)
    return (f"c = dof.read({color!r}); d = dof.read_depth({depth!r}); l = dof.read({lens!r})\n"
            f"dof.write({str(out)!r}, {call})\n")


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_program(program, switches, out):
    """The command, its wall and processor seconds, and the seconds it printed."""
    color, depth, lens = (str(SCENES / name) for name in INPUTS)
    command = [program, "-i", color, "-z", depth, "-l", lens, *switches, "-o", str(out)]
    cpu = children_cpu()
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True)
    wall = time.perf_counter() - start
    reported = next((float(line.split()[0]) for line in done.stdout.splitlines() if line.endswith(" sec")), None)
    return command, wall, children_cpu() - cpu, reported


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build"), help="the build tree (its dof and python/dof)")
    parser.add_argument("--runs", type=int, default=5)
    arguments = parser.parse_args()
    build = pathlib.Path(arguments.build)
    program = str(build / "dof")
    sys.path.insert(0, str(build / "python"))
    try:
        import dof
    except ImportError as error:
        print(f"the module is not built in {build}: {error}")
        return 0
    if not os.path.exists(program):
        print(f"the program is not built: {program}")
        return 0

    print(f"dof {dof.__version__}, {os.cpu_count()} processors, median of {arguments.runs} runs, portrait 1920x1080")
    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        for name, (switches, call) in CASES.items():
            program_out, module_out = folder / "program.tga", folder / "module.tga"
            code = frame_code(call, module_out)
            # A fresh interpreter times its own frame, after its imports.
            fresh = [sys.executable, "-c", f"import sys; sys.path.insert(0, {str(build / 'python')!r})\n"
                     "import time, numpy, dof\nstart, cpu = time.perf_counter(), time.process_time()\n" + code
                     + "print(time.perf_counter() - start, time.process_time() - cpu)\n"]
            figures = {key: [] for key in ("program", "program cpu", "reported", "fresh", "fresh cpu", "warm",
                                           "warm cpu", "fresh process")}
            for _ in range(arguments.runs):
                command, wall, cpu, seconds = run_program(program, switches, program_out)
                figures["program"].append(wall)
                figures["program cpu"].append(cpu)
                if seconds is not None:
                    figures["reported"].append(seconds)
                start = time.perf_counter()
                child = subprocess.run(fresh, capture_output=True, text=True)
                figures["fresh process"].append(time.perf_counter() - start)
                if child.returncode == 0:
                    wall, cpu = map(float, child.stdout.split()[-2:])
                    figures["fresh"].append(wall)
                    figures["fresh cpu"].append(cpu)
                start, cpu = time.perf_counter(), time.process_time()
                exec(code, {"dof": dof})
                figures["warm"].append(time.perf_counter() - start)
                figures["warm cpu"].append(time.process_time() - cpu)
            same = program_out.read_bytes() == module_out.read_bytes()
            ms = {key: statistics.median(times) * 1000 if times else float("nan") for key, times in figures.items()}
            versus = lambda key, against: f"{100 * (ms[key] / ms[against] - 1):+6.1f} %"
            print(f"\n{name}")
            print(f"  program:  {' '.join(command)}")
            print(f"  module:   import dof; {code.strip().replace(chr(10), '; ')}")
            print("                                              wall ms            cpu ms")
            print(f"  program, read + blur + write (printed)     {ms['reported']:8.1f}")
            print(f"  program, whole process                     {ms['program']:8.1f}          {ms['program cpu']:8.1f}")
            print(f"  module, the frame in a fresh interpreter   {ms['fresh']:8.1f} {versus('fresh', 'reported')}"
                  f" {ms['fresh cpu']:8.1f} {versus('fresh cpu', 'program cpu')}")
            print(f"  module, the frame again in this one        {ms['warm']:8.1f} {versus('warm', 'reported')}"
                  f" {ms['warm cpu']:8.1f} {versus('warm cpu', 'program cpu')}")
            print(f"  module, whole fresh interpreter            {ms['fresh process']:8.1f}"
                  "           (starting Python, importing numpy)")
            print(f"  same bytes: {'yes' if same else 'NO'}")
        shot(program, folder, arguments.runs)
    return 0


def shot(program, folder, runs):
    """20 frames of the 480x270 example: the program with --frames in one
    process with two threads, against a LocalCluster of two workers with one
    thread each, started beforehand (and, separately, its start)."""
    import numpy as np
    import dof
    try:
        import distributed
        from dof.dask import render
    except ImportError as error:
        print(f"\nshot: no Dask ({error})")
        return
    color, depth, lens = (dof.read(SCENES / "example/image.tga"), dof.read_depth(SCENES / "example/zbuffer.tga"),
                          dof.read(SCENES / "example/lens.tga"))
    for frame in range(1, 21):
        dof.write(folder / ("shot.%04d.tga" % frame), np.ascontiguousarray(np.roll(color, 5 * frame, axis=1)))
        dof.write(folder / ("depth.%04d.tga" % frame), np.ascontiguousarray(np.roll(depth, 5 * frame, axis=1)))
    dof.write(folder / "lens.tga", lens)
    switches = ["-i", str(folder / "shot.####.tga"), "-z", str(folder / "depth.####.tga"), "-l", str(folder / "lens.tga"),
                "-s", "10", "-c", "3.705", "-n", "1.5", "-f", "30"]
    start = time.perf_counter()
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = distributed.Client(cluster)
    client.run(lambda: __import__("dof"))  # each worker imports the module before the clock starts
    started = time.perf_counter() - start
    one, many = [], []
    try:
        for _ in range(runs):
            begin = time.perf_counter()
            subprocess.run([program, *switches, "--threads", "2", "--frames", "1-20", "-o",
                            str(folder / "one.####.tga")], check=True, capture_output=True)
            one.append(time.perf_counter() - begin)
            begin = time.perf_counter()
            report = render(switches + ["-o", str(folder / "cluster.####.tga")], "1-20", client=client)
            many.append(time.perf_counter() - begin)
            assert report.ok, report.summary()
    finally:
        client.close()
        cluster.close()
    same = all((folder / ("one.%04d.tga" % f)).read_bytes() == (folder / ("cluster.%04d.tga" % f)).read_bytes()
               for f in range(1, 21))
    one_ms, many_ms = statistics.median(one) * 1000, statistics.median(many) * 1000
    print("\nshot: 20 frames of the 480x270 example, -s 10")
    print(f"  program --frames 1-20 --threads 2, one process        {one_ms:8.1f} ms")
    print(f"  dof.dask on a LocalCluster, 2 workers x 1 thread      {many_ms:8.1f} ms  ({many_ms / one_ms:.2f} times)")
    print(f"  starting that cluster (once, not counted above)       {started * 1000:8.1f} ms")
    print(f"  same bytes: {'yes' if same else 'NO'}")


if __name__ == "__main__":
    sys.exit(main())
