#!/usr/bin/env python3
"""The program against GEGL's lens-blur, whole process, 2 threads, alternating.

The portrait at 1920x1080 and scaled by 2 (nearest neighbour), largest discs of
80 and 160 pixels. GEGL gets the colour as a PPM and, as the aux input of
lens-blur, a mask of each pixel's blur over the largest as a PGM, with radius
half the largest disc: a pixel's disc then has its blur's diameter. Prints the
seconds and peak megabytes of every run, then the medians; passes or fails
nothing. Needs gegl (Debian: apt-get install -y gegl) and /usr/bin/time (time).

usage (from the repository, after building): python3 bench/against_gegl.py [rounds]"""
import os
import statistics
import struct
import subprocess
import sys
import tempfile

SCENES = 'tests/data/scenes'
FOCUS, NEAR, FAR = 2.4, 0.9, 22.0  # the portrait's


def read_tga(path):
    data = open(path, 'rb').read()
    id_length, colour_map, kind = data[0], data[1], data[2]
    width, height = struct.unpack('<HH', data[12:16])
    channels, top_first = data[16] // 8, bool(data[17] & 0x20)
    if kind not in (2, 3) or colour_map != 0:
        sys.exit(f'{path}: only uncompressed TGA is read here')
    start = 18 + id_length
    rows = [data[start + y * width * channels:start + (y + 1) * width * channels] for y in range(height)]
    return kind, width, height, channels, rows if top_first else rows[::-1]


def scaled_rows(rows, channels, scale):
    for row in rows:
        line = b''.join(row[x:x + channels] * scale for x in range(0, len(row), channels))
        for _ in range(scale):
            yield line


def blur_of(byte, blur_size):
    # The blur of a depth byte, as the program works it out.
    z = (FAR - NEAR) * (byte / 255.0) + NEAR
    off = z - FOCUS
    ratio = abs(off / (FOCUS + off)) if FOCUS + off != 0.0 else 100.0
    return min(5.0 * blur_size, max(1.0, blur_size * ratio))


def write_inputs(work, scale):
    """The scaled TGA pair for the program, the PPM for GEGL; returns their names."""
    names = {}
    for kind in ('color', 'depth'):
        image_type, width, height, channels, rows = read_tga(f'{SCENES}/portrait/{kind}.tga')
        lines = list(scaled_rows(rows, channels, scale))
        tga = os.path.join(work, f'{kind}{scale}.tga')
        header = struct.pack('<BBBHHBHHHHBB', 0, 0, image_type, 0, 0, 0, 0, 0, width * scale, height * scale,
                             8 * channels, 0x20)
        with open(tga, 'wb') as f:
            f.write(header + b''.join(lines))
        names[kind] = tga
        if kind == 'color':
            ppm = os.path.join(work, f'color{scale}.ppm')
            rgb = b''.join(bytes((line[x + 2], line[x + 1], line[x])) for line in lines
                           for x in range(0, len(line), channels))
            with open(ppm, 'wb') as f:
                f.write(b'P6\n%d %d\n255\n' % (width * scale, height * scale) + rgb)
            names['ppm'] = ppm
        else:
            names['depth_rows'] = [line[::channels] for line in lines]
            names['size'] = (width * scale, height * scale)
    return names


def write_mask(work, names, blur_size, largest):
    mask_of = bytes(min(255, round(255.0 * blur_of(b, blur_size) / largest)) for b in range(256))
    path = os.path.join(work, f'mask{names["size"][0]}_{int(blur_size)}.pgm')
    with open(path, 'wb') as f:
        f.write(b'P5\n%d %d\n255\n' % names['size'] + b''.join(row.translate(mask_of) for row in names['depth_rows']))
    return path


def measure(command, env=None):
    result = subprocess.run(['/usr/bin/time', '-f', '%e %M'] + command, capture_output=True, text=True,
                            env=env)
    seconds, kilobytes = result.stderr.strip().splitlines()[-1].split()
    return float(seconds), int(kilobytes) / 1024.0


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    env = dict(os.environ, GEGL_THREADS='2')
    with tempfile.TemporaryDirectory() as work:
        cases = []
        inputs = {scale: write_inputs(work, scale) for scale in (1, 2)}
        for scale, blur_size, largest in ((1, 56, 80), (2, 56, 80), (2, 112, 160)):
            names = inputs[scale]
            mask = write_mask(work, names, blur_size, largest)
            dof = ['./build/dof', '-i', names['color'], '-z', names['depth'], '-l', f'{SCENES}/lens/hexagon.tga',
                   '-s', str(blur_size), '-c', str(FOCUS), '-n', str(NEAR), '-f', str(FAR),
                   '-o', os.path.join(work, 'out.tga')]
            gegl = ['gegl', names['ppm'], '-o', os.path.join(work, 'out.ppm'), '--', 'gegl:lens-blur',
                    f'radius={largest / 2:g}', 'aux=[', 'gegl:load', f'path={mask}', ']']
            cases.append((f'{names["size"][0]}x{names["size"][1]}, {largest} px', dof, gegl))
        times = {}
        for _ in range(rounds):
            for name, dof, gegl in cases:
                for program, command in (('dof', dof), ('gegl', gegl)):
                    seconds, megabytes = measure(command, env)
                    times.setdefault((name, program), []).append((seconds, megabytes))
                    print(f'{name:20} {program:5} {seconds:6.2f} s {megabytes:6.0f} MB', flush=True)
        print()
        for name, _, _ in cases:
            dof = statistics.median(s for s, _ in times[(name, 'dof')])
            gegl = statistics.median(s for s, _ in times[(name, 'gegl')])
            print(f'{name:20} dof {dof:.2f} s, gegl {gegl:.2f} s, dof / gegl {dof / gegl:.2f}')


if __name__ == '__main__':
    main()
