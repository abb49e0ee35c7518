#include "image/ExrWriter.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Rows the writer hands the library at a time: a multiple of the 16 lines
// of a ZIP chunk.
constexpr int kWriteBandRows = 64;

}  // namespace

// The library writes a channel only from samples of its own type, so rows
// go through a band of samples converted to it (which also takes any row
// stride).
void WriteExrPixels(const dof::ImageView& image, bool half, Imf::OStream& stream) {
    static const char* const kNames[4][4] = {{"Y"}, {"Y", "A"}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
    const int channels = image.Channels();
    const char* const* names = kNames[channels - 1];
    Imf::Header header(image.Width(), image.Height());
    header.compression() = Imf::ZIP_COMPRESSION;
    for (int c = 0; c < channels; ++c) header.channels().insert(names[c], Imf::Channel(half ? Imf::HALF : Imf::FLOAT));
    Imf::OutputFile output(stream, header);  // its chunk table is written as it closes
    const std::size_t rowSamples = static_cast<std::size_t>(image.Width()) * static_cast<std::size_t>(channels);
    const std::size_t bandSamples = rowSamples * static_cast<std::size_t>(std::min(kWriteBandRows, image.Height()));
    std::vector<::half> halfBand(half ? bandSamples : 0);
    std::vector<float> floatBand(half ? 0 : bandSamples);
    const std::size_t sampleBytes = half ? sizeof(::half) : sizeof(float);
    char* band = half ? reinterpret_cast<char*>(halfBand.data()) : reinterpret_cast<char*>(floatBand.data());
    for (int top = 0; top < image.Height(); top += kWriteBandRows) {
        const int rows = std::min(kWriteBandRows, image.Height() - top);
        for (int r = 0; r < rows; ++r) {
            const unsigned char* in = image.Row(top + r);
            const std::size_t first = static_cast<std::size_t>(r) * rowSamples;
            if (!half) {
                std::memcpy(floatBand.data() + first, in, rowSamples * sizeof(float));
                continue;
            }
            for (std::size_t i = 0; i < rowSamples; ++i) {
                float sample;
                std::memcpy(&sample, in + i * sizeof(float), sizeof(float));
                halfBand[first + i] = ::half(sample);
            }
        }
        Imf::FrameBuffer frame;
        for (int c = 0; c < channels; ++c)
            frame.insert(names[c],
                         Imf::Slice::Make(half ? Imf::HALF : Imf::FLOAT, band + c * sampleBytes, Imath::V2i(0, top),
                                          image.Width(), rows, sampleBytes * channels, sampleBytes * rowSamples));
        output.setFrameBuffer(frame);
        output.writePixels(rows);
    }
}
