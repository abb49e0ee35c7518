#include "image/ExrReader.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/ExrStreams.h"

namespace {

// Rows of a band when the data window is wider than the picture.
constexpr std::size_t kBandBytes = std::size_t{4} << 20;

bool SameBox(const Imath::Box2i& library, const ExrBox& ours) {
    return library.min.x == ours.xMin && library.min.y == ours.yMin && library.max.x == ours.xMax &&
           library.max.y == ours.yMax;
}

// The library must have read the header as this reader did.
bool ReadAlike(const Imf::MultiPartInputFile& file, const ExrHeaders& headers, const ExrChoice& choice) {
    if (file.parts() != static_cast<int>(headers.parts.size())) return false;
    const Imf::Header& header = file.header(static_cast<int>(choice.part));
    const ExrPart& part = headers.parts[choice.part];
    if (!SameBox(header.displayWindow(), part.displayWindow) || !SameBox(header.dataWindow(), part.dataWindow))
        return false;
    for (const std::string& name : choice.channels) {
        const Imf::Channel* channel = header.channels().findChannel(name);
        if (!channel || channel->xSampling != 1 || channel->ySampling != 1) return false;
    }
    return true;
}

// The part of the display window that the data window covers, in picture
// coordinates (x1 and y1 exclusive); empty when they do not meet.
struct Covered {
    std::int64_t x0, y0, x1, y1;
    bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

Covered CoveredPart(const ExrBox& display, const ExrBox& data) {
    return {std::max<std::int64_t>(data.xMin, display.xMin) - display.xMin,
            std::max<std::int64_t>(data.yMin, display.yMin) - display.yMin,
            std::min<std::int64_t>(data.xMax, display.xMax) + 1 - display.xMin,
            std::min<std::int64_t>(data.yMax, display.yMax) + 1 - display.yMin};
}

// value in every sample the data window does not cover.
void FillUncovered(dof::Image& picture, const Covered& covered, float value) {
    const std::size_t samples = static_cast<std::size_t>(picture.Channels());
    const auto fill = [&](int y, std::int64_t from, std::int64_t to) {
        float* row = reinterpret_cast<float*>(picture.Row(y));
        std::fill(row + from * static_cast<std::int64_t>(samples), row + to * static_cast<std::int64_t>(samples),
                  value);
    };
    for (int y = 0; y < picture.Height(); ++y) {
        if (covered.Empty() || y < covered.y0 || y >= covered.y1) {
            fill(y, 0, picture.Width());
        } else {
            fill(y, 0, covered.x0);
            fill(y, covered.x1, picture.Width());
        }
    }
}

// The chosen channels of the covered rows into the picture: straight in when
// every sample of a row lands inside it, else through a band of whole rows.
void ReadCovered(Imf::InputPart& input, const ExrPart& part, const std::vector<std::string>& names,
                 const Covered& covered, dof::Image& picture) {
    const ExrBox& display = part.displayWindow;
    const ExrBox& data = part.dataWindow;
    const std::size_t xStride = picture.PixelBytes();
    const int firstRow = static_cast<int>(covered.y0 + display.yMin);
    const int lastRow = static_cast<int>(covered.y1 - 1 + display.yMin);
    if (data.xMin >= display.xMin && data.xMax <= display.xMax) {
        Imf::FrameBuffer frame;
        for (std::size_t c = 0; c < names.size(); ++c)
            frame.insert(names[c],
                         Imf::Slice::Make(Imf::FLOAT, picture.Data() + c * sizeof(float),
                                          Imath::V2i(display.xMin, display.yMin), picture.Width(), picture.Height(),
                                          xStride, static_cast<std::size_t>(picture.RowStride())));
        input.setFrameBuffer(frame);
        input.readPixels(firstRow, lastRow);
        return;
    }
    const std::size_t dataWidth = static_cast<std::size_t>(std::int64_t{data.xMax} - data.xMin + 1);
    const std::size_t rowBytes = dataWidth * xStride;
    const int rows = static_cast<int>(covered.y1 - covered.y0);
    const int bandRows =
        static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(rows)));
    std::vector<unsigned char> band(rowBytes * static_cast<std::size_t>(bandRows));
    const std::size_t skip = static_cast<std::size_t>(covered.x0 + display.xMin - data.xMin) * xStride;
    const std::size_t keep = static_cast<std::size_t>(covered.x1 - covered.x0) * xStride;
    for (int top = firstRow; top <= lastRow; top += bandRows) {
        const int count = std::min(bandRows, lastRow - top + 1);
        Imf::FrameBuffer frame;
        for (std::size_t c = 0; c < names.size(); ++c)
            frame.insert(names[c],
                         Imf::Slice::Make(Imf::FLOAT, band.data() + c * sizeof(float), Imath::V2i(data.xMin, top),
                                          static_cast<std::int64_t>(dataWidth), count, xStride, rowBytes));
        input.setFrameBuffer(frame);
        input.readPixels(top, top + count - 1);
        for (int r = 0; r < count; ++r)
            std::memcpy(picture.Row(top + r - display.yMin) + covered.x0 * static_cast<std::int64_t>(xStride),
                        band.data() + static_cast<std::size_t>(r) * rowBytes + skip, keep);
    }
}

}  // namespace

bool ReadExrPixels(const unsigned char* data, std::size_t size, const ExrHeaders& headers, const ExrChoice& choice,
                   float fill, dof::Image& image, std::string& reason) {
    ExrMemoryInput stream(data, size);
    // A damaged chunk table fails the reading rather than being rebuilt.
    Imf::MultiPartInputFile file(stream, Imf::globalThreadCount(), false);
    if (!ReadAlike(file, headers, choice)) {
        reason = "the OpenEXR library reads the header otherwise";
        return false;
    }
    const ExrPart& part = headers.parts[choice.part];
    int width = 0;
    int height = 0;
    BoxSize(part.displayWindow, width, height);
    dof::Image picture(width, height, static_cast<int>(choice.channels.size()), dof::SampleType::kFloat32);
    const Covered covered = CoveredPart(part.displayWindow, part.dataWindow);
    if (fill != 0.0f) FillUncovered(picture, covered, fill);
    if (!covered.Empty()) {
        Imf::InputPart input(file, static_cast<int>(choice.part));
        ReadCovered(input, part, choice.channels, covered, picture);
    }
    image = std::move(picture);
    return true;
}
