"""The module gives the program's bytes for the same inputs."""
import numpy as np
import pytest

import dof


@pytest.mark.parametrize("color, depth, lens, size, focus, near, far", [
    ("example/image.tga", "example/zbuffer.tga", "example/lens.tga", 10, 3.705, 1.5, 30),
    ("table/color_rgba.tga", "table/depth.hdr", "lens/ring.tga", 4, 3.705, 1.5, 30),
    ("portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga", 3, 2.4, 0.9, 22),
])
def test_exact_blur_equals_program(scenes, run_program, color, depth, lens, size, focus, near, far):
    expected = run_program("-i", color, "-z", depth, "-l", lens, "-s", size, "-c", focus, "-n", near, "-f", far)
    got = dof.blur(dof.read(scenes / color), dof.read_depth(scenes / depth), dof.read(scenes / lens),
                   size=size, focus=focus, near=near, far=far)
    assert got.dtype == np.uint8 and got.shape == expected.shape
    assert np.array_equal(got, expected)


def test_float_colour_equals_program_reading_exr(tmp_path, scenes, run_program, example):
    color, depth, lens = example
    linear = np.where(color <= 10, color / 255 / 12.92, ((color / 255 + 0.055) / 1.055) ** 2.4)
    exr = tmp_path / "color.exr"
    dof.write(exr, linear.astype(np.float32), bit_depth=32)
    expected = run_program("-i", exr, "-z", "example/zbuffer.tga", "-l", "example/lens.tga", "-s", 6, "-c", 3.705)
    got = dof.blur(linear.astype(np.float32), depth, lens, size=6, focus=3.705)
    assert np.array_equal(got, expected)


def test_physical_blur_equals_program(scenes, run_program):
    expected = run_program("-i", "table/color.tga", "-z", "table/depth.tga", "-l", "lens/disc.tga", "-n", 1.5,
                           "-f", 30, "--fstop", 2.8, "--focal-length", 35, "--focus-distance", 3.705,
                           "--light-gain", 4)
    got = dof.blur_physical(dof.read(scenes / "table/color.tga"), dof.read_depth(scenes / "table/depth.tga"),
                            dof.read(scenes / "lens/disc.tga"), near=1.5, far=30, fstop=2.8, focal_length=35,
                            focus_distance=3.705, light_gain=4)
    assert got.dtype == np.uint8 and np.array_equal(got, expected)
