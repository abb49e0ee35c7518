#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <dof/Blur.h>

#include "engine/ExposureBytes.h"
#include "engine/KernelCache.h"
#include "engine/RowJobs.h"
#include "engine/SpreadTables.h"
#include "image/Conversions.h"
#include "image/FroatImage.h"
#include "platform/LargeArray.h"

// What a run reports, on the thread that called Run.
class RunMonitor {
public:
    virtual ~RunMonitor() = default;
    // Once, when every pixel's blur is known.
    virtual void SetUp(double largestBlur) { (void)largestBlur; }
    // A pass begins (total rows), has done rows (about every millisecond), ends.
    virtual void PassStarted(dof::Stage pass, int total) { (void)pass, (void)total; }
    virtual void PassReport(dof::Stage pass, int done, int total) { (void)pass, (void)done, (void)total; }
    virtual void PassEnded(dof::Stage pass) { (void)pass; }
    // True to stop the run; asked with every report and between the steps.
    virtual bool Stopped() { return false; }
};

// The inputs of a run in the engine's own form (see Conversions.h).
struct EngineInputs {
    int width = 0;
    int height = 0;
    ColourBytes colour;
    UnfilledArray<double> depths;           // reversed already where asked
    std::shared_ptr<KernelCache> kernels;   // of the 256 x 256 lens; may be shared with other runs
    double largestBlur = -1.0;              // LargestBlur of the depths where known, else below 0
};

// The depth-of-field blur of one picture: construct it with the parameters,
// call Run once with the inputs, and find the result where Run was told.
//
// The passes are computed row by row, but each row is built from the pixels
// that reach it, visited in the order of the window (rows top to bottom, then
// left to right), so every sum is formed in exactly that order.
class CBlurEngine {
public:
    // threads: worker threads of the passes (at least 1). maxLanes: at most
    // this many lanes (2, 4 or 8; 0: the widest the processor runs); the
    // results are the same whatever the lanes.
    CBlurEngine(const dof::ExactParams& params, int threads, int maxLanes = 0);
    CBlurEngine(const CBlurEngine&) = delete;
    CBlurEngine& operator=(const CBlurEngine&) = delete;

    // The blur of a depth value: the blur size scaled by the distance's
    // relative offset from the focus, at least 1 and at most MaxBlur().
    double BlurOfDepth(double d) const;
    // The largest blur of any of these depths (never below 0), as Run finds it;
    // the largest of those of any parts of them is the same.
    double LargestBlur(const double* depths, std::size_t count) const;

    // Setup, first pass, linking and gather pass. Writes width x height
    // pixels of R, G, B, A bytes (rows outputStride bytes apart) to output.
    // False when the monitor stopped it; the output is then incomplete.
    bool Run(EngineInputs inputs, unsigned char* output, std::ptrdiff_t outputStride, RunMonitor& monitor);

