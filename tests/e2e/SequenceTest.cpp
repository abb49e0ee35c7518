// Whole shots from the command line: a line per frame, the same bytes as
// single runs, frames already written skipped, and the frames that failed
// named at the end while the others are still written.
#include <gtest/gtest.h>

#include "e2e/SmallScene.h"

namespace {

using e2e::SmallScene;

TEST(Sequence, EachFrameAsASingleRunWithTheFailedOnesNamed) {
    SmallScene scene(30, 20);
    const testfiles::Bytes colour = testfiles::ReadFile(scene.dir.File("colour.tga"));
    const testfiles::Bytes depth = testfiles::ReadFile(scene.dir.File("depth.tga"));
    for (const char* frame : {"0001", "0002", "0004"}) {
        scene.Write(std::string("c.") + frame + ".tga", colour);
        scene.Write(std::string("d.") + frame + ".tga", depth);
    }
    const testfiles::RunResult single = scene.Run({"-s", "3", "-o", "single.tga"});
    ASSERT_EQ(single.exitCode, 0);

    const std::vector<std::string> shot = {"-i", "c.####.tga", "-z", "d.%04d.tga", "-l", "lens.tga", "-s", "3",
                                           "--frames", "1-4", "-o", "out.####.tga"};
    testfiles::RunResult run = scene.Run(shot, /*files=*/false);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.find("frame 1: ") == 0) << run.output;
    EXPECT_NE(run.output.find("frame 3: zbuffer load failed!! _ d.0003.tga; image load failed!! _ c.0003.tga\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\nfailed frames!! _ 3\n"), std::string::npos) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 5) << run.output;
    for (const char* frame : {"0001", "0002", "0004"})
        EXPECT_EQ(testfiles::ReadFile(scene.dir.File(std::string("out.") + frame + ".tga")),
                  testfiles::ReadFile(scene.dir.File("single.tga")))
            << frame;

    // Resumed: what is written is skipped.
    std::vector<std::string> resumed = shot;
    resumed.push_back("--skip-existing");
    run = scene.Run(resumed, false);
    EXPECT_NE(run.output.find("frame 2: skipped, out.0002.tga is there\n"), std::string::npos) << run.output;

    // Every frame to one file is refused before any is read.
    run = scene.Run({"--frames", "1-2", "-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "bad parameter!! _ -o = out.tga: a sequence needs a frame pattern (#### or %04d)\n");
    run = scene.Run({"--frames", "2-1", "-o", "o.#.tga"});
    EXPECT_EQ(run.output, "bad parameter!! _ --frames = 2-1\n");
}

}  // namespace
