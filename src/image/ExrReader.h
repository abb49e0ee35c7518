#pragma once
// Pixels of an OpenEXR file through the OpenEXR library, once the file's
// headers have been read and judged (ExrHeader, ExrLayout) and its channels
// chosen (ExrChannelChoice). The library's exceptions pass through.
#include <dof/Image.h>

#include <cstddef>
#include <string>

#include "image/ExrChannelChoice.h"
#include "image/ExrHeader.h"

// The chosen channels as a 32-bit float picture of the display window, rows
// top first, fill where the data window does not reach. False (with reason)
// when the library reads the header otherwise than headers says.
bool ReadExrPixels(const unsigned char* data, std::size_t size, const ExrHeaders& headers, const ExrChoice& choice,
                   float fill, dof::Image& image, std::string& reason);
