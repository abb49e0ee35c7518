#pragma once
// What a TIFF file's current directory says about its picture, once checked
// to be a picture DecodeTiff reads.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <dof/Image.h>

// Any picture may have tiles of this many pixels; a larger tile may hold no
// more pixels than the picture, and all tiles together no more than four
// times the picture, so that a small file cannot make the reader decode far
// more than its picture.
constexpr std::uint64_t kTiffLeastTilePixels = std::uint64_t{1} << 20;

// libtiff allocates no single block above the picture's samples (at most 16
// bytes a pixel), or kTiffLeastAllocation for a small picture, nor above
// kTiffMostAllocation for any picture.
constexpr std::size_t kTiffLeastAllocation = std::size_t{16} << 20;
constexpr std::size_t kTiffMostAllocation = std::size_t{1} << 30;

struct TiffPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    std::uint16_t compression = COMPRESSION_NONE;
    bool planar = false;  // one plane per sample (PLANARCONFIG_SEPARATE)
    bool tiled = false;
    std::uint32_t rowsPerStrip = 0;  // strips: at most the height
    std::uint32_t tileWidth = 0;     // tiles
    std::uint32_t tileLength = 0;
    dof::SampleType type = dof::SampleType::kUInt8;  // of the samples as stored
    // Photometrics other than grey, RGB and palette go through libtiff's
    // RGBA interface, which gives 8-bit RGB or RGBA.
    bool throughRgba = false;
};

// The picture's width and height; false when the directory has none.
bool ReadTiffSize(TIFF* tiff, std::uint32_t& width, std::uint32_t& height);

// The rest of the picture's description; false, with the reason, when it is
// not a picture DecodeTiff reads.
bool DescribeTiffPicture(TIFF* tiff, TiffPicture& picture, std::string& reason);
