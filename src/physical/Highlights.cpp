#include "physical/Highlights.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/ParallelFor.h"

namespace {

constexpr double kLightQuantile = 0.25;  // a blob's light: the nearest substantial part
constexpr double kBehind = 0.02;         // rims more than this much behind it
constexpr int kRimReach = 2;             // and this close to a pixel at it

// Union-find over pixel indices; the root of a set is its first pixel in scan order.
std::int32_t Root(std::vector<std::int32_t>& parent, std::int32_t i) {
    while (parent[static_cast<std::size_t>(i)] != i) {
        const std::int32_t up = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        parent[static_cast<std::size_t>(i)] = up;
        i = up;
    }
    return i;
}

void Join(std::vector<std::int32_t>& parent, std::int32_t a, std::int32_t b) {
    a = Root(parent, a);
    b = Root(parent, b);
    if (a < b) parent[static_cast<std::size_t>(b)] = a;
    else if (b < a) parent[static_cast<std::size_t>(a)] = b;
}

}  // namespace

double BlobGain(double area, double meanDiameter, const dof::HighlightOptions& options) {
    const double q = area / std::max(1.0, M_PI / 4.0 * meanDiameter * meanDiameter);
    const double t = std::min(std::max(std::log(q / options.compactRatio) /
                                           std::log(options.extendedRatio / options.compactRatio), 0.0), 1.0);
    return std::exp((1.0 - t) * std::log(options.compactGain) + t * std::log(options.extendedGain));
}

