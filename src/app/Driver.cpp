#include "app/Driver.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/CmdLineOption.h"
#include "app/FileIo.h"
#include "engine/BlurEngine.h"
#include "engine/Clock.h"
#include "image/Conversions.h"
#include "image/RgbeImage.h"
#include "image/TgaImage.h"
#include "image/TgaWriter.h"

namespace {

enum ExitCode { kSuccess = 0, kBadInput = 1, kDepthSize = 2, kLensSize = 3, kOutputFailed = 4 };

// The first parameter that leaves the result undefined: a value that is not
// finite, or a strong whose exposure space would overflow.
bool CheckParameters(const CCmdLineOption& options) {
    struct Checked {
        const char* name;
        double value;
        bool ok;
    };
    const double s = options.strong;
    const bool strongOk = std::isfinite(s) && s > 0.0 && std::fabs(255.0 * std::log(s)) <= std::log(1e300);
    const Checked checks[] = {
        {"-s", options.blurSize, std::isfinite(options.blurSize)},
        {"-k", s, strongOk},
        {"-c", options.focus, std::isfinite(options.focus)},
        {"-n", options.zNear, std::isfinite(options.zNear)},
        {"-f", options.zFar, std::isfinite(options.zFar)},
    };
    for (const Checked& check : checks) {
        if (!check.ok) {
            std::printf("bad parameter!! _ %s = %g\n", check.name, check.value);
            return false;
        }
    }
    return true;
}

bool LoadTga(const std::string& path, CImageTga& image) {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    if (!ReadWholeFile(path, data, size)) return false;
    return image.Load(data, size);
}

// The depth file is an RGBE file when its header says so, a TGA file otherwise.
bool LoadDepth(const std::string& path, RgbeImage& rgbe, CImageTga& tga, bool& isRgbe) {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    isRgbe = false;
    if (!ReadWholeFile(path, data, size)) return false;
    if (rgbe.ParseHeader(data.get(), size)) {
        isRgbe = true;
        return rgbe.Load(data, size);
    }
    return tga.Load(data, size);
}

}  // namespace

int RunProgram(int argc, const char* const* argv) {
    const std::uint32_t start = MilliClock();
    auto engine = std::make_unique<CBlurEngine>();
    CImageTga colourImage;
    CImageTga depthImage;
    CImageTga lensImage;
    RgbeImage depthRgbe;
    CCmdLineOption options;

    options.ParseArguments(argc, argv);
    engine->strong = options.strong;
    engine->zReverse = options.zReverse;
    engine->blurSize = options.blurSize;
    engine->focus = options.focus;
    engine->zNear = options.zNear;
    engine->zFar = options.zFar;
    engine->maxBlur = 5.0 * options.blurSize;

    if (argc <= 1) {
        options.PrintUsage();
        return kBadInput;
    }
    if (!CheckParameters(options)) return kBadInput;

    bool depthIsRgbe = false;
    const bool depthLoaded = LoadDepth(options.zbufferFile, depthRgbe, depthImage, depthIsRgbe);
    const bool colourLoaded = LoadTga(options.imageFile, colourImage);
    const bool lensLoaded = LoadTga(options.lensFile, lensImage);
    if (!depthLoaded || !colourLoaded || !lensLoaded) {
        if (!depthLoaded) std::printf("zbuffer load failed!! _ %s\n", options.zbufferFile.c_str());
        if (!colourLoaded) std::printf("image load failed!! _ %s\n", options.imageFile.c_str());
        if (!lensLoaded) std::printf("lens load failed!! _ %s\n", options.lensFile.c_str());
        return kBadInput;
    }

    const int w = colourImage.width;
    const int h = colourImage.height;
    const std::size_t pixelCount = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    {
        std::vector<unsigned char> scratch(pixelCount * 4);
        colourImage.CopyRGBA(scratch.data());
        engine->source.SetFromRGBA8(w, h, scratch.data());
    }
    colourImage.Release();

    if (depthIsRgbe) {
        if (depthRgbe.width != w || depthRgbe.height != h) {
            std::printf("image size - zbuffer size!! _ %dx%d - %dx%d\n", w, h, depthRgbe.width, depthRgbe.height);
            return kDepthSize;
        }
        std::vector<double> means(pixelCount);
        depthRgbe.ComputeMeans(means.data());
        SetDepthFromValues(*engine, means.data(), w, h);
        depthRgbe = RgbeImage();
    } else {
        if (depthImage.width != w || depthImage.height != h) {
            std::printf("image size - zbuffer size!! _ %dx%d - %dx%d\n", w, h, depthImage.width, depthImage.height);
            return kDepthSize;
        }
        std::vector<unsigned char> scratch(pixelCount * 4);
        depthImage.CopyRGBA(scratch.data());
        SetDepthFromBytes(*engine, w, h, scratch.data());
        depthImage.Release();
    }

    if (lensImage.width != 256 || lensImage.height != 256) {
        std::printf("lens size not 256x256!! _ %dx%d\n", lensImage.width, lensImage.height);
        return kLensSize;
    }
    {
        std::vector<unsigned char> scratch(256 * 256 * 4);
        lensImage.CopyRGBA(scratch.data());
        SetLensFromBytes(*engine, scratch.data());
    }
    lensImage.Release();

    engine->Run();

    bool written;
    {
        std::vector<unsigned char> bytes(pixelCount * 4);
        ResultToBytes(*engine, bytes.data());
        engine.reset();
        CTGAImage file;
        written = file.Encode(w, h, bytes.data()) &&
                  WriteFileAtomically(options.outputFile, file.fileBytes.get(), file.fileSize);
    }
    if (!written) {
        std::printf("output save failed!! _ %s\n", options.outputFile.c_str());
        return kOutputFailed;
    }

    const std::uint32_t end = MilliClock();
    std::printf("%.3f sec\n", ElapsedMs(start, end) / 1000.0);
    std::printf("out > %s\n", options.outputFile.c_str());
    return kSuccess;
}
