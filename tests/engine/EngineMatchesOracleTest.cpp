// The engine's output bytes must equal the literal transcription's on
// generated scenes of many shapes and option sets, with any thread count.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "engine/EngineHarness.h"
#include "oracle/LiteralBlur.h"
#include "support/Scenes.h"

namespace {

struct Variant {
    const char* name;
    std::function<void(BlurInput&)> apply;
};

const Variant kVariants[] = {
    {"Defaults", [](BlurInput&) {}},
    {"ZReverse", [](BlurInput& s) { s.options.zReverse = true; }},
    {"LargeBlur", [](BlurInput& s) { s.options.blurSize = 60.0; }},  // maxBlur 300: spreads beyond the lens size
    {"TinyBlur", [](BlurInput& s) { s.options.blurSize = 0.15; }},
    {"StrongOne", [](BlurInput& s) { s.options.strong = 1.0; }},
    {"StrongOnePointOne", [](BlurInput& s) { s.options.strong = 1.1; }},
    {"DepthValues", [](BlurInput& s) { UseDepthValues(s); }},
    {"DepthValuesReversed",
     [](BlurInput& s) {
         UseDepthValues(s);
         s.options.zReverse = true;
         s.options.focus = 0.4;
     }},
    {"FocusOnADepthByte", [](BlurInput& s) { s.options.focus = 128 / 255.0; }},  // floor pixels exactly at focus
    {"NearFarRange",
     [](BlurInput& s) {
         s.options.zNear = 1.5;
         s.options.zFar = 30.0;
         s.options.focus = 3.705;
         s.options.blurSize = 10.0;
     }},
    {"GreyBorderLens", [](BlurInput& s) { s.lens = GreyBorderLens(); }},
    {"NoBlueLens", [](BlurInput& s) { s.lens = NoBlueLens(); }},
    {"RingLens", [](BlurInput& s) { s.lens = RingLens(); }},
    {"LopsidedLens", [](BlurInput& s) { s.lens = LopsidedLens(); }},
    {"LopsidedLensAtFocus",
     [](BlurInput& s) {
         UseDepthValues(s);
         s.lens = LopsidedLens();
     }},
};

const Variant& FindVariant(const std::string& name) {
    for (const Variant& v : kVariants)
        if (name == v.name) return v;
    throw std::logic_error("no variant " + name);
}

struct Case {
    int width;
    int height;
    const Variant* variant;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    std::ostringstream name;
    name << info.param.width << "x" << info.param.height << "_" << info.param.variant->name;
    return name.str();
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    // Small and odd shapes get every variant.
    const int small[][2] = {{1, 1}, {1, 23}, {29, 1}, {37, 23}, {61, 47}};
    for (const auto& size : small)
        for (const Variant& v : kVariants) cases.push_back({size[0], size[1], &v});
    // A wider picture with the variants that change the most code paths.
    for (const char* name : {"Defaults", "DepthValues", "StrongOne", "LopsidedLensAtFocus", "ZReverse"})
        cases.push_back({160, 90, &FindVariant(name)});
    return cases;
}

// Where two outputs first differ, as a readable message.
std::string FirstDifference(const std::vector<unsigned char>& engine, const std::vector<unsigned char>& oracle, int width) {
    if (engine.size() != oracle.size()) return "sizes differ";
    for (size_t i = 0; i < engine.size(); i++) {
        if (engine[i] != oracle[i]) {
            std::ostringstream out;
            const size_t pixel = i / 4;
            out << "pixel (" << pixel % width << ", " << pixel / width << ") channel " << i % 4 << ": engine "
                << int(engine[i]) << ", oracle " << int(oracle[i]);
            return out.str();
        }
    }
    return "";
}

class EngineMatchesOracle : public testing::TestWithParam<Case> {};

TEST_P(EngineMatchesOracle, SameBytesWithAnyThreadCount) {
    const Case& c = GetParam();
    BlurInput input = MakeScene(c.width, c.height, static_cast<unsigned>(c.width * 131 + c.height));
    c.variant->apply(input);

    LiteralBlur oracle(input);
    oracle.Run();
    const std::vector<unsigned char> expected = oracle.ToBytes();

    for (const int threads : {1, 2, 3, 8}) {
        const auto engine = RunEngine(input, threads);
        const std::vector<unsigned char> bytes = engine.bytes;
        EXPECT_EQ(FirstDifference(bytes, expected, input.width), "") << threads << " threads";
        EXPECT_EQ(engine->GetStats().contributions, oracle.contributions) << threads << " threads";
        EXPECT_EQ(engine->KernelCount(), oracle.kernels.size()) << threads << " threads";
    }
    EXPECT_EQ(FirstDifference(EngineBlur(input, 2), expected, input.width), "") << "through dof::Blur";
}

INSTANTIATE_TEST_SUITE_P(Scenes, EngineMatchesOracle, testing::ValuesIn(Cases()), CaseName);

// The scenes above are only worth as much as the boundaries they reach:
// each comparison at its edge must decide somewhere in them.
TEST(GeneratedScenes, ReachEveryBoundary) {
    LiteralBlur::BoundaryHits total;
    for (const char* name : {"Defaults", "DepthValues", "FocusOnADepthByte", "NoBlueLens", "TinyBlur"}) {
        BlurInput input = MakeScene(61, 47, 61 * 131 + 47);
        FindVariant(name).apply(input);
        LiteralBlur oracle(input);
        oracle.Run();
        total.spreadEqualDepth += oracle.hits.spreadEqualDepth;
        total.gatherEqualDepth += oracle.hits.gatherEqualDepth;
        total.behindAtCentreSpread += oracle.hits.behindAtCentreSpread;
        total.reachExactlyOne += oracle.hits.reachExactlyOne;
        total.atFocusMirrored += oracle.hits.atFocusMirrored;
        total.emptyWeightChannels += oracle.hits.emptyWeightChannels;
        total.spreadWithoutContributors += oracle.hits.spreadWithoutContributors;
    }
    EXPECT_GT(total.spreadEqualDepth, 0u);
    EXPECT_GT(total.gatherEqualDepth, 0u);
    EXPECT_GT(total.behindAtCentreSpread, 0u);
    EXPECT_GT(total.reachExactlyOne, 0u);
    EXPECT_GT(total.atFocusMirrored, 0u);
    EXPECT_GT(total.emptyWeightChannels, 0u);
    EXPECT_GT(total.spreadWithoutContributors, 0u);
}

}  // namespace
