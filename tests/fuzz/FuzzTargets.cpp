#include "fuzz/FuzzTargets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "api/Decode.h"
#include "api/ExactRun.h"
#include "app/CmdLineOption.h"
#include "fuzz/FuzzSupport.h"
#include "image/RgbeImage.h"
#include "image/TgaImage.h"

namespace {

std::uint32_t ReadLe(const std::uint8_t* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

bool FuzzTga(const std::uint8_t* data, std::size_t size, std::vector<unsigned char>* rgba) {
    int peekWidth = -1;
    int peekHeight = -1;
    const bool peeked = CImageTga::PeekSize(data, size, size, peekWidth, peekHeight);
    // The library's decoding into the file's own channels, on a copy of its own.
    dof::Image natural;
    const bool decoded = CImageTga::DecodeImage(Copy(data, size).get(), size, natural);
    CImageTga image;
    std::unique_ptr<unsigned char[]> buffer = Copy(data, size);
    if (!image.Load(buffer, size)) {
        Require(image.width == 0 && image.height == 0 && image.rgba.empty());
        Require(!decoded);
        return false;
    }
    Require(peeked && peekWidth == image.width && peekHeight == image.height);
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    Require(image.rgba.size() == pixels * 4);
    std::vector<unsigned char> copy(pixels * 4 + 1);
    image.CopyRGBA(copy.data());
    std::vector<unsigned char> grey(pixels + 1);
    image.CopyGrey(grey.data());

    // The same pixels, channel for channel: grey is red, green and blue.
    Require(decoded && natural.Width() == image.width && natural.Height() == image.height);
    const int channels = natural.Channels();
    for (int y = 0; y < natural.Height(); ++y)
        for (int x = 0; x < natural.Width(); ++x) {
            const unsigned char* n = natural.Row(y) + x * channels;
            const unsigned char* r = &image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4];
            Require(r[0] == n[0] && r[1] == n[channels == 1 ? 0 : 1] && r[2] == n[channels == 1 ? 0 : 2]);
            Require(r[3] == (channels == 4 ? n[3] : 255));
        }
    if (rgba) rgba->assign(copy.begin(), copy.end() - 1);
    return true;
}

bool FuzzRgbe(const std::uint8_t* data, std::size_t size, std::vector<double>* means) {
    std::unique_ptr<unsigned char[]> buffer = Copy(data, size);
    RgbeImage image;
    if (!image.ParseHeader(buffer.get(), size)) return false;
    Require(image.width > 0 && image.height > 0 && image.cursor <= size);
    const bool fits = image.FitsFileSize(size);
    const bool loaded = image.Load(buffer, size);
    Require(!loaded || fits);
    if (!loaded) return false;
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    Require(image.rgb.size() == pixels * 3);
    std::vector<double> values(pixels);
    image.ComputeMeans(values.data());
    for (const double mean : values) Require(std::isfinite(mean) && mean >= 0.0);
    if (means) *means = std::move(values);
    return true;
}

int FuzzSetup(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return -1;
    const std::size_t textLength = ReadLe(data, 2) < size - 2 ? ReadLe(data, 2) : size - 2;
    const std::string text(reinterpret_cast<const char*>(data + 2), textLength);
    std::size_t at = 2 + textLength;
    std::size_t lengths[2] = {0, 0};
    for (std::size_t& length : lengths) {
        if (size - at < 4) return -1;
        length = ReadLe(data + at, 4);
        at += 4;
    }

    // The arguments as a command line, minus -h (it only prints the usage).
    std::vector<std::string> words{"dof"};
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find(' ', begin), text.size());
        if (end > begin && text.compare(begin, 2, "-h") != 0) words.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    CCmdLineOption options;
    options.ParseArguments(static_cast<int>(argv.size()), argv.data());
    const dof::ExactParams params = options.Params();
    if (dof::FirstInvalidParameter(params) != dof::Parameter::kNone) return -1;

    dof::Result<dof::Image> images[3] = {dof::Image(), dof::Image(), dof::Image()};
    for (int i = 0; i < 3; ++i) {
        const std::size_t length = i < 2 ? std::min(lengths[i], size - at) : size - at;
        std::unique_ptr<unsigned char[]> file = Copy(data + at, length);
        images[i] = i == 0 ? DecodeDepthFile(file, length, "depth", kFuzzBudget)
                           : DecodeImageFile(file, length, "image", kFuzzBudget);
        at += length;
    }
    for (const auto& image : images)
        if (image.error().code == dof::ErrorCode::kTooLarge) return static_cast<int>(SetupStatus::kImageTooLarge);
    for (const auto& image : images)
        if (!image) return static_cast<int>(SetupStatus::kLoadFailed);

    dof::RunOptions run;
    run.memoryLimit = kFuzzBudget;
    PreparedBlur prepared;
    const dof::Error error =
        PrepareExact(images[1].value(), images[0].value(), images[2].value(), params, run, 0, prepared);
    SetupStatus status = SetupStatus::kReady;
    if (error.code == dof::ErrorCode::kDepthSize) return static_cast<int>(SetupStatus::kDepthSize);
    if (error.code == dof::ErrorCode::kLensSize) return static_cast<int>(SetupStatus::kLensSize);
    if (error.code == dof::ErrorCode::kTooLarge) status = SetupStatus::kBlurTooLarge;
    Require(!error || error.code == dof::ErrorCode::kTooLarge);

    // Every blur is a number, and the window it implies fits the budget.
    Require(!std::isnan(prepared.largestBlur));
    for (const double depth : prepared.inputs.depths) Require(!std::isnan(prepared.engine->BlurOfDepth(depth)));
    if (status == SetupStatus::kReady) {
        Require(prepared.largestBlur < 1e6);
        Require(prepared.neededBytes <= kFuzzBudget);
    }
    return static_cast<int>(status);
}

std::vector<std::uint8_t> SetupInput(const char* arguments, const std::vector<std::uint8_t>& depth,
                                     const std::vector<std::uint8_t>& colour, const std::vector<std::uint8_t>& lens) {
    std::vector<std::uint8_t> bytes;
    const std::size_t textLength = std::strlen(arguments);
    auto put = [&bytes](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    auto append = [&bytes](const void* from, std::size_t count) {
        const std::size_t at = bytes.size();
        bytes.resize(at + count);
        if (count > 0) std::memcpy(bytes.data() + at, from, count);
    };
    put(static_cast<std::uint32_t>(textLength), 2);
    append(arguments, textLength);
    put(static_cast<std::uint32_t>(depth.size()), 4);
    put(static_cast<std::uint32_t>(colour.size()), 4);
    append(depth.data(), depth.size());
    append(colour.data(), colour.size());
    append(lens.data(), lens.size());
    return bytes;
}
