// Times whole runs of the filter, phase by phase, beside the literal
// single-threaded transcription measured in the same invocation, and prints
// a table. Every measured run happens in a child process of its own, so the
// peak memory reported is that run's alone. Prints figures; never fails.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfRgba.h>
#include <dof/dof.h>

#include "ChildRun.h"
#include <cmath>

#include "api/ExactRun.h"
#include "image/FileIo.h"
#include "image/TgaImage.h"
#include "image/TgaWriter.h"
#include "oracle/LiteralBlur.h"

namespace {

struct Case {
    const char* name;
    const char* colour;
    const char* depth;
    const char* lens;
    double blurSize, focus, zNear, zFar;
    bool literal;  // the literal run takes under a minute
};

// What one measured run reports back to the parent.
struct Figures {
    double loadMs = 0, setupMs = 0, firstPassMs = 0, gatherMs = 0, rowLoopsMs = 0, writeMs = 0, totalMs = 0;
    double visits = 0, contributions = 0, kernelBytes = 0;
    int rowsAgain = -1;  // first-pass rows taken again in window order; -1: none such
    double pixelsAgain = 0;  // and single pixels
    double peakBytes = 0;
    int width = 0, height = 0;
    unsigned long long outputHash = 0;
};

using Clock = std::chrono::steady_clock;

// Widest lanes the fast engine may use (0: what the processor offers).
int maxLanes = 0;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

unsigned long long Fnv(const unsigned char* p, std::size_t n) {
    unsigned long long h = 1469598103934665603ull;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

[[noreturn]] void CannotLoad(const std::string& dir, const Case& c) {
    std::fprintf(stderr, "cannot load the scene %s from %s\n", c.name, dir.c_str());
    std::exit(1);
}

bool LoadTga(const std::string& path, CImageTga& image) {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    return ReadWholeFile(path, data, size) && image.Load(data, size);
}

// One whole run, as the program makes it: load, convert, blur, encode, write.
// The fast engine counts its visits and contributions only where asked (as
// the program never does), in a run that is not timed.
Figures RunOnce(const std::string& dir, const Case& c, bool literal, int threads, WorkCount count) {
    Figures f;
    const auto start = Clock::now();
    LargeArray<unsigned char> out;
    if (literal) {
        CImageTga colour, depth, lens;
        if (!LoadTga(dir + "/" + c.colour, colour) || !LoadTga(dir + "/" + c.depth, depth) ||
            !LoadTga(dir + "/" + c.lens, lens))
            CannotLoad(dir, c);
        f.width = colour.width;
        f.height = colour.height;
        BlurInput input;
        input.width = colour.width;
        input.height = colour.height;
        input.colour.assign(colour.rgba.begin(), colour.rgba.end());
        input.depthBytes.assign(depth.rgba.begin(), depth.rgba.end());
        input.lens.assign(lens.rgba.begin(), lens.rgba.end());
        input.options.blurSize = c.blurSize;
        input.options.focus = c.focus;
        input.options.zNear = c.zNear;
        input.options.zFar = c.zFar;
        colour.Release();
        depth.Release();
        lens.Release();
        LiteralBlur blur(input);
        input = BlurInput();
        auto t = Clock::now();
        f.loadMs = Ms(start, t);
        blur.Setup();
        auto u = Clock::now();
        f.setupMs = Ms(t, u);
        blur.FirstPass();
        blur.Link();
        t = Clock::now();
        f.firstPassMs = Ms(u, t);
        blur.Gather();
        u = Clock::now();
        f.gatherMs = Ms(t, u);
        f.visits = static_cast<double>(blur.windowVisits);
        f.contributions = static_cast<double>(blur.contributions);
        for (const auto& k : blur.kernels) f.kernelBytes += k.second.pixelData.size() * sizeof(FroatPixel);
        const std::vector<unsigned char> bytes = blur.ToBytes();
        out.assign(bytes.begin(), bytes.end());
    } else {
        // As the program does, through the library: the files read whole and
        // decoded (the depth beside the others), the blur, the result.
        std::future<dof::Result<dof::Image>> depthRead =
            std::async(std::launch::async, [&] { return dof::ReadDepth(dir + "/" + c.depth); });
        dof::Result<dof::Image> colour = dof::ReadImage(dir + "/" + c.colour);
        dof::Result<dof::Image> lens = dof::ReadImage(dir + "/" + c.lens);
        dof::Result<dof::Image> depth = depthRead.get();
        if (!colour || !depth || !lens) CannotLoad(dir, c);
        f.width = colour.value().Width();
        f.height = colour.value().Height();
        f.loadMs = Ms(start, Clock::now());
        dof::ExactParams params;
        params.blurSize = c.blurSize;
        params.focus = c.focus;
        params.zNear = c.zNear;
        params.zFar = c.zFar;
        dof::RunOptions options;
        options.threads = threads;
        std::unique_ptr<CBlurEngine> engine;
        dof::Result<dof::Image> result =
            RunExact(colour.value(), depth.value(), lens.value(), params, options, maxLanes, &engine, nullptr, count);
        if (!result) CannotLoad(dir, c);
        const CBlurEngine::Stats& stats = engine->GetStats();
        f.setupMs = stats.setupMs;
        f.firstPassMs = stats.firstPassMs;
        f.gatherMs = stats.gatherMs;
        f.rowLoopsMs = stats.rowLoopsMs;
        f.visits = static_cast<double>(stats.windowVisits);
        f.contributions = static_cast<double>(stats.contributions);
        f.kernelBytes = static_cast<double>(stats.kernelBytes);
        f.rowsAgain = stats.firstPassRowsAgain;
        f.pixelsAgain = static_cast<double>(stats.firstPassPixelsAgain);
        const dof::Image& image = result.value();
        out.assign(image.Data(), image.Data() + image.ByteCount());
    }
    const auto writeStart = Clock::now();
    // As the program writes it.
    const std::string path = "/tmp/dof_bench_" + std::to_string(getpid()) + ".tga";
    dof::WriteImage(path, dof::ImageView(out.data(), f.width, f.height, 4, dof::SampleType::kUInt8));
    std::remove(path.c_str());
    const auto end = Clock::now();
    f.writeMs = Ms(writeStart, end);
    f.totalMs = Ms(start, end);
    f.outputHash = Fnv(out.data(), out.size());
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    f.peakBytes = usage.ru_maxrss * 1024.0;
    return f;
}

// The 1080p portrait scaled by 2 (nearest neighbour, colour and depth) into
// dir/portrait4k, so that the large cases read files as the program does.
void WriteScaledPortrait(const std::string& scenes, const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    for (const char* name : {"color.tga", "depth.tga"}) {
        std::unique_ptr<unsigned char[]> data;
        std::size_t size = 0;
        dof::Image small;
        if (!ReadWholeFile(scenes + "/portrait/" + name, data, size) || !CImageTga::DecodeImage(data.get(), size, small)) {
            std::fprintf(stderr, "cannot read the portrait's %s\n", name);
            std::exit(1);
        }
        const int w = small.Width(), h = small.Height();
        const std::size_t px = small.PixelBytes();
        dof::Image large(2 * w, 2 * h, small.Channels(), dof::SampleType::kUInt8);
        for (int y = 0; y < 2 * h; ++y)
            for (int x = 0; x < 2 * w; ++x) std::memcpy(large.Row(y) + px * x, small.Row(y / 2) + px * (x / 2), px);
        CTGAImage file;
        if (!file.Encode(large.View()) ||
            !WriteFileAtomically(dir + "/" + name, file.fileBytes.data(), file.fileSize)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name);
            std::exit(1);
        }
    }
}

// depth as a 16-bit PNG into dir/depth.png; ends the benchmark where it cannot.
void WriteSixteenBitDepth(const std::string& dir, const dof::Image& depth) {
    dof::WriteOptions sixteen;
    sixteen.bitDepth = 16;
    if (dof::WriteImage(dir + "/depth.png", depth, sixteen)) {
        std::fprintf(stderr, "cannot write %s/depth.png\n", dir.c_str());
        std::exit(1);
    }
}

// The portrait's depth as 16-bit values into dir/portrait16/depth.png, each
// byte b widened to 257 b plus a fraction of a step from a hash of the
// pixel: as from a renderer's depth, nearly every pixel has a blur of its own.
void WriteFineDepth(const std::string& scenes, const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    const dof::Result<dof::Image> coarse = dof::ReadImage(scenes + "/portrait/depth.tga");
    if (!coarse) {
        std::fprintf(stderr, "cannot read the portrait's depth.tga\n");
        std::exit(1);
    }
    const dof::Image& bytes = coarse.value();
    dof::Image fine(bytes.Width(), bytes.Height(), 1, dof::SampleType::kUInt16);
    for (int y = 0; y < bytes.Height(); ++y)
        for (int x = 0; x < bytes.Width(); ++x) {
            std::uint32_t hash = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
            hash = (hash ^ (hash >> 13)) * 0x5bd1e995u;
            const unsigned b = bytes.Row(y)[x * bytes.PixelBytes()];
            const std::uint16_t v = static_cast<std::uint16_t>(std::min(65535u, 257u * b + (hash >> 24)));
            std::memcpy(fine.Row(y) + 2 * x, &v, sizeof v);
        }
    WriteSixteenBitDepth(dir, fine);
}

// A plane as a z-buffer of 16 bits into dir/depth.png: far at the top, its
// depth rising by down from top to bottom and by across from left to right.
// Level ground seen by a level camera (across 0) has one depth a row, so
// that every row has a blur of its own; tilted across as well, every pixel
// has one.
void WritePlane(const std::string& dir, int width, int height, double down, double across) {
    mkdir(dir.c_str(), 0755);
    dof::Image depth(width, height, 1, dof::SampleType::kUInt16);
    for (int y = 0; y < height; ++y) {
        const double row = 0.15 + down * y / std::max(1, height - 1);
        for (int x = 0; x < width; ++x) {
            const std::uint16_t v = static_cast<std::uint16_t>(65535.0 * (row + across * x / std::max(1, width - 1)));
            std::memcpy(depth.Row(y) + 2 * x, &v, sizeof v);
        }
    }
    WriteSixteenBitDepth(dir, depth);
}

// Runs RunOnce in a child process; its console lines are discarded.
Figures Measure(const std::string& dir, const Case& c, bool literal, int threads,
                WorkCount count = WorkCount::kSkip) {
    return InChildProcess<Figures>([&] { return RunOnce(dir, c, literal, threads, count); });
}

// The run with the median total time of several.
Figures Median(const std::string& dir, const Case& c, bool literal, int threads, int runs) {
    std::vector<Figures> all;
    for (int i = 0; i < runs; ++i) all.push_back(Measure(dir, c, literal, threads));
    std::sort(all.begin(), all.end(), [](const Figures& a, const Figures& b) { return a.totalMs < b.totalMs; });
    // Of an even count, the faster middle run.
    return all[(all.size() - 1) / 2];
}

// Milliseconds to read and decode a colour file and a depth file as the
// program does (the depth beside the colour, or both at once from one file).
double ReadMs(const std::string& colour, const std::string& depth) {
    const auto start = Clock::now();
    dof::ImageAndDepth both;
    if (colour == depth) {
        both = dof::ReadImageAndDepth(colour);
    } else {
        std::future<dof::Result<dof::Image>> depthRead =
            std::async(std::launch::async, [&] { return dof::ReadDepth(depth); });
        both.colour = dof::ReadImage(colour);
        both.depth = depthRead.get();
    }
    if (!both.colour || !both.depth) {
        std::fprintf(stderr, "cannot read %s and %s\n", colour.c_str(), depth.c_str());
        std::exit(1);
    }
    return Ms(start, Clock::now());
}

// The portrait as one OpenEXR file, as a renderer leaves it: half RGBA in
// linear light and the depth as a float Z channel.
std::string WritePortraitExr(const std::string& dir, Imf::Compression compression) {
    const dof::Image colour = dof::ReadImage(dir + "/portrait/color.tga").value();
    const dof::Image depth = dof::ReadDepth(dir + "/portrait/depth.hdr").value();
    const int w = colour.Width(), h = colour.Height();
    std::vector<Imf::Rgba> rgba(static_cast<std::size_t>(w) * h);
    std::vector<float> z(rgba.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = colour.Row(y) + 3 * x;
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            auto linear = [](unsigned char v) {
                const double e = v / 255.0;
                return static_cast<float>(e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4));
            };
            rgba[i] = Imf::Rgba(linear(p[0]), linear(p[1]), linear(p[2]), 1.0f);
            z[i] = static_cast<float>(reinterpret_cast<const double*>(depth.Row(y))[x]);
        }
    const std::string path =
        "/tmp/dof_bench_portrait_" + std::to_string(getpid()) + "_" + std::to_string(compression) + ".exr";
    Imf::Header header(w, h);
    header.compression() = compression;
    header.channels().insert("R", Imf::Channel(Imf::HALF));
    header.channels().insert("G", Imf::Channel(Imf::HALF));
    header.channels().insert("B", Imf::Channel(Imf::HALF));
    header.channels().insert("A", Imf::Channel(Imf::HALF));
    header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
    Imf::OutputFile file(path.c_str(), header);
    Imf::FrameBuffer frame;
    const std::size_t pixel = sizeof(Imf::Rgba);
    frame.insert("R", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(&rgba[0].r), pixel, pixel * w));
    frame.insert("G", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(&rgba[0].g), pixel, pixel * w));
    frame.insert("B", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(&rgba[0].b), pixel, pixel * w));
    frame.insert("A", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(&rgba[0].a), pixel, pixel * w));
    frame.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(z.data()), sizeof(float), sizeof(float) * w));
    file.setFrameBuffer(frame);
    file.writePixels(h);
    return path;
}

