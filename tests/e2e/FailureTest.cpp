// Every way a run can fail, with its exact line and exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/SmallScene.h"

namespace {

using e2e::FlatDepth;
using e2e::FlatRgbe;
using e2e::Layout;
using e2e::SmallScene;
using testfiles::Bytes;
using testfiles::Picture;
using testfiles::RunResult;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(LoadFailure, MissingFilesAreReportedInTheOrderDepthColourLens) {
    SmallScene scene;
    RunResult run = scene.Run({"-i", "no_colour.tga", "-z", "no depth.hdr", "-l", "sub/no_lens.tga"}, false);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output,
              "zbuffer load failed!! _ no depth.hdr\n"
              "image load failed!! _ no_colour.tga\n"
              "lens load failed!! _ sub/no_lens.tga\n");

    // Each input alone.
    run = scene.Run({"-l", "missing.tga"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "lens load failed!! _ missing.tga\n");
    run = scene.Run({"-i", "missing.tga"});
    EXPECT_EQ(run.output, "image load failed!! _ missing.tga\n");
    run = scene.Run({"-z", "missing.tga"});
    EXPECT_EQ(run.output, "zbuffer load failed!! _ missing.tga\n");
    // Failures of depth and lens together, with the colour fine.
    run = scene.Run({"-z", "a", "-l", "b"});
    EXPECT_EQ(run.output, "zbuffer load failed!! _ a\nlens load failed!! _ b\n");
}

TEST(LoadFailure, UnreadableContentIsALoadFailure) {
    SmallScene scene;
    // A 16-bit TGA, an empty file, a directory, truncated files of each format.
    Bytes sixteen = testfiles::MakeTga(Picture::Pattern(8, 6, 1), Layout(24));
    sixteen[16] = 16;
    scene.Write("sixteen.tga", sixteen);
    scene.Write("empty.tga", Bytes{});
    std::filesystem::create_directory(scene.dir.File("folder.tga"));
    const Bytes colour = testfiles::ReadFile(scene.dir.File("colour.tga"));
    scene.Write("short.tga", Bytes(colour.begin(), colour.end() - 1));
    scene.Write("header.tga", Bytes(colour.begin(), colour.begin() + 17));
    const Bytes rle = testfiles::MakeTga(Picture::Pattern(8, 6, 1), Layout(24, true));
    scene.Write("short_rle.tga", Bytes(rle.begin(), rle.end() - 2));
    const Bytes hdr = FlatRgbe(8, 6, 255, 126);
    scene.Write("short.hdr", Bytes(hdr.begin(), hdr.end() - 1));
    scene.Write("radiance.tga", hdr);
    Bytes hostile(100, 0);
    hostile[2] = 2;
    hostile[12] = hostile[13] = hostile[14] = hostile[15] = 0xff;
    hostile[16] = 24;
    scene.Write("huge.tga", hostile);

    for (const char* name : {"sixteen.tga", "empty.tga", "folder.tga", "short.tga", "header.tga", "short_rle.tga",
                             "radiance.tga", "huge.tga"}) {
        RunResult run = scene.Run({"-i", name, "-o", "out.tga"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.output, std::string("image load failed!! _ ") + name + "\n");
        // The lens is never offered to the Radiance reader either.
        run = scene.Run({"-l", name, "-o", "out.tga"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.output, std::string("lens load failed!! _ ") + name + "\n");
    }
    // A Radiance depth that fails to decode is final: no second try as TGA.
    for (const char* name : {"sixteen.tga", "empty.tga", "folder.tga", "short.tga", "header.tga", "short_rle.tga",
                             "short.hdr", "huge.tga"}) {
        const RunResult run = scene.Run({"-z", name, "-o", "out.tga"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.output, std::string("zbuffer load failed!! _ ") + name + "\n");
    }
    EXPECT_FALSE(testfiles::FileExists(scene.dir.File("out.tga")));
}

TEST(SizeFailure, DepthSizeIsCheckedBeforeTheLens) {
    SmallScene scene(8, 6);
    scene.Write("narrow.tga", FlatDepth(7, 6, 200), Layout(8));
    scene.Write("tall.hdr", FlatRgbe(8, 7, 255, 127));
    scene.Write("lens255.tga", Picture::Disc(255, 100.0), Layout(24));
    scene.Write("lens_wide.tga", Picture::Filled(257, 256, 255, 255, 255), Layout(32));

    RunResult run = scene.Run({"-z", "narrow.tga"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "image size - zbuffer size!! _ 8x6 - 7x6\n");

    run = scene.Run({"-z", "tall.hdr"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "image size - zbuffer size!! _ 8x6 - 8x7\n");

    run = scene.Run({"-z", "narrow.tga", "-l", "lens255.tga"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "image size - zbuffer size!! _ 8x6 - 7x6\n");

    run = scene.Run({"-l", "lens255.tga"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "lens size not 256x256!! _ 255x255\n");

    run = scene.Run({"-l", "lens_wide.tga"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "lens size not 256x256!! _ 257x256\n");

    // The colour picture itself as the lens.
    run = scene.Run({"-l", "colour.tga"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "lens size not 256x256!! _ 8x6\n");
    EXPECT_FALSE(testfiles::FileExists(scene.dir.File("out.tga")));
}

TEST(SizeFailure, OnePixelAndEmptyPicturesAreFine) {
    SmallScene scene(1, 1);
    RunResult run = scene.Run({"-o", "one.tga"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("one.tga")).size(), 48u);

    // A picture without columns: header and footer only, its height kept.
    Picture empty;
    empty.height = 5;
    scene.Write("empty_colour.tga", empty, Layout(24));
    scene.Write("empty_depth.tga", empty, Layout(8, true));
    run = scene.Run({"-i", "empty_colour.tga", "-z", "empty_depth.tga", "-l", "lens.tga", "-o", "empty.tga"}, false);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const Bytes file = testfiles::ReadFile(scene.dir.File("empty.tga"));
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(file[12] | file[13], 0);
    EXPECT_EQ(file[14], 5);
}

// The console and the folder after a run whose output cannot be written.
void ExpectSaveFailure(const RunResult& run, const std::string& path) {
    EXPECT_EQ(run.exitCode, 4) << run.output;
    EXPECT_EQ(run.output.rfind("Init... size = ", 0), 0u) << run.output;
    const std::string last = "state... 100%\noutput save failed!! _ " + path + "\n";
    ASSERT_GE(run.output.size(), last.size());
    EXPECT_EQ(run.output.substr(run.output.size() - last.size()), last);
    EXPECT_FALSE(Contains(run.output, " sec\n"));
    EXPECT_FALSE(Contains(run.output, "out > "));
}

TEST(SaveFailure, MissingFolderDirectoryOrEmptyPath) {
    SmallScene scene;
    const std::vector<std::string> before = testfiles::ListDirectory(scene.dir.Path());
    ExpectSaveFailure(scene.Run({"-o", "no_such_folder/out.tga"}), "no_such_folder/out.tga");
    ExpectSaveFailure(scene.Run({"-o", ""}), "");
    ExpectSaveFailure(scene.Run({"-o", "."}), ".");
    std::filesystem::create_directory(scene.dir.File("taken"));
    testfiles::WriteFile(scene.dir.File("taken/keep"), {1, 2, 3});
    ExpectSaveFailure(scene.Run({"-o", "taken"}), "taken");
    ExpectSaveFailure(scene.Run({"-o", "taken/"}), "taken/");
    EXPECT_TRUE(std::filesystem::is_directory(scene.dir.File("taken")));
    EXPECT_EQ(testfiles::ListDirectory(scene.dir.File("taken")), std::vector<std::string>{"keep"});
    std::vector<std::string> after = testfiles::ListDirectory(scene.dir.Path());
    after.erase(std::find(after.begin(), after.end(), "taken"));
    EXPECT_EQ(after, before) << "no file, temporary or not, is left behind";
}

TEST(SaveFailure, AWriteThatFailsHalfwayKeepsTheExistingFile) {
    SmallScene scene(40, 30);
    const Bytes precious = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};
    scene.Write("out.tga", precious);
    const std::vector<std::string> before = testfiles::ListDirectory(scene.dir.Path());
    // Any file the program writes is cut at 1000 bytes; the picture needs 4844.
    const RunResult run = scene.Run({"-o", "out.tga"}, true, 1000);
    ExpectSaveFailure(run, "out.tga");
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("out.tga")), precious);
    EXPECT_EQ(testfiles::ListDirectory(scene.dir.Path()), before);
}

TEST(SaveSuccess, ReplacesAnExistingFileWholeAndLeavesNothingElse) {
    SmallScene scene(8, 6);
    scene.Write("out.tga", Bytes(10000, 'x'));
    const std::vector<std::string> before = testfiles::ListDirectory(scene.dir.Path());
    const RunResult run = scene.Run({"-o", "out.tga"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("out.tga")).size(), 44u + 4 * 8 * 6);
    EXPECT_EQ(testfiles::ListDirectory(scene.dir.Path()), before);
}

// An output path that is a symbolic link is written through: the file it
// points to is replaced and the link stays. A link to a directory fails like
// the directory, and a dangling link makes the file it names.
TEST(SaveSuccess, SymbolicLinksAreWrittenThrough) {
    namespace fs = std::filesystem;
    SmallScene scene(8, 6);
    fs::create_directory(scene.dir.File("renders"));
    scene.Write("renders/frame.tga", Bytes(10, 'x'));
    fs::create_symlink("renders/frame.tga", scene.dir.File("latest.tga"));
    fs::create_symlink("latest.tga", scene.dir.File("chain.tga"));
    EXPECT_EQ(scene.Run({"-o", "chain.tga"}).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(scene.dir.File("chain.tga")));
    EXPECT_TRUE(fs::is_symlink(scene.dir.File("latest.tga")));
    EXPECT_EQ(testfiles::ReadFile(scene.dir.File("renders/frame.tga")).size(), 44u + 4 * 8 * 6);
    EXPECT_EQ(testfiles::ListDirectory(scene.dir.File("renders")), std::vector<std::string>{"frame.tga"});

    fs::create_symlink("renders", scene.dir.File("folder"));
    ExpectSaveFailure(scene.Run({"-o", "folder"}), "folder");
    EXPECT_EQ(testfiles::ListDirectory(scene.dir.File("renders")), std::vector<std::string>{"frame.tga"});

    fs::create_symlink("renders/new.tga", scene.dir.File("dangling.tga"));
    EXPECT_EQ(scene.Run({"-o", "dangling.tga"}).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(scene.dir.File("dangling.tga")));
    EXPECT_TRUE(fs::is_regular_file(scene.dir.File("renders/new.tga")));
}

}  // namespace
