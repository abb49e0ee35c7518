// The first pass adds a run of neighbours at once from running sums of J,
// and takes again in window order the spreads that those leave open: every
// spread must be the one that adding each J in window order gives.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "api/ExactRun.h"
#include "engine/EngineHarness.h"
#include "engine/RowJobs.h"
#include "engine/SpreadBound.h"
#include "engine/SpreadKernel.h"
#include "platform/Lanes.h"
#include "support/Scenes.h"

namespace {

std::unique_ptr<CBlurEngine> RunTuned(const BlurInput& input, const CBlurEngine::FirstPassTuning& tuning, int lanes) {
    const InputViews views = ViewsOf(input);
    dof::RunOptions options;
    options.threads = 2;
    PreparedBlur prepared;
    const dof::Error error =
        PrepareExact(views.colour, views.depth, views.lens, ParamsOf(input), options, lanes, prepared);
    EXPECT_FALSE(error) << error.message;
    prepared.engine->Tune(tuning);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(input.width) * input.height * 4);
    RunMonitor monitor;
    EXPECT_TRUE(prepared.engine->Run(std::move(prepared.inputs), bytes.data(), input.width * 4, monitor));
    return std::move(prepared.engine);
}

struct Again {
    int rows = 0;
    std::uint64_t pixels = 0;
};

// Expects the spreads of running sums to be those of window order; returns
// what the running sums took again.
Again ExpectWindowOrderSpreads(const BlurInput& input, std::size_t tableBytes, int lanes, const std::string& what,
                               int sourcesAtOnce = CBlurEngine::FirstPassTuning().sourcesAtOnce,
                               std::size_t columnBytes = CBlurEngine::FirstPassTuning().columnBytes) {
    CBlurEngine::FirstPassTuning sums, plain;
    sums.tableBytes = plain.tableBytes = tableBytes;
    sums.sourcesAtOnce = sourcesAtOnce;
    sums.columnBytes = columnBytes;
    plain.runningSums = false;
    const auto fast = RunTuned(input, sums, lanes);
    const auto ordered = RunTuned(input, plain, lanes);
    for (int y = 0; y < input.height; ++y)
        for (int x = 0; x < input.width; ++x)
            if (fast->SpreadAt(x, y) != ordered->SpreadAt(x, y)) {
                ADD_FAILURE() << what << ": spread " << fast->SpreadAt(x, y) << " at (" << x << ", " << y
                              << "), in window order " << ordered->SpreadAt(x, y);
                return {};
            }
    return {fast->GetStats().firstPassRowsAgain, fast->GetStats().firstPassPixelsAgain};
}

TEST(RunningSums, GiveTheSpreadsOfWindowOrder) {
    for (const int lanes : {2, 4, 8, 16}) {
        if (lanes > LanesFor(0)) continue;
        for (const double blurSize : {-9.0, 6.0, 13.0, 30.0}) {
            BlurInput scene = MakeScene(71, 43, static_cast<unsigned>(blurSize + 40));
            scene.options.blurSize = blurSize;
            const std::string what = std::to_string(lanes) + " lanes, blur size " + std::to_string(blurSize);
            // Every blur tabulated, a few of them, none.
            for (const std::size_t tableBytes : {std::size_t{32} << 20, std::size_t{60000}, std::size_t{0}})
                ExpectWindowOrderSpreads(scene, tableBytes, lanes, what + ", tables " + std::to_string(tableBytes));
            // Swept after every source row (the room is at least a row).
            ExpectWindowOrderSpreads(scene, std::size_t{32} << 20, lanes, what + ", one row at once", 1);
            UseDepthValues(scene);
            ExpectWindowOrderSpreads(scene, std::size_t{32} << 20, lanes, what + ", depth values");
        }
    }
}

