"""Depth-of-field blur for rendered pictures, over numpy arrays.

    import dof
    color, depth, lens = dof.read("image.tga"), dof.read_depth("zbuffer.tga"), dof.read("lens.tga")
    out = dof.blur(color, depth, lens, size=10, focus=3.705, near=1.5, far=30)
    dof.write("out.tga", out)

Pictures are arrays of height x width (grey) or height x width x channels,
rows top first. Integer samples (uint8, uint16) are sRGB display values,
float samples linear light, as in an OpenEXR file. Arrays are read where
they lie when their samples are contiguous within a pixel and their pixels
within a row (any row stride, negative too); other layouts are copied once.
Results own their buffer, without a copy.

Errors: ValueError for arguments the blur cannot take (parameters, dtypes,
shapes, sizes, depth values), OSError for files that cannot be read or
written, MemoryError for what would not fit in memory, RuntimeError for
anything else; the message is the library's reason. The interpreter lock is
released while a blur runs; Ctrl-C stops it promptly with KeyboardInterrupt.
"""
import math
import os

from . import _dof

__version__ = _dof.version()
__all__ = ["blur", "blur_physical", "read", "read_depth", "write", "__version__"]


def blur(color, depth, lens, *, size=16.0, strong=1.035, focus=0.5, near=0.0, far=1.0, reverse=False,
         threads=0, progress=None):
    """The exact depth-of-field blur, byte for byte the program's.

    color: H x W x 3 or 4 (or H x W grey), uint8, uint16 or float32 (linear
    light: encoded to sRGB, clipped and rounded to 8 bits first, as the
    program does with an OpenEXR file). depth: H x W (or H x W x C, the first
    channel read), uint8 and uint16 over their largest value, float32 and
    float64 as they are (0 stands for `near`, 1 for `far`; values that are not
    a number or below zero are refused). lens: 256 x 256, like color.

    size is the blur size in pixels (each pixel's blur is at most 5 x size),
    strong the base of the exposure weighting, focus the focus distance,
    near and far the distances depth 0 and 1 stand for, reverse turns depth d
    into 1 - d: the program's -s, -k, -c, -n, -f and -r. threads: 0 for one
    per processor; the bytes are the same for every count.

    progress: None, or a callable that gets the fraction done (0 to 1) about
    every 50 ms at most and 1.0 at the end, on the calling thread. An
    exception it raises stops the blur and is raised again; so is
    KeyboardInterrupt on Ctrl-C.

    Returns a new H x W x 4 uint8 array (RGBA, alpha 255).
    """
    return _dof.blur(color, depth, lens, size, strong, focus, near, far, bool(reverse), threads, progress)


def blur_physical(color, depth, lens, *, fstop, focal_length=50.0, sensor_width=36.0, focus_distance, near=0.0,
                  far=1.0, reverse=False, max_blur=None, highlights="auto", clip_level=0.999, light_gain=6.0,
                  surface_gain=1.5, threads=0, progress=None):
    """The physical camera mode: what a real lens would have photographed.

    The inputs are those of blur(). fstop is the f-number, focal_length and
    sensor_width are in millimetres (the image width spans the sensor),
    focus_distance is in the depth's units (metres); near, far and reverse
    map depth values to distances as in blur(). max_blur caps the disc
    diameter in pixels (None: no cap). highlights: "auto" (on for integer
    colour), "on" or "off" recovers clipped lights; clip_level is the sRGB
    level (0 to 1) from which a pixel is clipped, light_gain and
    surface_gain the gains of small and extended clipped blobs: the
    program's --fstop, --focal-length, --sensor-width, --focus-distance,
    --max-blur, --highlights, --clip-level, --light-gain and --surface-gain.
    threads and progress as in blur().

    Returns a new H x W x 4 array: uint8 or uint16 (sRGB) for integer
    colour of that type, float32 (linear light, unclipped) for float colour.
    """
    return _dof.blur_physical(color, depth, lens, fstop, focal_length, sensor_width, focus_distance, near, far,
                              bool(reverse), math.inf if max_blur is None else max_blur, highlights, clip_level,
                              light_gain, surface_gain, threads, progress)


def read(path, *, layer=None):
    """A colour or lens picture from a TGA, PNG, TIFF or OpenEXR file.

    The format is told by the content. Returns H x W (grey) or H x W x C
    (2: grey and alpha, 3: RGB, 4: RGBA) of the file's samples: uint8 or
    uint16 (sRGB), float32 (linear light; OpenEXR and float TIFF). layer
    names an OpenEXR layer (a part of that name, or channels LAYER.R, ...).
    """
    return _dof.read(_path(path), layer or "")


def read_depth(path, *, channel=None):
    """A depth picture as H x W: a TGA, PNG or TIFF file's first channel
    (uint8, uint16 or float32), a Radiance file's mean of red, green and blue
    (float64), an OpenEXR channel (float32; channel names it, else the first
    of Z, depth.Z, *.Z, or a part's only channel)."""
    return _dof.read_depth(_path(path), channel or "")


def write(path, array, *, bit_depth=0):
    """Writes a picture in the format its name's extension says: .png, .tif
    or .tiff, .exr, and 32-bit TGA for any other name. bit_depth: 0 for the
    format's own (8; 16-bit half for OpenEXR), PNG 8 or 16, TIFF 8, 16 or 32
    (float), OpenEXR 16 or 32. The file appears whole or not at all."""
    _dof.write(_path(path), array, bit_depth)


def _path(path):
    # File names as the system's bytes, whatever their encoding.
    return os.fsencode(path)
