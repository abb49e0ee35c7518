#pragma once
// The picture formats that come through the libraries of the field: PNG
// (libpng), TIFF (libtiff) and OpenEXR. Each decoder takes a whole file in
// memory, a buffer and its size, and reads nothing past it; it shows the
// picture's size to limits.accept as soon as its header is read, before any
// pixel is allocated; and it turns every error of its library into a status
// with a reason, so that no library error ends the program. Integer samples
// come as the file stores them (sRGB values), float samples as linear light,
// rows top first.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <dof/Image.h>

struct DecodeLimits {
    // Asked with the picture's width and height once the header is read:
    // false refuses the picture (kTooLarge). Empty: every size is taken.
    std::function<bool(int width, int height)> accept;
};

enum class DecodeStatus { kDecoded, kTooLarge, kFailed };

struct DecodeResult {
    DecodeStatus status = DecodeStatus::kFailed;
    std::string reason;  // why it failed, for a person
    int width = 0;       // the header's size, once it is known
    int height = 0;
};

// The size in a file's first headSize bytes, when they hold the header.
struct PeekedSize {
    bool sized = false;
    int width = 0;
    int height = 0;
};

// PNG: grey, grey and alpha, RGB, RGBA at 8 or 16 bits (palette and fewer
// bits are expanded to 8), channels as stored.
PeekedSize PeekPng(const unsigned char* head, std::size_t headSize);
DecodeResult DecodePng(const unsigned char* data, std::size_t size, const DecodeLimits& limits, dof::Image& image);
// 8-bit or 16-bit samples, 1 to 4 channels.
bool EncodePng(const dof::ImageView& image, std::vector<unsigned char>& file, std::string& reason);

// TIFF: 8 and 16-bit integer and 32-bit float samples, 1 to 4 channels,
// contiguous or planar, strips or tiles.
PeekedSize PeekTiff(const unsigned char* head, std::size_t headSize);
DecodeResult DecodeTiff(const unsigned char* data, std::size_t size, const DecodeLimits& limits, dof::Image& image);
// 8-bit, 16-bit or 32-bit float samples, 1 to 4 channels.
bool EncodeTiff(const dof::ImageView& image, std::vector<unsigned char>& file, std::string& reason);

// OpenEXR, scanline or tiled, half, float or uint channels. The colour:
// R, G, B (and A) or Y (and A) of the first part, or of layer when it is
// named (a part of that name, or channels layer.R, ...), as 32-bit float.
// The depth: one channel as 32-bit float, the one named channel or, when
// channel is empty, the first of Z, depth.Z, any *.Z, then a part's only
// channel. The picture is the display window; samples outside the data
// window are 0 (colour) or +inf (depth: far).
PeekedSize PeekExr(const unsigned char* head, std::size_t headSize);
DecodeResult DecodeExrColour(const unsigned char* data, std::size_t size, const std::string& layer,
                             const DecodeLimits& limits, dof::Image& image);
DecodeResult DecodeExrDepth(const unsigned char* data, std::size_t size, const std::string& channel,
                            const DecodeLimits& limits, dof::Image& image);
// 32-bit float samples, 1 to 4 channels (Y, YA, RGB, RGBA), written as half
// or float, ZIP compressed.
bool EncodeExr(const dof::ImageView& image, bool half, std::vector<unsigned char>& file, std::string& reason);
