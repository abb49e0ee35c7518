#pragma once
// What the passes' row kernels are given: the kernels as the gather reads
// them, one target row against one source row, and the sources found in it.
#include <cstddef>
#include <cstdint>

#include "engine/RowLayout.h"

class MadeSpreadRows;

// Target rows a grey lens's gather takes at once (see GatherSourceRows),
// and groups of them whose sources are listed at once.
constexpr int kGroupRows = 2;
constexpr int kListedGroups = 2;
// The most target rows set up at once, each in a slot of its own.
constexpr int kTargetRowSlots = kGroupRows * kListedGroups;

// GatherSource's whole numbers: u, the blocks of the spans' union, each
// row's first and last target; in lanes of one vector (see RecordEnds),
// whose next lane holds the kernel's stride (a group size that leaves more
// lanes would need padding after it).
constexpr int kEndsUsed = 3 + 2 * kGroupRows;
constexpr int kEndsLanes = kEndsUsed + 1 <= 8 ? 8 : 16;
// What a kernel reaches in a group of target rows: each row's span (-1:
// none), and as offsets from u, in the order of GatherSource's whole numbers
// after u: u itself, the ends of the spans' union, each row's ends, and the
// union's span (-1 where no row is reached; not a field of the record).
constexpr int kWidestLane = kEndsUsed;
struct GroupReach {
    int offsets[kEndsLanes];
    double span[kGroupRows];
};
// The reach of rows whose spans are span[0 .. rows - 1] (the rest of span 0).
constexpr GroupReach ReachOfRows(const int (&span)[kGroupRows], int rows) {
    int widest = -1;
    for (int r = 0; r < rows; ++r) widest = span[r] > widest ? span[r] : widest;
    GroupReach g = {};
    g.offsets[1] = -widest, g.offsets[2] = widest;
    for (int r = 0; r < kGroupRows; ++r) {
        g.offsets[3 + r] = -span[r];
        g.offsets[3 + kGroupRows + r] = span[r];
        g.span[r] = static_cast<double>(span[r]);
    }
    g.offsets[kWidestLane] = widest;
    return g;
}

// One kernel as the gather reads it: for each row offset dy within reach
// and each orientation (0: behind the focus, read as stored; 1: in front,
// mirrored), one row per channel indexed by e = target x - source x, holding
// the kernel value that offset reads and 0 where the spread does not cover
// it. The rows of an orientation follow each other by dy, with kZeroRows
// rows of 0 before dy = -reach and after dy = reach: the rows of the next dy
// are always one group of channel rows away. A lens whose four channels are
// equal everywhere (a grey lens) gives kernels of one channel row each: the
// other three would repeat it.
struct KernelLanes {
    const double* values = nullptr;
    int reach = -1;       // largest |dy| with a covered offset
    int stride = 0;       // doubles per channel row
    int channels = 4;     // 4, or 1 for a grey lens
    const int* span = nullptr;  // per |dy| up to reach + kZeroRows: the largest covered |dx|, or -1
    // The reach in kGroupRows target rows whose first lies gdy rows above the
    // source row (row r at gdy - r), per gdy from -reach to reach +
    // kGroupRows - 1, element gdy + reach (none when reach < 0; other groups
    // are not reached): the listing reads it where it changes kernel, which
    // a third of its sources do (working it out there took a tenth of its time).
    const GroupReach* groups = nullptr;
    static constexpr int kZeroRows = kGroupRows - 1;
};

// The largest covered |dx| of a kernel's rows at |dy| = ady, or -1.
static inline int KernelRowSpan(const KernelLanes& k, int ady) { return ady > k.reach ? -1 : k.span[ady]; }

// Element e = 0 of the row of one channel, orientation and dy (|dy| <= reach + kZeroRows).
static inline const double* KernelLaneRow(const KernelLanes& k, int orientation, int dy, int channel) {
    const int z = KernelLanes::kZeroRows;
    const std::size_t rowIndex =
        (static_cast<std::size_t>(orientation) * static_cast<std::size_t>(2 * k.reach + 1 + 2 * z) +
         static_cast<std::size_t>(dy + k.reach + z)) * static_cast<std::size_t>(k.channels) +
        static_cast<std::size_t>(channel);
    return k.values + rowIndex * static_cast<std::size_t>(k.stride) + kRowPad + k.reach;
}

// Working space of a job, owned by the caller (the templates never
// allocate): two lists of sources, each with room for width entries.
struct BlockScratch {
    const void** active = nullptr;
    const void** survivors = nullptr;
};

// Columns start .. start + count - 1 of a row. In the first pass the
// columns of a run have the same blur and depth.
struct ColumnRun {
    std::uint16_t start;
    std::uint16_t count;
};

// The windows and depths of a block of targets (lanes of one register) at
// their narrowest. Targets past the end of the row take no part.
struct BlockBounds {
    double lowMax, highMin;  // the largest low and the smallest high
    double nearest;          // the smallest depth; -inf if one is not a number
    double farthest;         // the largest depth that is a number; -inf if none
};

