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
    return 0


if __name__ == "__main__":
    sys.exit(main())
