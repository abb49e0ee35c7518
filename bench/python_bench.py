#!/usr/bin/env python3
"""One frame (read, blur, write) through the Python module against the same
frame through the program, medians of several runs. Prints figures; never fails.

    cmake --build build -j2 --target dof dof_python && /usr/bin/python3 bench/python_bench.py --runs 5

The program runs as a child process (its whole life, and the time it prints
for reading, blurring and writing); the module's frame runs in this process
after `import dof`, and also as a fresh interpreter that imports the module
and does the frame. Runs alternate between the two so that the machine's
load falls on both alike.
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
            fresh = [sys.executable, "-c", f"import sys; sys.path.insert(0, {str(build / 'python')!r}); import dof\n"
                     + code]
            walls, reported, frames, processes = [], [], [], []
            for _ in range(arguments.runs):
                command, wall, seconds = run_program(program, switches, program_out)
                walls.append(wall)
                if seconds is not None:
                    reported.append(seconds)
                start = time.perf_counter()
                exec(code, {"dof": dof})
                frames.append(time.perf_counter() - start)
                start = time.perf_counter()
                subprocess.run(fresh, check=False)
                processes.append(time.perf_counter() - start)
            same = program_out.read_bytes() == module_out.read_bytes()
            program_ms = statistics.median(walls) * 1000
            frame_ms = statistics.median(frames) * 1000
            print(f"\n{name}")
            print(f"  program:  {' '.join(command)}")
            print(f"  module:   import dof; {code.strip().replace(chr(10), '; ')}")
            print(f"  program, whole process        {program_ms:8.1f} ms"
                  + (f"   (its own timing line: {statistics.median(reported) * 1000:.1f} ms)" if reported else ""))
            print(f"  module, the frame in process  {frame_ms:8.1f} ms   {100 * (frame_ms / program_ms - 1):+.1f} %"
                  " against the program")
            print(f"  module, a fresh interpreter   {statistics.median(processes) * 1000:8.1f} ms   "
                  "(start, import numpy and dof, the frame)")
            print(f"  same bytes: {'yes' if same else 'NO'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
