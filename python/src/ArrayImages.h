#pragma once
// numpy arrays as the library's pictures and back. An array is shown to the
// library in place when its samples are contiguous within a pixel and its
// pixels within a row (rows may lie at any distance, or bottom row first);
// any other layout, a foreign byte order or misaligned samples are copied
// once. Results hand their buffer over to the array that shows them.
#include <pybind11/numpy.h>

#include <dof/Image.h>

// What an argument stands for: its name in messages, the sample types it
// takes and how its channels are read.
enum class PictureRole {
    kColour,  // colour or lens: H x W or H x W x 1..4; uint8, uint16 or float32
    kDepth,   // H x W, or H x W x C (the first channel); also float64
    kAny,     // a picture to write: H x W or H x W x 1..4, any of the four types
};

// An array seen as a picture. Keeps the array (or its copy) alive.
struct ArrayImage {
    pybind11::array array;
    dof::ImageView view;
    bool copied = false;
};

// Raises ValueError (naming what) when the array's dtype or shape is not taken.
ArrayImage ImageOfArray(const pybind11::handle& object, const char* what, PictureRole role);

// The picture as an array of its own sample type: H x W for one channel,
// H x W x C otherwise, owning the picture's buffer.
pybind11::array ArrayOfImage(dof::Image image);
