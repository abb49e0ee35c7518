"""Shared fixtures: the scenes, the built program and its output as an array."""
import os
import pathlib
import subprocess

import pytest

import dof

SCENES = pathlib.Path(os.environ.get("DOF_SCENES", pathlib.Path(__file__).parents[1] / "data" / "scenes"))


@pytest.fixture(scope="session")
def scenes():
    return SCENES


@pytest.fixture
def run_program(tmp_path):
    """Runs the dof program from the scenes folder; returns its output, read back."""
    program = os.environ.get("DOF_PROGRAM")
    if not program:
        pytest.skip("DOF_PROGRAM names no built program")

    def run(*arguments):
        out = tmp_path / "program.tga"
        subprocess.run([program, *map(str, arguments), "-o", str(out)], cwd=SCENES, check=True,
                       stdout=subprocess.DEVNULL)
        return dof.read(out)
    return run


@pytest.fixture(scope="session")
def example():
    """The example scene's colour, depth and lens."""
    return (dof.read(SCENES / "example/image.tga"), dof.read_depth(SCENES / "example/zbuffer.tga"),
            dof.read(SCENES / "example/lens.tga"))
