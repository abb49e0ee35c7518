// Converts a TGA file that the program can read into an RGB or RGBA PNG, for
// pictures in the documentation: tga2png in.tga out.png [--rgb]
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/FileIo.h"
#include "image/TgaImage.h"

namespace {

void PutU32(std::vector<unsigned char>& out, unsigned long v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    PutU32(out, data.size());
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutU32(out, crc32(0L, body.data(), static_cast<uInt>(body.size())));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: tga2png in.tga out.png [--rgb]\n");
        return 1;
    }
    const bool rgb = argc > 3 && std::strcmp(argv[3], "--rgb") == 0;
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
    CImageTga image;
    if (!ReadWholeFile(argv[1], data, size) || !image.Load(data, size)) {
        std::printf("load failed!! _ %s\n", argv[1]);
        return 1;
    }
    const int channels = rgb ? 3 : 4;
    std::vector<unsigned char> raw;
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < channels; ++c)
                raw.push_back(image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4 + c]);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
    packed.resize(packedSize);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<unsigned char> header;
    PutU32(header, static_cast<unsigned long>(image.width));
    PutU32(header, static_cast<unsigned long>(image.height));
    header.push_back(8);                // bits per channel
    header.push_back(rgb ? 2 : 6);      // colour type
    header.push_back(0);
    header.push_back(0);
    header.push_back(0);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});
    if (!WriteFileAtomically(argv[2], png.data(), png.size())) {
        std::printf("output save failed!! _ %s\n", argv[2]);
        return 4;
    }
    return 0;
}
