#!/usr/bin/env python3
"""One frame (read, blur, write) through the Python module against the same
frame through the program, medians of several runs. Prints figures; never fails.

    cmake --build build -j2 --target dof dof_python && /usr/bin/python3 bench/python_bench.py --runs 5

The program runs as a child process and prints the time of its read, blur and
write; a fresh interpreter imports numpy and dof and times the same frame
through the module, the comparison the figures are for. Also shown: the frame
repeated in this interpreter (its memory already mapped, so faster), and both
whole processes. Runs alternate so that the machine's load falls on all alike.
"""
import argparse
import os
import pathlib
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


def run_program(program, switches, out):
    color, depth, lens = (str(SCENES / name) for name in INPUTS)
    command = [program, "-i", color, "-z", depth, "-l", lens, *switches, "-o", str(out)]
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True)
    wall = time.perf_counter() - start
    reported = next((float(line.split()[0]) for line in done.stdout.splitlines() if line.endswith(" sec")), None)
    return command, wall, reported


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
                     "import time, numpy, dof\nstart = time.perf_counter()\n" + code
                     + "print(time.perf_counter() - start)\n"]
            walls, reported, warm, first, processes = [], [], [], [], []
            for _ in range(arguments.runs):
                command, wall, seconds = run_program(program, switches, program_out)
                walls.append(wall)
                if seconds is not None:
                    reported.append(seconds)
                start = time.perf_counter()
                child = subprocess.run(fresh, capture_output=True, text=True)
                processes.append(time.perf_counter() - start)
                if child.returncode == 0:
                    first.append(float(child.stdout.split()[-1]))
                start = time.perf_counter()
                exec(code, {"dof": dof})
                warm.append(time.perf_counter() - start)
            same = program_out.read_bytes() == module_out.read_bytes()
            ms = lambda times: statistics.median(times) * 1000 if times else float("nan")
            versus = lambda a, b: f"{100 * (a / b - 1):+.1f} %"
            print(f"\n{name}")
            print(f"  program:  {' '.join(command)}")
            print(f"  module:   import dof; {code.strip().replace(chr(10), '; ')}")
            print(f"  program, read + blur + write (its timing line)  {ms(reported):8.1f} ms")
            print(f"  module, the same in a fresh interpreter         {ms(first):8.1f} ms   "
                  f"{versus(ms(first), ms(reported))} against the program")
            print(f"  module, the same again in this interpreter      {ms(warm):8.1f} ms   "
                  f"{versus(ms(warm), ms(reported))} (memory already mapped)")
            print(f"  program, whole process                          {ms(walls):8.1f} ms")
            print(f"  module, whole fresh interpreter                 {ms(processes):8.1f} ms   "
                  "(with starting Python and importing numpy)")
            print(f"  same bytes: {'yes' if same else 'NO'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
