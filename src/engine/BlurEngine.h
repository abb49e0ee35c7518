#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "engine/Clock.h"
#include "engine/Rounding.h"
#include "image/FroatImage.h"

// Per-pixel record of the blur.
struct PixelBlur {
    double spread = 0.0;                  // lens footprint this pixel's light is spread with
    double reach = 0.0;                   // largest blur around the pixel; sets its gather window
    double blur = 0.0;                    // the pixel's own blur size from its depth
    const CImageFroat* kernel = nullptr;  // the kernel of spread, inside kernels
};

// Row states of the gather pass.
enum RowState : int { kRowWaiting = 0, kRowClaimed = 1, kRowDone = 2 };

// Answers of ClaimRow besides a row index.
constexpr int kNoRowWaiting = -1;
constexpr int kAllRowsDone = -2;

class CBlurEngine {
public:
    CBlurEngine() = default;
    CBlurEngine(const CBlurEngine&) = delete;
    CBlurEngine& operator=(const CBlurEngine&) = delete;

    // Setup, first pass, linking and gather pass; blocks until result is complete.
    void Run();

    // The blur size of pixel (x, y) from its depth.
    double DepthBlur(int x, int y) const;

    // The two passes, one row at a time; safe to run concurrently for different rows.
    void FirstPassRow(int y);
    void GatherRow(int y);
    void ClampPixel(int x, int y);

    // Called with rowMutex held: a waiting row (now claimed), kNoRowWaiting or kAllRowsDone.
    int ClaimRow();

    // Number of processors, at least 1.
    static int ProcessorCount();

    // What the passes found, for tests and benchmarks; valid after Run.
    double SpreadAt(int x, int y) const { return pixels[Index(x, y)].spread; }
    double ReachAt(int x, int y) const { return pixels[Index(x, y)].reach; }
    double BlurAt(int x, int y) const { return pixels[Index(x, y)].blur; }
    std::size_t KernelCount() const { return kernels.size(); }
    // The kernel made for a spread value, or null.
    const CImageFroat* KernelFor(double spread) const {
        const auto found = kernels.find(spread);
        return found == kernels.end() ? nullptr : &found->second;
    }

    // Wall time of each phase of the last Run, and the gather's work.
    struct Stats {
        double setupMs = 0.0;
        double firstPassMs = 0.0;
        double gatherMs = 0.0;
        std::uint64_t windowVisits = 0;   // neighbour positions looked at
        std::uint64_t contributions = 0;  // neighbours accumulated
        std::size_t kernelBytes = 0;      // pixels of all kernels
    };
    Stats stats;
    std::atomic<std::uint64_t> visitCount{0};
    std::atomic<std::uint64_t> contributionCount{0};

    // Inputs, filled by the driver.
    CImageFroat source;
    CImageFroat depth;
    CImageFroat lens;
    // Output: every channel within [0, 0.99999].
    CImageFroat result;

    // Options.
    double strong = 1.035;
    double blurSize = 16.0;
    double focus = 0.5;
    bool zReverse = false;
    double zNear = 0.0;
    double zFar = 1.0;
    double maxBlur = 80.0;

    // Working state.
    CImageFroat weightSum;
    CImageFroat exposure;
    std::map<double, CImageFroat> kernels;
    std::vector<PixelBlur> pixels;
    std::vector<double> distanceTable;
    std::vector<std::atomic<int>> rowStates;
    int nextRow = 0;
    std::mutex kernelMutex;
    std::mutex rowMutex;
    int kernelSize = 3;
    double largestBlur = 0.0;

    // Worker threads per pass; 0 picks one per processor (one fewer above four).
    int threadCountOverride = 0;
    int threadCount = 1;
    // The millisecond counter of the progress output; tests may replace it.
    std::uint32_t (*clock)() = MilliClock;

private:
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width) + static_cast<std::size_t>(x);
    }
    void Setup();
    void FillDistanceTable();
    void LinkKernels();
    void RunFirstPass();
    void RunGatherPass();
};
