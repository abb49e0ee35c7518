#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Sliding-window maxima in constant time per element (van Herk / Gil-Werman).
// out[i] = the largest of floor and of in[i - before .. i - before + window - 1]
// that lie in 0 .. length - 1. lanes values side by side are handled at once:
// element i of lane l is at i * stride + l in the input and at
// i * outStride + l in the output. prefix and suffix are working space.
void SlidingMax(const std::int32_t* in, std::int32_t* out, int length, int window, int before, std::size_t stride,
                std::size_t outStride, std::size_t lanes, std::int32_t floor, std::vector<std::int32_t>& prefix,
                std::vector<std::int32_t>& suffix);
