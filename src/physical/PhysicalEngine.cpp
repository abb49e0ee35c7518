#include "physical/PhysicalEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "image/Conversions.h"
#include "physical/BackgroundFill.h"
#include "physical/BandScatter.h"
#include "physical/ColourReader.h"
#include "physical/DepthLayers.h"
#include "physical/DepthReader.h"
#include "physical/Highlights.h"
#include "physical/KernelSet.h"
#include "physical/LensShape.h"
#include "physical/SourceTable.h"
#include "physical/SrgbCurve.h"
#include "physical/ThinLens.h"
#include "platform/ParallelFor.h"

namespace {

// Shares of the reported work.
constexpr double kKernelsEnd = 0.05;
constexpr double kScatterEnd = 0.85;
constexpr double kFillEnd = 0.95;

// Band scatters, one per thread at a time.
class ScatterPool {
public:
    ScatterPool(const SourceTable& sources, const KernelSet& kernels, int bandHeight)
        : sources_(sources), kernels_(kernels), bandHeight_(bandHeight) {}
    std::unique_ptr<BandScatter> Take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                std::unique_ptr<BandScatter> scatter = std::move(free_.back());
                free_.pop_back();
                return scatter;
            }
        }
        return std::make_unique<BandScatter>(sources_, kernels_, bandHeight_);
    }
    void Give(std::unique_ptr<BandScatter> scatter) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(scatter));
    }
    // Once every band is done.
    double Steps() const {
        double steps = 0.0;
        for (const auto& scatter : free_) steps += scatter->Steps();
        return steps;
    }

private:
    const SourceTable& sources_;
    const KernelSet& kernels_;
    int bandHeight_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<BandScatter>> free_;
};

}  // namespace

double PhysicalEngine::DiameterCap(const dof::Camera& camera, int width, int height) {
    const double diagonal = std::hypot(static_cast<double>(width), static_cast<double>(height));
    return std::min(camera.maxBlur, diagonal);
}

