#include "image/TgaImage.h"

#include <cstring>
#include <type_traits>

namespace {

constexpr std::size_t kHeaderSize = 18;

unsigned ReadU16(const unsigned char* p) { return static_cast<unsigned>(p[0]) | (static_cast<unsigned>(p[1]) << 8); }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool CImageTga::DecodeRle(const unsigned char* stream, std::size_t streamSize, int bytesPerPixel,
                          std::size_t pixelCount, unsigned char* destination) {
    const std::size_t p = static_cast<std::size_t>(bytesPerPixel);
    std::size_t in = 0;
    std::size_t written = 0;
    while (written < pixelCount) {
        if (in >= streamSize) return false;
        const unsigned c = stream[in++];
        std::size_t count = (c < 128) ? c + 1 : c - 127;
        if (count > pixelCount - written) count = pixelCount - written;
        if (c < 128) {
            if (streamSize - in < count * p) return false;
            std::memcpy(destination + written * p, stream + in, count * p);
            in += count * p;
        } else {
            if (streamSize - in < p) return false;
            for (std::size_t k = 0; k < count; ++k) std::memcpy(destination + (written + k) * p, stream + in, p);
            in += p;
        }
        written += count;
    }
    return true;
}

bool CImageTga::Load(std::unique_ptr<unsigned char[]>& data, std::size_t size) {
    if (fileData) Release();
    if (!data || size == 0) return false;
    fileData = std::move(data);
    if (!Decode(fileData.get(), size)) {
        Release();
        return false;
    }
    return true;
}

bool CImageTga::ParseHeader(const unsigned char* data, std::size_t headSize, std::size_t fileSize,
                            Layout& layout) {
    if (headSize < kHeaderSize || fileSize < headSize) return false;
    const unsigned idLength = data[0];
    const unsigned colourMapType = data[1];
    const unsigned imageType = data[2];
    const unsigned bitsPerPixel = data[16];
    layout.topLeft = (data[17] & 0x20) != 0;
    layout.width = ReadU16(data + 12);
    layout.height = ReadU16(data + 14);

    // Pixel data follows the image ID and, when present, the colour map.
    layout.offset = kHeaderSize + idLength;
    if (colourMapType == 1) {
        const std::size_t entries = ReadU16(data + 5);
        const std::size_t entryBytes = (static_cast<std::size_t>(data[7]) + 7) / 8;
        layout.offset += entries * entryBytes;
    }
    if (layout.offset > fileSize) return false;

    if (bitsPerPixel == 8) {
        if (imageType != 3 && imageType != 11) return false;
        layout.bytesPerPixel = 1;
        layout.runLength = imageType == 11;
    } else if (bitsPerPixel == 24 || bitsPerPixel == 32) {
        layout.bytesPerPixel = bitsPerPixel / 8;
        layout.runLength = imageType == 10;
    } else {
        return false;
    }

    const std::size_t pixelCount = static_cast<std::size_t>(layout.width) * layout.height;
    const std::size_t available = fileSize - layout.offset;
    // Refuse a header that promises more than the file can hold before allocating.
    if (layout.runLength) {
        const std::size_t minimumPackets = (pixelCount + 127) / 128;
        if (minimumPackets > available / (1 + layout.bytesPerPixel)) return false;
    } else if (pixelCount > available / layout.bytesPerPixel) {
        return false;
    }
    return true;
}

bool CImageTga::PeekSize(const unsigned char* head, std::size_t headSize, std::size_t fileSize, int& width,
                         int& height) {
    Layout layout;
    if (!ParseHeader(head, headSize, fileSize, layout)) return false;
    width = static_cast<int>(layout.width);
    height = static_cast<int>(layout.height);
    return true;
}

bool CImageTga::DecodePixels(const unsigned char* data, std::size_t size, const Layout& layout, int outChannels,
                             unsigned char* destination, std::ptrdiff_t rowStride) {
    const unsigned w = layout.width;
    const unsigned h = layout.height;
    const std::size_t bytesPerPixel = layout.bytesPerPixel;
    const std::size_t pixelCount = static_cast<std::size_t>(w) * h;
    if (pixelCount == 0) return true;

    std::vector<unsigned char> decoded;
    const unsigned char* pixels = data + layout.offset;
    if (layout.runLength) {
        decoded.resize(pixelCount * bytesPerPixel);
        if (!DecodeRle(pixels, size - layout.offset, static_cast<int>(bytesPerPixel), pixelCount, decoded.data()))
            return false;
        pixels = decoded.data();
    }
    // One loop per pair of channel counts, so that each compiles to a tight one.
    auto rows = [&](auto inBytes, auto outBytes) {
        constexpr unsigned in = decltype(inBytes)::value;
        constexpr unsigned out = decltype(outBytes)::value;
        for (unsigned y = 0; y < h; ++y) {
            const unsigned sourceRow = layout.topLeft ? y : h - 1 - y;
            const unsigned char* s = pixels + static_cast<std::size_t>(sourceRow) * w * in;
            unsigned char* d = destination + static_cast<std::ptrdiff_t>(y) * rowStride;
            if (in == 1 && out == 1) {
                std::memcpy(d, s, w);
                continue;
            }
            for (unsigned x = 0; x < w; ++x, s += in, d += out) {
                if (in == 1) {
                    d[0] = d[1] = d[2] = s[0];
                    d[3] = 255;
                } else {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                    if (out == 4) d[3] = in == 4 ? s[3] : 255;
                }
            }
        }
    };
    using One = std::integral_constant<unsigned, 1>;
    using Three = std::integral_constant<unsigned, 3>;
    using Four = std::integral_constant<unsigned, 4>;
    if (outChannels == 1)
        rows(One(), One());
    else if (bytesPerPixel == 1)
        rows(One(), Four());
    else if (bytesPerPixel == 3 && outChannels == 3)
        rows(Three(), Three());
    else if (bytesPerPixel == 3)
        rows(Three(), Four());
    else
        rows(Four(), Four());
    return true;
}

bool CImageTga::Decode(const unsigned char* data, std::size_t size) {
    Layout layout;
    if (!ParseHeader(data, size, size, layout)) return false;
    rgba.assign(static_cast<std::size_t>(layout.width) * layout.height * 4, 0);
    if (!DecodePixels(data, size, layout, 4, rgba.data(), static_cast<std::ptrdiff_t>(layout.width) * 4)) {
        LargeArray<unsigned char>().swap(rgba);
        return false;
    }
    width = static_cast<int>(layout.width);
    height = static_cast<int>(layout.height);
    return true;
}

bool CImageTga::DecodeImage(const unsigned char* data, std::size_t size, dof::Image& image) {
    Layout layout;
    if (!ParseHeader(data, size, size, layout)) return false;
    const int channels = static_cast<int>(layout.bytesPerPixel);
    dof::Image decoded(static_cast<int>(layout.width), static_cast<int>(layout.height), channels,
                       dof::SampleType::kUInt8);
    if (!DecodePixels(data, size, layout, channels, decoded.Data(), decoded.RowStride())) return false;
    image = std::move(decoded);
    return true;
}

void CImageTga::Release() {
    fileData.reset();
    LargeArray<unsigned char>().swap(rgba);
    width = 0;
    height = 0;
}

bool CImageTga::MatchesExtension(const char* fileName) const {
    if (!fileName) return false;
    const std::size_t length = std::strlen(fileName);
    if (length < 4) return false;
    const char* e = fileName + length - 4;
    return e[0] == '.' && Lower(e[1]) == 't' && Lower(e[2]) == 'g' && Lower(e[3]) == 'a';
}

void CImageTga::CopyRGBA(unsigned char* destination) const {
    if (!rgba.empty()) std::memcpy(destination, rgba.data(), rgba.size());
}

void CImageTga::CopyGrey(unsigned char* destination) const {
    const std::size_t count = rgba.size() / 4;
    for (std::size_t i = 0; i < count; ++i) {
        destination[i] = static_cast<unsigned char>(
            (static_cast<unsigned>(rgba[4 * i]) + rgba[4 * i + 1] + rgba[4 * i + 2]) / 3);
    }
}
