#pragma once
// A small scene written into a temporary directory for runs of the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace e2e {

using testfiles::Bytes;
using testfiles::Picture;
using testfiles::RunResult;
using testfiles::TgaLayout;

inline TgaLayout Layout(int bits, bool runLength = false) {
    TgaLayout layout;
    layout.bitsPerPixel = bits;
    layout.runLength = runLength;
    return layout;
}

// Grey depth picture with every pixel at depth byte value.
inline Picture FlatDepth(int w, int h, unsigned char value) { return Picture::Filled(w, h, value, value, value); }

// Radiance bytes of a w x h picture whose every channel is (m / 255) * 2^(e - 128).
inline Bytes FlatRgbe(int w, int h, unsigned char m, unsigned char e) {
    Bytes pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), {m, m, m, e});
    return testfiles::MakeRgbe(w, h, pixels);
}

// colour.tga (24-bit pattern), depth.tga (8-bit, depth byte 255 everywhere
// but one pixel at 128) and lens.tga (256 x 256 disc) in dir.
struct SmallScene {
    testfiles::TempDir dir;
    int width;
    int height;

    explicit SmallScene(int w = 8, int h = 6) : width(w), height(h) {
        Write("colour.tga", Picture::Pattern(w, h, 7), Layout(24));
        Picture depth = FlatDepth(w, h, 255);
        std::fill(depth.At(0, 0), depth.At(0, 0) + 3, 128);
        Write("depth.tga", depth, Layout(8));
        Write("lens.tga", Picture::Disc(256, 100.0), Layout(24));
    }

    void Write(const std::string& name, const Picture& picture, const TgaLayout& layout) const {
        testfiles::WriteFile(dir.File(name), testfiles::MakeTga(picture, layout));
    }
    void Write(const std::string& name, const Bytes& bytes) const { testfiles::WriteFile(dir.File(name), bytes); }

    // Runs the program in the scene's directory; with files = true the
    // scene's three inputs come first.
    RunResult Run(std::vector<std::string> args, bool files = true, long fileSizeLimit = -1) const {
        if (files) {
            const std::vector<std::string> inputs = {"-i", "colour.tga", "-z", "depth.tga", "-l", "lens.tga"};
            args.insert(args.begin(), inputs.begin(), inputs.end());
        }
        RunResult result = testfiles::RunDof(args, dir.Path(), fileSizeLimit);
        EXPECT_EQ(result.errors, "") << "nothing goes to standard error";
        return result;
    }
};

}  // namespace e2e
