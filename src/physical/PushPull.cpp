#include "physical/PushPull.h"

#include <algorithm>
#include <cmath>

#include "platform/ParallelFor.h"

UpTap UpsampleTap(int i, int coarseSize) {
    // Pixel centres: fine i lies at coarse (i + 0.5) / 2 - 0.5.
    const int below = (i % 2 == 0) ? i / 2 - 1 : i / 2;
    const float f = (i % 2 == 0) ? 0.75f : 0.25f;
    auto clamp = [&](int k) { return std::min(std::max(k, 0), coarseSize - 1); };
    return {clamp(below), clamp(below + 1), f};
}

bool PushPull::Build(const std::function<bool(int)>& poll) {
    // Push: each level from the one below (which must not move meanwhile).
    int count = 0;
    for (int w = base_.width, h = base_.height; std::min(w, h) > 1; w = (w + 1) / 2, h = (h + 1) / 2) ++count;
    levels_.reserve(static_cast<std::size_t>(count));
    const LightField* below = &base_;
    bool premultiplied = false;  // the base is not
    while (std::min(below->width, below->height) > 1) {
        const int w = (below->width + 1) / 2;
        const int h = (below->height + 1) / 2;
        levels_.emplace_back(w, h);
        LightField& level = levels_.back();
        const LightField& fine = *below;
        const bool finePremultiplied = premultiplied;
        if (!ParallelFor(h, threads_, [&](int y) {
                float* out = level.Row(y);
                for (int x = 0; x < w; ++x) {
                    double sum[4] = {0, 0, 0, 0};
                    for (int fy = 2 * y; fy < std::min(2 * y + 2, fine.height); ++fy)
                        for (int fx = 2 * x; fx < std::min(2 * x + 2, fine.width); ++fx) {
                            const float* p = fine.Row(fy) + 4 * fx;
                            const double weight = finePremultiplied ? p[3] : BaseWeight(p[3]);
                            for (int k = 0; k < 3; ++k) sum[k] += finePremultiplied ? p[k] : p[k] * weight;
                            sum[3] += weight;
                        }
                    const double cover = std::min(sum[3], 1.0);
                    const double scale = cover / std::max(sum[3], 1e-12);
                    for (int k = 0; k < 3; ++k) out[4 * x + k] = static_cast<float>(sum[k] * scale);
                    out[4 * x + 3] = static_cast<float>(cover);
                }
            }, poll))
            return false;
        below = &level;
        premultiplied = true;
    }
    if (levels_.empty()) return true;
    // Pull: the top level's mean, then each level from the one above.
    LightField& top = levels_.back();
    for (int y = 0; y < top.height; ++y)
        for (int x = 0; x < top.width; ++x) {
            float* p = top.Row(y) + 4 * x;
            const double weight = std::max(static_cast<double>(p[3]), 1e-12);
            for (int k = 0; k < 3; ++k) p[k] = static_cast<float>(p[k] / weight);
        }
    for (int l = static_cast<int>(levels_.size()) - 2; l >= 0; --l) {
        LightField& level = levels_[static_cast<std::size_t>(l)];
        const LightField& above = levels_[static_cast<std::size_t>(l) + 1];
        if (!ParallelFor(level.height, threads_, [&](int y) {
                const UpTap ty = UpsampleTap(y, above.height);
                float* out = level.Row(y);
                for (int x = 0; x < level.width; ++x) {
                    const UpTap tx = UpsampleTap(x, above.width);
                    float* p = out + 4 * x;
                    for (int k = 0; k < 3; ++k) {
                        const double up =
                            (1.0 - ty.f) * ((1.0 - tx.f) * above.Row(ty.i0)[4 * tx.i0 + k] + tx.f * above.Row(ty.i0)[4 * tx.i1 + k]) +
                            ty.f * ((1.0 - tx.f) * above.Row(ty.i1)[4 * tx.i0 + k] + tx.f * above.Row(ty.i1)[4 * tx.i1 + k]);
                        p[k] = static_cast<float>(p[k] + (1.0 - p[3]) * up);
                    }
                }
            }, poll))
            return false;
    }
    return true;
}

void PushPull::At(int x, int y, float rgb[3]) const {
    const float* p = base_.Row(y) + 4 * x;
    const double weight = BaseWeight(p[3]);
    if (levels_.empty()) {
        for (int k = 0; k < 3; ++k) rgb[k] = weight > 0.0 ? p[k] : 0.0f;
        return;
    }
    const LightField& above = levels_.front();
    const UpTap ty = UpsampleTap(y, above.height);
    const UpTap tx = UpsampleTap(x, above.width);
    for (int k = 0; k < 3; ++k) {
        const double up =
            (1.0 - ty.f) * ((1.0 - tx.f) * above.Row(ty.i0)[4 * tx.i0 + k] + tx.f * above.Row(ty.i0)[4 * tx.i1 + k]) +
            ty.f * ((1.0 - tx.f) * above.Row(ty.i1)[4 * tx.i0 + k] + tx.f * above.Row(ty.i1)[4 * tx.i1 + k]);
        rgb[k] = static_cast<float>(p[k] * weight + (1.0 - weight) * up);
    }
}
