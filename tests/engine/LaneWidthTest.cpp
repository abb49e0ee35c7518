// The passes run in blocks of 2, 4, 8 or 16 lanes (two registers of 8),
// picked by what the processor has; every width must give the literal
// transcription's bytes, as the program runs them (the work not counted).
#include <gtest/gtest.h>

#include "engine/EngineHarness.h"
#include "platform/Lanes.h"
#include "oracle/LiteralBlur.h"
#include "support/Scenes.h"

namespace {

std::vector<unsigned char> BlurWithLanes(const BlurInput& input, int lanes, int threads) {
    return RunEngine(input, threads, lanes, nullptr, WorkCount::kSkip).bytes;
}

TEST(LaneWidth, EveryWidthTheProcessorRunsGivesTheOraclesBytes) {
    for (const int lanes : {2, 4, 8, 16}) {
        if (lanes > LanesFor(0)) continue;
        for (const auto& size : {std::pair<int, int>{61, 47}, {13, 5}, {1, 9}}) {
            BlurInput scene = MakeScene(size.first, size.second, 3);
            scene.options.blurSize = 9.0;
            const std::vector<unsigned char> expected = OracleBlur(scene);
            EXPECT_EQ(BlurWithLanes(scene, lanes, 2), expected) << lanes << " lanes, " << size.first << "x" << size.second;
            scene.options.zReverse = true;
            scene.lens = RingLens();
            EXPECT_EQ(BlurWithLanes(scene, lanes, 1), OracleBlur(scene)) << lanes << " lanes, ring lens";
        }
    }
}

// With every alpha 255 and a grey lens the grouped rows keep no alpha sum
// (its mean is 255 wherever a weight is): still the oracle's bytes, with the
// mean in exposure space and the linear one.
TEST(LaneWidth, OpaqueColourGivesTheOraclesBytes) {
    BlurInput scene = MakeScene(61, 47, 5);
    for (std::size_t i = 3; i < scene.colour.size(); i += 4) scene.colour[i] = 255;
    scene.options.blurSize = 9.0;
    for (const double strong : {1.035, 1.0}) {
        scene.options.strong = strong;
        EXPECT_EQ(BlurWithLanes(scene, LanesFor(0), 2), OracleBlur(scene)) << "strong " << strong;
    }
}

}  // namespace
