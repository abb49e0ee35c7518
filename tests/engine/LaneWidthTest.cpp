// The passes run in blocks of 2, 4, 8 or 16 lanes (two registers of 8),
// picked by what the processor has; every width must give the literal
// transcription's bytes.
#include <gtest/gtest.h>

#include "engine/EngineHarness.h"
#include "platform/Lanes.h"
#include "oracle/LiteralBlur.h"
#include "support/Scenes.h"

namespace {

std::vector<unsigned char> BlurWithLanes(const BlurInput& input, int lanes, int threads) {
    return RunEngine(input, threads, lanes).bytes;
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

}  // namespace
