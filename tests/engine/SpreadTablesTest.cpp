// The J tables number the distinct positive blurs in the order in which they
// first appear, up to a memory budget, whatever the threads: the pixels are
// scanned in chunks at once, so values that first appear late in one chunk
// and early in the next must still be numbered by their first appearance.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/SpreadTables.h"

namespace {

const int kHalf = 4;
std::vector<double> distances[kHalf + 1];

const double* DistanceRow(int dy) {
    std::vector<double>& row = distances[dy];
    if (row.empty())
        for (int dx = -kHalf; dx <= kHalf; ++dx) row.push_back(2.0 * std::sqrt(double(dx * dx + dy * dy)));
    return row.data() + kHalf;
}

// Blurs over several chunks of pixels: a run of one value per chunk, and
// values that first appear at the end of a chunk and again in the next.
UnfilledArray<double> Blurs() {
    const std::size_t chunk = std::size_t{1} << 16;
    UnfilledArray<double> blurs(5 * chunk + 123, 3.0);
    for (std::size_t i = 0; i < blurs.size(); ++i) blurs[i] = 3.0 + static_cast<double>(i / chunk);
    blurs[chunk - 1] = 9.5;      // first seen in chunk 0, at its end
    blurs[chunk + 5] = 9.5;      // and again in chunk 1
    blurs[2 * chunk - 1] = 0.0;  // never tabulated
    blurs[2 * chunk] = std::numeric_limits<double>::quiet_NaN();
    blurs[3 * chunk + 7] = -2.0;
    blurs.back() = 11.25;        // first seen last
    return blurs;
}

std::vector<std::uint16_t> Ids(const UnfilledArray<double>& blurs, std::size_t budget, int threads) {
    SpreadTables tables;
    tables.Build(blurs, kHalf, DistanceRow, budget, threads);
    return std::vector<std::uint16_t>(tables.ids.begin(), tables.ids.end());
}

TEST(SpreadTablesTest, NumbersBlursByFirstAppearanceUpToTheBudget) {
    const UnfilledArray<double> blurs = Blurs();
    const std::size_t chunk = std::size_t{1} << 16;
    // Order of first appearance: 3, 9.5, 4, 5, 6, 7, 8, 11.25.
    const std::vector<std::uint16_t> all = Ids(blurs, std::size_t{1} << 30, 1);
    EXPECT_EQ(all[0], 0);
    EXPECT_EQ(all[chunk - 1], 1);
    EXPECT_EQ(all[chunk + 5], 1);
    EXPECT_EQ(all[chunk], 2);
    EXPECT_EQ(all[5 * chunk], 6);
    EXPECT_EQ(all.back(), 7);
    EXPECT_EQ(all[2 * chunk - 1], kNoSpreadTable);
    EXPECT_EQ(all[2 * chunk], kNoSpreadTable);
    EXPECT_EQ(all[3 * chunk + 7], kNoSpreadTable);
    EXPECT_EQ(Ids(blurs, std::size_t{1} << 30, 3), all);

    // A budget for three tables, where eight values are met: only values of
    // a thousand pixels or more get one, by first appearance: 3, 4 and 5 (not
    // 9.5, of two pixels); the rest are computed as met.
    SpreadTables sized;
    sized.Build(blurs, kHalf, DistanceRow, 0, 1);
    const std::size_t perTable = (kHalf + 1) * (sized.RowLength() * sizeof(double) + sizeof(int) + sizeof(double));
    const std::vector<std::uint16_t> three = Ids(blurs, 3 * perTable, 1);
    EXPECT_EQ(three[0], 0);
    EXPECT_EQ(three[chunk - 1], kNoSpreadTable);
    EXPECT_EQ(three[chunk], 1);
    EXPECT_EQ(three[2 * chunk + 1], 2);
    EXPECT_EQ(three[3 * chunk + 1], kNoSpreadTable);
    EXPECT_EQ(three.back(), kNoSpreadTable);
    EXPECT_EQ(Ids(blurs, 3 * perTable, 2), three);
    // With room for all eight, every value gets one.
    EXPECT_EQ(Ids(blurs, 8 * perTable, 2), all);

    // Values of too few pixels get none, whatever the chunks: 9.5 (two
    // pixels, in two chunks) and 11.25 (one); the rest keep their order.
    SpreadTables few;
    few.Build(blurs, kHalf, DistanceRow, std::size_t{1} << 30, 3, SpreadTables::Form::kValues, 0, 3);
    EXPECT_EQ(few.ids[chunk - 1], kNoSpreadTable);
    EXPECT_EQ(few.ids[chunk + 5], kNoSpreadTable);
    EXPECT_EQ(few.ids.back(), kNoSpreadTable);
    EXPECT_EQ(few.ids[0], 0);
    EXPECT_EQ(few.ids[chunk], 1);
    EXPECT_EQ(few.ids[5 * chunk], 5);
}

// The first pass's listing reads no blur of a tabulated source: it relies on
// a row whose doubled distance is at least the blur reaching nothing.
TEST(SpreadTablesTest, ABlurNotAboveTheRowDistanceReachesNoOffset) {
    const double blurs[] = {1e-300, 0.5, 1.0, 2.0, std::nextafter(2.0, 3.0), 4.0, 5.999999999999999, 6.0, 8.0, 9.0};
    UnfilledArray<double> pixels(sizeof blurs / sizeof blurs[0]);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = blurs[i];
    SpreadTables tables;
    tables.Build(pixels, kHalf, DistanceRow, std::size_t{1} << 30, 1);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        for (int ady = 0; ady <= kHalf; ++ady) {
            if (blurs[i] > 2.0 * ady) continue;
            EXPECT_EQ(tables.Width(tables.ids[i], ady), -1) << blurs[i] << " at " << ady;
        }
}

// A rectangle of offsets on one side of dy = 0 (rows k0 + 1 .. k1, columns
// a .. b) from the column sums: the J within the table's bound of their exact
// sum (exactly where the bound is 0), the count exact.
TEST(SpreadTablesTest, ColumnSumsGiveRectanglesWithinTheirBound) {
    const double blurs[] = {2.5, 3.0, 4.0, 7.3, 9.0, 1e9};
    UnfilledArray<double> pixels(sizeof blurs / sizeof blurs[0]);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = blurs[i];
    SpreadTables values, sums;
    values.Build(pixels, kHalf, DistanceRow, std::size_t{1} << 30, 1);
    sums.Build(pixels, kHalf, DistanceRow, std::size_t{1} << 30, 1, SpreadTables::Form::kRunningSums, std::size_t{1} << 30);
    ASSERT_EQ(sums.ColumnTables(), pixels.size());
    const std::size_t n = sums.RowLength(), rows = kHalf + 1;
    int exactTables = 0;
    for (std::uint16_t id = 0; id < pixels.size(); ++id) {
        const double bound = sums.ColumnErrors()[id];
        exactTables += bound == 0.0 ? 1 : 0;
        auto column = [&](const double* table, int k, int e) {
            return table[(id * rows + static_cast<std::size_t>(k)) * n + sums.RowCentre() + static_cast<std::size_t>(e)];
        };
        for (int k0 = 0; k0 < kHalf; ++k0)
            for (int k1 = k0 + 1; k1 <= kHalf; ++k1)
                for (int a = -kHalf; a <= kHalf; ++a)
                    for (int b = a; b <= kHalf; ++b) {
                        long double exact = 0.0L;
                        int count = 0;
                        for (int k = k0 + 1; k <= k1; ++k)
                            for (int e = a; e <= b; ++e) {
                                exact += values.Row(id, k)[e];
                                count += std::abs(e) <= values.Width(id, k) ? 1 : 0;
                            }
                        const double* const j = sums.ColumnSums();
                        const double* const c = sums.ColumnCounts();
                        const double rectangle =
                            (column(j, k1, b) - column(j, k0, b)) - (column(j, k1, a - 1) - column(j, k0, a - 1));
                        const double counted =
                            (column(c, k1, b) - column(c, k0, b)) - (column(c, k1, a - 1) - column(c, k0, a - 1));
                        ASSERT_LE(std::fabs(static_cast<long double>(rectangle) - exact), bound)
                            << blurs[id] << ": rows " << k0 + 1 << ".." << k1 << ", columns " << a << ".." << b;
                        ASSERT_EQ(counted, count) << blurs[id];
                    }
    }
    // Blur 2.5 reaches no row but its own: its columns hold zeros, exactly.
    EXPECT_GT(exactTables, 0);
    EXPECT_LT(exactTables, static_cast<int>(pixels.size()));
}

// A row made for a blur without a table is the table's row of that blur, its
// width and bound too, whether made afresh or found again; with the room
// full none is made.
TEST(SpreadTablesTest, MadeRowsAreTheTablesRows) {
    const double blurs[] = {3.0, 4.75, 7.0 / 3.0, 9.0, 6.5};
    UnfilledArray<double> pixels(sizeof blurs / sizeof blurs[0]);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = blurs[i];
    SpreadTables tables;
    tables.Build(pixels, kHalf, DistanceRow, std::size_t{1} << 30, 1, SpreadTables::Form::kRunningSums);
    MadeSpreadRows made;
    made.Start(kHalf);
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < pixels.size(); ++i)
            for (int ady = 0; ady <= kHalf; ++ady) {
                int width = -2;
                double error = -1.0;
                const double* row = made.Find(blurs[i], ady, DistanceRow(ady), width, error);
                ASSERT_NE(row, nullptr);
                const std::uint16_t id = tables.ids[i];
                const std::size_t tableRow = static_cast<std::size_t>(id) * (kHalf + 1) + ady;
                EXPECT_EQ(width, tables.Width(id, ady)) << blurs[i] << " at " << ady;
                EXPECT_EQ(error, tables.SumErrors()[tableRow]) << blurs[i] << " at " << ady;
                const double* table = tables.Row(id, ady);
                for (int dx = -kHalf - kRowPad; dx <= kHalf + kRowPad; ++dx)
                    ASSERT_EQ(row[dx], table[dx]) << blurs[i] << " at " << ady << ", " << dx;
            }
    // Five blurs of five row offsets: 25 rows, found again on the second
    // pass where among the last 16 made, made again otherwise.
    for (int k = 0; k < 100000; ++k) {
        int width;
        double error;
        if (made.Find(100.0 + k, 0, DistanceRow(0), width, error) == nullptr) return;
    }
    ADD_FAILURE() << "the room never filled";
}

}  // namespace
