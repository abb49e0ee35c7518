#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/CmdLineOption.h"
#include "support/UsageText.h"

namespace {

const char* const kUsage = kUsageText;

// Parses the arguments (the program name is added) and returns the holder
// together with whatever it printed.
struct Parsed {
    CCmdLineOption options;
    std::string printed;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "dof");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    Parsed parsed;
    testing::internal::CaptureStdout();
    parsed.options.ParseArguments(static_cast<int>(args.size()), argv.data());
    parsed.printed = testing::internal::GetCapturedStdout();
    return parsed;
}

TEST(CmdLineOption, DefaultsAndNoArguments) {
    const Parsed p = Parse({});
    const CCmdLineOption& o = p.options;
    EXPECT_EQ(o.imageFile, "image.tga");
    EXPECT_EQ(o.zbufferFile, "zbuffer.tga");
    EXPECT_EQ(o.lensFile, "lens.tga");
    EXPECT_EQ(o.outputFile, "out.tga");
    EXPECT_EQ(o.blurSize, 16.0);
    EXPECT_EQ(o.strong, 1.035);
    EXPECT_EQ(o.focus, 0.5);
    EXPECT_EQ(o.zNear, 0.0);
    EXPECT_EQ(o.zFar, 1.0);
    EXPECT_FALSE(o.zReverse);
    EXPECT_EQ(o.argCount, 1);
    EXPECT_EQ(p.printed, "");
}

TEST(CmdLineOption, EverySwitchSetsItsField) {
    const Parsed p = Parse({"-i", "c.tga", "-z", "d.hdr", "-l", "l.tga", "-o", "o.tga", "-s", "4", "-k", "1.5",
                            "-c", "2.25", "-n", "-1", "-f", "30", "-r"});
    const CCmdLineOption& o = p.options;
    EXPECT_EQ(o.imageFile, "c.tga");
    EXPECT_EQ(o.zbufferFile, "d.hdr");
    EXPECT_EQ(o.lensFile, "l.tga");
    EXPECT_EQ(o.outputFile, "o.tga");
    EXPECT_EQ(o.blurSize, 4.0);
    EXPECT_EQ(o.strong, 1.5);
    EXPECT_EQ(o.focus, 2.25);
    EXPECT_EQ(o.zNear, -1.0);
    EXPECT_EQ(o.zFar, 30.0);
    EXPECT_TRUE(o.zReverse);
    EXPECT_EQ(o.argIndex, o.argCount);
    EXPECT_EQ(p.printed, "");
}

TEST(CmdLineOption, PendingSetterTakesTheNextArgumentWhateverItLooksLike) {
    // -o -r: the output becomes "-r"; zReverse is not set.
    Parsed p = Parse({"-o", "-r"});
    EXPECT_EQ(p.options.outputFile, "-r");
    EXPECT_FALSE(p.options.zReverse);

    p = Parse({"-s", "-5"});
    EXPECT_EQ(p.options.blurSize, -5.0);

    // A path beginning with a minus sign, and an empty path.
    p = Parse({"-i", "-h", "-o", ""});
    EXPECT_EQ(p.options.imageFile, "-h");
    EXPECT_EQ(p.options.outputFile, "");
    EXPECT_EQ(p.printed, "");

    // Paths are kept exactly, spaces included.
    p = Parse({"-z", " dir/My Depth.HDR "});
    EXPECT_EQ(p.options.zbufferFile, " dir/My Depth.HDR ");
}

TEST(CmdLineOption, ValueSwitchAsLastArgumentHasNoEffect) {
    Parsed p = Parse({"-s"});
    EXPECT_EQ(p.options.blurSize, 16.0);
    p = Parse({"-s", "3", "-s"});
    EXPECT_EQ(p.options.blurSize, 3.0);
    p = Parse({"-i"});
    EXPECT_EQ(p.options.imageFile, "image.tga");
}

TEST(CmdLineOption, LastValueWins) {
    Parsed p = Parse({"-i", "a.tga", "-i", "b.tga", "-s", "2", "-s", "7", "-k", "1.1", "-k", "1.2"});
    EXPECT_EQ(p.options.imageFile, "b.tga");
    EXPECT_EQ(p.options.blurSize, 7.0);
    EXPECT_EQ(p.options.strong, 1.2);
    p = Parse({"-r", "-r"});
    EXPECT_TRUE(p.options.zReverse);
}

