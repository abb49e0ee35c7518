#pragma once
// The spread of one source: the lens shape scaled to a disc, blurred by the
// source pixel's tent (bilinear) reconstruction, normalised to sum 1 and
// centred on the source, its rows stored as the steps between runs of equal
// value, so that a row costs its runs rather than its width.
#include <cstdint>
#include <vector>

#include "physical/LensShape.h"

// A square kernel, rows top first, values[(y + radius) * Side() + x + radius].
struct DenseKernel {
    int radius = 0;
    std::vector<double> values;
    int Side() const { return 2 * radius + 1; }
    double At(int x, int y) const { return values[static_cast<std::size_t>(y + radius) * Side() + x + radius]; }
};

// Where a kernel row's value changes: by dv at column offset dx.
struct RunStep {
    std::int32_t dx;
    float dv;
};

struct KernelRow {
    int first = 0;  // index of the row's first step
    int count = 0;  // steps; 0 for an empty row
    int left = 0;   // the offsets of its first and last steps: the row is zero outside [left, right)
    int right = 0;
};

struct BokehKernel {
    int radius = 0;               // rows and columns -radius .. radius
    std::vector<KernelRow> rows;  // 2 * radius + 1, top row first
    std::vector<RunStep> steps;
    const KernelRow& Row(int dy) const { return rows[static_cast<std::size_t>(dy + radius)]; }
};

// The kernel of a disc of this diameter (>= 0): the shape's rim radius on
// half the diameter, the frame's centre on the source pixel's centre, each
// offset the shape integrated against a tent of 2 pixels around it, borders
// of zeros trimmed, values below 1e-9 of the largest dropped, sum 1.
// Diameter 0 is the identity.
DenseKernel DrawKernel(const LensShape& lens, double diameter);

// The kernel turned by 180 degrees (in front of the focus plane).
DenseKernel Rotated(const DenseKernel& kernel);

// The rows as runs: values below kRunTolerance of the largest are dropped,
// neighbours within it of a run's first value join the run at that value,
// and the runs are scaled to sum 1 again. The edges' last fractions of a
// per cent cost a step each and change nothing one can see; sum 1 keeps
// every source's light and flat regions exact.
constexpr double kRunTolerance = 1.0 / 512.0;
BokehKernel EncodeRuns(const DenseKernel& kernel);

// The values the runs stand for (for tests and the plain scatter).
DenseKernel ExpandRuns(const BokehKernel& kernel);

// Diameters are drawn at steps: 1/16 pixel below 8 pixels, then a ratio of
// 1 + 1/128 (1/16 pixel at 8, under 0.4 % of the diameter anywhere).
int DiameterStep(double diameter);
double StepDiameter(int step);
