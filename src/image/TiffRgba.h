#pragma once
// Pictures whose photometric libtiff converts itself (YCbCr, CMYK, CIE
// L*a*b*), read through its RGBA interface.
#include <string>

#include "image/TiffMemoryIo.h"
#include "image/TiffPicture.h"

// 8-bit RGB, or RGBA when the file has an alpha sample (the colour then
// comes multiplied by alpha, as the interface gives it), rows top first.
bool ReadTiffThroughRgba(TIFF* tiff, const TiffPicture& picture, const TiffMessages& messages, dof::Image& image,
                         std::string& reason);
