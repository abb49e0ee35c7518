#pragma once
#include "image/FroatImage.h"

// The lens scaled into an n x n kernel in which it spans n / scale pixels,
// written as plainly as possible: box averaging when the lens keeps its size
// or shrinks, bilinear interpolation when it grows.
CImageFroat LiteralResampleLens(const CImageFroat& lens, int n, double scale);

// Bilinear sample at lens pixel coordinates (x, y), taps clamped to the lens.
FroatPixel LiteralSampleBilinear(const CImageFroat& lens, double x, double y);
