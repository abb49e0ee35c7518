#pragma once
#include <cstdint>
#include <vector>

#include "image/LargeArray.h"

class CBlurEngine;
struct FroatPixel;

// Fills the engine's depth from decoded TGA bytes (R, G, B, A per pixel);
// with zReverse every byte b first becomes 255 - b, in the buffer itself.
void SetDepthFromBytes(CBlurEngine& engine, int width, int height, unsigned char* bytes);

// Fills the engine's depth from one value per pixel (an RGBE file's means);
// with zReverse each value v becomes 1.0 - v. Values are not clamped.
void SetDepthFromValues(CBlurEngine& engine, const double* values, int width, int height);

// Fills the engine's 256 x 256 lens; each pixel's alpha becomes the integer
// mean of its red, green and blue, in the buffer itself.
void SetLensFromBytes(CBlurEngine& engine, unsigned char* bytes);

// The same inputs in the engine's compact form, which a run needs, without
// the float images: the source as its bytes, the depth as its first channel.
// The results are the same as through the float images.
void SetSourceFromBytes(CBlurEngine& engine, int width, int height, const unsigned char* bytes);
// The same, taking over a buffer of exactly width x height x 4 bytes.
void SetSourceFromBytes(CBlurEngine& engine, int width, int height, LargeArray<unsigned char>&& bytes);
void SetDepthChannelFromBytes(CBlurEngine& engine, int width, int height, const unsigned char* bytes);
void SetDepthChannelFromValues(CBlurEngine& engine, const double* values, int width, int height);

// One result channel as a byte: value x 256 truncated; a NaN gives 0.
unsigned char ChannelToByte(double value);

// The result pixel at the clamped position (x, y).
const FroatPixel& ResultPixel(const CBlurEngine& engine, int x, int y);

// The whole result as R, G, B, A bytes, top row first.
void ResultToBytes(const CBlurEngine& engine, unsigned char* destination);
