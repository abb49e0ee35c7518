#pragma once
// TIFF files in memory through libtiff, in any of the layouts the reader
// takes. EncodeTiff (Codecs.h) is EncodeTiffWith the default options.
#include <tiff.h>

#include <cstdint>
#include <string>
#include <vector>

#include <dof/Image.h>

struct TiffWriteOptions {
    char byteOrder = 'n';       // 'l' little-endian, 'b' big-endian, 'n' the machine's
    bool bigTiff = false;       // also chosen when the samples come near 4 GiB
    bool planar = false;        // one plane per channel
    std::uint32_t tileSide = 0;  // square tiles, a multiple of 16; 0: strips of about 64 KiB
    std::uint16_t compression = COMPRESSION_ADOBE_DEFLATE;
    bool bottomUp = false;      // rows stored bottom first, with orientation bottom-left
    // -1: grey for 1 and 2 channels, RGB for 3 and 4. Otherwise the samples
    // are written as they are under this photometric: white-is-zero grey,
    // palette indices (with colourMap), CMYK, or RGB that libtiff's JPEG
    // codec turns into YCbCr.
    int photometric = -1;
    const std::uint16_t* colourMap = nullptr;  // red, green, then blue: 2^bits entries each
};

// 8-bit, 16-bit or 32-bit float samples, 1 to 4 channels; channels beyond
// the photometric's colours are unassociated alpha.
bool EncodeTiffWith(const dof::ImageView& image, const TiffWriteOptions& options, std::vector<unsigned char>& file,
                    std::string& reason);
