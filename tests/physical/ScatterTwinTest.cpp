// The banded run-length scatter against its plain twin: every source
// (edge sources repeated beyond the borders) adds its whole kernel, value by
// value, into each layer, and the layers are laid over one another with the
// same rule. Bands of any height give the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <dof/dof.h>

#include "physical/BandScatter.h"
#include "physical/DepthLayers.h"
#include "physical/KernelSet.h"
#include "physical/SourceTable.h"
#include "physical/StepStreams.h"
#include "physical/PhysicalScenes.h"

namespace {

struct SmallScene {
    int w = 37, h = 23;
    std::vector<float> discs, rgb;
};

SmallScene RandomScene(unsigned seed) {
    SmallScene s;
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float sizes[] = {0.0f, 0.6f, -1.5f, 3.0f, -6.5f, 9.0f, 14.0f, -11.0f};
    for (int i = 0; i < s.w * s.h; ++i) {
        s.discs.push_back(sizes[random() % 8]);
        for (int k = 0; k < 3; ++k) s.rgb.push_back(unit(random) * (k == 0 ? 4.0f : 1.0f));
    }
    return s;
}

struct Fields {
    LightField far, near;
};

// As the engine packs its sources.
SourceTable Pack(const SmallScene& s, const DepthLayers& layers, KernelSet& kernels, PhysicalKernelCache& lens) {
    for (float c : s.discs) kernels.Need(c, layers.IsNear(layers.LayerOf(c)));
    kernels.Draw(lens, 1, [](int) { return true; });
    SourceTable table(s.w, s.h, layers.Count());
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) ++table.Count(y, layers.LayerOf(s.discs[static_cast<std::size_t>(y * s.w + x)]));
    table.Allocate();
    for (int y = 0; y < s.h; ++y) {
        std::vector<Source*> next;
        for (int l = 0; l < layers.Count(); ++l) next.push_back(table.RowLayerStart(y, l));
        for (int x = 0; x < s.w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * s.w + x);
            const int layer = layers.LayerOf(s.discs[i]);
            const std::int32_t id = kernels.IdOf(s.discs[i], layers.IsNear(layer));
            table.RaiseLayerRadius(layer, kernels[id].radius);
            Source& source = *next[static_cast<std::size_t>(layer)]++;
            source.r = s.rgb[3 * i];
            source.g = s.rgb[3 * i + 1];
            source.b = s.rgb[3 * i + 2];
            source.Pack(x, id);
        }
    }
    return table;
}

Fields PlainScatter(const SmallScene& s, const DepthLayers& layers, const KernelSet& kernels) {
    Fields f{LightField(s.w, s.h), LightField(s.w, s.h)};
    for (int layer = 0; layer < layers.Count(); ++layer) {
        std::vector<double> sum(static_cast<std::size_t>(s.w) * s.h * 4, 0.0);
        const int reach = 2 * kernels.LargestRadius() + 2;
        for (int sy = -reach; sy < s.h + reach; ++sy)
            for (int sx = -reach; sx < s.w + reach; ++sx) {
                const int x = std::min(std::max(sx, 0), s.w - 1);
                const int y = std::min(std::max(sy, 0), s.h - 1);
                const std::size_t i = static_cast<std::size_t>(y * s.w + x);
                if (layers.LayerOf(s.discs[i]) != layer) continue;
                const DenseKernel k = ExpandRuns(kernels[kernels.IdOf(s.discs[i], layers.IsNear(layer))]);
                // Edge sources repeat only as far as their own kernel.
                if (sx < -(k.radius + 1) || sx > s.w + k.radius || sy < -k.radius || sy >= s.h + k.radius) continue;
                const double light[4] = {s.rgb[3 * i], s.rgb[3 * i + 1], s.rgb[3 * i + 2], 1.0};
                for (int dy = -k.radius; dy <= k.radius; ++dy)
                    for (int dx = -k.radius; dx <= k.radius; ++dx) {
                        const int tx = sx + dx, ty = sy + dy;
                        if (tx < 0 || tx >= s.w || ty < 0 || ty >= s.h) continue;
                        for (int c = 0; c < 4; ++c)
                            sum[(static_cast<std::size_t>(ty) * s.w + tx) * 4 + c] += k.At(dx, dy) * light[c];
                    }
            }
        LightField& field = layers.IsNear(layer) ? f.near : f.far;
        for (std::size_t p = 0; p < static_cast<std::size_t>(s.w) * s.h; ++p)
            if (sum[4 * p + 3] > 1e-9) LayOver(&field.values[4 * p], &sum[4 * p]);
    }
    return f;
}

Fields BandedScatter(const SourceTable& table, const KernelSet& kernels, int bandHeight) {
    Fields f{LightField(table.Width(), table.Height()), LightField(table.Width(), table.Height())};
    BandScatter scatter(table, kernels, bandHeight);
    for (int y0 = 0; y0 < table.Height(); y0 += bandHeight)
        scatter.Run(y0, std::min(y0 + bandHeight, table.Height()), f.far, f.near);
    return f;
}

TEST(Scatter, RunsMatchThePlainScatterAndBandsChangeNoByte) {
    const dof::Result<dof::Image> lensImage = dof::ReadImage(physicaltest::LensPath("star5"));
    ASSERT_TRUE(lensImage.Ok());
    PhysicalKernelCache lens(lensImage.value());
    for (unsigned seed : {1u, 2u}) {
        const SmallScene s = RandomScene(seed);
        double largest = 0.0;
        for (float c : s.discs) largest = std::max(largest, static_cast<double>(std::fabs(c)));
        const DepthLayers layers(3, largest);
        KernelSet kernels;
        const SourceTable table = Pack(s, layers, kernels, lens);
        const Fields plain = PlainScatter(s, layers, kernels);
        const Fields banded = BandedScatter(table, kernels, 5);
        for (std::size_t i = 0; i < plain.far.values.size(); ++i) {
            EXPECT_NEAR(banded.far.values[i], plain.far.values[i], 2e-5) << i;
            EXPECT_NEAR(banded.near.values[i], plain.near.values[i], 2e-5) << i;
        }
        for (int bandHeight : {1, 7, 64}) {
            const Fields other = BandedScatter(table, kernels, bandHeight);
            EXPECT_EQ(other.far.values, banded.far.values) << bandHeight;
            EXPECT_EQ(other.near.values, banded.near.values) << bandHeight;
        }
    }
}

TEST(Scatter, WideStepStreamsMatchTheBaselineByteForByte) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(-1.0f, 4.0f);
    std::vector<float> lights(4 * 37), a(4 * 200), b;
    for (float& v : lights) v = unit(random);
    for (float& v : a) v = unit(random);
    b = a;
    const std::vector<RunStep> steps = {{0, 0.25f}, {3, -0.0625f}, {4, 1e-3f}, {40, 7.5f}, {41, -0.33f}};
    for (int count : {2, 3, 8, 37}) {
        StreamStepsBaseline(a.data() + 40, steps.data(), steps.data() + steps.size(), lights.data(), count);
        ChooseStepStream()(b.data() + 40, steps.data(), steps.data() + steps.size(), lights.data(), count);
    }
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}

}  // namespace
