#include "physical/BokehKernel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kFineStep = 1.0 / 16.0;
constexpr double kFineLimit = 8.0;
constexpr int kFineSteps = 128;  // kFineLimit / kFineStep
const double kRatioLog = std::log1p(1.0 / 128.0);

// The integral of the tent max(0, 1 - |t|) from -infinity to t.
double TentIntegral(double t) {
    if (t <= -1.0) return 0.0;
    if (t <= 0.0) return 0.5 * (t + 1.0) * (t + 1.0);
    if (t < 1.0) return 1.0 - 0.5 * (1.0 - t) * (1.0 - t);
    return 1.0;
}

// How much of the tent around each offset falls on lens pixel i, whose
// cell spans [(i - 128) / scale, (i + 1 - 128) / scale] in picture pixels:
// at most three offsets, from first.
struct CellWeights {
    int first = 0;
    int count = 0;
    double weight[3] = {0.0, 0.0, 0.0};
};

std::vector<CellWeights> TentWeights(double scale, int radius) {
    std::vector<CellWeights> cells(LensShape::kSize);
    const double centre = LensShape::kSize / 2.0;
    for (int i = 0; i < LensShape::kSize; ++i) {
        const double a = (i - centre) / scale;
        const double b = (i + 1 - centre) / scale;
        CellWeights& cell = cells[i];
        cell.first = std::max(static_cast<int>(std::floor(a - 1.0)) + 1, -radius);
        const int last = std::min(static_cast<int>(std::ceil(b + 1.0)) - 1, radius);
        for (int o = cell.first; o <= last && cell.count < 3; ++o)
            cell.weight[cell.count++] = TentIntegral(o - a) - TentIntegral(o - b);
    }
    return cells;
}

}  // namespace

DenseKernel DrawKernel(const LensShape& lens, double diameter) {
    DenseKernel kernel;
    if (!(diameter > 0.0)) {
        kernel.values.assign(1, 1.0);
        return kernel;
    }
    const int n = LensShape::kSize;
    const double scale = 2.0 * lens.RimRadius() / diameter;  // lens pixels per picture pixel
    const int radius = static_cast<int>(std::ceil((n / 2.0) / scale + 0.5)) + 1;
    const int side = 2 * radius + 1;
    const std::vector<CellWeights> cells = TentWeights(scale, radius);

    // Across first: each lens row against the tents of the columns.
    std::vector<double> across(static_cast<std::size_t>(n) * side, 0.0);
    for (int y = 0; y < n; ++y) {
        double* out = &across[static_cast<std::size_t>(y) * side + radius];
        for (int x = lens.FirstLit(y); x <= lens.LastLit(y); ++x) {
            const double v = lens.At(x, y);
            if (v == 0.0) continue;
            const CellWeights& cell = cells[x];
            for (int k = 0; k < cell.count; ++k) out[cell.first + k] += v * cell.weight[k];
        }
    }
    // Then down: the rows against the tents of the kernel's rows.
    std::vector<double> values(static_cast<std::size_t>(side) * side, 0.0);
    for (int y = 0; y < n; ++y) {
        if (lens.FirstLit(y) > lens.LastLit(y)) continue;
        const double* in = &across[static_cast<std::size_t>(y) * side];
        const CellWeights& cell = cells[y];
        for (int k = 0; k < cell.count; ++k) {
            double* out = &values[static_cast<std::size_t>(cell.first + k + radius) * side];
            const double w = cell.weight[k];
            for (int x = 0; x < side; ++x) out[x] += w * in[x];
        }
    }

    double largest = 0.0;
    for (double v : values) largest = std::max(largest, v);
    if (!(largest > 0.0)) {  // a black lens: a point
        kernel.values.assign(1, 1.0);
        return kernel;
    }
    double sum = 0.0;
    for (double& v : values) {
        if (v < 1e-9 * largest) v = 0.0;
        sum += v;
    }
    // Trim borders of zeros, the same on every side so the centre stays.
    auto at = [&](int x, int y) { return values[static_cast<std::size_t>(y + radius) * side + x + radius]; };
    int kept = radius;
    while (kept > 0) {
        bool empty = true;
        for (int t = -kept; t <= kept && empty; ++t)
            empty = at(t, -kept) == 0.0 && at(t, kept) == 0.0 && at(-kept, t) == 0.0 && at(kept, t) == 0.0;
        if (!empty) break;
        --kept;
    }
    kernel.radius = kept;
    kernel.values.resize(static_cast<std::size_t>(kernel.Side()) * kernel.Side());
    for (int y = -kept; y <= kept; ++y)
        for (int x = -kept; x <= kept; ++x)
            kernel.values[static_cast<std::size_t>(y + kept) * kernel.Side() + x + kept] = at(x, y) / sum;
    return kernel;
}

