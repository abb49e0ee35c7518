#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/Clock.h"
#include "engine/ExposureBytes.h"
#include "engine/Rounding.h"
#include "image/FroatImage.h"
#include "image/LargeArray.h"
#include "engine/RowKernels.h"
#include "lens/SpreadTables.h"

// A result channel limited to [0, 0.99999]: 1 or more becomes 0.99999, below 0
// becomes 0; NaN passes unchanged.
double ClampChannel(double v);

// Row states of the gather pass.
enum RowState : int { kRowWaiting = 0, kRowClaimed = 1, kRowDone = 2 };

// Answers of ClaimRow besides a row index.
constexpr int kNoRowWaiting = -1;
constexpr int kAllRowsDone = -2;

// The depth-of-field blur. The driver fills source, depth and lens and the
// options, calls Run once and reads result.
//
// The passes are computed row by row, but each row is built from the pixels
// that reach it, visited in the order of the window (rows top to bottom, then
// left to right), so every sum is formed in exactly that order. Run releases
// source and depth once it has taken what it needs of them.
class CBlurEngine {
public:
    CBlurEngine() = default;
    CBlurEngine(const CBlurEngine&) = delete;
    CBlurEngine& operator=(const CBlurEngine&) = delete;

    // Setup, first pass, linking and gather pass; blocks until result is complete.
    void Run();

    // The blur size of pixel (x, y) from its depth (before Run releases depth).
    double DepthBlur(int x, int y) const;
    // The depth value of a pixel (clamped like PixelAt), and the blur of a depth value.
    double DepthAt(int x, int y) const;
    double BlurOfDepth(double d) const;

    // The two passes, one row at a time; safe to run concurrently for different rows.
    void FirstPassRow(int y);
    void GatherRow(int y);
    void ClampPixel(int x, int y);

    // Called with rowMutex held: a waiting row (now claimed), kNoRowWaiting or kAllRowsDone.
    int ClaimRow();

    // Number of processors, at least 1.
    static int ProcessorCount();

    // What the passes found, for tests and benchmarks; valid after Run.
    double SpreadAt(int x, int y) const { return spreads[Index(x, y)]; }
    double ReachAt(int x, int y) const { return reachThirds[Index(x, y)] / 3.0; }
    double BlurAt(int x, int y) const;
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

    // Inputs, filled by the driver.
    CImageFroat source;
    CImageFroat depth;
    CImageFroat lens;
    // Output: every channel within [0, 0.99999].
    CImageFroat result;
    // With resultAsBytes set before Run, the output goes straight to
    // resultBytes (R, G, B, A, top row first, each channel x 256 truncated)
    // and result stays empty.
    bool resultAsBytes = false;
    LargeArray<unsigned char> resultBytes;

    // Inputs in compact form instead of source and depth (see Conversions.h).
    bool compactSource = false;
    bool compactDepth = false;
    int compactWidth = 0;
    int compactHeight = 0;

    // Options.
    double strong = 1.035;
    double blurSize = 16.0;
    double focus = 0.5;
    bool zReverse = false;
    double zNear = 0.0;
    double zFar = 1.0;
    double maxBlur = 80.0;

    // Working state, one entry per pixel in row-major order.
    CImageFroat exposure;                 // strong^(255 c) per colour channel, 255 a; only
                                          // when the source is not bytes (else from tables)
    LargeArray<double> depths;            // the depth image's r channel
    LargeArray<double> blurs;             // each pixel's own blur, during the first pass
    LargeArray<std::int32_t> reachThirds;  // largest blur around the pixel, rounded up, times 3
    LargeArray<double> spreads;           // the footprint the pixel's light is spread with
    LargeArray<std::uint32_t> kernelIds; // the pixel's kernel, in key order of kernels
    LargeArray<std::uint8_t> inFront;     // the pixel's distance is at or before the focus
    LargeArray<unsigned char> sourceBytes;  // the source as bytes, when it came from bytes

