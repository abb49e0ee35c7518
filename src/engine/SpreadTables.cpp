#include "engine/SpreadTables.h"

#include <algorithm>
#include <unordered_map>

#include "platform/ByteThresholds.h"
#include "platform/ParallelFor.h"

namespace {
// The fewest pixels of a value that gets a table where not every value can
// have one. (A 16-bit depth with a hashed fraction of a step at 1080p
// -s 56: the first pass 1,871 ms with the first values met, 1,284 with
// values of 1,000 pixels or more, the same bytes; a depth with 1,920 pixels
// a value keeps its tables.)
constexpr std::size_t kCrowdedFewestPixels = 1000;
}  // namespace

void SpreadTables::Build(const UnfilledArray<double>& blurs, int half,
                         const std::function<const double*(int)>& distanceRow, std::size_t budgetBytes, int threads,
                         Form form, std::size_t columnBytes, std::size_t fewestPixels) {
    half_ = half;
    const std::size_t rows = static_cast<std::size_t>(half + 1);
    const std::size_t perTable = rows * (RowLength() * sizeof(double) + sizeof(int) + sizeof(double));
    std::size_t limit = budgetBytes / perTable;
    if (limit > kNoSpreadTable) limit = kNoSpreadTable;

    // Distinct positive blur values by their bits, numbered in the order in
    // which they first appear: each chunk of pixels lists its own in order
    // at once (and counts their pixels), and the lists are then numbered
    // chunk after chunk, but for values of fewer than fewestPixels pixels.
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    const int chunks = static_cast<int>((blurs.size() + kChunk - 1) / kChunk);
    // work(chunk, begin, end) for every chunk of pixels begin .. end - 1, on all threads.
    auto forEachChunk = [&](auto work) {
        ParallelFor(chunks, threads, [&](int chunk) {
            const std::size_t begin = static_cast<std::size_t>(chunk) * kChunk;
            work(chunk, begin, std::min(blurs.size(), begin + kChunk));
        });
    };
    std::vector<std::vector<std::uint64_t>> firstSeen(static_cast<std::size_t>(chunks));
    std::vector<std::unordered_map<std::uint64_t, std::size_t>> pixelsOf(static_cast<std::size_t>(chunks));
    forEachChunk([&](int chunk, std::size_t begin, std::size_t end) {
        std::unordered_map<std::uint64_t, std::size_t>& pixels = pixelsOf[static_cast<std::size_t>(chunk)];
        // Neighbouring pixels mostly repeat one value: counted a run at a time.
        std::size_t runStart = begin;
        for (std::size_t i = begin; i <= end; ++i) {
            if (i > runStart && i < end && Bits(blurs[i]) == Bits(blurs[runStart])) continue;
            if (i > runStart && blurs[runStart] > 0.0) {
                const auto added = pixels.emplace(Bits(blurs[runStart]), 0);
                if (added.second) firstSeen[static_cast<std::size_t>(chunk)].push_back(added.first->first);
                added.first->second += i - runStart;
            }
            runStart = i;
        }
    });
    std::unordered_map<std::uint64_t, std::size_t> totals;
    auto count = [&] {
        if (totals.empty())
            for (const auto& pixels : pixelsOf)
                for (const auto& entry : pixels) totals[entry.first] += entry.second;
    };
    std::unordered_map<std::uint64_t, std::uint16_t> known;
    // Numbers the values of at least fewest pixels; whether some were left
    // without a table for want of room.
    auto number = [&](std::size_t fewest) {
        known.clear();
        distinct_.clear();
        if (fewest > 1) count();
        for (const std::vector<std::uint64_t>& list : firstSeen)
            for (const std::uint64_t bits : list) {
                if (fewest > 1 && totals[bits] < fewest) continue;
                if (known.count(bits) != 0) continue;
                if (distinct_.size() >= limit) return true;
                known.emplace(bits, static_cast<std::uint16_t>(distinct_.size()));
                distinct_.push_back(FromBits<double>(bits));
            }
        return false;
    };
    // Where more values than the budget holds are met (a depth of many
    // levels, as renderers write), the first ones met may be of a pixel or
    // two each, and a table read for so few sources costs more than the J it
    // spares: then only values of many pixels get one.
    if (number(fewestPixels) && fewestPixels <= 1) number(kCrowdedFewestPixels);
    someUntabled_ = false;
    for (const std::vector<std::uint64_t>& list : firstSeen)
        for (const std::uint64_t bits : list) someUntabled_ = someUntabled_ || known.count(bits) == 0;
    ids.resize(blurs.size());
    forEachChunk([&](int, std::size_t begin, std::size_t end) {
        std::uint64_t lastBits = 0;
        std::uint16_t lastId = kNoSpreadTable;
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint64_t bits = Bits(blurs[i]);
            if (i == begin || bits != lastBits) {
                const auto found = known.find(bits);
                lastId = found != known.end() ? found->second : kNoSpreadTable;
                lastBits = bits;
            }
            ids[i] = lastId;
        }
    });

    // Column sums in what the tables leave of the budget, up to columnBytes.
    const std::size_t left = budgetBytes - std::min(budgetBytes, distinct_.size() * perTable);
    columnLimit_ = std::min(left, columnBytes) / (rows * (2 * RowLength() * sizeof(double) + sizeof(int)) + sizeof(double));
    Refill(form, distanceRow, threads);
}

