// Scores the physical camera mode (and, on request, the exact mode beside
// it) against a scene's reference picture: PSNR and mean absolute error over
// the three 8-bit sRGB channels for the whole frame and for the regions that
// the scene's regions.png marks (255: the reference's brightest 1 %; 85: the
// in-focus side of depth edges; 170: their defocused side).
//
//   dof_quality SCENE_DIR [--lens FILE] [--depth8] [--exact] [--input]
//                         [--output FILE] [--layers N] [--no-highlights] [--check]
//                         [--strip FILE X Y W H]
//
// SCENE_DIR holds camera.json (fstop, focal_length_mm, sensor_width_mm,
// focus_distance, zNear, zFar), truth.png and regions.png, and color.tga,
// depth.hdr and depth.tga, or takes them from ../../scenes/NAME (the test
// scenes' folder). --exact adds the exact mode with the scene's suggested
// blur size (params.json); --input scores the unblurred colour; --check
// exits with 1 when a scene with targets (table, portrait) misses them;
// --strip writes the crop at X, Y of size W x H of the reference, the exact
// mode and the physical mode side by side (for the documentation).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include <dof/dof.h>

namespace {

struct Score {
    double psnr = 0, mae = 0;
    long long samples = 0;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The number after "key": in a flat JSON object; fallback when absent.
double NumberOf(const std::string& json, const std::string& key, double fallback) {
    const std::size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return fallback;
    const std::size_t colon = json.find(':', at);
    return colon == std::string::npos ? fallback : std::strtod(json.c_str() + colon + 1, nullptr);
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A scene input: in the scene's folder, else in the test scenes' folder of its name.
std::string Input(const std::string& dir, const std::string& file) {
    if (Exists(dir + "/" + file)) return dir + "/" + file;
    const std::string name = dir.substr(dir.find_last_of('/') + 1);
    return dir + "/../../scenes/" + name + "/" + file;
}

dof::Image Load(const dof::Result<dof::Image>& image, const std::string& what) {
    if (!image) {
        std::fprintf(stderr, "%s: %s\n", what.c_str(), image.error().message.c_str());
        std::exit(1);
    }
    return image.value();
}

// An 8-bit RGB(A) view's channel, or an 8-bit conversion of other pictures.
dof::Image AsBytes(const dof::Image& image) {
    if (image.Type() == dof::SampleType::kUInt8) return image;
    std::fprintf(stderr, "the result is not 8-bit\n");
    std::exit(1);
}

Score Compare(const dof::Image& result, const dof::Image& truth, const dof::Image& regions, int code) {
    double squared = 0, absolute = 0;
    long long n = 0;
    for (int y = 0; y < truth.Height(); ++y)
        for (int x = 0; x < truth.Width(); ++x) {
            if (code >= 0 && regions.Row(y)[x * regions.Channels()] != code) continue;
            for (int k = 0; k < 3; ++k) {
                const double d = static_cast<double>(result.Row(y)[x * result.Channels() + k]) -
                                 truth.Row(y)[x * truth.Channels() + k];
                squared += d * d;
                absolute += std::fabs(d);
                ++n;
            }
        }
    Score s;
    s.samples = n;
    if (n == 0) return s;
    const double mse = squared / n;
    s.psnr = mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : INFINITY;
    s.mae = absolute / n;
    return s;
}

void Report(const char* what, const dof::Image& result, const dof::Image& truth, const dof::Image& regions,
            double ms) {
    const Score whole = Compare(result, truth, regions, -1);
    const Score high = Compare(result, truth, regions, 255);
    const Score sharp = Compare(result, truth, regions, 85);
    const Score soft = Compare(result, truth, regions, 170);
    std::printf("| %-14s | %6.2f | %6.2f | %6.2f | %6.2f | %5.2f | %5.2f | %5.2f | %5.2f | %7.0f |\n", what, whole.psnr,
                high.psnr, sharp.psnr, soft.psnr, whole.mae, high.mae, sharp.mae, soft.mae, ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dof_quality SCENE_DIR [--lens FILE] [--depth8] [--exact] [--input] [--output FILE] "
                             "[--layers N] [--no-highlights] [--check] [--strip FILE X Y W H]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string name = dir.substr(dir.find_last_of('/') + 1);
    std::string lensPath = dir + "/../../scenes/lens/disc.tga";
    std::string output;
    bool depth8 = false, exact = false, input = false, check = false;
    std::string strip;
    int crop[4] = {0, 0, 0, 0};
    dof::PhysicalParams params;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--lens" && i + 1 < argc) lensPath = argv[++i];
        else if (arg == "--output" && i + 1 < argc) output = argv[++i];
        else if (arg == "--layers" && i + 1 < argc) params.layersPerSide = std::atoi(argv[++i]);
        else if (arg == "--depth8") depth8 = true;
        else if (arg == "--exact") exact = true;
        else if (arg == "--input") input = true;
        else if (arg == "--check") check = true;
        else if (arg == "--strip" && i + 5 < argc) {
            strip = argv[++i];
            for (int& v : crop) v = std::atoi(argv[++i]);
            exact = true;
        }
        else if (arg == "--no-highlights") params.highlights.mode = dof::HighlightRecovery::kOff;
    }
    const std::string camera = ReadText(dir + "/camera.json");
    params.camera.fNumber = NumberOf(camera, "fstop", NAN);
    params.camera.focalLength = NumberOf(camera, "focal_length_mm", 50.0);
    params.camera.sensorWidth = NumberOf(camera, "sensor_width_mm", 36.0);
    params.camera.focusDistance = NumberOf(camera, "focus_distance", NAN);
    params.camera.zNear = NumberOf(camera, "zNear", 0.0);
    params.camera.zFar = NumberOf(camera, "zFar", 1.0);

    const dof::Image colour = Load(dof::ReadImage(Input(dir, "color.tga")), "colour");
    const dof::Image depth = Load(dof::ReadDepth(Input(dir, depth8 ? "depth.tga" : "depth.hdr")), "depth");
    const dof::Image lens = Load(dof::ReadImage(lensPath), "lens");
    const dof::Image truth = Load(dof::ReadImage(dir + "/truth.png"), "truth");
    const dof::Image regions = Load(dof::ReadImage(dir + "/regions.png"), "regions");

    std::printf("%s %dx%d, f/%g, %g mm on %g mm, focus %g, depth %s, lens %s\n\n", name.c_str(), colour.Width(),
                colour.Height(), params.camera.fNumber, params.camera.focalLength, params.camera.sensorWidth,
                params.camera.focusDistance, depth8 ? "8-bit" : "float", lensPath.substr(lensPath.find_last_of('/') + 1).c_str());
    std::printf("| %-14s | PSNR whole | highlights (255) | in-focus edge (85) | defocused edge (170) | MAE whole | 255 | 85 | 170 | ms |\n", "mode");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    if (input) Report("unblurred", colour, truth, regions, 0.0);

    auto start = std::chrono::steady_clock::now();
    const dof::Result<dof::Image> physical = dof::BlurPhysical(colour, depth, lens, params);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const dof::Image result = AsBytes(Load(physical, "physical mode"));
    Report("physical", result, truth, regions, ms);
    if (!output.empty() && dof::WriteImage(output, result)) std::fprintf(stderr, "cannot write %s\n", output.c_str());

    if (exact) {
        const std::string scene = ReadText(Input(dir, "params.json"));
        dof::ExactParams e;
        e.blurSize = NumberOf(scene, "suggested_blur_size", 16.0);
        e.focus = params.camera.focusDistance;
        e.zNear = params.camera.zNear;
        e.zFar = params.camera.zFar;
        start = std::chrono::steady_clock::now();
        const dof::Result<dof::Image> blurred = dof::Blur(colour, depth, lens, e);
        const double exactMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        char label[32];
        std::snprintf(label, sizeof label, "exact -s %g", e.blurSize);
        const dof::Image exactResult = Load(blurred, "exact mode");
        Report(label, exactResult, truth, regions, exactMs);
        if (!strip.empty()) {
            const int gap = 4;
            dof::Image side(3 * crop[2] + 2 * gap, crop[3], 3, dof::SampleType::kUInt8);
            std::memset(side.Data(), 255, side.ByteCount());
            const dof::Image* pictures[3] = {&truth, &exactResult, &result};
            for (int p = 0; p < 3; ++p)
                for (int y = 0; y < crop[3]; ++y)
                    for (int x = 0; x < crop[2]; ++x)
                        for (int k = 0; k < 3; ++k)
                            side.Row(y)[(p * (crop[2] + gap) + x) * 3 + k] =
                                pictures[p]->Row(crop[1] + y)[(crop[0] + x) * pictures[p]->Channels() + k];
            if (dof::WriteImage(strip, side)) std::fprintf(stderr, "cannot write %s\n", strip.c_str());
        }
    }
    const struct { const char* scene; double whole, high, sharp; } targets[] = {
        {"table", 31.96, 27.08, 29.10}, {"portrait", 31.71, 27.93, 27.21}};
    for (const auto& t : targets)
        if (name == t.scene) {
            const bool met = Compare(result, truth, regions, -1).psnr >= t.whole &&
                             Compare(result, truth, regions, 255).psnr >= t.high &&
                             Compare(result, truth, regions, 85).psnr >= t.sharp;
            std::printf("\ntargets (whole / highlights / in-focus edge): %.2f / %.2f / %.2f: %s\n", t.whole, t.high,
                        t.sharp, met ? "met" : "NOT met");
            if (check && !met) return 1;
        }
    return 0;
}
