#include "api/Decode.h"

#include <cmath>
#include <cstdio>

#include "engine/ResourceLimits.h"
#include "image/RgbeImage.h"
#include "image/TgaImage.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

const char kNotTga[] = "not a TGA file this program reads (8-bit grey, 24- or 32-bit colour) or cut short";

dof::Error NotRead(const std::string& path, const char* what) {
    return {dof::ErrorCode::kReadFailed, path + ": " + what};
}

// The need of a whole file: a long Radiance header is judged only here.
dof::Error CheckWhole(const unsigned char* data, std::size_t size, const std::string& path, double limit,
                      bool isDepth) {
    const InputNeed need = InputMemory(data, size, size, isDepth);
    if (need.bytes > limit) return TooLarge(path, need, limit);
    return {};
}

}  // namespace

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
                                        const std::string& path, double limit) {
    const std::unique_ptr<unsigned char[]> file = std::move(data);
    if (dof::Error error = CheckWhole(file.get(), size, path, limit, false)) return error;
    dof::Image image;
    if (!CImageTga::DecodeImage(file.get(), size, image)) return NotRead(path, kNotTga);
    return image;
}

dof::Result<dof::Image> DecodeDepthFile(std::unique_ptr<unsigned char[]>& data, std::size_t size,
                                        const std::string& path, double limit) {
    if (dof::Error error = CheckWhole(data.get(), size, path, limit, true)) return error;
    // A Radiance file is told by its header; anything else is read as TGA.
    RgbeImage rgbe;
    if (rgbe.ParseHeader(data.get(), size)) {
        if (!rgbe.Load(data, size)) return NotRead(path, "a Radiance file cut short or damaged");
        dof::Image depth(rgbe.width, rgbe.height, 1, dof::SampleType::kFloat64);
        rgbe.ComputeMeans(reinterpret_cast<double*>(depth.Data()));
        return depth;
    }
    const std::unique_ptr<unsigned char[]> file = std::move(data);
    dof::Image decoded;
    if (!CImageTga::DecodeImage(file.get(), size, decoded)) return NotRead(path, kNotTga);
    if (decoded.Channels() == 1) return decoded;
    // The first channel of a colour file.
    dof::Image depth(decoded.Width(), decoded.Height(), 1, dof::SampleType::kUInt8);
    for (int y = 0; y < depth.Height(); ++y) {
        const unsigned char* in = decoded.Row(y);
        unsigned char* out = depth.Row(y);
        for (int x = 0; x < depth.Width(); ++x) out[x] = in[x * decoded.Channels()];
    }
    return depth;
}
