#include "app/RunSetup.h"

#include <cmath>
#include <cstring>
#include <future>
#include <system_error>
#include <vector>

#include "app/CmdLineOption.h"
#include "engine/BlurEngine.h"
#include "engine/ResourceLimits.h"
#include "image/Conversions.h"
#include "image/RgbeImage.h"
#include "image/TgaImage.h"

void CopyOptions(const CCmdLineOption& options, CBlurEngine& engine) {
    engine.strong = options.strong;
    engine.zReverse = options.zReverse;
    engine.blurSize = options.blurSize;
    engine.focus = options.focus;
    engine.zNear = options.zNear;
    engine.zFar = options.zFar;
    engine.maxBlur = 5.0 * options.blurSize;
}

bool FindBadParameter(const CCmdLineOption& options, BadParameter& bad) {
    const double s = options.strong;
    const bool strongOk = std::isfinite(s) && s > 0.0 && std::fabs(255.0 * std::log(s)) <= std::log(1e300);
    const struct {
        const char* name;
        double value;
        bool ok;
    } checks[] = {
        {"-s", options.blurSize, std::isfinite(options.blurSize)},
        {"-k", s, strongOk},
        {"-c", options.focus, std::isfinite(options.focus)},
        {"-n", options.zNear, std::isfinite(options.zNear)},
        {"-f", options.zFar, std::isfinite(options.zFar)},
    };
    for (const auto& check : checks) {
        if (!check.ok) {
            bad.name = check.name;
            bad.value = check.value;
            return true;
        }
    }
    return false;
}

InputNeed InputMemory(const unsigned char* head, std::size_t headSize, std::size_t fileSize, bool isDepth) {
    InputNeed need;
    need.bytes = static_cast<double>(fileSize);
    if (isDepth && headSize >= 2 && head[0] == '#' && head[1] == '?') {
        RgbeImage header;
        if (header.ParseHeader(head, headSize)) {
            if (!header.FitsFileSize(fileSize)) return need;  // Load refuses it
            need.sized = true;
            need.width = header.width;
            need.height = header.height;
            need.bytes += PixelBufferBytes(header.width, header.height);
            return need;
        }
        if (headSize < fileSize) return need;  // the header may go on
    }
    int width = 0;
    int height = 0;
    if (!CImageTga::PeekSize(head, headSize, fileSize, width, height)) return need;
    need.sized = true;
    need.width = width;
    need.height = height;
    need.bytes += PixelBufferBytes(width, height);
    return need;
}

namespace {

bool LoadTga(InputFile& file, CImageTga& image) { return file.read && image.Load(file.data, file.size); }

// The depth file is an RGBE file when its header says so, a TGA file otherwise.
bool LoadDepth(InputFile& file, RgbeImage& rgbe, CImageTga& tga, bool& isRgbe) {
    isRgbe = false;
    if (!file.read) return false;
    if (rgbe.ParseHeader(file.data.get(), file.size)) {
        isRgbe = true;
        return rgbe.Load(file.data, file.size);
    }
    return tga.Load(file.data, file.size);
}

}  // namespace

SetupReport PrepareRun(CBlurEngine& engine, InputFile (&inputs)[3], double budgetBytes) {
    SetupReport report;
    for (int i = 0; i < 3; ++i) {
        if (!inputs[i].read) continue;
        const InputNeed need = InputMemory(inputs[i].data.get(), inputs[i].size, inputs[i].size, i == kDepthInput);
        if (need.bytes > budgetBytes) {
            report.status = SetupStatus::kImageTooLarge;
            report.tooLarge = i;
            report.need = need;
            report.neededBytes = need.bytes;
            return report;
        }
    }

    CImageTga colourImage;
    CImageTga depthImage;
    CImageTga lensImage;
    RgbeImage depthRgbe;
    bool depthIsRgbe = false;
    {
        // The depth decodes beside the colour and the lens. The future is
        // declared last, so that it waits for the decoding before anything
        // it uses goes away.
        std::future<bool> depthLoaded;
        try {
            depthLoaded = std::async(std::launch::async, [&inputs, &depthRgbe, &depthImage, &depthIsRgbe] {
                return LoadDepth(inputs[kDepthInput], depthRgbe, depthImage, depthIsRgbe);
            });
        } catch (const std::system_error&) {
            // No thread to spare: one after the other.
        }
        report.loaded[kColourInput] = LoadTga(inputs[kColourInput], colourImage);
        report.loaded[kLensInput] = LoadTga(inputs[kLensInput], lensImage);
        report.loaded[kDepthInput] = depthLoaded.valid()
                                         ? depthLoaded.get()
                                         : LoadDepth(inputs[kDepthInput], depthRgbe, depthImage, depthIsRgbe);
    }
    if (!report.loaded[0] || !report.loaded[1] || !report.loaded[2]) {
        report.status = SetupStatus::kLoadFailed;
        return report;
    }

    const int w = colourImage.width;
    const int h = colourImage.height;
    report.width = w;
    report.height = h;
    const std::size_t pixelCount = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    // The engine's compact inputs: the same values as its float images,
    // without ever holding those.
    SetSourceFromBytes(engine, w, h, std::move(colourImage.rgba));
    colourImage.Release();

    const int depthWidth = depthIsRgbe ? depthRgbe.width : depthImage.width;
    const int depthHeight = depthIsRgbe ? depthRgbe.height : depthImage.height;
    if (depthWidth != w || depthHeight != h) {
        report.status = SetupStatus::kDepthSize;
        report.otherWidth = depthWidth;
        report.otherHeight = depthHeight;
        return report;
    }
    if (depthIsRgbe) {
        std::vector<double> means(pixelCount);
        depthRgbe.ComputeMeans(means.data());
        depthRgbe = RgbeImage();
        SetDepthChannelFromValues(engine, means.data(), w, h);
    } else {
        SetDepthChannelFromBytes(engine, w, h, depthImage.rgba.data());
        depthImage.Release();
    }

    if (lensImage.width != 256 || lensImage.height != 256) {
        report.status = SetupStatus::kLensSize;
        report.otherWidth = lensImage.width;
        report.otherHeight = lensImage.height;
        return report;
    }
    {
        std::vector<unsigned char> scratch(256 * 256 * 4);
        lensImage.CopyRGBA(scratch.data());
        SetLensFromBytes(engine, scratch.data());
    }
    lensImage.Release();

    // The largest blur sets the window, the distance table and the kernels.
    report.largestBlur = LargestDepthBlur(engine, w, h);
    const double pixels = static_cast<double>(pixelCount);
    report.neededBytes = PixelBufferBytes(w, h) + BlurTableBytes(report.largestBlur, pixels);
    if (!(report.neededBytes <= budgetBytes)) report.status = SetupStatus::kBlurTooLarge;
    return report;
}
