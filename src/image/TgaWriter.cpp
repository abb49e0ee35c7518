#include "image/TgaWriter.h"

#include <cstring>

namespace {
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kFooterSize = 26;
const char kSignature[] = "TRUEVISON_TARGA";
}  // namespace

std::size_t CTGAImage::EncodedSize(int width, int height) {
    return kHeaderSize + kFooterSize + 4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

bool CTGAImage::Encode(int width, int height, const unsigned char* pixels) {
    if (width < 0 || height < 0 || width > 65535 || height > 65535) return false;
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
    for (int y = height - 1; y >= 0; --y) {
        const unsigned char* s = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x, s += 4, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = s[3];
        }
    }
    std::memset(d, 0, kFooterSize);
    std::memcpy(d + 8, kSignature, 15);
    fileBytes.swap(file);
    fileSize = size;
    return true;
}