void SpreadTables::Refill(Form form, const std::function<const double*(int)>& distanceRow, int threads) {
    const int half = half_;
    const std::size_t rows = static_cast<std::size_t>(half + 1);
    const std::size_t tableLength = rows * RowLength();
    values_.resize(distinct_.size() * tableLength);
    widths_.assign(distinct_.size() * rows, -1);
    sumErrors_.assign(form == Form::kRunningSums ? distinct_.size() * rows : 0, 0.0);
    columnTables_ = form == Form::kRunningSums ? std::min(columnLimit_, distinct_.size()) : 0;
    columnSums_.resize(columnTables_ * tableLength);
    columnCounts_.resize(columnTables_ * tableLength);
    columnErrors_.assign(columnTables_, 0.0);
    columnReach_.assign(columnTables_, -1);
    ParallelFor(static_cast<int>(distinct_.size()), threads, [&](int table) {
        const std::size_t id = static_cast<std::size_t>(table);
        const double b = distinct_[id];
        // The columns' row 0 is zero.
        if (id < columnTables_) {
            std::fill_n(&columnSums_[id * tableLength], RowLength(), 0.0);
            std::fill_n(&columnCounts_[id * tableLength], RowLength(), 0.0);
        }
        for (int ady = 0; ady <= half; ++ady) {
            double* row = const_cast<double*>(Row(static_cast<std::uint16_t>(id), ady));
            double error = 0.0;
            widths_[id * rows + ady] = FillRow(b, distanceRow(ady), half, form, row, error);
            if (form == Form::kRunningSums) sumErrors_[id * rows + ady] = error;
        }
        if (id < columnTables_) MakeColumns(id);
    });
}

int SpreadTables::FillRow(double b, const double* distance, int half, Form form, double* row, double& error) {
    std::fill_n(row - half - kRowPad, kRowPad, 0.0);
    std::fill_n(row + half + 1, kRowPad, 0.0);
    int width = -1;
    for (int dx = -half; dx <= half; ++dx) row[dx] = AttenuatedBlur(b, distance[dx]);
    while (width + 1 <= half && row[width + 1] >= 1.0) ++width;
    // Only |dx| <= width is ever taken; zeros elsewhere let whole lanes run
    // past the ends of the span.
    for (int dx = -half; dx <= half; ++dx)
        if (dx < -width || dx > width) row[dx] = 0.0;
    error = form == Form::kRunningSums ? MakeRunningSums(row - half - kRowPad, RowLengthFor(half)) : 0.0;
    return width;
}

void MadeSpreadRows::Start(int half) {
    half_ = half;
    length_ = SpreadTables::RowLengthFor(half);
    room_ = std::max<std::size_t>(kLeastRows, kBytes / (length_ * sizeof(double)));
    if (capacity_ < room_ * length_) {
        rows_.reset(new double[room_ * length_]);
        capacity_ = room_ * length_;
    }
    made_.clear();
}