TEST(CmdLineOption, OnlyTheSecondCharacterCounts) {
    Parsed p = Parse({"-image", "x.tga", "-zbuf", "z.tga", "-sx", "5", "-reverse", "-output", "o.tga"});
    EXPECT_EQ(p.options.imageFile, "x.tga");
    EXPECT_EQ(p.options.zbufferFile, "z.tga");
    EXPECT_EQ(p.options.blurSize, 5.0);
    EXPECT_TRUE(p.options.zReverse);
    EXPECT_EQ(p.options.outputFile, "o.tga");
}

TEST(CmdLineOption, UnknownArgumentsAreSkipped) {
    // A word, a lone minus, an empty argument, -x, and -S whose following
    // argument is then handled as a switch (here ignored, since "9" is not one).
    Parsed p = Parse({"file.tga", "-", "", "-x", "-S", "9", "-I", "other.tga", "--s", "3"});
    EXPECT_EQ(p.options.blurSize, 16.0);
    EXPECT_EQ(p.options.imageFile, "image.tga");
    EXPECT_EQ(p.printed, "");
    // After an ignored switch the next switch still works.
    p = Parse({"-x", "-s", "3"});
    EXPECT_EQ(p.options.blurSize, 3.0);
}

TEST(CmdLineOption, UsageTextByteForByte) {
    CCmdLineOption options;
    testing::internal::CaptureStdout();
    options.PrintUsage();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage);
}

TEST(CmdLineOption, HelpPrintsAtOnceAndParsingGoesOn) {
    Parsed p = Parse({"-h", "-s", "4"});
    EXPECT_EQ(p.printed, kUsage);
    EXPECT_EQ(p.options.blurSize, 4.0);

    p = Parse({"-s", "2", "-help", "-h", "-i", "a.tga"});
    EXPECT_EQ(p.printed, std::string(kUsage) + kUsage);
    EXPECT_EQ(p.options.blurSize, 2.0);
    EXPECT_EQ(p.options.imageFile, "a.tga");

    // As a value, -h is just text.
    p = Parse({"-o", "-h"});
    EXPECT_EQ(p.printed, "");
}

TEST(CmdLineOption, NumberConversionTakesTheLongestDecimalPrefix) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"2.5e1", 25.0},  {"12px", 12.0},   {"abc", 0.0},   {"-5", -5.0},     {".5", 0.5},
        {"1e", 1.0},      {"1e+", 1.0},     {"1e-2", 0.01}, {"2E2", 200.0},   {"  7", 7.0},
        {"\t-3.5", -3.5}, {"+4", 4.0},      {"5.", 5.0},    {"-.25", -0.25},  {"0x10", 0.0},
        {"nan", 0.0},     {"inf", 0.0},     {"-inf", 0.0},  {"infinity", 0.0}, {"NAN", 0.0},
        {"", 0.0},        {".", 0.0},       {"-", 0.0},     {"+.e5", 0.0},    {"e5", 0.0},
        {"1.2.3", 1.2},   {"3,5", 3.0},     {"1e2e3", 100.0}, {"- 5", 0.0},   {"0.1", 0.1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CCmdLineOption::ParseNumber(c.text), c.value) << '"' << c.text << '"';
        Parsed p = Parse({"-c", c.text});
        EXPECT_EQ(p.options.focus, c.value) << "-c \"" << c.text << '"';
    }
    // Overflow is not refused here: it reaches the driver's parameter check.
    EXPECT_EQ(CCmdLineOption::ParseNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(CCmdLineOption::ParseNumber("-1e999"), -HUGE_VAL);
}

TEST(CmdLineOption, EveryNumericSetterUsesTheSameConversion) {
    Parsed p = Parse({"-s", "0x10", "-k", "nan", "-c", "inf", "-n", "1e", "-f", " .5x"});
    EXPECT_EQ(p.options.blurSize, 0.0);
    EXPECT_EQ(p.options.strong, 0.0);
    EXPECT_EQ(p.options.focus, 0.0);
    EXPECT_EQ(p.options.zNear, 1.0);
    EXPECT_EQ(p.options.zFar, 0.5);
}

}  // namespace
