// Times whole runs of the physical camera mode (read, blur, write) on the
// 1920 x 1080 portrait, phase by phase, each in a child process of its own
// so that the peak memory is that run's alone, and prints a table. Cases
// double the largest disc to show that time grows with the diameter, not
// its area. Prints figures; never fails a build.
//
//   dof_physical_bench [--runs N] [--threads N] [--scenes DIR] [--depth depth.tga|depth.hdr]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include <dof/dof.h>

#include "ChildRun.h"

#include "api/PhysicalRun.h"

namespace {

struct Case {
    const char* name;
    const char* lens;
    double fNumber;
};

struct Figures {
    double loadMs = 0, blurMs = 0, writeMs = 0, totalMs = 0, cpuMs = 0;
    double phaseMs[6] = {0, 0, 0, 0, 0, 0};
    double largest = 0, steps = 0, kernels = 0, kernelBytes = 0, peakBytes = 0;
    int width = 0, height = 0;
};

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// The portrait's camera (85 mm on a 36 mm sensor, focused on the face at
// 2.4 m; depth 0 is 0.9 m, depth 1 is 22 m).
dof::PhysicalParams PortraitCamera(double fNumber) {
    dof::PhysicalParams params;
    params.camera.fNumber = fNumber;
    params.camera.focalLength = 85.0;
    params.camera.sensorWidth = 36.0;
    params.camera.focusDistance = 2.4;
    params.camera.zNear = 0.9;
    params.camera.zFar = 22.0;
    return params;
}

// The portrait's depth file: depth.tga (8-bit, as the exact mode's
// benchmark reads it) or depth.hdr.
std::string depthFile = "depth.tga";

Figures RunOnce(const std::string& dir, const Case& c, int threads) {
    Figures f;
    const auto start = Clock::now();
    std::future<dof::Result<dof::Image>> depthRead =
        std::async(std::launch::async, [&] { return dof::ReadDepth(dir + "/portrait/" + depthFile); });
    const dof::Result<dof::Image> colour = dof::ReadImage(dir + "/portrait/color.tga");
    const dof::Result<dof::Image> lens = dof::ReadImage(dir + "/lens/" + c.lens);
    const dof::Result<dof::Image> depth = depthRead.get();
    if (!colour || !depth || !lens) {
        std::fprintf(stderr, "cannot read the portrait from %s\n", dir.c_str());
        std::exit(1);
    }
    f.width = colour.value().Width();
    f.height = colour.value().Height();
    const auto read = Clock::now();
    f.loadMs = Ms(start, read);
    dof::RunOptions options;
    options.threads = threads;
    PhysicalStats stats;
    const dof::Result<dof::Image> result =
        RunPhysical(colour.value(), depth.value(), lens.value(), PortraitCamera(c.fNumber), options, &stats);
    if (!result) {
        std::fprintf(stderr, "%s\n", result.error().message.c_str());
        std::exit(1);
    }
    const auto blurred = Clock::now();
    f.blurMs = Ms(read, blurred);
    const std::string path = "/tmp/dof_physical_bench_" + std::to_string(getpid()) + ".tga";
    if (dof::WriteImage(path, result.value())) std::exit(1);
    std::remove(path.c_str());
    const auto end = Clock::now();
    f.writeMs = Ms(blurred, end);
    f.totalMs = Ms(start, end);
    std::copy(stats.phaseMs, stats.phaseMs + 6, f.phaseMs);
    f.largest = stats.largestDiameter;
    f.steps = stats.steps;
    f.kernels = static_cast<double>(stats.kernels);
    f.kernelBytes = static_cast<double>(stats.kernelBytes);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    f.peakBytes = usage.ru_maxrss * 1024.0;
    f.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return f;
}

Figures Measure(const std::string& dir, const Case& c, int threads) {
    return InChildProcess<Figures>([&] { return RunOnce(dir, c, threads); });
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int threads = 2;
    std::string dir = DOF_SCENES_DIR;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--threads")) threads = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--scenes")) dir = argv[i + 1];
        else if (!std::strcmp(argv[i], "--depth")) depthFile = argv[i + 1];
    }
    const Case cases[] = {
        {"hexagon f/5.6", "hexagon.tga", 5.6},
        {"hexagon f/2.8", "hexagon.tga", 2.8},
        {"hexagon f/1.4", "hexagon.tga", 1.4},
        {"disc f/2.8", "disc.tga", 2.8},
        {"star5 f/2.8", "star5.tga", 2.8},
    };
    std::printf("portrait 1920x1080 (%s), %d threads, median of %d runs (ms)\n\n", depthFile.c_str(), threads, runs);
    std::printf("| case | largest px | read | discs | kernels | sources | scatter | background | result | write | total ms | cpu ms | steps G | ns/step/thread | kernels (MB) | peak MB | B/px |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : cases) {
        std::vector<Figures> all;
        for (int i = 0; i < runs; ++i) all.push_back(Measure(dir, c, threads));
        std::sort(all.begin(), all.end(), [](const Figures& a, const Figures& b) { return a.totalMs < b.totalMs; });
        const Figures& f = all[(all.size() - 1) / 2];
        const double pixels = static_cast<double>(f.width) * f.height;
        std::printf("| %s | %.1f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.3f | %.2f | %.0f (%.1f) | %.1f | %.1f |\n",
                    c.name, f.largest, f.loadMs, f.phaseMs[0], f.phaseMs[1], f.phaseMs[2], f.phaseMs[3], f.phaseMs[4],
                    f.phaseMs[5], f.writeMs, f.totalMs, f.cpuMs, f.steps / 1e9, f.phaseMs[3] * 1e6 * threads / std::max(f.steps, 1.0),
                    f.kernels, f.kernelBytes / 1048576.0, f.peakBytes / 1048576.0, f.peakBytes / pixels);
        std::fflush(stdout);
    }
    return 0;
}