// Runs repeated row after row (plateaus of depth) are taken as rectangles
// from column sums: in blocks whose windows hold them or row by row where
// they do not (near the picture's edges and where the reach changes), for
// tables with columns and without.
TEST(RunningSums, RepeatedRunsGiveTheSpreadsOfWindowOrder) {
    for (const int lanes : {2, 8, 16}) {
        if (lanes > LanesFor(0)) continue;
        for (const double blurSize : {6.0, 13.0, 30.0}) {
            BlurInput scene = MakeScene(90, 61, 7);
            for (int y = 0; y < scene.height; ++y)
                for (int x = 0; x < scene.width; ++x) {
                    const unsigned char d = static_cast<unsigned char>(20 + 45 * ((x / 9 + y / 13 + (x > 60 ? y : 0)) % 5));
                    for (int c = 0; c < 3; ++c) scene.depthBytes[(static_cast<std::size_t>(y) * scene.width + x) * 4 + c] = d;
                }
            scene.options.blurSize = blurSize;
            const std::string what = std::to_string(lanes) + " lanes, plateaus, blur size " + std::to_string(blurSize);
            for (const std::size_t columnBytes : {std::size_t{32} << 20, std::size_t{40000}, std::size_t{0}})
                ExpectWindowOrderSpreads(scene, std::size_t{32} << 20, lanes, what + ", columns " + std::to_string(columnBytes),
                                         CBlurEngine::FirstPassTuning().sourcesAtOnce, columnBytes);
        }
    }
}

// A ground plane gives every row a depth and a blur of its own, more than
// the tables hold: each row's run then takes its J from a row of running
// sums made for it (here with a stretch of another depth in some rows, so
// that runs end inside rows and some blurs recur).
TEST(RunningSums, RunsOfBlursWithoutATableGiveTheSpreadsOfWindowOrder) {
    for (const int lanes : {2, 8, 16}) {
        if (lanes > LanesFor(0)) continue;
        BlurInput scene = MakeScene(83, 57, 5);
        for (int y = 0; y < scene.height; ++y)
            for (int x = 0; x < scene.width; ++x) {
                const bool post = x >= 30 && x < 41 && y % 3 != 0;
                const unsigned char d = static_cast<unsigned char>(post ? 200 : 10 + 4 * y);
                for (int c = 0; c < 3; ++c) scene.depthBytes[(static_cast<std::size_t>(y) * scene.width + x) * 4 + c] = d;
            }
        for (const double blurSize : {9.0, 25.0}) {
            scene.options.blurSize = blurSize;
            const std::string what = std::to_string(lanes) + " lanes, ground plane, blur size " + std::to_string(blurSize);
            for (const std::size_t tableBytes : {std::size_t{60000}, std::size_t{0}})
                ExpectWindowOrderSpreads(scene, tableBytes, lanes, what + ", tables " + std::to_string(tableBytes));
        }
    }
}

// A surface tilted across the picture gives every pixel a blur and a depth
// of its own: neighbours of a row whose blurs differ but reach as far, with
// depths rising or falling, add their J at once from running sums of their
// blurs, each target taking those not behind it. Tilted both ways here,
// across the focus, with a ridge (depths rising, then falling) and an edge
// of another depth.
TEST(RunningSums, RunsOfBlursThatDifferGiveTheSpreadsOfWindowOrder) {
    BlurInput scene = MakeScene(97, 61, 9);
    scene.depthIsValues = true;
    scene.depthBytes.clear();
    scene.depthValues.resize(static_cast<std::size_t>(scene.width) * scene.height);
    for (int y = 0; y < scene.height; ++y)
        for (int x = 0; x < scene.width; ++x) {
            double d = 0.1 + 0.006 * (x < 70 ? x : 140 - x) + 0.005 * y;
            if (y > 40 && x >= 20 && x < 30) d = 0.95;
            scene.depthValues[static_cast<std::size_t>(y) * scene.width + x] = d;
        }
    for (const int lanes : {2, 4, 8, 16}) {
        if (lanes > LanesFor(0)) continue;
        for (const double blurSize : {9.0, 25.0}) {
            scene.options.blurSize = blurSize;
            const std::string what = std::to_string(lanes) + " lanes, tilted, blur size " + std::to_string(blurSize);
            for (const std::size_t tableBytes : {std::size_t{60000}, std::size_t{0}})
                ExpectWindowOrderSpreads(scene, tableBytes, lanes, what + ", tables " + std::to_string(tableBytes));
        }
    }
}

