#pragma once
// The samples of a grey, RGB or palette TIFF picture, read strip by strip or
// tile by tile.
#include <cstddef>
#include <string>

#include "image/TiffMemoryIo.h"
#include "image/TiffPicture.h"

// Fills stored (picture.samplesPerPixel channels of picture.type, rows in
// the file's order, allocated by the caller). False, with the reason, when a
// strip or tile is missing, lies past fileSize, is short, does not decode,
// or has another size than the picture needs.
bool ReadTiffChunks(TIFF* tiff, const TiffPicture& picture, std::size_t fileSize, const TiffMessages& messages,
                    dof::Image& stored, std::string& reason);
