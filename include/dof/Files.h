#pragma once
// Reading and writing picture files. The format of a file read is told by
// its content, never by its name.
#include <string>

#include <dof/Error.h>
#include <dof/Export.h>
#include <dof/Image.h>

namespace dof {

struct ReadOptions {
    // Bytes a blur of the picture may take (0: three quarters of the
    // physical memory, at most 64 GiB). A file whose header shows a picture
    // that could not be blurred within it, or that is itself larger, is
    // refused with kTooLarge before its pixels are read.
    double memoryLimit = 0.0;
    // OpenEXR colour: the layer to read (a part of that name, or channels
    // LAYER.R, LAYER.G, ...); empty: the first part's R, G, B, A or Y, A.
    std::string layer;
    // OpenEXR depth: the channel to read; empty: the first of Z, depth.Z,
    // any *.Z, then a part's only channel.
    std::string depthChannel;
};

// A colour or lens picture, with the file's channels and precision:
// TGA (8-bit grey, 24- or 32-bit colour, uncompressed or run-length),
// PNG (grey, grey and alpha, RGB, RGBA; 8 or 16 bits), TIFF (8 and 16-bit
// integer, 32-bit float) and OpenEXR (half, float or uint channels, as
// 32-bit float). Integer samples are sRGB values, float samples linear
// light. (Radiance files hold depth only.)
DOF_API Result<Image> ReadImage(const std::string& path, const ReadOptions& options = ReadOptions());

// A depth picture as one channel: the first channel of a TGA, PNG or TIFF
// file (8-bit, 16-bit or 32-bit float), the mean of a Radiance file's red,
// green and blue (64-bit float), an OpenEXR channel (32-bit float).
DOF_API Result<Image> ReadDepth(const std::string& path, const ReadOptions& options = ReadOptions());

struct WriteOptions {
    // Bits per sample: 0 for the format's own (8, and 16 for OpenEXR's
    // half); PNG takes 8 or 16, TIFF 8, 16 or 32 (float), OpenEXR 16 (half)
    // or 32 (float), TGA 8.
    int bitDepth = 0;
};

// Writes a picture in the format its name's extension says: .png, .tif or
// .tiff, .exr, and TGA (32-bit, uncompressed) for any other name. Samples are
// converted as needed: integer files hold sRGB values, OpenEXR and float TIFF
// linear light; grey, grey and alpha, RGB and RGBA keep their channels (TGA
// always holds RGBA). The file appears whole or not at all: it is written
// beside its place and renamed over it. A path that is a symbolic link is
// written through: its target is replaced and the link stays.
DOF_API Error WriteImage(const std::string& path, const ImageView& image,
                         const WriteOptions& options = WriteOptions());

// Whether a format takes a bit depth (as WriteImage would), for the format
// that path's extension names.
DOF_API bool TakesBitDepth(const std::string& path, int bitDepth);

}  // namespace dof