// A neighbour listed alone with a bound on its span (its depths turn too
// often for runs) must not start a run, even where the bound is the next
// neighbour's exact span: the run would count it that far.
TEST(RunningSums, ARunStartsOnlyWithAnExactSpan) {
    const int width = 128, half = 40;
    std::vector<double> distances(2 * half + 1), blurs(width, 0.0), depths(width);
    for (int dx = -half; dx <= half; ++dx) distances[static_cast<std::size_t>(dx + half)] = 2.0 * std::abs(dx);
    // 63: blur 20.5, J >= 1 to 9 columns, bounded by 11; 64 ..: about 23.5, to 11.
    blurs[63] = 20.5;
    for (int x = 64; x < width; ++x) blurs[x] = 23.5 + 0.001 * (x - 64);
    for (int x = 0; x < width; ++x) depths[x] = 0.001 * x;
    depths[63] = depths[64];
    const std::vector<std::uint16_t> ids(width, kNoSpreadTable);
    const std::uint8_t smooth[2] = {0, 1};
    std::vector<VaryingEntry> entries(4 * width);
    VaryingRuns runs;
    runs.entries = entries.data();
    runs.room = static_cast<int>(entries.size());
    SpreadRowJob job;
    job.width = width;
    job.half = half;
    job.distance = &distances[half];
    job.blurRow = blurs.data();
    job.depthRow = depths.data();
    job.tableIds = ids.data();
    job.varyingRuns = &runs;
    job.smoothChunks = smooth;
    std::vector<SpreadSource> found(width);
    ASSERT_EQ(ListSpreadSources<LanesSse2>(job, found.data()), 2);
    EXPECT_EQ(found[0].u, 63);
    EXPECT_EQ(found[0].count, 1);
    EXPECT_EQ(found[0].varying, nullptr);
    EXPECT_EQ(found[1].u, 64);
    EXPECT_EQ(found[1].count, 64);
    EXPECT_EQ(found[1].span, 11);
    ASSERT_NE(found[1].varying, nullptr);
    EXPECT_EQ(found[1].depthOrder, 1);
}

// The widest offset with J >= 1, found from B^2 - B - 4 dy^2 away from the
// edge, is the one J itself gives, offset by offset.
TEST(RunningSums, SpanOfJIsTheLastOffsetWhereJCounts) {
    std::mt19937 random(5);
    const int half = 200;
    std::vector<double> distances(2 * half + 1);
    for (int trial = 0; trial < 20000; ++trial) {
        const int ady = static_cast<int>(random() % 120);
        for (int dx = -half; dx <= half; ++dx)
            distances[static_cast<std::size_t>(dx + half)] = 2.0 * std::sqrt(static_cast<double>(dx * dx + ady * ady));
        const double* const row = &distances[half];
        // Blurs on and near the edges of whole offsets, and anywhere.
        const int edge = static_cast<int>(random() % 150);
        const double exact = 0.5 + std::sqrt(0.25 + 4.0 * (edge * edge + ady * ady));  // B^2 - B = 4 (dx^2 + dy^2)
        const double b = trial % 2 == 0 ? std::nextafter(exact, trial % 4 == 0 ? 0.0 : 1e9)
                                        : 2.0 * ady + 1e-3 + static_cast<double>(random() % 100000) / 300.0;
        if (!(b > 2.0 * ady)) continue;
        int literal = half;
        while (literal >= 0 && !(AttenuatedBlur(b, row[literal]) >= 1.0)) --literal;
        // With no guess, a right one and a wrong one.
        for (const int guess : {-1, literal, literal + 1})
            ASSERT_EQ(SpanOfJ(b, ady, row, half, guess), literal) << "blur " << b << ", dy " << ady << ", guess " << guess;
    }
}

// A rectangle's difference of column sums where no J counts for a target
// may round a little away from 0: it must add nothing there. (In this scene,
// at 16 lanes with some blurs computed, it once put a mean of 28 just above
// the third and gave 28 1/3.)
TEST(RunningSums, RectanglesAddNothingWhereNoJCounts) {
    const BlurInput scene = MakeScene(61, 47, 61 * 131 + 47);
    for (const int lanes : {8, 16}) {
        if (lanes > LanesFor(0)) continue;
        CBlurEngine::FirstPassTuning sums, plain;
        sums.fewestPixels = plain.fewestPixels = 64;
        plain.runningSums = false;
        const auto fast = RunTuned(scene, sums, lanes);
        const auto ordered = RunTuned(scene, plain, lanes);
        for (int y = 0; y < scene.height; ++y)
            for (int x = 0; x < scene.width; ++x)
                ASSERT_EQ(fast->SpreadAt(x, y), ordered->SpreadAt(x, y)) << lanes << " lanes, (" << x << ", " << y << ")";
    }
}