    // What the run found, for tests and benchmarks; valid after Run.
    double LargestBlur() const { return largestBlur_; }
    int KernelSize() const { return kernelSize_; }
    // The doubled distance of every offset of the window, row by row.
    const std::vector<double>& DistanceTable() const { return distanceTable_; }
    double BlurAt(int x, int y) const { return BlurOfDepth(depths_[Index(x, y)]); }
    double SpreadAt(int x, int y) const { return spreads_[Index(x, y)]; }
    double ReachAt(int x, int y) const { return reachThirds_[Index(x, y)] / 3.0; }
    std::size_t KernelCount() const { return kernels_.size(); }
    // The kernel made for a spread value, or null.
    const CImageFroat* KernelFor(double spread) const {
        const auto found = kernels_.find(spread);
        return found == kernels_.end() ? nullptr : found->second.get();
    }
    // Wall time of each phase, and the gather's work.
    struct Stats {
        double setupMs = 0.0;
        double firstPassMs = 0.0;
        double gatherMs = 0.0;
        double rowLoopsMs = 0.0;          // of the two above, in the passes' loops over rows
        // Counted only when asked (CountWork), else 0:
        std::uint64_t windowVisits = 0;   // neighbour positions looked at
        std::uint64_t contributions = 0;  // neighbours accumulated
        std::size_t kernelBytes = 0;      // of all kernels and their layouts
        // Rows and single pixels whose spreads the running sums left open,
        // taken again in window order.
        int firstPassRowsAgain = 0;
        std::uint64_t firstPassPixelsAgain = 0;
    };
    const Stats& GetStats() const { return stats_; }
    // For tests, before Run: runningSums false makes the first pass add
    // every J in window order (as it does where running sums leave a spread
    // open); tableBytes bounds the J tables (blurs beyond it are computed);
    // with running sums, the sources of a target row's source rows are
    // listed up to sourcesAtOnce (at least a row's width) before a sweep;
    // columnBytes bounds the column sums within what the tables leave of
    // tableBytes (0: a run repeated in the rows below is taken row by row);
    // a blur of fewer than fewestPixels pixels gets no table (its J are
    // worked out where met), which mixes both kinds of neighbours (at 1, the
    // default, a thousand where the tables cannot hold every blur).
    struct FirstPassTuning {
        bool runningSums = true;
        std::size_t tableBytes = std::size_t{32} << 20;
        int sourcesAtOnce = 1 << 14;
        std::size_t columnBytes = std::size_t{32} << 20;
        std::size_t fewestPixels = 1;
    };
    void Tune(const FirstPassTuning& tuning) { tuning_ = tuning; }
    // Before Run: count the gather's visits and contributions (for the tests
    // and the benchmark; counting them takes 3 to 9 % of the gather).
    void CountWork(bool on) { countWork_ = on; }

private:
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }
    const unsigned char* ColourRow(int y) const { return colour_.pixels + static_cast<std::ptrdiff_t>(y) * colour_.rowStride; }
    // Doubled distances of row offset dy (|dy| <= kernelSize / 2), element dx,
    // with kRowPad entries to spare on either side.
    const double* DistanceRow(int dy) const {
        const int half = kernelSize_ / 2;
        return &symmetricTable_[static_cast<std::size_t>(dy + half) *
                                    static_cast<std::size_t>(2 * half + 1 + 2 * kRowPad) +
                                kRowPad + half];
    }
    // Rows 0 .. height - 1 of a step on the worker threads; false when the
    // monitor stopped it. A pass reports its progress; other steps only ask.
    bool ForEachRow(int rows, const std::function<void(int)>& work, RunMonitor& monitor, const dof::Stage* pass = nullptr);

    void Setup(double largestBlur);
    void FillExposureTables();
    void FillDistanceTable();
    bool ComputeBlursAndReaches(RunMonitor& monitor);
    bool RunFirstPass(RunMonitor& monitor);
    // Row y's spreads, with running sums or J values in the tables; false
    // when running sums leave a spread open (the row is then not done).
    bool FirstPassRow(int y, bool runningSums);
    double SpreadInWindowOrder(int x, int y, int low, int high) const;
    bool MatchRunsBelow(RunMonitor& monitor);
    bool MarkSmoothChunks(RunMonitor& monitor);
    std::size_t ChunksPerRow() const;
    void ClaimKernels(int y);
    bool LinkKernels(RunMonitor& monitor);
    void BuildKernelLanes();
    bool AlphaFollowsWeight() const;
    bool RunGatherPass(RunMonitor& monitor);
    void StartGatherRow(int y, int slot, int lanes, GatherRowJob& job, int& firstSourceRow, int& lastSourceRow);
    void SetSourceRow(GatherRowJob& job, int v) const;
    void WriteGatheredRow(int y, const GatherRowJob& job);
    void GatherRow(int y);
    void GatherRowGroup(int y, int groups);
    void GatherGroupAgainst(int y, int v, GatherRowJob* const* jobs, int groups);
    // Lists, per row, the pixels i with reachesOtherRows(i) in runs; a pixel
    // joins the run of its left neighbour when sameRun(left, i). The pixels
    // are read once and the rows' lists put together after, one after the
    // other. (engine/SourceRuns.h)
    template <class Reaches, class SameRun>
    bool ListSourceRuns(Reaches reachesOtherRows, SameRun sameRun, RunMonitor& monitor);
    void WindowsOfRow(int y, double* low, double* high, double* centreDepth, int& windowLow, int& windowHigh) const;
    void BoundBlocks(const double* low, const double* high, const double* centreDepth, int lanes,
                     std::vector<BlockBounds>& bounds) const;
    void StartTargetRow(int y, RowJob& job, int& firstSourceRow, int& lastSourceRow, int slot, int lanes);
    // Sets the source row v (for target row y) in job, with the sources to
    // visit: all of them, or only those reaching beyond their own row.
    void PickSources(RowJob& job, int y, int v, bool everyColumn) const;
    // Sets the row offset dy (source row - target row) in job, with its distances.
    void SetRowOffset(RowJob& job, int dy) const;

    // Parameters.
    const dof::ExactParams params_;
    const double maxBlur_;
    const int threads_;
    const int maxLanes_;

    // Inputs.
    int width_ = 0;
    int height_ = 0;
    ColourBytes colour_;
    UnfilledArray<double> depths_;
    std::shared_ptr<KernelCache> kernelCache_;
    unsigned char* output_ = nullptr;
    std::ptrdiff_t outputStride_ = 0;

    // Working state, one entry per pixel in row-major order.
    // Every element is written before it is read.
    UnfilledArray<double> blurs_;              // each pixel's own blur, during the first pass
    UnfilledArray<std::int32_t> reachThirds_;  // largest blur around the pixel, rounded up, times 3
    UnfilledArray<double> spreads_;            // the footprint the pixel's light is spread with
    UnfilledArray<std::uint32_t> kernelIds_;   // the pixel's kernel, in key order of kernels_
    UnfilledArray<std::uint8_t> inFront_;      // the pixel's distance is at or before the focus

    std::map<double, std::shared_ptr<const CImageFroat>> kernels_;  // one per distinct spread
    std::mutex kernelMutex_;
    std::vector<double> distanceTable_;
    int kernelSize_ = 3;
    double largestBlur_ = 0.0;
    bool hasNonPositiveBlur_ = false;
    std::uint64_t runNumber_ = 0;            // distinct for every Run in the process
    SpreadTables spreadTables_;              // J per distinct blur, during the first pass
    std::unique_ptr<ExposureBytes> colourBytes_;  // output bytes of colour means
    std::vector<double> rowMaxBlur_;         // per row, the largest blur
    std::vector<double> rowMaxSpread_;       // per row, the largest spread
    std::vector<double> symmetricTable_;     // doubled distances for offsets -K/2..K/2 in both axes
    std::vector<std::vector<int>> kernelSpans_;  // per kernel: largest covered |dx| per |dy|
    std::vector<std::vector<GroupReach>> kernelGroupReach_;  // per kernel (see KernelLanes::groups)
    UnfilledArray<double> kernelLaneValues_;  // every kernel's KernelLanes::values, one after another
    std::vector<KernelLanes> kernelLanes_;   // per kernel, as the gather reads it
    bool greyKernels_ = false;               // every kernel has four equal channels
    bool alphaOfWeight_ = false;             // see GatherRowJob::alphaOfWeight
    // Per row, the pixels that reach beyond their own row, left to right, in
    // runs of neighbours: row y's are sourceRuns_[runStart_[y] .. runEnd_[y]),
    // where the first pass's lists also end at runStart_[y + 1].
    UnfilledArray<ColumnRun> sourceRuns_;
    std::vector<std::size_t> runStart_;
    std::vector<std::size_t> runEnd_;
    // With column sums, per run: the rows just below that repeat it; per
    // row, the runs that do not repeat one above, with theirs:
    // freshRuns_[freshStart_[y] .. freshStart_[y + 1]).
    LargeArray<std::uint16_t> runBelow_;
    LargeArray<ColumnRun> freshRuns_;
    LargeArray<std::uint16_t> freshBelow_;
    std::vector<std::size_t> freshStart_;
    // Per row, per kSmoothChunk columns: whether its depths rise or fall in
    // long stretches (see MarkSmoothChunks).
    std::vector<std::uint8_t> smoothChunks_;
    int blockLanes_ = 2;                     // the lanes of the row kernels
    SpreadRowFunction spreadRow_ = nullptr;
    SpreadRowFunction spreadSumsRow_ = nullptr;
    RowSpreadsFunction rowSpreads_ = nullptr;  // null: one target at a time
    FirstPassTuning tuning_;
    bool countWork_ = false;
    GatherRowFunction gatherRow_ = nullptr;
    GatherGroupFunction gatherGroup_ = nullptr;  // kGroupRows target rows at once, or null
    double exposureTable_[256] = {};         // strong^(255 b / 255) per byte
    double alphaExposureTable_[256] = {};    // (b / 255) 255 per byte
    std::atomic<std::uint64_t> visitCount_{0};
    std::atomic<std::uint64_t> contributionCount_{0};
    std::atomic<std::uint64_t> firstPassPixelsAgain_{0};
    Stats stats_;
};
