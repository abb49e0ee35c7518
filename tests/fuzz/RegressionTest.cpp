// Replays every input the fuzzers found (regressions/<target>/) and checks
// that the seed corpus decodes as its generator meant.
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "fuzz/FuzzTargets.h"
#include "fuzz/SeedCorpus.h"

namespace {

std::vector<std::string> FilesIn(const std::string& directory) {
    std::vector<std::string> paths;
    if (DIR* handle = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(handle))
            if (entry->d_name[0] != '.') paths.push_back(directory + "/" + entry->d_name);
        ::closedir(handle);
    }
    return paths;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// "target/name result" lines of regressions/expected.txt.
std::map<std::string, int> ExpectedResults(const std::string& root) {
    std::map<std::string, int> expected;
    std::ifstream file(root + "/expected.txt");
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.find(' ');
        expected[line.substr(0, space)] = std::stoi(line.substr(space + 1));
    }
    return expected;
}

TEST(FuzzRegressionTest, EveryFindingReplaysWithItsExpectedResult) {
    const std::string root = DOF_FUZZ_REGRESSIONS;
    const std::map<std::string, int> expected = ExpectedResults(root);
    int replayed = 0;
    const std::map<std::string, int (*)(const std::uint8_t*, std::size_t)> targets = {
        {"tga", [](const std::uint8_t* d, std::size_t n) { return static_cast<int>(FuzzTga(d, n)); }},
        {"rgbe", [](const std::uint8_t* d, std::size_t n) { return static_cast<int>(FuzzRgbe(d, n)); }},
        {"setup", FuzzSetup},
        {"png", [](const std::uint8_t* d, std::size_t n) { return static_cast<int>(FuzzPng(d, n)); }},
        {"tiff", [](const std::uint8_t* d, std::size_t n) { return static_cast<int>(FuzzTiff(d, n)); }},
        {"exr", [](const std::uint8_t* d, std::size_t n) { return static_cast<int>(FuzzExr(d, n)); }},
    };
    for (const auto& target : targets) {
        for (const std::string& path : FilesIn(root + "/" + target.first)) {
            const std::string name = path.substr(root.size() + 1);
            const auto bytes = ReadFile(path);
            const int result = target.second(bytes.data(), bytes.size());
            const auto found = expected.find(name);
            ASSERT_NE(found, expected.end()) << name << " has no line in expected.txt";
            EXPECT_EQ(result, found->second) << name;
            ++replayed;
        }
    }
    EXPECT_EQ(replayed, static_cast<int>(expected.size()));
}

TEST(FuzzSeedTest, TgaSeedsLoadAsMeantAndVariantsAgree) {
    std::map<int, std::vector<unsigned char>> pictures;
    for (const Seed& seed : TgaSeeds()) {
        std::vector<unsigned char> rgba;
        ASSERT_EQ(FuzzTga(seed.bytes.data(), seed.bytes.size(), &rgba), seed.expect == 1) << seed.name;
        if (seed.picture < 0) continue;
        const auto known = pictures.emplace(seed.picture, rgba);
        EXPECT_TRUE(known.first->second == rgba) << seed.name << " decodes unlike its twins";
    }
    EXPECT_GE(pictures.size(), 5u);
}

TEST(FuzzSeedTest, RgbeSeedsLoadAsMeantWithTheirValues) {
    for (const Seed& seed : RgbeSeeds()) {
        std::vector<double> means;
        ASSERT_EQ(FuzzRgbe(seed.bytes.data(), seed.bytes.size(), &means), seed.expect == 1) << seed.name;
        if (seed.picture >= 0) {
            EXPECT_EQ(means, RgbeSeedMeans(seed.picture)) << seed.name;
        }
    }
}

TEST(FuzzSeedTest, LibraryFormatSeedsDecodeAsMeant) {
    const struct {
        std::vector<Seed> seeds;
        bool (*fuzz)(const std::uint8_t*, std::size_t);
    } formats[] = {{PngSeeds(), FuzzPng}, {TiffSeeds(), FuzzTiff}, {ExrSeeds(), FuzzExr}};
    for (const auto& format : formats) {
        EXPECT_FALSE(format.seeds.empty());
        for (const Seed& seed : format.seeds)
            EXPECT_EQ(format.fuzz(seed.bytes.data(), seed.bytes.size()), seed.expect == 1) << seed.name;
    }
}

TEST(FuzzSeedTest, SetupSeedsReachEveryOutcome) {
    for (const Seed& seed : SetupSeeds())
        EXPECT_EQ(FuzzSetup(seed.bytes.data(), seed.bytes.size()), seed.expect) << seed.name;
}

}  // namespace
