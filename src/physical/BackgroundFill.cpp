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
    if (!MeasureSteps(poll) || !ScanColumns(poll)) return false;
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
    constexpr int kBand = 32;
    scratch_.resize(std::max(scratch_.size(), static_cast<std::size_t>(w) * h * 4));
    return ParallelFor((h + kBand - 1) / kBand, threads_, [&](int band) {
        const int y0 = band * kBand;
        const int y1 = std::min(y0 + kBand, h);
        const int top = std::max(y0 - r, 0);
        const int bottom = std::min(y1 + r, h);
        // Per row of the band and its margins: the squared steps to the left
        // and upper neighbours (where both are known) and their counts,
        // summed across the box's width.
        std::vector<float> across(static_cast<std::size_t>(bottom - top) * w * 4, 0.0f);
        std::vector<float> own(static_cast<std::size_t>(w) * 4);
        std::vector<double> light(static_cast<std::size_t>(w));
        std::vector<double> lightUp(static_cast<std::size_t>(w));
        for (int y = top; y < bottom; ++y) {
            std::fill(own.begin(), own.end(), 0.0f);
            const float* row = far_.Row(y);
            const float* up = y > 0 ? far_.Row(y - 1) : nullptr;
            for (int x = 0; x < w; ++x) {
                light[static_cast<std::size_t>(x)] = Luminance(row + 4 * x);
                if (up) lightUp[static_cast<std::size_t>(x)] = Luminance(up + 4 * x);
            }
            for (int x = 0; x < w; ++x) {
                if (!Known(row + 4 * x)) continue;
                const double l = light[static_cast<std::size_t>(x)];
                if (x > 0 && Known(row + 4 * x - 4)) {
                    const double d = l - light[static_cast<std::size_t>(x) - 1];
                    own[4 * static_cast<std::size_t>(x)] = static_cast<float>(d * d);
                    own[4 * static_cast<std::size_t>(x) + 1] = 1.0f;
                }
                if (up && Known(up + 4 * x)) {
                    const double d = l - lightUp[static_cast<std::size_t>(x)];
                    own[4 * static_cast<std::size_t>(x) + 2] = static_cast<float>(d * d);
                    own[4 * static_cast<std::size_t>(x) + 3] = 1.0f;
                }
            }
            float* out = across.data() + static_cast<std::size_t>(y - top) * w * 4;
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 4; ++k) {
                    double sum = 0.0;
                    for (int t = std::max(x - r, 0); t <= std::min(x + r, w - 1); ++t) sum += own[4 * static_cast<std::size_t>(t) + k];
                    out[4 * static_cast<std::size_t>(x) + k] = static_cast<float>(sum);
                }
        }
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                double sum[4] = {0, 0, 0, 0};
                for (int t = std::max(y - r, 0); t <= std::min(y + r, h - 1); ++t)
                    for (int k = 0; k < 4; ++k) sum[k] += across[(static_cast<std::size_t>(t - top) * w + x) * 4 + k];
                float* out = Steps(static_cast<std::size_t>(y) * w + x);
                out[0] = static_cast<float>(sum[0] / std::max(sum[1], 1.0));
                out[1] = static_cast<float>(sum[2] / std::max(sum[3], 1.0));
            }
    }, poll);
}

bool BackgroundFill::ScanColumns(const std::function<bool(int)>& poll) {
    const int w = far_.width;
    const int h = far_.height;
    constexpr int kColumns = 64;
    return ParallelFor((w + kColumns - 1) / kColumns, threads_, [&](int chunk) {
        const int x0 = chunk * kColumns;
        const int x1 = std::min(x0 + kColumns, w);
        std::vector<int> nearest(static_cast<std::size_t>(x1 - x0), -1);
        for (int y = 0; y < h; ++y)
            for (int x = x0; x < x1; ++x) {
                int& last = nearest[static_cast<std::size_t>(x - x0)];
                if (Known(far_.Row(y) + 4 * x)) last = y;
                Vertical(static_cast<std::size_t>(y) * w + x)[0] = last >= 0 ? static_cast<float>(y - last) : kNone;
            }
        std::fill(nearest.begin(), nearest.end(), -1);
        for (int y = h - 1; y >= 0; --y)
            for (int x = x0; x < x1; ++x) {
                int& next = nearest[static_cast<std::size_t>(x - x0)];
                if (Known(far_.Row(y) + 4 * x)) next = y;
                Vertical(static_cast<std::size_t>(y) * w + x)[1] = next >= 0 ? static_cast<float>(next - y) : kNone;
            }
    }, poll);
}

void BackgroundFill::Row(int y, float* rgb) const {
    const int w = far_.width;
    const float* row = far_.Row(y);
    if (!holes_) {
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) rgb[3 * x + k] = row[4 * x + k];
        return;
    }
    // The nearest known pixels to the left and right along the row.
    std::vector<int> left(static_cast<std::size_t>(w)), right(static_cast<std::size_t>(w));
    for (int x = 0, last = -1; x < w; ++x) {
        if (Known(row + 4 * x)) last = x;
        left[static_cast<std::size_t>(x)] = last;
    }
    for (int x = w - 1, next = -1; x >= 0; --x) {
        if (Known(row + 4 * x)) next = x;
        right[static_cast<std::size_t>(x)] = next;
    }
    for (int x = 0; x < w; ++x) {
        const float* p = row + 4 * x;
        const double weight = std::min(std::max(p[3] / kKnown, 0.0), 1.0);
        if (weight >= 1.0) {
            for (int k = 0; k < 3; ++k) rgb[3 * x + k] = p[k];
            continue;
        }
        // Left, right, above, below: the known pixel, its distance and axis.
        const float* v = Vertical(static_cast<std::size_t>(y) * w + x);
        const int kx[4] = {left[static_cast<std::size_t>(x)], right[static_cast<std::size_t>(x)], x, x};
        const int ky[4] = {y, y, v[0] == kNone ? -1 : y - static_cast<int>(v[0]), v[1] == kNone ? -1 : y + static_cast<int>(v[1])};
        const bool found[4] = {kx[0] >= 0, kx[1] >= 0, v[0] != kNone, v[1] != kNone};
        double sum[3] = {0, 0, 0}, total = 0.0, nearest = std::numeric_limits<double>::infinity();
        for (int j = 0; j < 4; ++j) {
            if (!found[j]) continue;
            const int d = std::abs(kx[j] - x) + std::abs(ky[j] - y);
            const std::size_t known = static_cast<std::size_t>(ky[j]) * w + kx[j];
            const double wj = 1.0 / std::max(d, 1) / (Steps(known)[j < 2 ? 0 : 1] + kFlatness);
            const float* light = far_.values.data() + 4 * known;
            for (int k = 0; k < 3; ++k) sum[k] += wj * light[k];
            total += wj;
            nearest = std::min(nearest, static_cast<double>(d));
        }
        double fill[3];
        for (int k = 0; k < 3; ++k) fill[k] = total > 0.0 ? sum[k] / std::max(total, 1e-12) : 0.0;
        const double deep = std::min(nearest / kBlendDistance, 1.0);
        if (deep > 0.0) {
            float smooth[3];
            pushPull_->At(x, y, smooth);
            for (int k = 0; k < 3; ++k) fill[k] = (1.0 - deep) * fill[k] + deep * smooth[k];
        }
        for (int k = 0; k < 3; ++k) rgb[3 * x + k] = static_cast<float>(weight * p[k] + (1.0 - weight) * fill[k]);
    }
}
