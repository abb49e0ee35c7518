// Whole runs on the realistic scenes, one per line of scenes/GOLDEN.md: the
// written file's sha256 and the "Init..." line must match the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/Sha256.h"
#include "support/TestFiles.h"

namespace {

const std::string kScenes = std::string(DOF_TEST_DATA_DIR) + "/scenes";

struct GoldenRun {
    std::string name;  // for the test's name
    std::string sha256;
    std::string initLine;
    std::vector<std::string> args;
};

// Lines of the form "<sha256>  Init... size = <x>  |  <arguments>".
std::vector<GoldenRun> ReadGoldenRuns() {
    std::ifstream in(kScenes + "/GOLDEN.md");
    const std::regex line("^\\s*([0-9a-f]{64})\\s+(Init\\.\\.\\. size = [-0-9.a-z]+)\\s+\\|\\s+(.*\\S)\\s*$");
    std::vector<GoldenRun> runs;
    std::string text;
    while (std::getline(in, text)) {
        std::smatch match;
        if (!std::regex_match(text, match, line)) continue;
        GoldenRun run;
        run.sha256 = match[1];
        run.initLine = std::string(match[2]) + "\n";
        std::istringstream words(match[3]);
        for (std::string word; words >> word;) run.args.push_back(word);
        // Named after the line number and the colour file, e.g. 3_table_color.
        std::string colour = "run";
        for (std::size_t i = 0; i + 1 < run.args.size(); ++i)
            if (run.args[i] == "-i") colour = run.args[i + 1];
        colour = std::regex_replace(std::regex_replace(colour, std::regex("\\.tga$"), ""), std::regex("[^A-Za-z0-9]"), "_");
        run.name = std::to_string(runs.size() + 1) + "_" + colour;
        runs.push_back(run);
    }
    return runs;
}

// Names the run in test output instead of dumping its bytes.
void PrintTo(const GoldenRun& run, std::ostream* out) { *out << run.name; }

class GoldenRuns : public testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenRuns, OutputAndInitLineMatch) {
    const GoldenRun& golden = GetParam();
    testfiles::TempDir out;
    std::vector<std::string> args = golden.args;
    args.insert(args.end(), {"-o", out.File("out.tga")});
    const testfiles::RunResult run = testfiles::RunDof(args, kScenes);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1), golden.initLine);
    // Then progress lines, right-aligned in three places, at most about one a
    // second and the last at 100; then the time and the output path.
    const std::regex lines(
        "Init[^\n]*\n"
        "(state\\.\\.\\. [ 0-9]{2}[0-9]%\n)*"
        "state\\.\\.\\. 100%\n"
        "([0-9]+)\\.[0-9]{3} sec\n"
        "out > [^\n]*/out\\.tga\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.output, match, lines)) << run.output;
    const long seconds = std::stol(match[2]);
    const long progressLines = static_cast<long>(std::count(run.output.begin(), run.output.end(), '%'));
    EXPECT_LE(progressLines, seconds + 2) << run.output;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(testfiles::Sha256Hex(testfiles::ReadFile(out.File("out.tga"))), golden.sha256);
}

INSTANTIATE_TEST_SUITE_P(Scenes, GoldenRuns, testing::ValuesIn(ReadGoldenRuns()),
                         [](const testing::TestParamInfo<GoldenRun>& info) { return info.param.name; });

TEST(GoldenList, HasEveryLine) { EXPECT_EQ(ReadGoldenRuns().size(), 8u); }

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(testfiles::Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = "abc";
    EXPECT_EQ(testfiles::Sha256Hex(testfiles::Bytes(abc.begin(), abc.end())),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 56 bytes: two tail blocks
    EXPECT_EQ(testfiles::Sha256Hex(testfiles::Bytes(two.begin(), two.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