DenseKernel Rotated(const DenseKernel& kernel) {
    DenseKernel turned = kernel;
    std::reverse(turned.values.begin(), turned.values.end());
    return turned;
}

BokehKernel EncodeRuns(const DenseKernel& kernel) {
    BokehKernel encoded;
    encoded.radius = kernel.radius;
    const int side = kernel.Side();
    double largest = 0.0;
    for (double v : kernel.values) largest = std::max(largest, v);
    const double tolerance = kRunTolerance * largest;

    // Values below the tolerance are dropped, the others run at a run's
    // first value while they stay within the tolerance of it; then the
    // total they stand for.
    std::vector<double> merged(kernel.values.size());
    double total = 0.0;
    for (int y = 0; y < side; ++y) {
        const double* in = &kernel.values[static_cast<std::size_t>(y) * side];
        double* out = &merged[static_cast<std::size_t>(y) * side];
        double run = 0.0;
        for (int x = 0; x < side; ++x) {
            const double v = in[x] < tolerance ? 0.0 : in[x];
            if (std::fabs(v - run) > tolerance || (v == 0.0) != (run == 0.0)) run = v;
            out[x] = run;
            total += run;
        }
    }
    for (double& v : merged) v /= total;

    encoded.rows.resize(static_cast<std::size_t>(side));
    for (int y = 0; y < side; ++y) {
        KernelRow& row = encoded.rows[static_cast<std::size_t>(y)];
        row.first = static_cast<int>(encoded.steps.size());
        const double* values = &merged[static_cast<std::size_t>(y) * side];
        float previous = 0.0f;
        for (int x = 0; x <= side; ++x) {
            const float v = x < side ? static_cast<float>(values[x]) : 0.0f;
            if (v == previous) continue;
            encoded.steps.push_back({static_cast<std::int32_t>(x - kernel.radius), v - previous});
            previous = v;
        }
        row.count = static_cast<int>(encoded.steps.size()) - row.first;
        if (row.count > 0) {
            row.left = encoded.steps[static_cast<std::size_t>(row.first)].dx;
            row.right = encoded.steps.back().dx;
        }
    }
    return encoded;
}

DenseKernel ExpandRuns(const BokehKernel& kernel) {
    DenseKernel dense;
    dense.radius = kernel.radius;
    const int side = dense.Side();
    dense.values.assign(static_cast<std::size_t>(side) * side, 0.0);
    for (int dy = -kernel.radius; dy <= kernel.radius; ++dy) {
        const KernelRow& row = kernel.Row(dy);
        double value = 0.0;
        int step = row.first;
        for (int dx = -kernel.radius; dx <= kernel.radius; ++dx) {
            while (step < row.first + row.count && kernel.steps[static_cast<std::size_t>(step)].dx == dx)
                value += kernel.steps[static_cast<std::size_t>(step++)].dv;
            dense.values[static_cast<std::size_t>(dy + kernel.radius) * side + dx + kernel.radius] = value;
        }
    }
    return dense;
}

int DiameterStep(double diameter) {
    if (!(diameter > 0.0)) return 0;
    if (diameter < kFineLimit) return static_cast<int>(std::lround(diameter / kFineStep));
    return kFineSteps + static_cast<int>(std::lround(std::log(diameter / kFineLimit) / kRatioLog));
}

double StepDiameter(int step) {
    if (step <= kFineSteps) return step * kFineStep;
    return kFineLimit * std::exp((step - kFineSteps) * kRatioLog);
}