// How long a blur takes to return once it is cancelled: Cancel() is called
// from the progress function when the given pass is half done.
double CancelLatencyMs(const std::string& dir, const Case& c, dof::Stage pass, int threads) {
    const dof::Result<dof::Image> colour = dof::ReadImage(dir + "/" + c.colour);
    const dof::Result<dof::Image> depth = dof::ReadDepth(dir + "/" + c.depth);
    const dof::Result<dof::Image> lens = dof::ReadImage(dir + "/" + c.lens);
    if (!colour || !depth || !lens) CannotLoad(dir, c);
    dof::ExactParams params;
    params.blurSize = c.blurSize;
    params.focus = c.focus;
    params.zNear = c.zNear;
    params.zFar = c.zFar;
    dof::RunOptions options;
    options.threads = threads;
    Clock::time_point cancelled;
    options.progress = [&](const dof::Progress& progress) {
        if (progress.stage == pass && progress.stageFraction >= 0.5 && !options.cancel.Cancelled()) {
            cancelled = Clock::now();
            options.cancel.Cancel();
        }
    };
    const dof::Result<dof::Image> result = dof::Blur(colour.value(), depth.value(), lens.value(), params, options);
    if (result.error().code != dof::ErrorCode::kCancelled) return -1.0;
    return Ms(cancelled, Clock::now());
}

