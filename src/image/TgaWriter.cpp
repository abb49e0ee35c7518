#include "image/TgaWriter.h"

#include <cstring>
#include <type_traits>

namespace {
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kFooterSize = 26;
const char kSignature[] = "TRUEVISON_TARGA";
}  // namespace

std::size_t CTGAImage::EncodedSize(int width, int height) {
    return kHeaderSize + kFooterSize + 4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

bool CTGAImage::Encode(int width, int height, const unsigned char* pixels) {
    return Encode(dof::ImageView(pixels, width, height, 4, dof::SampleType::kUInt8));
}

bool CTGAImage::Encode(const dof::ImageView& picture) {
    const int width = picture.Width();
    const int height = picture.Height();
    const int channels = picture.Channels();
    if (width < 0 || height < 0 || width > 65535 || height > 65535) return false;
    if (picture.Type() != dof::SampleType::kUInt8 || channels < 1 || channels > 4) return false;
    const std::size_t size = EncodedSize(width, height);
    LargeArray<unsigned char> file(size);
    unsigned char* out = file.data();
    std::memset(out, 0, kHeaderSize);
    out[2] = 2;
    out[12] = static_cast<unsigned char>(width & 0xff);
    out[13] = static_cast<unsigned char>(width >> 8);
    out[14] = static_cast<unsigned char>(height & 0xff);
    out[15] = static_cast<unsigned char>(height >> 8);
    out[16] = 32;
    out[17] = 0x08;
    unsigned char* d = out + kHeaderSize;
    // Bottom row first, as B, G, R, A; one loop per channel count.
    auto rows = [&](auto channelCount) {
        constexpr int c = decltype(channelCount)::value;
        for (int y = height - 1; y >= 0; --y) {
            const unsigned char* s = picture.Row(y);
            for (int x = 0; x < width; ++x, s += c, d += 4) {
                d[0] = c <= 2 ? s[0] : s[2];
                d[1] = c <= 2 ? s[0] : s[1];
                d[2] = s[0];
                d[3] = c == 2 ? s[1] : c == 4 ? s[3] : 255;
            }
        }
    };
    switch (channels) {
        case 1: rows(std::integral_constant<int, 1>()); break;
        case 2: rows(std::integral_constant<int, 2>()); break;
        case 3: rows(std::integral_constant<int, 3>()); break;
        default: rows(std::integral_constant<int, 4>()); break;
    }
    std::memset(d, 0, kFooterSize);
    std::memcpy(d + 8, kSignature, 15);
    fileBytes.swap(file);
    fileSize = size;
    return true;
}
