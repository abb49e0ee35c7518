#pragma once
#include <cstddef>
#include <cstdint>

class CBlurEngine;

// Estimates of the memory a run takes, so that the driver can refuse a run
// that would not fit before allocating it. All sizes are in bytes, as doubles
// so that absurd inputs saturate instead of wrapping.

// Bytes a run may use: three quarters of the physical memory, at most
// 64 GiB; 2 GiB when the physical memory cannot be found.
double MemoryBudget();

// Per pixel of the picture, an upper bound: five float images of 32 bytes
// (source, depth, result, weight sums, exposure), a 32-byte per-pixel
// record, and the 8-bit output pixels with the encoded file (4 + 4 bytes).
// A run of 2.25 million pixels was measured at about 110 bytes per pixel.
constexpr double kRunBytesPerPixel = 5 * 32 + 32 + 4 + 4;

// Beside the pixels: the lens in its decoded and float forms, the file
// buffers of small inputs, the threads' stacks.
constexpr double kRunFixedBytes = 16.0 * 1024 * 1024;

// The pixel buffers of a width x height run.
double PixelBufferBytes(double width, double height);

// The largest blur size of a width x height run: the engine's DepthBlur over
// every pixel (its depth filled by the driver), never below 0 (the engine's
// own start).
double LargestDepthBlur(const CBlurEngine& engine, int width, int height);

// The lens kernels and the distance table that a largest blur implies, for a
// picture of pixelCount pixels: one kernel per spread (a multiple of 1/3 from
// 1 up to the largest blur, and no more kernels than pixels, the largest ones
// counted), the resampling scratch of every thread, and the distance table
// of the window size.
double BlurTableBytes(double largestBlur, double pixelCount);