// What both passes need for one target row against one source row.
struct RowJob {
    int width = 0;
    // The sources to visit, left to right: runCount runs of neighbouring
    // columns, or every pixel of the row on its own when runs is null.
    const ColumnRun* runs = nullptr;
    int runCount = 0;
    int dy = 0;                        // source row - target row
    const double* distance = nullptr;  // doubled distances of this dy, element dx
    // Padded per-target arrays, element x: the window's offset range (in
    // both axes) and the target's depth.
    const double* low = nullptr;
    const double* high = nullptr;
    const double* centreDepth = nullptr;
    // Per block of blockLanes targets, element x / blockLanes.
    const BlockBounds* bounds = nullptr;
    int blockLanes = 0;
    BlockScratch scratch;
};

// A source of a run whose blurs differ (with running sums): its depth and
// blur, and the running sums over the run's sources before it of B, 1 / B,
// k / B and k^2 / B (k: a source's place in the run), from which the J of
// any range of them at one target follow (see VaryingRunSums).
struct VaryingEntry {
    double sumB, sumInverse, sumK, sumK2;
    double depth, blur;
};
// Entries for the runs listed until a sweep takes them, each thread its own.
struct VaryingRuns {
    VaryingEntry* entries = nullptr;
    int used = 0;
    int room = 0;
};

// Columns of a row judged at once for runs whose blurs differ (see
// SpreadRowJob::smoothChunks).
constexpr int kSmoothChunk = 64;
constexpr int kNotJoined = 2;

// A source of the first pass that reaches the target row: its targets
// x0 .. x1 and its J row (element x - u), or null when J is computed per
// target (a blur without a table, or a blur <= 0) from its blur (0 with a
// J row), its row offset and that offset's doubled distances (element dx).
struct SpreadSource {
    const double* j;
    const double* distance;
    double depth;
    double blur;
    int dy;
    int u, x0, x1;
    int firstBlock, lastBlock;  // the blocks of x0 and x1
    // A run of count neighbouring sources u .. u + count - 1 with the same J
    // row and depth, each reaching span targets either side (tabulated only).
    int count, span;
    // With running sums: the bound on the error of a difference of j's (0: exact).
    double error;
    // A rectangle of sources: the same run in rows dy .. dyLast (all on one
    // side of the target row; dyLast == dy for one row). Where c is not null,
    // j and c are the column sums and counts (see SpreadTables) of its
    // farthest row and jNear and cNear those of the row before its nearest,
    // span is the nearest row's, error the columns' bound, and id its table.
    int dyLast;
    std::uint16_t id;
    // With running sums, a run of sources without a table whose blurs
    // differ (j null, count > 1) has its depths in the order depthOrder (1
    // rising, -1 falling, 0 alike so far); a source alone of depthOrder
    // kNotJoined cannot start one (its span is only a bound).
    std::int8_t depthOrder;
    // Such a run has varying: entries count + 1 (the last holds the sums over
    // the run), each source reaching span targets either side (the largest
    // |dx| with J >= 1 for every one of them); null for other records with c
    // null. It shares its place with a rectangle's jNear: the records are
    // read at every visit, and stay 104 bytes.
    union {
        const double* jNear;
        VaryingEntry* varying;
    };
    const double* c;
    const double* cNear;
};

// The first pass for one target row against one source row.
struct SpreadRowJob : RowJob {
    int half = 0;                     // kernelSize / 2
    bool anyNonPositiveBlur = false;  // a blur <= 0 can give J >= 1 anywhere
    const double* blurRow = nullptr;
    const double* depthRow = nullptr;
    const std::uint16_t* tableIds = nullptr;
    // The J tables (see SpreadTables): rows of tableRowLength doubles,
    // element 0 at tableRowCentre, one row per (id, |dy|); widths likewise.
    const double* tableValues = nullptr;
    const int* tableWidths = nullptr;
    std::size_t tableRowLength = 0;
    std::size_t tableRowCentre = 0;
    double* sums = nullptr;    // padded, element x
    double* counts = nullptr;
    // With running sums in the tables (see SpreadTables): per table row, the
    // bound on the error of a difference; per target, the sum of the bounds
    // of what it took (0: its sum is exact). Null with J values.
    const double* tableErrors = nullptr;
    double* errors = nullptr;
    // Room for sourceRoom sources (at least width), in sources and in the
    // scratch lists (the target row's own, of width, in window order); with
    // running sums, the same room of sources by block, and ends for one more
    // than the row's blocks.
    SpreadSource* sources = nullptr;
    int sourceRoom = 0;
    const SpreadSource** byBlock = nullptr;
    int* blockEnds = nullptr;
    // With column sums for the first columnTables tables (see SpreadTables;
    // per table, the bound on a difference of four): runBelow, per run of
    // runs, the rows just below the source row with the same run; a run
    // becomes a rectangle of up to rowsAfter rows more.
    const double* columnSums = nullptr;
    const double* columnCounts = nullptr;
    const double* columnErrors = nullptr;
    const int* columnReach = nullptr;  // per table, the largest |dy| with J >= 1
    int columnTables = 0;
    const std::uint16_t* runBelow = nullptr;
    int rowsAfter = 0;
    // With running sums: rows made for runs of neighbours whose blur has no
    // table, until the sweep that takes them (null: each computed alone).
    MadeSpreadRows* madeRows = nullptr;
    // With running sums: room for the runs of sources whose blurs differ
    // (null: each computed alone).
    VaryingRuns* varyingRuns = nullptr;
    // Per kSmoothChunk columns of the source row, whether its depths rise or
    // fall in long stretches (elsewhere runs whose blurs differ stay short,
    // and are not tried).
    const std::uint8_t* smoothChunks = nullptr;
};

