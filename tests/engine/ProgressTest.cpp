// The program's progress lines, from the reports of a real blur, driven by a
// fake millisecond clock.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/ProgressLines.h"
#include "engine/EngineHarness.h"
#include "support/Scenes.h"

namespace {

std::atomic<std::uint32_t> fakeNow{0};
std::atomic<std::uint32_t> fakeStep{0};
std::atomic<int> fakeCalls{0};

std::uint32_t FakeClock() {
    fakeCalls++;
    return fakeNow.fetch_add(fakeStep.load()) + fakeStep.load();
}

void SetClock(std::uint32_t start, std::uint32_t step) {
    fakeNow = start;
    fakeStep = step;
    fakeCalls = 0;
}

// Runs the engine with the fake clock and returns the lines it printed.
std::vector<std::string> RunAndCapture(const BlurInput& input, int threads) {
    testing::internal::CaptureStdout();
    RunEngine(input, threads, 0, ProgressLines(FakeClock));
    const std::string output = testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    EXPECT_TRUE(output.empty() || output.back() == '\n');
    return lines;
}

const std::regex kProgressLine(R"(state\.\.\. [ \d]{2}\d%)");

}  // namespace

TEST(Progress, ClockThatJumpsPrintsAFormattedLineAtEveryPoll) {
    // Each reading is 1001 ms after the last, and the counter wraps early on.
    SetClock(0xFFFFF000u, 1001);
    // Reversed depth puts the sky at distance 0: large windows, a gather of many polls.
    BlurInput input = MakeScene(160, 90);
    input.options.zReverse = true;
    const std::vector<std::string> lines = RunAndCapture(input, 1);
    ASSERT_GE(lines.size(), 3u) << "the gather should outlast one poll";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(Init\.\.\. size = \d+\.\d{6})"))) << lines[0];
    double last = -1.0;
    for (size_t i = 1; i < lines.size(); i++) {
        ASSERT_TRUE(std::regex_match(lines[i], kProgressLine)) << lines[i];
        const double percent = std::stod(lines[i].substr(9, 3));
        EXPECT_GE(percent, last) << lines[i];
        last = percent;
    }
    EXPECT_EQ(lines.back(), "state... 100%");
    EXPECT_NE(lines[lines.size() - 2], "state... 100%");
    EXPECT_LE(static_cast<int>(lines.size()) - 2, fakeCalls.load());
}

TEST(Progress, FastGatherPrintsOnlyTheFinalLine) {
    SetClock(12345, 0);  // no time passes
    const std::vector<std::string> lines = RunAndCapture(MakeScene(61, 47), 2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Init... size = 80.000000");
    EXPECT_EQ(lines[1], "state... 100%");
}

TEST(Progress, WrapOfTheCounterDoesNotFloodTheOutput) {
    // One millisecond per reading, wrapping after three readings.
    SetClock(0xFFFFFFFDu, 1);
    const std::vector<std::string> lines = RunAndCapture(MakeScene(61, 47), 1);
    if (fakeCalls.load() > 1000) GTEST_SKIP() << "the gather took more than 1000 polls";
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "state... 100%");
}

TEST(Progress, EmptyPictureEndsAtOneHundredPercent) {
    for (const auto& size : {std::pair<int, int>{0, 7}, {7, 0}, {0, 0}}) {
        SetClock(0, 1001);
        BlurInput input = MakeScene(size.first, size.second);
        const std::vector<std::string> lines = RunAndCapture(input, 3);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "state... 100%") << size.first << "x" << size.second;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "state... 100%"), 1);
    }
}
