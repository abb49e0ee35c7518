#pragma once
#include "image/FroatImage.h"

// The lens scaled into an n x n kernel in which it spans n / scale pixels
// across, centred to whole pixels: box averaging when the lens keeps its size
// or shrinks, bilinear interpolation when it grows. Not normalised.
CImageFroat ResampleLens(const CImageFroat& lens, int n, double scale);

// Bilinear sample at lens pixel coordinates (x, y), edge pixels repeated.
FroatPixel SampleBilinear(const CImageFroat& lens, double x, double y);
