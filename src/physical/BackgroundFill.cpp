#include "physical/BackgroundFill.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/ParallelFor.h"

namespace {

double Luminance(const float* rgb) {
    const double y = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    return std::sqrt(std::max(y, 0.0));
}

}  // namespace

bool BackgroundFill::Prepare(const std::function<bool(int)>& poll) {
    if (!Normalise(poll)) return false;
    if (!holes_) return true;
    if (!MeasureSteps(poll) || !Scan(poll)) return false;
    LargeArray<float>().swap(steps_);
    pushPull_ = std::make_unique<PushPull>(far_, kKnown, threads_);
    return pushPull_->Build(poll);
}

bool BackgroundFill::Normalise(const std::function<bool(int)>& poll) {
    std::vector<char> holes(static_cast<std::size_t>(far_.height), 0);
    const bool done = ParallelFor(far_.height, threads_, [&](int y) {
        float* row = far_.Row(y);
        for (int x = 0; x < far_.width; ++x) {
            float* p = row + 4 * x;
            const double s = p[3];
            for (int k = 0; k < 3; ++k) p[k] = s > 1e-9 ? static_cast<float>(p[k] / s) : 0.0f;
            if (!Known(p)) holes[static_cast<std::size_t>(y)] = 1;
        }
    }, poll);
    holes_ = std::find(holes.begin(), holes.end(), 1) != holes.end();
    return done;
}

bool BackgroundFill::MeasureSteps(const std::function<bool(int)>& poll) {
    const int w = far_.width;
    const int h = far_.height;
    const int r = kGradientRadius;
    // Per pixel: squared steps to the left and upper neighbour (where both
    // are known) and whether there was one, summed across the box's width.
    LargeArray<float> across(static_cast<std::size_t>(w) * h * 4);
    if (!ParallelFor(h, threads_, [&](int y) {
            std::vector<float> own(static_cast<std::size_t>(w) * 4, 0.0f);
            const float* row = far_.Row(y);
            const float* up = y > 0 ? far_.Row(y - 1) : nullptr;
            for (int x = 0; x < w; ++x) {
                const float* p = row + 4 * x;
                if (!Known(p)) continue;
                const double l = Luminance(p);
                if (x > 0 && Known(p - 4)) {
                    const double d = l - Luminance(p - 4);
                    own[4 * x] = static_cast<float>(d * d);
                    own[4 * x + 1] = 1.0f;
                }
                if (up && Known(up + 4 * x)) {
                    const double d = l - Luminance(up + 4 * x);
                    own[4 * x + 2] = static_cast<float>(d * d);
                    own[4 * x + 3] = 1.0f;
                }
            }
            float* out = across.data() + static_cast<std::size_t>(y) * w * 4;
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 4; ++k) {
                    double sum = 0.0;
                    for (int t = std::max(x - r, 0); t <= std::min(x + r, w - 1); ++t) sum += own[4 * t + k];
                    out[4 * x + k] = static_cast<float>(sum);
                }
        }, poll))
        return false;
    steps_.assign(static_cast<std::size_t>(w) * h * 2, 0.0f);
    return ParallelFor(h, threads_, [&](int y) {
        for (int x = 0; x < w; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (int t = std::max(y - r, 0); t <= std::min(y + r, h - 1); ++t)
                for (int k = 0; k < 4; ++k) sum[k] += across[(static_cast<std::size_t>(t) * w + x) * 4 + k];
            float* out = steps_.data() + (static_cast<std::size_t>(y) * w + x) * 2;
            out[0] = static_cast<float>(sum[0] / std::max(sum[1], 1.0));
            out[1] = static_cast<float>(sum[2] / std::max(sum[3], 1.0));
        }
    }, poll);
}

bool BackgroundFill::Scan(const std::function<bool(int)>& poll) {
    const int w = far_.width;
    const int h = far_.height;
    scans_.assign(static_cast<std::size_t>(w) * h * 5, 0.0f);
    for (std::size_t i = 4; i < scans_.size(); i += 5) scans_[i] = std::numeric_limits<float>::infinity();
    // Adds the known pixel (kx, ky), d away along axis (0: rows, 1: columns), to pixel (x, y).
    auto take = [&](int x, int y, int kx, int ky, int d, int axis) {
        const std::size_t known = static_cast<std::size_t>(ky) * w + kx;
        const double weight = 1.0 / std::max(d, 1) / (steps_[2 * known + axis] + kFlatness);
        const float* light = far_.values.data() + 4 * known;
        float* out = scans_.data() + (static_cast<std::size_t>(y) * w + x) * 5;
        for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(out[k] + weight * light[k]);
        out[3] = static_cast<float>(out[3] + weight);
        out[4] = std::min(out[4], static_cast<float>(d));
    };
    if (!ParallelFor(h, threads_, [&](int y) {
            const float* row = far_.Row(y);
            for (int x = 0, last = -1; x < w; ++x) {
                if (Known(row + 4 * x)) last = x;
                if (last >= 0) take(x, y, last, y, x - last, 0);
            }
            for (int x = w - 1, next = -1; x >= 0; --x) {
                if (Known(row + 4 * x)) next = x;
                if (next >= 0) take(x, y, next, y, next - x, 0);
            }
        }, poll))
        return false;
    constexpr int kColumns = 64;
    return ParallelFor((w + kColumns - 1) / kColumns, threads_, [&](int chunk) {
        const int x0 = chunk * kColumns;
        const int x1 = std::min(x0 + kColumns, w);
        std::vector<int> nearest(static_cast<std::size_t>(x1 - x0), -1);
        for (int y = 0; y < h; ++y)
            for (int x = x0; x < x1; ++x) {
                int& last = nearest[static_cast<std::size_t>(x - x0)];
                if (Known(far_.Row(y) + 4 * x)) last = y;
                if (last >= 0) take(x, y, x, last, y - last, 1);
            }
        std::fill(nearest.begin(), nearest.end(), -1);
        for (int y = h - 1; y >= 0; --y)
            for (int x = x0; x < x1; ++x) {
                int& next = nearest[static_cast<std::size_t>(x - x0)];
                if (Known(far_.Row(y) + 4 * x)) next = y;
                if (next >= 0) take(x, y, x, next, next - y, 1);
            }
    }, poll);
}

void BackgroundFill::Row(int y, float* rgb) const {
    const float* row = far_.Row(y);
    for (int x = 0; x < far_.width; ++x) {
        const float* p = row + 4 * x;
        const double weight = std::min(std::max(p[3] / kKnown, 0.0), 1.0);
        if (weight >= 1.0 || !holes_) {
            for (int k = 0; k < 3; ++k) rgb[3 * x + k] = weight >= 1.0 ? p[k] : static_cast<float>(weight * p[k]);
            continue;
        }
        const float* scan = scans_.data() + (static_cast<std::size_t>(y) * far_.width + x) * 5;
        double fill[3];
        for (int k = 0; k < 3; ++k) fill[k] = scan[3] > 0.0f ? scan[k] / std::max(static_cast<double>(scan[3]), 1e-12) : 0.0;
        const double deep = std::min(scan[4] / kBlendDistance, 1.0);
        if (deep > 0.0) {
            float smooth[3];
            pushPull_->At(x, y, smooth);
            for (int k = 0; k < 3; ++k) fill[k] = (1.0 - deep) * fill[k] + deep * smooth[k];
        }
        for (int k = 0; k < 3; ++k) rgb[3 * x + k] = static_cast<float>(weight * p[k] + (1.0 - weight) * fill[k]);
    }
}
