#pragma once
// A scanline OpenEXR file through the OpenEXR library: 32-bit float samples
// of 1 to 4 channels (Y, YA, RGB, RGBA) written as half or float, ZIP
// compressed, the display and data windows both the picture. The library's
// exceptions pass through.
#include <ImfIO.h>
#include <dof/Image.h>

void WriteExrPixels(const dof::ImageView& image, bool half, Imf::OStream& stream);
