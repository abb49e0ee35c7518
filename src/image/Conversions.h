#pragma once
// From pictures as callers hand them over to the engine's inputs, and from
// result values to bytes.
#include <cstddef>
#include <functional>
#include <string>

#include <dof/Error.h>
#include <dof/Image.h>

#include "image/FroatImage.h"
#include "platform/LargeArray.h"

// Sample index of a row (counted in samples) of any type as a double:
// integers as stored, floats as they are.
double SampleAt(const unsigned char* row, int index, dof::SampleType type);

// Whether view can be read: 1 to 4 channels, sizes not below zero, pixels
// given unless the picture is empty, rows at least a pixel row apart. The
// error (kInvalidImage) names the picture as what.
dof::Error CheckImage(const dof::ImageView& view, const char* what);

// The colour as the engine reads it: rows of 8-bit R, G, B and, with 4 bytes
// a pixel, A (3 bytes a pixel: alpha 255). An 8-bit RGB or RGBA picture is
// read where it lies; any other is converted into owned.
struct ColourBytes {
    const unsigned char* pixels = nullptr;  // row 0
    std::ptrdiff_t rowStride = 0;
    int pixelBytes = 4;
    LargeArray<unsigned char> owned;
};
ColourBytes ColourFromView(const dof::ImageView& view);

// One pixel of any picture as 8-bit R, G, B, A: 8-bit samples as they are,
// 16-bit ones rounded to 8 bits, float samples as linear light encoded to
// sRGB, clipped and rounded (alpha only clipped and rounded); grey spreads
// to R, G and B, and a picture without alpha gets 255.
void PixelToRgba8(const dof::ImageView& view, int x, int y, unsigned char rgba[4]);

// The depth values of a run: the first channel; integer samples over their
// largest value (byte / 255, or value / 65535; with reverse, (255 - byte) /
// 255 and so on), float ones as they are (with reverse, 1 - value). Rows are
// converted on up to threads threads; each is passed to rowDone, where given,
// on the thread that converted it.
UnfilledArray<double> DepthFromView(const dof::ImageView& view, bool reverse, int threads = 1,
                                    const std::function<void(int y, const double* row)>& rowDone = {});

// Float depth values that are not a number or below zero: how many, and
// where the first one (row by row) lies.
struct BadDepth {
    std::size_t count = 0;
    int x = 0;
    int y = 0;
};
BadDepth FindBadDepth(const dof::ImageView& view);

// The picture with samples of another type, channels kept: between integer
// sizes by scale and rounding, integers to float by the sRGB curve (alpha by
// scale), float to integers by the inverse curve, clipped and rounded.
dof::Image ConvertSamples(const dof::ImageView& view, dof::SampleType type);

// sRGB values (0 to 1) to linear light and back.
double DecodeSrgb(double encoded);

// The 256 x 256 lens as the float image of the engine: its RGBA bytes / 255,
// alpha replaced by the integer mean of red, green and blue.
CImageFroat LensFromView(const dof::ImageView& view);

// Linear light to the sRGB curve, both 0 to 1.
double EncodeSrgb(double linear);

// One result channel as a byte: value x 256 truncated; a NaN gives 0.
// (Inline: the gather writes four of them a pixel.)
inline unsigned char ChannelToByte(double value) {
    const double scaled = value * 256.0;
    if (!(scaled >= 0.0)) return 0;  // NaN or negative
    if (scaled >= 255.0) return 255;
    return static_cast<unsigned char>(static_cast<int>(scaled));
}
