#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "image/RgbeImage.h"
#include "image/TgaImage.h"
#include "support/TestFiles.h"

namespace {

const std::string kScenes = std::string(DOF_TEST_DATA_DIR) + "/scenes";

std::unique_ptr<unsigned char[]> Buffer(const testfiles::Bytes& bytes) {
    std::unique_ptr<unsigned char[]> data(new unsigned char[bytes.size()]);
    std::memcpy(data.get(), bytes.data(), bytes.size());
    return data;
}

bool LoadTga(const std::string& path, CImageTga& image) {
    const testfiles::Bytes bytes = testfiles::ReadFile(path);
    auto data = Buffer(bytes);
    return image.Load(data, bytes.size());
}

bool LoadRgbe(const std::string& path, RgbeImage& image) {
    const testfiles::Bytes bytes = testfiles::ReadFile(path);
    auto data = Buffer(bytes);
    return image.ParseHeader(data.get(), bytes.size()) && image.Load(data, bytes.size());
}

TEST(SceneFiles, EveryTgaAndRadianceFileLoads) {
    int tga = 0;
    int hdr = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kScenes)) {
        const std::string path = entry.path().string();
        const std::string extension = entry.path().extension().string();
        if (extension == ".tga") {
            CImageTga image;
            EXPECT_TRUE(LoadTga(path, image)) << path;
            EXPECT_GT(image.width, 0) << path;
            EXPECT_GT(image.height, 0) << path;
            if (entry.path().parent_path().filename() == "lens") {
                EXPECT_EQ(image.width, 256) << path;
                EXPECT_EQ(image.height, 256) << path;
            }
            ++tga;
        } else if (extension == ".hdr") {
            RgbeImage image;
            EXPECT_TRUE(LoadRgbe(path, image)) << path;
            ++hdr;
        }
    }
    EXPECT_GE(tga, 15);
    EXPECT_GE(hdr, 2);
}

TEST(SceneFiles, EncodingVariantsDecodeToTheirPlainTwins) {
    CImageTga plain;
    ASSERT_TRUE(LoadTga(kScenes + "/table/color.tga", plain));
    EXPECT_EQ(plain.width, 1280);
    EXPECT_EQ(plain.height, 720);
    for (const char* twin : {"color_topleft.tga", "color_rle.tga", "color_rgba.tga"}) {
        CImageTga image;
        ASSERT_TRUE(LoadTga(kScenes + "/table/" + twin, image)) << twin;
        EXPECT_TRUE(image.rgba == plain.rgba) << twin;
    }
    CImageTga depth;
    CImageTga depthRle;
    ASSERT_TRUE(LoadTga(kScenes + "/table/depth.tga", depth));
    ASSERT_TRUE(LoadTga(kScenes + "/table/depth_rle.tga", depthRle));
    EXPECT_TRUE(depth.rgba == depthRle.rgba);
}

TEST(SceneFiles, RadianceDepthMatchesTheGreyDepth) {
    for (const char* scene : {"table", "portrait"}) {
        CImageTga grey;
        RgbeImage hdr;
        ASSERT_TRUE(LoadTga(kScenes + "/" + scene + "/depth.tga", grey));
        ASSERT_TRUE(LoadRgbe(kScenes + "/" + scene + "/depth.hdr", hdr));
        ASSERT_EQ(hdr.width, grey.width);
        ASSERT_EQ(hdr.height, grey.height);
        std::vector<double> means(static_cast<std::size_t>(hdr.width) * hdr.height);
        hdr.ComputeMeans(means.data());
        // Same picture, same orientation: 8-bit depth is within a step of the float one.
        double worst = 0.0;
        for (std::size_t i = 0; i < means.size(); ++i)
            worst = std::max(worst, std::fabs(means[i] - grey.rgba[4 * i] / 255.0));
        EXPECT_LT(worst, 1.5 / 255.0) << scene;
    }
}

}  // namespace
