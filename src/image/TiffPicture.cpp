// Which TIFF pictures DecodeTiff reads: grey, RGB and palette pictures of
// 8 or 16-bit unsigned or 32-bit float samples, with one alpha at most,
// read by strips or tiles; and 8-bit pictures of the photometrics libtiff
// converts itself (YCbCr, CMYK, CIE L*a*b*) through its RGBA interface.
// Other bit depths (1-bit bilevel, 4-bit palettes, half and double floats),
// signed samples, 3-D pictures and rotated or mirrored orientations are
// refused with a reason.
#include "image/TiffPicture.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Printed(const char* format, unsigned value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

const char* PhotometricName(std::uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_MASK: return " (transparency mask)";
        case PHOTOMETRIC_SEPARATED: return " (separated inks)";
        case PHOTOMETRIC_YCBCR: return " (YCbCr)";
        case PHOTOMETRIC_CIELAB: return " (CIE L*a*b*)";
        case PHOTOMETRIC_ICCLAB: return " (ICC L*a*b*)";
        case PHOTOMETRIC_ITULAB: return " (ITU L*a*b*)";
        case PHOTOMETRIC_LOGL: return " (LogL)";
        case PHOTOMETRIC_LOGLUV: return " (LogLuv)";
        default: return "";
    }
}

bool Refuse(std::string& reason, std::string why) {
    reason = std::move(why);
    return false;
}

// The stored sample type of the grey, RGB and palette pictures.
bool ChooseSampleType(TIFF* tiff, TiffPicture& picture, std::string& reason) {
    std::uint16_t format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    const unsigned bits = picture.bitsPerSample;
    if (format == SAMPLEFORMAT_IEEEFP) {
        if (bits != 32) return Refuse(reason, Printed("%u-bit floating-point samples are not read (only 32-bit)", bits));
        picture.type = dof::SampleType::kFloat32;
        return true;
    }
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
        return Refuse(reason, format == SAMPLEFORMAT_INT ? "signed integer samples are not read"
                                                         : Printed("sample format %u is not read", format));
    if (bits != 8 && bits != 16)
        return Refuse(reason, Printed("%u-bit samples are not read (8 or 16-bit integers, 32-bit float)", bits));
    picture.type = bits == 8 ? dof::SampleType::kUInt8 : dof::SampleType::kUInt16;
    return true;
}

bool CheckChannels(TIFF* tiff, const TiffPicture& picture, std::string& reason) {
    const unsigned samples = picture.samplesPerPixel;
    switch (picture.photometric) {
        case PHOTOMETRIC_RGB:
            if (samples < 3 || samples > 4)
                return Refuse(reason, Printed("an RGB picture of %u samples per pixel is not read (3, or 4 with alpha)", samples));
            return true;
        case PHOTOMETRIC_PALETTE: {
            std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
            if (samples != 1) return Refuse(reason, "a palette picture with extra samples is not read");
            if (dof::IsFloat(picture.type)) return Refuse(reason, "a palette picture needs integer indices");
            if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
                return Refuse(reason, "the palette picture has no colour map");
            return true;
        }
        default:  // grey
            if (samples > 2)
                return Refuse(reason, Printed("a grey picture of %u samples per pixel is not read (1, or 2 with alpha)", samples));
            if (picture.photometric == PHOTOMETRIC_MINISWHITE && dof::IsFloat(picture.type))
                return Refuse(reason, "white-is-zero floating-point samples are not read");
            return true;
    }
}

bool DescribeLayout(TIFF* tiff, TiffPicture& picture, std::string& reason) {
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint32_t depth = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_IMAGEDEPTH, &depth);
    picture.planar = planar == PLANARCONFIG_SEPARATE && picture.samplesPerPixel > 1;
    if (depth != 1) return Refuse(reason, "3-D pictures are not read");
    picture.tiled = TIFFIsTiled(tiff) != 0;
    if (picture.tiled) {
        std::uint32_t tileDepth = 1;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_TILEDEPTH, &tileDepth);
        if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &picture.tileWidth) ||
            !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &picture.tileLength) || picture.tileWidth == 0 ||
            picture.tileLength == 0 || tileDepth != 1)
            return Refuse(reason, "the tiles have no size");
        const std::uint64_t area = std::uint64_t{picture.width} * picture.height;
        const std::uint64_t tileArea = std::uint64_t{picture.tileWidth} * picture.tileLength;
        const std::uint64_t across = picture.width / picture.tileWidth + (picture.width % picture.tileWidth != 0);
        const std::uint64_t down = picture.height / picture.tileLength + (picture.height % picture.tileLength != 0);
        std::uint64_t coveredArea = 0;
        if (tileArea > std::max(area, kTiffLeastTilePixels) || __builtin_mul_overflow(across * down, tileArea, &coveredArea) ||
            coveredArea > 4 * std::max(area, kTiffLeastTilePixels))
            return Refuse(reason, "the tiles are too large for the picture");
        return true;
    }
    std::uint32_t rows = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    if (rows == 0) return Refuse(reason, "the strips have no rows");
    picture.rowsPerStrip = rows < picture.height ? rows : picture.height;
    return true;
}

}  // namespace

bool ReadTiffSize(TIFF* tiff, std::uint32_t& width, std::uint32_t& height) {
    return TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) && TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
}

bool DescribeTiffPicture(TIFF* tiff, TiffPicture& picture, std::string& reason) {
    if (!ReadTiffSize(tiff, picture.width, picture.height)) return Refuse(reason, "the picture has no size");
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &picture.compression);
    if (!TIFFIsCODECConfigured(picture.compression))
        return Refuse(reason, Printed("compression %u is not available", picture.compression));
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &picture.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &picture.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &picture.orientation);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &picture.photometric))
        return Refuse(reason, "the picture has no photometric interpretation");
    if (picture.orientation != ORIENTATION_TOPLEFT && picture.orientation != ORIENTATION_BOTLEFT)
        return Refuse(reason, Printed("orientation %u is not read (only top-left and bottom-left)", picture.orientation));
    if (picture.samplesPerPixel == 0) return Refuse(reason, "the picture has no samples");
    if (!DescribeLayout(tiff, picture, reason)) return false;

    switch (picture.photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_PALETTE:
            return ChooseSampleType(tiff, picture, reason) && CheckChannels(tiff, picture, reason);
        case PHOTOMETRIC_YCBCR:
        case PHOTOMETRIC_SEPARATED:
        case PHOTOMETRIC_CIELAB: {
            std::uint16_t format = SAMPLEFORMAT_UINT;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
            if (picture.bitsPerSample != 8 || (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID))
                return Refuse(reason, Printed("photometric interpretation %u", picture.photometric) +
                                          PhotometricName(picture.photometric) + " is read only with 8-bit samples");
            char message[1024] = {};
            if (!TIFFRGBAImageOK(tiff, message)) return Refuse(reason, message);
            picture.throughRgba = true;
            picture.type = dof::SampleType::kUInt8;
            return true;
        }
        default:
            return Refuse(reason, Printed("photometric interpretation %u", picture.photometric) +
                                      PhotometricName(picture.photometric) + " is not read");
    }
}
