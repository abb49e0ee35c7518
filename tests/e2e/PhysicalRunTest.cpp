// The physical camera mode from the command line: chosen by its switches,
// the same picture as the library gives, parameters refused like the exact
// mode's.
#include <gtest/gtest.h>

#include <cstring>

#include <dof/dof.h>

#include "e2e/SmallScene.h"

namespace {

using e2e::SmallScene;

TEST(PhysicalRun, CameraSwitchesChooseTheModeAndItsPictureIsTheLibrarys) {
    SmallScene scene(40, 30);
    const std::vector<std::string> camera = {"--fstop", "2", "--focal-length", "35", "--focus-distance", "0.6",
                                             "-o", "out.png"};
    const testfiles::RunResult run = scene.Run(camera);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.rfind("Init... size = ", 0), 0u) << run.output;

    dof::PhysicalParams params;
    params.camera.fNumber = 2;
    params.camera.focalLength = 35;
    params.camera.focusDistance = 0.6;
    const dof::Image colour = dof::ReadImage(scene.dir.File("colour.tga")).value();
    const dof::Image depth = dof::ReadDepth(scene.dir.File("depth.tga")).value();
    const dof::Image lens = dof::ReadImage(scene.dir.File("lens.tga")).value();
    const dof::Result<dof::Image> expected = dof::BlurPhysical(colour, depth, lens, params);
    ASSERT_TRUE(expected) << expected.error().message;
    const dof::Image written = dof::ReadImage(scene.dir.File("out.png")).value();
    ASSERT_EQ(written.ByteCount(), expected.value().ByteCount());
    EXPECT_EQ(std::memcmp(written.Data(), expected.value().Data(), written.ByteCount()), 0);

    // The exact mode's bytes differ: the switches did choose the other mode.
    EXPECT_EQ(scene.Run({"-o", "exact.png"}).exitCode, 0);
    EXPECT_NE(testfiles::ReadFile(scene.dir.File("exact.png")), testfiles::ReadFile(scene.dir.File("out.png")));

    const struct {
        std::vector<std::string> args;
        std::string line;
    } refused[] = {
        {{"--focal-length", "35"}, "bad parameter!! _ --fstop = nan\n"},
        {{"--fstop", "0"}, "bad parameter!! _ --fstop = 0\n"},
        {{"--fstop", "2", "-c", "-1"}, "bad parameter!! _ -c = -1\n"},
        {{"--fstop", "2", "--focus-distance", "0"}, "bad parameter!! _ --focus-distance = 0\n"},
        {{"--fstop", "2", "--highlights", "maybe"}, "bad parameter!! _ --highlights = maybe\n"},
    };
    for (const auto& c : refused) {
        const testfiles::RunResult bad = scene.Run(c.args);
        EXPECT_EQ(bad.exitCode, 1) << c.line;
        EXPECT_EQ(bad.output, c.line);
    }
}

}  // namespace