// The lanes' spreads of a row against SpreadWithinBound target by target:
// nothing counted, exact sums, sums past the exact range, bounds from a few
// units in the last place to wide, means on a third and just off one (so
// that some spreads stay open), and a width that leaves part of a block.
TEST(RunningSums, RowSpreadsInLanesMatchOneTargetAtATime) {
    for (const int lanes : {4, 8}) {
        const RowSpreadsFunction inLanes = ChooseRowSpreads(lanes);
        if (lanes > LanesFor(0) || inLanes == nullptr) continue;
        std::mt19937 random(static_cast<unsigned>(lanes));
        const int width = 1003;
        std::vector<double> sums(width), errors(width), counts(width), spreads(width, -1.0);
        std::vector<int> open(width, -1);
        for (int x = 0; x < width; ++x) {
            const int count = static_cast<int>(random() % 50);
            const double third = static_cast<double>(3 + random() % 300) / 3.0;
            const double nudge = std::ldexp(static_cast<double>(random() % 7) - 3.0, -40);
            counts[x] = count;
            sums[x] = (third + nudge) * count * (x % 11 == 0 ? 0x1p28 : 1.0);
            errors[x] = x % 3 == 0 ? 0.0 : std::ldexp(sums[x], -static_cast<int>(10 + random() % 44));
        }
        int openCount = 0;
        const int done =
            inLanes(sums.data(), errors.data(), counts.data(), width, spreads.data(), open.data(), openCount);
        EXPECT_EQ(done, width - width % lanes);
        std::vector<int> expectedOpen;
        for (int x = 0; x < done; ++x) {
            const int count = static_cast<int>(counts[x]);
            double spread = 1.0;
            if (count > 0 && !SpreadWithinBound(sums[x], errors[x], count, spread)) expectedOpen.push_back(x);
            ASSERT_EQ(spreads[x], spread) << lanes << " lanes, target " << x;
        }
        EXPECT_EQ(std::vector<int>(open.begin(), open.begin() + openCount), expectedOpen) << lanes << " lanes";
        EXPECT_GT(expectedOpen.size(), 10u);
    }
}

TEST(RunningSums, SpreadsOnAThirdAreTakenAgain) {
    // Blur 4 everywhere: an inner pixel's mean is 24 / 9 but for the rounding
    // of the four diagonal J, which running sums cannot tell apart; each such
    // row is taken again, with J from tables or computed.
    BlurInput flat = MakeFlatScene(40, 30, 255);
    flat.options.blurSize = 8.0;
    for (const std::size_t tableBytes : {std::size_t{32} << 20, std::size_t{0}})
        EXPECT_GT(ExpectWindowOrderSpreads(flat, tableBytes, 0, "blur 4, tables " + std::to_string(tableBytes)).rows, 0);

    // The same within a scene: a few open pixels, taken again one at a time.
    BlurInput scene = MakeScene(600, 40, 3);
    for (int y = 10; y < 14; ++y)
        for (int x = 250; x < 254; ++x) scene.depthBytes[(static_cast<std::size_t>(y) * 600 + x) * 4] = 255;
    scene.options.blurSize = 8.0;
    const Again sceneAgain = ExpectWindowOrderSpreads(scene, std::size_t{32} << 20, 0, "a patch of blur 4");
    EXPECT_GT(sceneAgain.pixels, 0u);

    // In focus, every J is 1: the sums are exact and nothing is taken again.
    BlurInput sharp = MakeFlatScene(40, 30, 128);
    const Again sharpAgain = ExpectWindowOrderSpreads(sharp, std::size_t{32} << 20, 0, "in focus");
    EXPECT_EQ(sharpAgain.rows, 0);
    EXPECT_EQ(sharpAgain.pixels, 0u);
}

TEST(SpreadWithinBound, DecidesOnlyWhereTheWholeBoundGivesOneSpread) {
    double spread = 0.0;
    EXPECT_TRUE(SpreadWithinBound(24.0, 0.0, 9, spread));  // exact: on the third
    EXPECT_EQ(spread, 8.0 / 3.0);
    EXPECT_FALSE(SpreadWithinBound(24.0, 1e-12, 9, spread));
    EXPECT_FALSE(SpreadWithinBound(24.0 - 1e-14, 1e-18, 9, spread));  // the ordered sum may round past it
    EXPECT_TRUE(SpreadWithinBound(24.1, 1e-9, 9, spread));
    EXPECT_EQ(spread, 3.0);
}

}  // namespace
