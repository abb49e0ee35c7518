#pragma once
// The lens resampled to each spread a blur needs, made once and kept: for
// one run, or for every run of a shot that shares the cache. Safe to use
// from several threads; a kernel handed out stays valid while it is held,
// whatever the cache drops.
#include <cstddef>
#include <memory>

#include "image/FroatImage.h"
#include "platform/KeptItems.h"

class KernelCache {
public:
    // lens: the 256 x 256 float lens, alpha the grey level.
    explicit KernelCache(CImageFroat lens) : lens_(std::move(lens)) {}

    // The kernel of a spread: the lens in a KernelDimension(spread) square,
    // spanning spread pixels (see ResampleLens).
    std::shared_ptr<const CImageFroat> Kernel(double spread);

    // Keeps the cache within bytes: when it holds more, only the kernels
    // that are held elsewhere (by a run under way) stay.
    void Trim(std::size_t bytes) { kernels_.Trim(bytes); }

    const CImageFroat& Lens() const { return lens_; }

private:
    const CImageFroat lens_;
    KeptItems<double, CImageFroat> kernels_;
};
