#pragma once
// Estimates of the memory a run takes, so that a run that would not fit is
// refused before anything is allocated for it. All sizes are in bytes, as
// doubles so that absurd inputs saturate instead of wrapping.

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

// The lens kernels and the distance table that a largest blur implies, for a
// picture of pixelCount pixels: one kernel per spread (a multiple of 1/3
// from 1 up to the largest blur, and no more kernels than pixels, the
// largest ones counted), the resampling scratch of one thread per processor,
// and the distance table of the window size.
double BlurTableBytes(double largestBlur, double pixelCount);