const double* MadeSpreadRows::Find(double blur, int ady, const double* distance, int& width, double& error) {
    // A blur's runs in one source row mostly come close together: the last
    // few rows are looked through, and a row made twice costs a row.
    const std::size_t looked = std::min<std::size_t>(made_.size(), kLookedThrough);
    for (std::size_t k = made_.size(); k-- > made_.size() - looked;) {
        const Made& m = made_[k];
        if (m.blur == blur && m.ady == ady) {
            width = m.width;
            error = m.error;
            return &rows_[m.at];
        }
    }
    if (made_.size() >= room_ || ady > half_) return nullptr;
    const std::size_t at = made_.size() * length_ + static_cast<std::size_t>(kRowPad + half_);
    width = SpreadTables::FillRow(blur, distance, half_, SpreadTables::Form::kRunningSums, &rows_[at], error);
    made_.push_back(Made{blur, ady, width, error, at});
    return &rows_[at];
}

// Column sums and counts of table id (see the class) from its running sums.
// An entry's error is at most the sum over its rows of their entries' (the
// difference bound of each row covers it) and of the rounding of each
// addition (at most kUnit times the entry); a difference of four entries is
// off by at most four of those and the rounding of its three subtractions,
// each at most kUnit times the largest entry. Exact where every row is.
void SpreadTables::MakeColumns(std::size_t id) {
    constexpr double kUnit = 0x1p-53;
    const std::size_t n = RowLength();
    const std::size_t rows = static_cast<std::size_t>(half_ + 1);
    const int centre = static_cast<int>(RowCentre());
    double* const sums = &columnSums_[id * rows * n];
    double* const counts = &columnCounts_[id * rows * n];
    double err = 0.0, largest = 0.0;
    bool exact = true;
    for (std::size_t k = 1; k < rows; ++k) {
        const double* const row = Row(static_cast<std::uint16_t>(id), static_cast<int>(k)) - centre;
        const int width = Width(static_cast<std::uint16_t>(id), static_cast<int>(k));
        double* const sum = sums + k * n;
        double* const count = counts + k * n;
        const double* const sumAbove = sum - n;
        const double* const countAbove = count - n;
        largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            sum[i] = sumAbove[i] + row[i];
            largest = sum[i] > largest ? sum[i] : largest;
            // The offsets up to e with J >= 1: -width .. min(e, width).
            const int e = static_cast<int>(i) - centre;
            const int taken = width < 0 || e < -width ? 0 : (e < width ? e : width) + width + 1;
            count[i] = countAbove[i] + taken;
        }
        if (width >= 0) columnReach_[id] = static_cast<int>(k);
        const double rowError = sumErrors_[id * rows + k];
        exact = exact && rowError == 0.0;
        err = err + rowError + kUnit * largest;
    }
    columnErrors_[id] = exact && largest < kExactBelow ? 0.0 : 2.0 * (4.0 * err + 3.0 * kUnit * largest);
}

// Turns the n values at row into their running sums, and returns a bound on
// the error of the difference of any two of them: each sum is rounded once,
// by at most kUnit times itself, so a sum's error is at most err, the
// difference's at most 2 err plus its own rounding (at most kUnit times the
// largest sum). Multiples of kExactStep add exactly while the sums stay below
// kExactBelow: then the bound is 0.
double SpreadTables::MakeRunningSums(double* row, std::size_t n) {
    constexpr double kUnit = 0x1p-53;
    double sum = 0.0, err = 0.0;
    bool exact = true;
    for (std::size_t i = 0; i < n; ++i) {
        exact = exact && IsExactStep(row[i]);
        sum = sum + row[i];
        err = err + kUnit * sum;
        row[i] = sum;
    }
    if (exact && sum < kExactBelow) return 0.0;
    // Twice over: the bound's own arithmetic rounds too.
    return 2.0 * (2.0 * err + kUnit * sum);
}

void SpreadTables::Clear() {
    UnfilledArray<std::uint16_t>().swap(ids);
    UnfilledArray<double>().swap(values_);
    std::vector<int>().swap(widths_);
    std::vector<double>().swap(sumErrors_);
    UnfilledArray<double>().swap(columnSums_);
    UnfilledArray<double>().swap(columnCounts_);
    std::vector<double>().swap(columnErrors_);
    std::vector<int>().swap(columnReach_);
    columnTables_ = 0;
    std::vector<double>().swap(distinct_);
}