    std::map<double, CImageFroat> kernels;
    std::vector<double> distanceTable;
    std::vector<std::atomic<int>> rowStates;
    std::mutex kernelMutex;
    std::mutex rowMutex;
    int kernelSize = 3;
    double largestBlur = 0.0;

    // Worker threads per pass; 0 picks one per processor (one fewer above four).
    int threadCountOverride = 0;
    int threadCount = 1;
    // At most this many lanes in the passes (2, 4 or 8; 0: the widest the
    // processor runs). The results are the same whatever the lanes.
    int maxLanes = 0;
    // The millisecond counter of the progress output; tests may replace it.
    std::uint32_t (*clock)() = MilliClock;

private:
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }
    // Doubled distances of row offset dy (|dy| <= kernelSize / 2), element dx,
    // with kRowPad entries to spare on either side.
    const double* DistanceRow(int dy) const {
        const int half = kernelSize / 2;
        return &symmetricTable_[static_cast<std::size_t>(dy + half) * static_cast<std::size_t>(2 * half + 1 + 2 * kRowPad) +
                                kRowPad + half];
    }
    void BuildKernelLanes();
    void WindowsOfRow(int y, double* low, double* high, double* centreDepth, int& windowLow, int& windowHigh) const;
    void StartTargetRow(int y, RowJob& job, int& firstSourceRow, int& lastSourceRow);
    // Sets the source row v (for target row y) in job, with the sources to
    // visit: all of them, or only those reaching beyond their own row.
    void PickSources(RowJob& job, int y, int v, bool everyColumn) const;
    void Setup();
    void TakeSource();
    void FillExposureTables();
    void FillDistanceTable();
    void ComputeReaches();
    void ComputeExposureRow(int y);
    void ClaimKernels(int y);
    void LinkKernels();
    void RunFirstPass();
    void RunGatherPass();

    std::unique_ptr<ExposureBytes> colourBytes_;  // the gather's output bytes, with resultAsBytes
    std::uint64_t runNumber_ = 0;         // distinct for every Run in the process
    SpreadTables spreadTables_;           // J per distinct blur, during the first pass
    bool hasNonPositiveBlur_ = false;
    int firstWaiting_ = 0;  // no row below it is waiting
    int width_ = 0;
    int height_ = 0;
    bool sourceIsBytes_ = false;
    CImageFroat sourceCopy_;              // kept only when the source is not bytes / 255
    std::vector<double> rowMaxBlur_;      // per row, the largest blur
    std::vector<double> rowMaxSpread_;    // per row, the largest spread
    std::vector<double> symmetricTable_;  // doubled distances for offsets -K/2..K/2 in both axes
    std::vector<std::vector<int>> kernelSpans_;       // per kernel: largest covered |dx| per |dy|
    std::vector<std::vector<double>> kernelLaneValues_;
    std::vector<KernelLanes> kernelLanes_;            // per kernel, as the gather reads it
    // Per row, the pixels that reach beyond their own row, left to right, in
    // runs of neighbours: row y's are sourceRuns_[runStart_[y] .. runStart_[y + 1]).
    LargeArray<ColumnRun> sourceRuns_;
    std::vector<std::size_t> runStart_;
    // Lists the pixels i with reachesOtherRows(i); a pixel joins the run of
    // its left neighbour when sameRun(left, i).
    void ListSourceRuns(bool (*reachesOtherRows)(const CBlurEngine&, std::size_t),
                        bool (*sameRun)(const CBlurEngine&, std::size_t, std::size_t));
    SpreadRowFunction spreadRow_ = nullptr;
    GatherRowFunction gatherRow_ = nullptr;
    double exposureTable_[256] = {};      // strong^(255 b / 255) per byte
    double alphaExposureTable_[256] = {}; // (b / 255) 255 per byte
    std::atomic<std::uint64_t> visitCount_{0};
    std::atomic<std::uint64_t> contributionCount_{0};
};
