#pragma once
#include "image/FroatImage.h"

// The mean of the image's pixels in columns x0..x1 and rows y0..y1, channel
// by channel, for hand-made expected values.
FroatPixel Mean(const CImageFroat& image, int x0, int y0, int x1, int y1);
