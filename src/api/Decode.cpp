#include "api/Decode.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/ResourceLimits.h"
#include "image/Codecs.h"
#include "image/ImageFormat.h"
#include "image/RgbeImage.h"
#include "image/TgaImage.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

const char kNotTga[] = "not a picture file this program reads (TGA, PNG, TIFF, OpenEXR, Radiance) or cut short";

dof::Error NotRead(const std::string& path, const std::string& why) {
    return {dof::ErrorCode::kReadFailed, path + ": " + why};
}

InputNeed Sized(double fileBytes, int width, int height) {
    InputNeed need;
    need.sized = true;
    need.width = width;
    need.height = height;
    need.bytes = fileBytes + PixelBufferBytes(width, height);
    return need;
}

// The need of a whole file: a long header is judged here.
dof::Error CheckWhole(const unsigned char* data, std::size_t size, const std::string& path, double limit,
                      bool isDepth) {
    const InputNeed need = InputMemory(data, size, size, isDepth);
    if (need.bytes > limit) return TooLarge(path, need, limit);
    return {};
}

// A decoder's refusal by size is the same kTooLarge as one from the header.
struct SizeCheck {
    std::size_t fileSize;
    double limit;
    InputNeed refused;
    DecodeLimits Limits() {
        DecodeLimits limits;
        limits.accept = [this](int width, int height) {
            const InputNeed need = Sized(static_cast<double>(fileSize), width, height);
            if (need.bytes <= limit) return true;
            refused = need;
            return false;
        };
        return limits;
    }
};

dof::Result<dof::Image> Finish(const DecodeResult& result, dof::Image& image, const std::string& path,
                               const SizeCheck& check) {
    if (result.status == DecodeStatus::kTooLarge) return TooLarge(path, check.refused, check.limit);
    if (result.status == DecodeStatus::kFailed) return NotRead(path, result.reason);
    return std::move(image);
}

// A Radiance file's header, when it is one.
bool IsRadiance(const unsigned char* data, std::size_t size, RgbeImage& rgbe) {
    return SniffFormat(data, size) == FileFormat::kRadiance && rgbe.ParseHeader(data, size);
}

// The first channel of a picture, in its own sample type.
dof::Image FirstChannel(dof::Image picture) {
    if (picture.Channels() == 1) return picture;
    dof::Image channel(picture.Width(), picture.Height(), 1, picture.Type());
    const std::size_t sample = dof::SampleBytes(picture.Type());
    const std::size_t step = picture.PixelBytes();
    for (int y = 0; y < channel.Height(); ++y) {
        const unsigned char* in = picture.Row(y);
        unsigned char* out = channel.Row(y);
        for (int x = 0; x < channel.Width(); ++x) std::memcpy(out + x * sample, in + x * step, sample);
    }
    return channel;
}

// The pictures of the formats that come through libraries, and TGA.
dof::Result<dof::Image> DecodeOther(FileFormat format, const unsigned char* data, std::size_t size,
                                    const std::string& path, double limit, const dof::ReadOptions& options,
                                    bool depth) {
    SizeCheck check{size, limit, {}};
    dof::Image image;
    switch (format) {
        case FileFormat::kPng: return Finish(DecodePng(data, size, check.Limits(), image), image, path, check);
        case FileFormat::kTiff: return Finish(DecodeTiff(data, size, check.Limits(), image), image, path, check);
        case FileFormat::kOpenExr:
            return Finish(depth ? DecodeExrDepth(data, size, options.depthChannel, check.Limits(), image)
                                : DecodeExrColour(data, size, options.layer, check.Limits(), image),
                          image, path, check);
        case FileFormat::kTga:
        case FileFormat::kRadiance: break;
    }
    if (!CImageTga::DecodeImage(data, size, image)) return NotRead(path, kNotTga);
    return image;
}

}  // namespace

InputNeed InputMemory(const unsigned char* head, std::size_t headSize, std::size_t fileSize, bool isDepth) {
    InputNeed need;
    need.bytes = static_cast<double>(fileSize);
    PeekedSize peeked;
    switch (SniffFormat(head, headSize)) {
        case FileFormat::kRadiance: {
            if (!isDepth) break;  // colour is never read as Radiance
            RgbeImage header;
            if (header.ParseHeader(head, headSize)) {
                if (!header.FitsFileSize(fileSize)) return need;  // Load refuses it
                return Sized(need.bytes, header.width, header.height);
            }
            if (headSize < fileSize) return need;  // the header may go on
            break;  // read as TGA
        }
        case FileFormat::kPng: peeked = PeekPng(head, headSize); break;
        case FileFormat::kTiff: peeked = PeekTiff(head, headSize); break;
        case FileFormat::kOpenExr: peeked = PeekExr(head, headSize); break;
        case FileFormat::kTga: break;
    }
    if (peeked.sized) return Sized(need.bytes, peeked.width, peeked.height);
    int width = 0;
    int height = 0;
    if (!CImageTga::PeekSize(head, headSize, fileSize, width, height)) return need;
    return Sized(need.bytes, width, height);
}

dof::Error TooLarge(const std::string& path, const InputNeed& need, double limit) {
    char text[120];
    if (need.sized)
        std::snprintf(text, sizeof text, ": %dx%d pixels need %.0f MiB, the limit is %.0f MiB", need.width,
                      need.height, std::ceil(need.bytes / kMiB), std::floor(limit / kMiB));
    else
        std::snprintf(text, sizeof text, ": the file needs %.0f MiB, the limit is %.0f MiB",
                      std::ceil(need.bytes / kMiB), std::floor(limit / kMiB));
    return {dof::ErrorCode::kTooLarge, path + text};
}

dof::Result<dof::Image> DecodeImageFile(std::unique_ptr<unsigned char[]>& data, std::size_t size,
                                        const std::string& path, double limit, const dof::ReadOptions& options) {
    // Radiance holds depth only: a colour file that starts like one goes to
    // the TGA reader, as it always did.
    if (dof::Error error = CheckWhole(data.get(), size, path, limit, false)) return error;
    const std::unique_ptr<unsigned char[]> file = std::move(data);
    return DecodeOther(SniffFormat(file.get(), size), file.get(), size, path, limit, options, false);
}

dof::Result<dof::Image> DecodeDepthFile(std::unique_ptr<unsigned char[]>& data, std::size_t size,
                                        const std::string& path, double limit, const dof::ReadOptions& options) {
    if (dof::Error error = CheckWhole(data.get(), size, path, limit, true)) return error;
    // A Radiance file's depth is the mean of its red, green and blue.
    RgbeImage rgbe;
    if (IsRadiance(data.get(), size, rgbe)) {
        if (!rgbe.Load(data, size)) return NotRead(path, "a Radiance file cut short or damaged");
        dof::Image depth(rgbe.width, rgbe.height, 1, dof::SampleType::kFloat64);
        rgbe.ComputeMeans(reinterpret_cast<double*>(depth.Data()));
        return depth;
    }
    const std::unique_ptr<unsigned char[]> file = std::move(data);
    dof::Result<dof::Image> picture =
        DecodeOther(SniffFormat(file.get(), size), file.get(), size, path, limit, options, true);
    if (!picture) return picture;
    return FirstChannel(std::move(picture).value());
}