bool PhysicalEngine::Run(const dof::ImageView& colourView, const dof::ImageView& depthView,
                         PhysicalKernelCache& lensKernels, dof::Image& output, PhysicalMonitor& monitor) {
    const int w = colourView.Width();
    const int h = colourView.Height();
    const std::size_t n = static_cast<std::size_t>(w) * h;
    const ColourReader colour(colourView);
    const ThinLens lens(params_.camera, w, DiameterCap(params_.camera, w, h));
    auto within = [&](double from, double to, int total) {
        return [&monitor, from, to, total](int done) {
            monitor.Report(from + (to - from) * (total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 1.0));
            return !monitor.Stopped();
        };
    };
    auto unwatched = [&](int) { return !monitor.Stopped(); };
    auto clock = std::chrono::steady_clock::now();
    auto lap = [&](int phase) {
        const auto now = std::chrono::steady_clock::now();
        stats_.phaseMs[phase] = std::chrono::duration<double, std::milli>(now - clock).count();
        clock = now;
    };

    // Distances and discs, held (and then the sources' keys) where the far
    // field will be, so that no more fresh memory is touched than needed.
    const DepthReader depth(depthView, params_.camera.zReverse);
    LightField far(w, h);
    float* discs = far.values.data();
    if (!ParallelFor(h, threads_, [&](int y) {
            float* out = discs + static_cast<std::size_t>(y) * w;
            double value = 0.0;
            float disc = static_cast<float>(lens.Diameter(lens.Distance(value)));
            for (int x = 0; x < w; ++x) {
                const double d = depth.At(x, y);
                if (!(d == value)) disc = static_cast<float>(lens.Diameter(lens.Distance(value = d)));  // neighbours often share a depth
                out[x] = disc;
            }
        }, unwatched))
        return false;
    const dof::HighlightRecovery mode = params_.highlights.mode;
    const bool recover = mode == dof::HighlightRecovery::kOn ||
                         (mode == dof::HighlightRecovery::kAuto && !colour.IsLinear());
    std::vector<ClippedGain> gains;
    if (recover) gains = RecoverHighlights(colour, params_.highlights, lens, depth, discs, threads_);
    if (monitor.Stopped()) return false;

    lap(0);
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, static_cast<double>(std::fabs(discs[i])));
    stats_.largestDiameter = largest;
    monitor.SetUp(largest);
    monitor.Report(0.0);

    // Each source's layer (top 8 bits) and kernel key, then the kernels of
    // every diameter step and side in use.
    const DepthLayers layers(params_.layersPerSide, largest);
    constexpr int kLayerShift = 24;
    constexpr std::uint32_t kKeyMask = (1u << kLayerShift) - 1;
    // The keys take the discs' place.
    float* keyStore = discs;
    auto keyAt = [keyStore](std::size_t i) {
        std::uint32_t key;
        std::memcpy(&key, &keyStore[i], sizeof key);
        return key;
    };
    if (!ParallelFor(h, threads_, [&](int y) {
            float disc = 0.0f;
            std::uint32_t key = KernelSet::Key(0.0, false);
            for (std::size_t i = static_cast<std::size_t>(y) * w; i < static_cast<std::size_t>(y + 1) * w; ++i) {
                if (!(discs[i] == disc)) {
                    disc = discs[i];
                    const int layer = layers.LayerOf(disc);
                    key = static_cast<std::uint32_t>(layer) << kLayerShift | KernelSet::Key(disc, layers.IsNear(layer));
                }
                std::memcpy(&keyStore[i], &key, sizeof key);
            }
        }, unwatched))
        return false;
    KernelSet kernels;
    for (std::size_t i = 0, last = ~std::size_t(0); i < n; ++i)
        if (keyAt(i) != last) kernels.Need((last = keyAt(i)) & kKeyMask);
    if (!kernels.Draw(lensKernels, threads_, within(0.0, kKernelsEnd, kernels.Needed()))) return false;
    lap(1);
    stats_.kernels = kernels.Count();
    stats_.kernelBytes = kernels.Bytes();

    // The sources in scatter order.
    const int layerCount = layers.Count();
    SourceTable sources(w, h, layerCount);
    std::vector<int> radii(static_cast<std::size_t>(h) * layerCount, 0);
    if (!ParallelFor(h, threads_, [&](int y) {
            for (std::size_t i = static_cast<std::size_t>(y) * w; i < static_cast<std::size_t>(y + 1) * w; ++i) {
                const std::uint32_t key = keyAt(i);
                const int layer = static_cast<int>(key >> kLayerShift);
                ++sources.Count(y, layer);
                int& radius = radii[static_cast<std::size_t>(y) * layerCount + layer];
                radius = std::max(radius, kernels[kernels.IdOf(key & kKeyMask)].radius);
            }
        }, unwatched))
        return false;
    for (int y = 0; y < h; ++y)
        for (int layer = 0; layer < layerCount; ++layer)
            sources.RaiseLayerRadius(layer, radii[static_cast<std::size_t>(y) * layerCount + layer]);
    sources.Allocate();
    if (!ParallelFor(h, threads_, [&](int y) {
            std::vector<float> linear(static_cast<std::size_t>(w) * 3);
            std::vector<float> levels;
            colour.LinearRow(y, linear.data());
            if (recover) {
                levels.resize(linear.size());
                colour.LevelRow(y, levels.data());
            }
            std::vector<Source*> next(static_cast<std::size_t>(layerCount));
            for (int layer = 0; layer < layerCount; ++layer)
                next[static_cast<std::size_t>(layer)] = sources.RowLayerStart(y, layer);
            // This row's clipped pixels and their blobs' gains.
            auto gain = std::lower_bound(gains.begin(), gains.end(), static_cast<std::uint32_t>(y) * w,
                                         [](const ClippedGain& g, std::uint32_t pixel) { return g.pixel < pixel; });
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                const std::uint32_t key = keyAt(i);
                const int layer = static_cast<int>(key >> kLayerShift);
                float factor[3] = {1.0f, 1.0f, 1.0f};
                if (recover) {
                    // A blob's gain where all three channels clipped, else each clipped channel's.
                    if (gain != gains.end() && gain->pixel == i) factor[0] = factor[1] = factor[2] = (gain++)->gain;
                    else PartialGains(&levels[3 * static_cast<std::size_t>(x)], params_.highlights, factor);
                }
                Source& s = *next[static_cast<std::size_t>(layer)]++;
                s.r = linear[3 * static_cast<std::size_t>(x)] * factor[0];
                s.g = linear[3 * static_cast<std::size_t>(x) + 1] * factor[1];
                s.b = linear[3 * static_cast<std::size_t>(x) + 2] * factor[2];
                s.Pack(x, kernels.IdOf(key & kKeyMask));
            }
        }, unwatched))
        return false;
    std::fill(far.values.begin(), far.values.begin() + static_cast<std::ptrdiff_t>(n), 0.0f);
    std::vector<ClippedGain>().swap(gains);
    lap(2);

    // The scatter, band by band.
    LightField near(w, h);
    {
        const int bands = (h + bandHeight_ - 1) / bandHeight_;
        ScatterPool pool(sources, kernels, bandHeight_);
        if (!ParallelFor(bands, threads_, [&](int band) {
                std::unique_ptr<BandScatter> scatter = pool.Take();
                scatter->Run(band * bandHeight_, std::min((band + 1) * bandHeight_, h), far, near);
                pool.Give(std::move(scatter));
            }, within(kKernelsEnd, kScatterEnd, bands)))
            return false;
        stats_.steps = pool.Steps();
    }

    lap(3);

    // The background, and the near field over it.
    BackgroundFill background(far, sources.TakeStorage(), threads_);
    if (!background.Prepare(within(kScatterEnd, kScatterEnd, 1))) return false;
    monitor.Report(kFillEnd);
    lap(4);
    const bool floatOut = dof::IsFloat(output.Type());
    const bool wordsOut = output.Type() == dof::SampleType::kUInt16;
    const SrgbEncoder encoder(wordsOut ? 65535 : 255);
    if (!ParallelFor(h, threads_, [&](int y) {
            std::vector<float> behind(static_cast<std::size_t>(w) * 3);
            background.Row(y, behind.data());
            const float* front = near.Row(y);
            unsigned char* out = output.Row(y);
            for (int x = 0; x < w; ++x) {
                const float* p = front + 4 * x;
                const double open = 1.0 - std::min(std::max(static_cast<double>(p[3]), 0.0), 1.0);
                double v[3];
                for (int k = 0; k < 3; ++k) v[k] = p[k] + open * behind[3 * static_cast<std::size_t>(x) + k];
                if (floatOut) {
                    const float pixel[4] = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]), 1.0f};
                    std::memcpy(out + 16 * static_cast<std::size_t>(x), pixel, sizeof pixel);
                } else if (wordsOut) {
                    const std::uint16_t pixel[4] = {static_cast<std::uint16_t>(encoder.Encode(v[0])),
                                                    static_cast<std::uint16_t>(encoder.Encode(v[1])),
                                                    static_cast<std::uint16_t>(encoder.Encode(v[2])), 65535};
                    std::memcpy(out + 8 * static_cast<std::size_t>(x), pixel, sizeof pixel);
                } else {
                    for (int k = 0; k < 3; ++k) out[4 * x + k] = static_cast<unsigned char>(encoder.Encode(v[k]));
                    out[4 * x + 3] = 255;
                }
            }
        }, within(kFillEnd, 1.0, h)))
        return false;
    lap(5);
    monitor.Report(1.0);
    // A cache shared with later runs keeps what it may.
    lensKernels.Trim(std::size_t{256} << 20);
    return true;
}
