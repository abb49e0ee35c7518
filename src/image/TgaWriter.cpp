#include "image/TgaWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>
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

bool CTGAImage::Encodes(const dof::ImageView& picture) {
    const int width = picture.Width(), height = picture.Height(), channels = picture.Channels();
    return width >= 0 && height >= 0 && width <= 65535 && height <= 65535 &&
           picture.Type() == dof::SampleType::kUInt8 && channels >= 1 && channels <= 4;
}

bool CTGAImage::Encode(const dof::ImageView& picture) {
    if (!Encodes(picture)) return false;
    const std::size_t size = EncodedSize(picture.Width(), picture.Height());
    LargeArray<unsigned char> file(size);
    std::size_t at = 0;
    Write(picture, [&](const unsigned char* bytes, std::size_t n) {
        std::memcpy(file.data() + at, bytes, n);
        at += n;
        return true;
    });
    fileBytes.swap(file);
    fileSize = size;
    return true;
}

bool CTGAImage::Write(const dof::ImageView& picture, const std::function<bool(const unsigned char*, std::size_t)>& write) {
    if (!Encodes(picture)) return false;
    const int width = picture.Width();
    const int height = picture.Height();
    const int channels = picture.Channels();
    unsigned char header[kHeaderSize] = {};
    header[2] = 2;
    header[12] = static_cast<unsigned char>(width & 0xff);
    header[13] = static_cast<unsigned char>(width >> 8);
    header[14] = static_cast<unsigned char>(height & 0xff);
    header[15] = static_cast<unsigned char>(height >> 8);
    header[16] = 32;
    header[17] = 0x08;
    if (!write(header, kHeaderSize)) return false;
    // Rows in pieces of about a quarter of a megabyte (at least one row):
    // a piece stays in the cache from its encoding to its writing, and no
    // buffer of the whole file is touched for the first time.
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    const int rowsAPiece = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 18) / std::max<std::size_t>(rowBytes, 1)));
    std::vector<unsigned char> piece(rowBytes * static_cast<std::size_t>(std::min(rowsAPiece, std::max(height, 1))));
    // Bottom row first, as B, G, R, A; one loop per channel count.
    auto rows = [&](auto channelCount) {
        constexpr int c = decltype(channelCount)::value;
        for (int top = height; top > 0; top -= rowsAPiece) {
            const int bottom = std::max(0, top - rowsAPiece);
            unsigned char* d = piece.data();
            for (int y = top - 1; y >= bottom; --y) {
                const unsigned char* s = picture.Row(y);
                for (int x = 0; x < width; ++x, s += c, d += 4) {
                    d[0] = c <= 2 ? s[0] : s[2];
                    d[1] = c <= 2 ? s[0] : s[1];
                    d[2] = s[0];
                    d[3] = c == 2 ? s[1] : c == 4 ? s[3] : 255;
                }
            }
            if (!write(piece.data(), static_cast<std::size_t>(d - piece.data()))) return false;
        }
        return true;
    };
    bool written = false;
    switch (channels) {
        case 1: written = rows(std::integral_constant<int, 1>()); break;
        case 2: written = rows(std::integral_constant<int, 2>()); break;
        case 3: written = rows(std::integral_constant<int, 3>()); break;
        default: written = rows(std::integral_constant<int, 4>()); break;
    }
    if (!written) return false;
    unsigned char footer[kFooterSize] = {};
    std::memcpy(footer + 8, kSignature, 15);
    return write(footer, kFooterSize);
}
