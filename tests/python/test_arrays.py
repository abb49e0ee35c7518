"""How arrays reach the library: in place where their layout allows, else
copied once; every layout gives the same bytes."""
import numpy as np
import pytest

import dof
from dof import _dof


def address(array):
    return array.__array_interface__["data"][0]


def test_contiguous_and_row_strided_arrays_are_not_copied(example):
    color = example[0]
    wide = np.zeros((270, 500, 3), np.uint8)
    wide[:, :480] = color
    for array in (color, wide[:, :480], wide[:, :480][::-1]):
        assert _dof.input_view(array, "colour") == (address(array), array.strides[0], False)
    depth = np.zeros((270, 480, 4), np.float32)  # the first of four channels, read in place
    assert _dof.input_view(depth, "depth") == (address(depth), depth.strides[0], False)


LAYOUTS = {
    "row strided": lambda a: np.pad(a, ((0, 0), (0, 7), (0, 0)))[:, :a.shape[1]],
    "bottom row first": lambda a: np.ascontiguousarray(a[::-1])[::-1],
    "planar channels": lambda a: np.ascontiguousarray(a.transpose(2, 0, 1)).transpose(1, 2, 0),
    "fortran order": np.asfortranarray,
    "every other column": lambda a: np.repeat(a, 2, axis=1)[:, ::2],
    "big endian": lambda a: (a.astype(np.uint16) * 257).astype(">u2"),
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_every_layout_gives_the_same_bytes(example, layout):
    color, depth, lens = example
    expected = dof.blur(color, depth, lens, size=4)
    change = LAYOUTS[layout]
    got = dof.blur(change(color), change(depth[..., None])[..., 0], change(lens), size=4)
    assert np.array_equal(got, expected)


def test_results_own_the_library_buffer(example):
    out = dof.blur(*example, size=2)
    assert type(out.base).__name__ == "PyCapsule" and out.flags.writeable
    assert type(example[0].base).__name__ == "PyCapsule"


@pytest.mark.parametrize("name, array, bit_depth", [
    ("grey.png", np.arange(12, dtype=np.uint8).reshape(3, 4), 0),
    ("rgba16.png", np.arange(48, dtype=np.uint16).reshape(3, 4, 4) * 1000, 16),
    ("rgb.exr", np.linspace(0, 4, 36, dtype=np.float32).reshape(3, 4, 3), 32),
])
def test_written_pictures_read_back(tmp_path, name, array, bit_depth):
    dof.write(tmp_path / name, array, bit_depth=bit_depth)
    back = dof.read(str(tmp_path / name))
    assert back.dtype == array.dtype and np.array_equal(back, array)
