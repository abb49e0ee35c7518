#include "engine/ExposureBytes.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

namespace {

// Every byte the stepped lookup gives must be the formula's, also a few units
// in the last place around each step and at the edges of the bands that go
// through the formula.
void ExpectFormulaEverywhere(double strong) {
    const ExposureBytes bytes(strong);
    auto check = [&](double q) { ASSERT_EQ(bytes.Byte(q), bytes.ByFormula(q)) << "strong " << strong << " q " << q; };
    for (int k = 0; k <= 256; ++k) {
        // Where the byte steps up in exact arithmetic: ln q / ln s / 255 = k / 256.
        const double step = std::pow(strong, 255.0 * k / 256.0);
        for (const double around : {step, step * (1.0 - 1e-9), step * (1.0 + 1e-9), step * (1.0 - 2e-9),
                                    step * (1.0 + 2e-9), step * (1.0 - 1e-6), step * (1.0 + 1e-6)}) {
            double q = around;
            for (int i = 0; i < 40; ++i) q = std::nextafter(q, 0.0);
            for (int i = 0; i < 80; ++i, q = std::nextafter(q, DBL_MAX)) check(q);
        }
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-2.0, 300.0);
    for (int i = 0; i < 20000; ++i) check(std::pow(strong, exponent(random)));
}

}  // namespace

TEST(ExposureBytes, SteppedBytesAreTheFormulas) {
    for (const double strong : {1.035, 1.02, 1.0001, 1.1, 1.5, 2.0, 10.0}) ExpectFormulaEverywhere(strong);
}

TEST(ExposureBytes, OddMeansAndStrongsGoThroughTheFormula) {
    for (const double strong : {1.035, 1.0, 0.9, std::numeric_limits<double>::infinity()}) {
        const ExposureBytes bytes(strong);
        for (const double q : {0.0, -0.0, -1.0, DBL_TRUE_MIN, 0.5, std::nextafter(1.0, 0.0), 1.0, DBL_MAX,
                               std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
            EXPECT_EQ(bytes.Byte(q), bytes.ByFormula(q)) << "strong " << strong << " q " << q;
    }
}