std::vector<ClippedGain> RecoverHighlights(const ColourReader& colour, const dof::HighlightOptions& options,
                                           const ThinLens& lens, const DepthReader& depth, float* discs,
                                           int threads) {
    const int w = colour.Width();
    const int h = colour.Height();
    const std::size_t n = static_cast<std::size_t>(w) * h;
    // 1: clipped; 2: clipped and at its blob's light depth.
    LargeArray<std::uint8_t> mask(n, 0);
    std::vector<char> rowHas(static_cast<std::size_t>(h), 0);
    ParallelFor(h, threads, [&](int y) {
        std::vector<float> levels(static_cast<std::size_t>(w) * 3);
        colour.LevelRow(y, levels.data());
        const float clip = static_cast<float>(options.clipLevel);
        for (int x = 0; x < w; ++x) {
            const float* l = &levels[3 * static_cast<std::size_t>(x)];
            if (l[0] >= clip && l[1] >= clip && l[2] >= clip) {
                mask[static_cast<std::size_t>(y) * w + x] = 1;
                rowHas[static_cast<std::size_t>(y)] = 1;
            }
        }
    });
    if (std::find(rowHas.begin(), rowHas.end(), 1) == rowHas.end()) return {};

    // Blobs: 8-connected, numbered in scan order of their first pixel; the
    // joins need only this row's and the last row's clipped pixels.
    std::vector<std::int32_t> clipped;  // pixel indices in scan order
    std::vector<std::int32_t> parent;   // by position in clipped
    std::vector<std::int32_t> previous(static_cast<std::size_t>(w), -1), current(static_cast<std::size_t>(w), -1);
    for (int y = 0; y < h; ++y) {
        std::fill(current.begin(), current.end(), -1);
        if (rowHas[static_cast<std::size_t>(y)])
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (!mask[i]) continue;
                const std::int32_t k = static_cast<std::int32_t>(clipped.size());
                current[static_cast<std::size_t>(x)] = k;
                parent.push_back(k);
                clipped.push_back(static_cast<std::int32_t>(i));
                if (x > 0 && current[static_cast<std::size_t>(x) - 1] >= 0) Join(parent, k, current[static_cast<std::size_t>(x) - 1]);
                for (int nx = std::max(x - 1, 0); y > 0 && nx <= std::min(x + 1, w - 1); ++nx)
                    if (previous[static_cast<std::size_t>(nx)] >= 0) Join(parent, k, previous[static_cast<std::size_t>(nx)]);
            }
        std::swap(previous, current);
    }
    std::vector<std::int32_t> blobOf(clipped.size());
    std::vector<std::int32_t> blobFirst;  // start of each blob's members
    std::int32_t blobs = 0;
    for (std::size_t k = 0; k < clipped.size(); ++k) {
        const std::int32_t root = Root(parent, static_cast<std::int32_t>(k));
        blobOf[k] = root == static_cast<std::int32_t>(k) ? blobs++ : blobOf[static_cast<std::size_t>(root)];
    }
    // Members of each blob (positions in clipped), in scan order.
    blobFirst.assign(static_cast<std::size_t>(blobs) + 1, 0);
    for (std::int32_t b : blobOf) ++blobFirst[static_cast<std::size_t>(b) + 1];
    for (std::size_t b = 1; b < blobFirst.size(); ++b) blobFirst[b] += blobFirst[b - 1];
    std::vector<std::int32_t> members(clipped.size());
    {
        std::vector<std::int32_t> fill(blobFirst.begin(), blobFirst.end() - 1);
        for (std::size_t k = 0; k < clipped.size(); ++k)
            members[static_cast<std::size_t>(fill[static_cast<std::size_t>(blobOf[k])]++)] = static_cast<std::int32_t>(k);
    }

    if (options.rimDepthFix) {
        // The clipped pixels' distances, in scan order.
        LargeArray<double> distances(clipped.size());
        for (std::size_t k = 0; k < clipped.size(); ++k)
            distances[k] = lens.Distance(depth.At(clipped[k] % w, clipped[k] / w));
        std::vector<double> light(static_cast<std::size_t>(blobs));
        std::vector<double> values;
        for (std::int32_t b = 0; b < blobs; ++b) {
            const std::int32_t* first = &members[static_cast<std::size_t>(blobFirst[static_cast<std::size_t>(b)])];
            const std::size_t count = static_cast<std::size_t>(blobFirst[static_cast<std::size_t>(b) + 1] - blobFirst[static_cast<std::size_t>(b)]);
            values.resize(count);
            for (std::size_t k = 0; k < count; ++k) values[k] = distances[static_cast<std::size_t>(first[k])];
            const std::size_t at = static_cast<std::size_t>(std::floor(kLightQuantile * static_cast<double>(count - 1)));
            std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
            light[static_cast<std::size_t>(b)] = values[at];
        }
        for (std::size_t k = 0; k < clipped.size(); ++k)
            if (distances[k] <= light[static_cast<std::size_t>(blobOf[k])] * (1.0 + kBehind))
                mask[static_cast<std::size_t>(clipped[k])] = 2;
        // Rims behind their light and near a pixel at a light take its depth.
        std::vector<std::int32_t> moved;
        for (std::size_t k = 0; k < clipped.size(); ++k) {
            const std::size_t i = static_cast<std::size_t>(clipped[k]);
            const double z = light[static_cast<std::size_t>(blobOf[k])];
            if (!(distances[k] > z * (1.0 + kBehind))) continue;
            const int x = static_cast<int>(i % w);
            const int y = static_cast<int>(i / w);
            bool near = false;
            for (int ny = std::max(y - kRimReach, 0); ny <= std::min(y + kRimReach, h - 1) && !near; ++ny)
                for (int nx = std::max(x - kRimReach, 0); nx <= std::min(x + kRimReach, w - 1) && !near; ++nx)
                    near = mask[static_cast<std::size_t>(ny) * w + nx] == 2;
            if (near) moved.push_back(static_cast<std::int32_t>(k));
        }
        for (std::int32_t k : moved) {
            const std::size_t i = static_cast<std::size_t>(clipped[static_cast<std::size_t>(k)]);
            discs[i] = static_cast<float>(lens.Diameter(light[static_cast<std::size_t>(blobOf[static_cast<std::size_t>(k)])]));
        }
    }

    std::vector<ClippedGain> gains(clipped.size());
    for (std::int32_t b = 0; b < blobs; ++b) {
        const std::size_t first = static_cast<std::size_t>(blobFirst[static_cast<std::size_t>(b)]);
        const std::size_t end = static_cast<std::size_t>(blobFirst[static_cast<std::size_t>(b) + 1]);
        double sum = 0.0;
        for (std::size_t k = first; k < end; ++k)
            sum += std::fabs(discs[static_cast<std::size_t>(clipped[static_cast<std::size_t>(members[k])])]);
        const double area = static_cast<double>(end - first);
        const float gain = static_cast<float>(BlobGain(area, sum / area, options));
        for (std::size_t k = first; k < end; ++k) {
            const std::size_t at = static_cast<std::size_t>(members[k]);
            gains[at] = {static_cast<std::uint32_t>(clipped[at]), gain};
        }
    }
    return gains;
}
