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
    for (const char* target : {"tga", "rgbe", "setup"}) {
        for (const std::string& path : FilesIn(root + "/" + target)) {
            const std::string name = path.substr(root.size() + 1);
            const auto bytes = ReadFile(path);
            int result;
            if (std::string(target) == "tga")
                result = FuzzTga(bytes.data(), bytes.size());
            else if (std::string(target) == "rgbe")
                result = FuzzRgbe(bytes.data(), bytes.size());
            else
                result = FuzzSetup(bytes.data(), bytes.size());
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

TEST(FuzzSeedTest, SetupSeedsReachEveryOutcome) {
    for (const Seed& seed : SetupSeeds())
        EXPECT_EQ(FuzzSetup(seed.bytes.data(), seed.bytes.size()), seed.expect) << seed.name;
}

}  // namespace
