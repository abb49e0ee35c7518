// The program's command line as a user meets it: usage, -h, and parameters
// refused before any file is read.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/SmallScene.h"
#include "support/UsageText.h"

namespace {

using e2e::SmallScene;
using testfiles::RunResult;

const std::string kUsage = kUsageText;

const std::string kDefaultLoadFailures =
    "zbuffer load failed!! _ zbuffer.tga\n"
    "image load failed!! _ image.tga\n"
    "lens load failed!! _ lens.tga\n";

TEST(CommandLine, NoArgumentsPrintsTheUsageAndExits1) {
    testfiles::TempDir dir;
    const RunResult run = testfiles::RunDof({}, dir.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, kUsage);
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(testfiles::ListDirectory(dir.Path()).empty());
}

TEST(CommandLine, HelpAloneGoesOnWithTheDefaultFiles) {
    testfiles::TempDir dir;
    RunResult run = testfiles::RunDof({"-h"}, dir.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, kUsage + kDefaultLoadFailures);

    // An argument that is no switch at all still counts as an argument.
    run = testfiles::RunDof({"hello"}, dir.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, kDefaultLoadFailures);
}

TEST(CommandLine, HelpInTheMiddleIsPrintedFirstAndTheRunSucceeds) {
    SmallScene scene;
    const RunResult run = scene.Run({"-s", "2", "-h", "-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.substr(0, kUsage.size()), kUsage);
    EXPECT_EQ(run.output.compare(kUsage.size(), 15, "Init... size = "), 0) << run.output;
    EXPECT_TRUE(testfiles::FileExists(scene.dir.File("out.tga")));
}

TEST(CommandLine, DefaultFileNamesAreUsedInTheWorkingDirectory) {
    SmallScene scene;
    scene.Write("image.tga", testfiles::ReadFile(scene.dir.File("colour.tga")));
    scene.Write("zbuffer.tga", testfiles::ReadFile(scene.dir.File("depth.tga")));
    const RunResult run = scene.Run({"-s", "2"}, /*files=*/false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(testfiles::FileExists(scene.dir.File("out.tga")));
}

struct BadParameter {
    std::vector<std::string> args;
    std::string line;  // empty: the parameters pass the check
};

TEST(CommandLine, ParametersThatLeaveTheResultUndefinedAreRefusedFirst) {
    const BadParameter cases[] = {
        {{"-s", "1e999"}, "bad parameter!! _ -s = inf\n"},
        {{"-s", "-1e999"}, "bad parameter!! _ -s = -inf\n"},
        {{"-k", "0"}, "bad parameter!! _ -k = 0\n"},
        {{"-k", "nan"}, "bad parameter!! _ -k = 0\n"},
        {{"-k", "inf"}, "bad parameter!! _ -k = 0\n"},
        {{"-k", "-1.5"}, "bad parameter!! _ -k = -1.5\n"},
        {{"-k", "1e999"}, "bad parameter!! _ -k = inf\n"},
        {{"-k", "15.02"}, "bad parameter!! _ -k = 15.02\n"},
        {{"-k", "0.0666"}, "bad parameter!! _ -k = 0.0666\n"},
        {{"-k", "abc"}, "bad parameter!! _ -k = 0\n"},
        {{"-c", "1e999"}, "bad parameter!! _ -c = inf\n"},
        {{"-n", "-1e400"}, "bad parameter!! _ -n = -inf\n"},
        {{"-f", "1e309"}, "bad parameter!! _ -f = inf\n"},
        // Only the first failure, in the order -s, -k, -c, -n, -f.
        {{"-f", "1e999", "-n", "1e999", "-c", "1e999", "-k", "0", "-s", "1e999"}, "bad parameter!! _ -s = inf\n"},
        {{"-f", "1e999", "-n", "1e999", "-c", "1e999", "-k", "0"}, "bad parameter!! _ -k = 0\n"},
        {{"-f", "1e999", "-n", "1e999", "-c", "1e999"}, "bad parameter!! _ -c = inf\n"},
        {{"-f", "1e999", "-n", "1e999"}, "bad parameter!! _ -n = inf\n"},
        // The last value counts.
        {{"-k", "0", "-k", "1.1", "-s", "1e999", "-s", "3"}, ""},
        // Values that pass unchanged, however odd.
        {{"-k", "15"}, ""},
        {{"-k", "0.0667"}, ""},
        {{"-k", "1"}, ""},
        {{"-s", "0"}, ""},
        {{"-s", "-5"}, ""},
        {{"-c", "0", "-n", "5", "-f", "-5"}, ""},
        {{"-s", "1e308", "-c", "-1e308"}, ""},
    };
    testfiles::TempDir dir;  // empty: every input is missing
    for (const BadParameter& c : cases) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        const RunResult run = testfiles::RunDof(c.args, dir.Path());
        EXPECT_EQ(run.exitCode, 1) << joined;
        // A refused parameter stops the run before any file is looked at.
        EXPECT_EQ(run.output, c.line.empty() ? kDefaultLoadFailures : c.line) << joined;
    }
}

TEST(CommandLine, ParameterCheckFollowsTheHelpText) {
    SmallScene scene;
    const RunResult run = scene.Run({"-h", "-k", "0", "-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, kUsage + "bad parameter!! _ -k = 0\n");
    EXPECT_FALSE(testfiles::FileExists(scene.dir.File("out.tga")));
}

// Long options leave every one-dash switch as it was; --help and --version
// answer and end the run at once, --threads only changes how fast it goes.
TEST(CommandLine, LongOptions) {
    SmallScene scene;
    const RunResult help = scene.Run({"--help", "-o", "out.tga"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.substr(0, kUsage.size()), kUsage);
    EXPECT_NE(help.output.find(" --threads N "), std::string::npos) << help.output;
    EXPECT_FALSE(testfiles::FileExists(scene.dir.File("out.tga")));

    const RunResult version = scene.Run({"--version"}, /*files=*/false);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.output, std::regex("dof [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.output;

    scene.Run({"-s", "3", "-o", "default.tga"});
    const testfiles::Bytes expected = testfiles::ReadFile(scene.dir.File("default.tga"));
    for (const char* threads : {"1", "3", "0"}) {
        const RunResult run = scene.Run({"-s", "3", "--threads", threads, "-o", "out.tga"});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(testfiles::ReadFile(scene.dir.File("out.tga")), expected) << threads << " threads";
    }
    for (const char* bad : {"-1", "two", "4097", ""}) {
        const RunResult run = scene.Run({"--threads", bad});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.output, std::string("bad parameter!! _ --threads = ") + bad + "\n");
    }
    // Unknown long options are skipped like unknown switches.
    EXPECT_EQ(scene.Run({"-s", "3", "--no-such-option", "-o", "out.tga"}).exitCode, 0);
}

}  // namespace
