#pragma once
#include <cstddef>
#include <vector>

// Sliding-window maxima in constant time per element (van Herk / Gil-Werman).
// out[i] = the largest of in[i - before .. i - before + window - 1] that lie
// in 0 .. length - 1; values that are not numbers never win. lanes values
// side by side are handled at once: element i of lane l is at i * stride + l
// in the input and at i * outStride + l in the output.
void SlidingMax(const double* in, double* out, int length, int window, int before, std::size_t stride,
                std::size_t outStride, std::size_t lanes, std::vector<double>& prefix, std::vector<double>& suffix);
