#include <gtest/gtest.h>

#include "image/FroatImage.h"

namespace {

FroatPixel Pixel(double v) { return FroatPixel{v, v + 0.25, v + 0.5, v + 0.75}; }

// A w x h image whose pixel (x, y) has r = 10 y + x.
CImageFroat Numbered(int w, int h) {
    CImageFroat image;
    image.Resize(w, h, FroatPixel{});
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.SetPixel(x, y, Pixel(10.0 * y + x));
    return image;
}

TEST(FroatImage, ResizeFillsEveryPixelIncludingKeptOnes) {
    CImageFroat image;
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_TRUE(image.pixelData.empty());

    image = Numbered(4, 3);
    image.Resize(4, 3, Pixel(7.0));
    ASSERT_EQ(image.pixelData.size(), 12u);
    for (const FroatPixel& p : image.pixelData) EXPECT_EQ(p.g, 7.25);

    image.Resize(2, 5, Pixel(1.0));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 5);
    ASSERT_EQ(image.pixelData.size(), 10u);
    for (const FroatPixel& p : image.pixelData) EXPECT_EQ(p.a, 1.75);

    image.Resize(0, 0, Pixel(1.0));
    EXPECT_TRUE(image.pixelData.empty());
}

TEST(FroatImage, RowMajorWithRowZeroFirst) {
    const CImageFroat image = Numbered(4, 3);
    EXPECT_EQ(image.pixelData[2 * 4 + 1].r, 21.0);
    EXPECT_EQ(image.PixelAt(3, 1).r, 13.0);
}

TEST(FroatImage, PixelAtClampsToTheNearestEdge) {
    const CImageFroat image = Numbered(4, 3);
    EXPECT_EQ(image.PixelAt(-5, 1).r, 10.0);
    EXPECT_EQ(image.PixelAt(2, -1).r, 2.0);
    EXPECT_EQ(image.PixelAt(image.width + 10, image.height).r, 23.0);
    EXPECT_EQ(image.PixelAt(-100, 100).r, 20.0);

    const CImageFroat single = Numbered(1, 1);
    EXPECT_EQ(single.PixelAt(5, -5).b, 0.5);
}

TEST(FroatImage, SetPixelOutsideChangesNothing) {
    CImageFroat image = Numbered(4, 3);
    const CImageFroat before = image;
    image.SetPixel(-1, 0, Pixel(99.0));
    image.SetPixel(image.width, 0, Pixel(99.0));
    image.SetPixel(0, -1, Pixel(99.0));
    image.SetPixel(0, image.height, Pixel(99.0));
    for (std::size_t i = 0; i < image.pixelData.size(); ++i) EXPECT_EQ(image.pixelData[i].r, before.pixelData[i].r);
}

TEST(FroatImage, CopiesAreIndependent) {
    CImageFroat original = Numbered(3, 2);
    CImageFroat copy = original;
    copy.SetPixel(1, 1, Pixel(-1.0));
    copy.Resize(1, 1, Pixel(5.0));
    EXPECT_EQ(original.width, 3);
    EXPECT_EQ(original.PixelAt(1, 1).r, 11.0);
}

}  // namespace
