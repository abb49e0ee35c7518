// The thin-lens disc by hand, and the kernels drawn from lens pictures:
// normalised, centred on the source, sized by the shape's rim, turned in
// front of the focus, and their runs standing for the drawn values.
#include <gtest/gtest.h>

#include <cmath>

#include <dof/dof.h>

#include "physical/BokehKernel.h"
#include "physical/LensShape.h"
#include "physical/ThinLens.h"
#include "physical/PhysicalScenes.h"

namespace {

LensShape LoadLens(const std::string& name) {
    const dof::Result<dof::Image> image = dof::ReadImage(physicaltest::LensPath(name));
    EXPECT_TRUE(image.Ok()) << name;
    return LensShape(image.value());
}

double Sum(const DenseKernel& k) {
    double sum = 0.0;
    for (double v : k.values) sum += v;
    return sum;
}

TEST(ThinLens, DiscDiameterByHand) {
    // The table's camera: f/0.52, 35 mm on 36 mm, focus 3.705 m, 1280 wide.
    dof::Camera camera;
    camera.fNumber = 0.52;
    camera.focalLength = 35.0;
    camera.focusDistance = 3.705;
    const double aperture = 0.035 / 0.52;       // metres
    const double focalPixels = 35.0 * 1280 / 36.0;
    EXPECT_NEAR(dof::DiscDiameter(camera, 1280, 30.0), aperture * focalPixels * (30.0 - 3.705) / (3.705 * 30.0), 1e-9);
    EXPECT_NEAR(dof::DiscDiameter(camera, 1280, 30.0), 19.81545, 1e-5);
    EXPECT_NEAR(dof::DiscDiameter(camera, 1280, 2.0), -aperture * focalPixels * 1.705 / (3.705 * 2.0), 1e-9);
    EXPECT_EQ(dof::DiscDiameter(camera, 1280, 3.705), 0.0);
    EXPECT_NEAR(dof::DiscDiameter(camera, 1280, INFINITY), aperture * focalPixels / 3.705, 1e-9);
    EXPECT_NEAR(dof::DiscDiameter(camera, 2560, 30.0), 2 * dof::DiscDiameter(camera, 1280, 30.0), 1e-9);
    camera.maxBlur = 15.0;
    EXPECT_EQ(dof::DiscDiameter(camera, 1280, 30.0), 15.0);
    EXPECT_EQ(dof::DiscDiameter(camera, 1280, 0.5), -15.0);
    EXPECT_EQ(dof::DiscDiameter(camera, 1280, 0.0), -15.0);  // infinitely near

    // Depth values map as in the exact mode; +inf is far.
    camera.zNear = 1.5;
    camera.zFar = 30.0;
    const ThinLens lens(camera, 1280, INFINITY);
    EXPECT_EQ(lens.Distance(0.0), 1.5);
    EXPECT_EQ(lens.Distance(1.0), 30.0);
    EXPECT_NEAR(lens.Diameter(lens.Distance(INFINITY)), lens.FarLimit(), 1e-12);
}

TEST(Kernels, NormalisedCentredAndSizedByTheRim) {
    for (const char* name : {"disc", "hexagon", "ring"}) {  // point-symmetric: the centroid is the centre
        const LensShape lens = LoadLens(name);
        for (double d : {0.0, 0.4, 1.0, 2.5, 7.3, 20.0, 41.0}) {
            for (bool near : {false, true}) {
                const DenseKernel drawn = DrawKernel(lens, d);
                const DenseKernel k = ExpandRuns(EncodeRuns(near ? Rotated(drawn) : drawn));
                EXPECT_NEAR(Sum(k), 1.0, 1e-6) << name << " " << d;
                double mx = 0.0, my = 0.0;
                for (int y = -k.radius; y <= k.radius; ++y)
                    for (int x = -k.radius; x <= k.radius; ++x) {
                        mx += x * k.At(x, y);
                        my += y * k.At(x, y);
                    }
                EXPECT_LT(std::fabs(mx) + std::fabs(my), 2e-3) << name << " " << d;
                EXPECT_LE(k.radius, static_cast<int>(d / 2) + 3) << name << " " << d;
            }
        }
    }
    const LensShape disc = LoadLens("disc");
    EXPECT_NEAR(disc.RimRadius(), 118.0, 1.0);  // the disc fills 236 of the frame's 256 pixels
    EXPECT_EQ(DrawKernel(disc, 0.0).values, std::vector<double>{1.0});
    // Below a pixel: a small symmetric spread, most of it on the source.
    const DenseKernel half = DrawKernel(disc, 0.5);
    EXPECT_NEAR(half.At(0, 0), 0.80, 0.02);
    EXPECT_NEAR(half.At(1, 0), half.At(0, -1), 1e-12);
    // A uniform disc of diameter d has a second moment of d^2 / 16 per
    // axis, plus the tent's 1/6.
    const DenseKernel big = DrawKernel(disc, 24.0);
    double moment = 0.0;
    for (int y = -big.radius; y <= big.radius; ++y)
        for (int x = -big.radius; x <= big.radius; ++x) moment += x * x * big.At(x, y);
    EXPECT_NEAR(moment, 24.0 * 24.0 / 16 + 1.0 / 6, 0.4);
}

TEST(Kernels, TurnedInFrontOfTheFocusAndRunsStandForTheValues) {
    const LensShape star = LoadLens("star5");
    const DenseKernel far = DrawKernel(star, 15.0);
    const DenseKernel near = Rotated(far);
    for (int y = -far.radius; y <= far.radius; ++y)
        for (int x = -far.radius; x <= far.radius; ++x) EXPECT_EQ(near.At(x, y), far.At(-x, -y));
    // A five-pointed star is not point-symmetric: turning it changes it.
    double change = 0.0;
    for (std::size_t i = 0; i < far.values.size(); ++i) change += std::fabs(near.values[i] - far.values[i]);
    EXPECT_GT(change, 0.1);

    double largest = 0.0;
    for (double v : far.values) largest = std::max(largest, v);
    const DenseKernel runs = ExpandRuns(EncodeRuns(far));
    for (std::size_t i = 0; i < far.values.size(); ++i)
        EXPECT_NEAR(runs.values[i], far.values[i], 2.5 * kRunTolerance * largest);
}

TEST(Kernels, DiameterStepsAreFineAndContinuous) {
    EXPECT_EQ(StepDiameter(DiameterStep(0.0)), 0.0);
    EXPECT_EQ(StepDiameter(DiameterStep(3.0)), 3.0);
    for (double d = 0.01; d < 500.0; d *= 1.013) {
        const double drawn = StepDiameter(DiameterStep(d));
        EXPECT_LE(std::fabs(drawn - d), std::max(1.0 / 32 + 1e-12, 0.004 * d)) << d;
    }
    EXPECT_NEAR(StepDiameter(128), 8.0, 1e-12);
    EXPECT_NEAR(StepDiameter(129) - StepDiameter(128), 1.0 / 16, 1e-12);
}

}  // namespace
