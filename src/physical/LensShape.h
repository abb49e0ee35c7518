#pragma once
// The lens picture as an aperture: its transmission per lens pixel and the
// radius of its shape, from which kernels of any diameter are drawn.
#include <vector>

#include <dof/Image.h>

class LensShape {
public:
    static constexpr int kSize = 256;

    // view: 256 x 256; its grey level (mean of red, green and blue, 8-bit
    // samples over 255, 16-bit over 65535, float ones as they are, negative
    // as 0).
    explicit LensShape(const dof::ImageView& view);
    // A shape from kSize * kSize transmissions, top row first (for tests).
    explicit LensShape(std::vector<double> transmission);

    double At(int x, int y) const { return transmission_[static_cast<std::size_t>(y) * kSize + x]; }
    // The largest distance from the frame's centre at which the shape is at
    // least half bright, refined within its last pixel; kSize / 2 when no
    // pixel is. It is mapped to the disc's radius, so that a shape that
    // fills only part of the frame still gives discs of the right size.
    double RimRadius() const { return rimRadius_; }
    // Columns [first, last] of row y hold every pixel above zero (first > last: none).
    int FirstLit(int y) const { return firstLit_[y]; }
    int LastLit(int y) const { return lastLit_[y]; }

private:
    void Measure();

    std::vector<double> transmission_;
    std::vector<int> firstLit_;
    std::vector<int> lastLit_;
    double rimRadius_ = kSize / 2.0;
};
