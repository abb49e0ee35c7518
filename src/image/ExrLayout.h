#pragma once
// What the OpenEXR library will hold for a file, judged from its headers
// before the library sees it: each part an image (deep data is refused) with
// sane windows, tiles and compression; chunk tables that fit in the file;
// chunks whose decoded size the library may allocate a few times over.
#include <cstddef>
#include <string>

#include "image/ExrHeader.h"

// The largest tile side taken (the library is told the same).
constexpr int kMaxExrTileSide = 8192;

// Whether a part holds tiles, by the version word (one part) or its type.
bool IsTiledPart(const ExrHeaders& headers, const ExrPart& part);

// False (with reason) when the library should not be given the file. The
// display window must be the same in every part and sized (BoxSize).
bool CheckExrLayout(const ExrHeaders& headers, std::size_t fileSize, std::string& reason);
