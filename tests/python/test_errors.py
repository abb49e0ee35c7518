"""Bad input raises the Python exception of its kind, with the library's reason."""
import numpy as np
import pytest

import dof


def test_wrong_arrays_and_parameters_raise_value_error(example):
    color, depth, lens = example
    cases = [
        (dict(color=color.astype(np.int32)), "the colour has samples of type int32"),
        (dict(color=color.astype(np.float64)), "the colour has samples of type float64"),
        (dict(lens=np.zeros((256, 256, 5), np.uint8)), "the lens has 5 channels"),
        (dict(depth=depth.ravel()), "the depth has 1 dimensions"),
        (dict(depth=depth[:10, :10]), "the depth is 10x10, the colour 480x270"),
        (dict(lens=lens[:128]), "the lens is 256x128, not 256x256"),
        (dict(depth=np.full(depth.shape, np.nan, np.float32)), "129600 pixels are not a number or below zero"),
        (dict(size=float("nan")), "blurSize = nan"),
        (dict(strong=0.0), "strong = 0"),
        (dict(threads=-1), "threads = -1"),
    ]
    for change, reason in cases:
        arguments = {"color": color, "depth": depth, "lens": lens, **change}
        with pytest.raises(ValueError, match=reason):
            dof.blur(arguments.pop("color"), arguments.pop("depth"), arguments.pop("lens"), **arguments)
    with pytest.raises(ValueError, match="fNumber = 0"):
        dof.blur_physical(color, depth, lens, fstop=0, focus_distance=1)
    with pytest.raises(ValueError, match="highlights = 'maybe'"):
        dof.blur_physical(color, depth, lens, fstop=2, focus_distance=1, highlights="maybe")


def test_files_raise_os_error(tmp_path, example):
    with pytest.raises(OSError, match="missing.tga: No such file"):
        dof.read(tmp_path / "missing.tga")
    with pytest.raises(OSError):
        dof.read_depth(tmp_path)
    with pytest.raises(OSError):
        dof.write(tmp_path / "no/such/folder/out.tga", example[0])
    with pytest.raises(ValueError, match="do not take 12-bit samples"):
        dof.write(tmp_path / "out.png", example[0], bit_depth=12)


def test_blur_too_large_for_memory_raises_memory_error(example):
    with pytest.raises(MemoryError, match="the limit is"):
        dof.blur(*example, size=1e6)
