#pragma once
// A smooth fill of a picture's holes from everything around them: a
// pyramid of 2 x 2 coverage-weighted means (weights capped at 1), pulled
// back down bilinearly, each level keeping what it knows and taking the
// rest from the level above.
#include <algorithm>
#include <functional>
#include <vector>

#include "physical/LightField.h"

class PushPull {
public:
    // base: light (not premultiplied) and coverage of every pixel; a pixel
    // counts with weight min(coverage, 1) where its coverage reaches
    // known, else not at all. False from Build when poll stopped it.
    PushPull(const LightField& base, double known, int threads) : base_(base), known_(known), threads_(threads) {}
    bool Build(const std::function<bool(int)>& poll);

    // The filled light of pixel (x, y) of the base.
    void At(int x, int y, float rgb[3]) const;

private:
    double BaseWeight(float coverage) const { return coverage >= known_ ? std::min(1.0, static_cast<double>(coverage)) : 0.0; }

    // Level l >= 1: premultiplied light and weight; after Build, its light is
    // the pulled fill instead.
    std::vector<LightField> levels_;
    const LightField& base_;
    double known_;
    int threads_;
};

// The bilinear 2x enlargement's rows or columns: index i of the finer level
// takes (1 - f) of coarse index i0 and f of i1.
struct UpTap {
    int i0, i1;
    float f;
};
UpTap UpsampleTap(int i, int coarseSize);