// A source of the gather that reaches any of R (at most kGroupRows)
// neighbouring target rows: its targets, its kernel rows (channel c at
// c * stride from the first, element x - u; one channel for a grey lens), its
// exposure and depth. Its kernel rows for each next target row (one row
// offset less) lie one row offset before the last; in a row that the source
// does not reach it reads rows of 0 (see KernelLanes).
struct GatherSource {
    // The address of the first row's first channel's element for target 0
    // (element -u), kept as a number: the sweep finds a block's values with
    // one addition.
    std::uintptr_t kernelAtZero;
    double exposure[4];
    double depth;
    double reach[kGroupRows];  // span per target row: targets |x - u| <= span; -1: none
    // Whole numbers, written at once from u on (see RecordEnds).
    int u;
    int firstBlock, lastBlock;  // the blocks of its first and last targets in any row
    int rowX0[kGroupRows], rowX1[kGroupRows];  // the targets of each row
    // Doubles from one channel row of its kernel to the next (in a lane of
    // RecordEnds the listing fills otherwise: the record fits 96 bytes).
    int stride;
};
// A source's whole numbers from u to the end, in lanes (the listing finds
// them with a few operations on all of them at once).
typedef int RecordEnds __attribute__((vector_size(kEndsLanes * sizeof(int))));
static_assert(sizeof(RecordEnds) == sizeof(GatherSource) - offsetof(GatherSource, u),
              "GatherSource ends in its whole numbers and its stride");

// The gather for one target row against one source row.
struct GatherRowJob : RowJob {
    const double* spreadRow = nullptr;
    const double* depthRow = nullptr;
    const std::uint32_t* kernelIdRow = nullptr;
    const std::uint8_t* inFrontRow = nullptr;
    // The sources' exposure: the tables of sourceByteRow's bytes (colour,
    // and alpha), sourcePixelBytes (3 or 4; with 3, alpha is 255) a pixel.
    const unsigned char* sourceByteRow = nullptr;
    int sourcePixelBytes = 4;
    const double* colourExposure = nullptr;
    const double* alphaExposure = nullptr;
    const KernelLanes* kernelLanes = nullptr;  // per kernel id
    // At least the span of any source of the source row in any target row
    // (set with the source row).
    double widestSpan = 0.0;
    bool grey = false;  // the kernels have one channel: the four weights are one
    // Every source's alpha exposure is 255 and the kernels hold no value that
    // 255 times it would round far from: the alpha mean is then 255 within
    // far less than a byte's step wherever the weight is not 0, so its sum is
    // not kept (grey lens in groups of rows only).
    bool alphaOfWeight = false;
    // Padded per-target arrays, element x.
    const double* centreSpread = nullptr;
    double* sums[4] = {};
    double* weights[4] = {};
    GatherSource* sources = nullptr;  // room for width
    // The visits and contributions, counted where countWork holds.
    bool countWork = false;
    std::uint64_t visits = 0;
    std::uint64_t contributions = 0;
};

// The first pass of one target row: rows[k] is its k-th source row, top to
// bottom, each job holding the same target row's arrays.
typedef void (*SpreadRowFunction)(const SpreadRowJob* rows, int count);
typedef void (*GatherRowFunction)(GatherRowJob& job);
// groups (1 or kListedGroups) groups of kGroupRows target rows at once:
// jobs[0] (row y) holds the source row, jobs[r] is row y + r, and the first
// row of each group holds that group's sources (see GatherSourceRowGroup).
typedef void (*GatherGroupFunction)(GatherRowJob* const* jobs, int groups);
// The spreads of a target row from its running sums, in lanes (see
// RowSpreadsInLanes); returns how many targets from the first it did.
typedef int (*RowSpreadsFunction)(const double* sums, const double* errors, const double* counts, int width,
                                  double* spreads, int* open, int& openCount);

// The widest lanes this processor runs, at most maxLanes (0: no limit);
// for the first pass, with J values or with running sums in the tables.
SpreadRowFunction ChooseSpreadRow(int maxLanes, bool runningSums);
GatherRowFunction ChooseGatherRow(int maxLanes);
// kGroupRows rows of blocks of half that many lanes, for a grey lens where
// the widest lanes are two AVX-512 registers; null elsewhere.
GatherGroupFunction ChooseGatherGroup(int maxLanes);
// Null where the lanes are two (SSE2 rounds no lane up): the row's own loop
// does every target.
RowSpreadsFunction ChooseRowSpreads(int maxLanes);