void PrintRow(const char* caseName, const char* engine, const Figures& f, double speedup) {
    const double pixels = static_cast<double>(f.width) * f.height;
    const double gatherSeconds = f.gatherMs / 1000.0;
    std::printf("| %-18s | %-10s | %7.0f | %6.0f | %8.0f | %8.0f | %6.0f | %8.0f | %6s | %9s | %6.2f | %6.3f | %6.3f | %5.2f | %6.1f | %5.1f | %7.1f | %7s |\n",
                caseName, engine, f.loadMs, f.setupMs, f.firstPassMs, f.gatherMs, f.writeMs, f.totalMs,
                f.rowLoopsMs > 0 ? (std::to_string(static_cast<int>(100.0 * f.rowLoopsMs / f.totalMs + 0.5)) + " %").c_str() : "",
                f.rowsAgain >= 0 ? (std::to_string(f.rowsAgain) + "/" + std::to_string(static_cast<long long>(f.pixelsAgain))).c_str() : "", f.visits / 1e9, f.contributions / 1e9, gatherSeconds > 0 ? f.contributions / 1e9 / gatherSeconds : 0.0,
                pixels / 1e6 / (f.totalMs / 1000.0), f.peakBytes / 1048576.0, f.peakBytes / pixels,
                f.kernelBytes / 1048576.0, speedup > 0 ? (std::to_string(speedup).substr(0, 5) + "x").c_str() : "");
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = DOF_SCENES_DIR;
    int runs = 3, literalRuns = 1, threads = 0;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--scenes") dir = next();
        else if (a == "--list") {
            std::printf("cases: \"portrait -s 24\", \"portrait -s 16 def\", \"portrait -s 48\", \"portrait -s 56\", \"4k -s 56\", \"4k -s 112\", \"16-bit depth -s 56\", \"ground plane -s 112\", \"tilted plane -s 112\", read\n");
            return 0;
        }
        else if (a == "--runs") runs = std::max(1, std::atoi(next()));
        else if (a == "--literal-runs") literalRuns = std::max(0, std::atoi(next()));
        else if (a == "--threads") threads = std::atoi(next());
        else if (a == "--lanes") maxLanes = std::atoi(next());
        else if (a == "--case") only = next();
        else {
            std::printf("usage: dof_bench [--scenes DIR] [--runs N] [--literal-runs N] [--threads N] [--lanes N] [--case NAME] [--list]\n");
            return 0;
        }
    }
    // "4k": the portrait scaled by 2 (see WriteScaledPortrait); "-s 24" is
    // the short-span case (8 pixels per neighbour and row on average).
    const Case cases[] = {
        {"portrait -s 24", "portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga", 24, 2.4, 0.9, 22, true},
        {"portrait -s 16 def", "portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga", 16, 0.5, 0.0, 1.0, false},
        {"portrait -s 48", "portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga", 48, 2.4, 0.9, 22, true},
        {"portrait -s 56", "portrait/color.tga", "portrait/depth.tga", "lens/hexagon.tga", 56, 2.4, 0.9, 22, false},
        {"4k -s 56", "portrait4k/color.tga", "portrait4k/depth.tga", "lens/hexagon.tga", 56, 2.4, 0.9, 22, false},
        {"4k -s 112", "portrait4k/color.tga", "portrait4k/depth.tga", "lens/hexagon.tga", 112, 2.4, 0.9, 22, false},
        {"16-bit depth -s 56", "portrait/color.tga", "portrait16/depth.png", "lens/hexagon.tga", 56, 2.4, 0.9, 22, false},
        {"ground plane -s 112", "portrait/color.tga", "ground/depth.png", "lens/hexagon.tga", 112, 2.4, 0.9, 22, false},
        {"tilted plane -s 112", "portrait/color.tga", "tilted/depth.png", "lens/hexagon.tga", 112, 2.4, 0.9, 22, false},
    };
    // The scaled scene lives beside copies of the lenses, in a folder of this run.
    const std::string scenes = dir;
    bool anyLarge = false, anyFine = false, anyGround = false, anyTilted = false;
    for (const Case& c : cases) {
        if (!only.empty() && only != c.name) continue;
        anyLarge = anyLarge || std::strncmp(c.colour, "portrait4k/", 11) == 0;
        anyFine = anyFine || std::strncmp(c.depth, "portrait16/", 11) == 0;
        anyGround = anyGround || std::strncmp(c.depth, "ground/", 7) == 0;
        anyTilted = anyTilted || std::strncmp(c.depth, "tilted/", 7) == 0;
    }
    const bool anyMade = anyLarge || anyFine || anyGround || anyTilted;
    if (anyMade) {
        dir = "/tmp/dof_bench_scenes_" + std::to_string(getpid());
        mkdir(dir.c_str(), 0755);
        if (anyLarge) WriteScaledPortrait(scenes, dir + "/portrait4k");
        if (anyFine) WriteFineDepth(scenes, dir + "/portrait16");
        if (anyGround) WritePlane(dir + "/ground", 1920, 1080, 0.8, 0.0);
        if (anyTilted) WritePlane(dir + "/tilted", 1920, 1080, 0.55, 0.25);
        // The links name their targets whole: a relative name would be taken
        // from the folder of the link.
        char* whole = realpath(scenes.c_str(), nullptr);
        const std::string from = whole ? whole : scenes;
        std::free(whole);
        symlink((from + "/portrait").c_str(), (dir + "/portrait").c_str());
        symlink((from + "/lens").c_str(), (dir + "/lens").c_str());
    }
    std::printf("fast engine: median of %d runs, %s threads; literal: %d run(s), one thread\n\n", runs,
                threads > 0 ? std::to_string(threads).c_str() : "all", literalRuns);
    std::printf("| case               | engine     | load ms | setup  | 1st pass | gather   | write  | total ms | in rows | again rows/px | visits G | contrib G | Gcontrib/s | MP/s  | peak MB | B/px  | kernel MB | speedup |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : cases) {
        if (!only.empty() && only != c.name) continue;
        Figures fast = Median(dir, c, false, threads, runs);
        const Figures counted = Measure(dir, c, false, threads, WorkCount::kCount);
        fast.visits = counted.visits;
        fast.contributions = counted.contributions;
        if (literalRuns > 0 && c.literal) {
            const Figures literal = Median(dir, c, true, 0, literalRuns);
            PrintRow(c.name, "fast", fast, literal.totalMs / fast.totalMs);
            PrintRow(c.name, "literal", literal, 0.0);
            if (literal.outputHash != fast.outputHash) std::printf("  (!) outputs differ\n");
        } else {
            PrintRow(c.name, "fast", fast, 0.0);
        }
        std::fflush(stdout);
    }
    // The largest of a few cancellations halfway through each pass (the 1080p cases).
    for (const Case& c : cases) {
        if ((!only.empty() && only != c.name) || std::strncmp(c.colour, "portrait/", 9) != 0) continue;
        double firstPass = 0.0, gather = 0.0;
        for (int i = 0; i < runs; ++i) {
            firstPass = std::max(firstPass, CancelLatencyMs(dir, c, dof::Stage::kFirstPass, threads));
            gather = std::max(gather, CancelLatencyMs(dir, c, dof::Stage::kGather, threads));
        }
        std::printf("\n%s: a blur cancelled halfway returns within %.1f ms (first pass) and %.1f ms (gather)",
                    c.name, firstPass, gather);
    }
    std::printf("\n");
    if (anyMade) {
        for (const char* name : {"portrait4k/color.tga", "portrait4k/depth.tga", "portrait4k", "portrait16/depth.png",
                                 "portrait16", "ground/depth.png", "ground", "portrait", "lens", ""}) {
            const std::string path = dir + "/" + name;
            std::remove(path.c_str());
        }
        dir = scenes;
    }

    // Reading: the same 1920 x 1080 picture as TGA colour and depth, and as
    // one OpenEXR file with half RGBA and a float Z, read the program's way.
    if (only.empty() || only == "read") {
        const std::string zip = WritePortraitExr(dir, Imf::ZIP_COMPRESSION);
        const std::string none = WritePortraitExr(dir, Imf::NO_COMPRESSION);
        std::vector<double> tga, zipped, plain;
        for (int i = 0; i < std::max(runs, 5); ++i) {
            tga.push_back(ReadMs(dir + "/portrait/color.tga", dir + "/portrait/depth.tga"));
            zipped.push_back(ReadMs(zip, zip));
            plain.push_back(ReadMs(none, none));
        }
        std::remove(zip.c_str());
        std::remove(none.c_str());
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[(v.size() - 1) / 2];
        };
        const double t = median(tga), z = median(zipped), n = median(plain);
        std::printf("\nreading 1920x1080 colour and depth (median of %zu): TGA %.1f ms; one OpenEXR file with half "
                    "RGBA and a float Z: ZIP %.1f ms (%.2f times), uncompressed %.1f ms (%.2f times)\n",
                    tga.size(), t, z, z / t, n, n / t);
    }
    return 0;
}
