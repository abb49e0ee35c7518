#include "image/TiffRgba.h"

#include <cstring>

bool ReadTiffThroughRgba(TIFF* tiff, const TiffPicture& picture, const TiffMessages& messages, dof::Image& image,
                         std::string& reason) {
    char message[1024] = {};
    TIFFRGBAImage rgba;
    if (!TIFFRGBAImageBegin(&rgba, tiff, 1, message)) {
        reason = message[0] != '\0' ? message : messages.failed ? messages.firstError : "cannot be converted to RGB";
        return false;
    }
    struct Ending {
        TIFFRGBAImage* rgba;
        ~Ending() { TIFFRGBAImageEnd(rgba); }
    } ending{&rgba};
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const int width = static_cast<int>(picture.width);
    const int height = static_cast<int>(picture.height);
    // One packed 32-bit pixel (TIFFGetR ... TIFFGetA) in each 4 bytes.
    dof::Image packed(width, height, 4, dof::SampleType::kUInt8);
    if (!TIFFRGBAImageGet(&rgba, reinterpret_cast<std::uint32_t*>(packed.Data()), picture.width, picture.height)) {
        reason = messages.failed ? messages.firstError : "the pixels do not decode";
        return false;
    }
    const int channels = rgba.alpha != 0 ? 4 : 3;
    dof::Image unpacked = channels == 4 ? dof::Image() : dof::Image(width, height, channels, dof::SampleType::kUInt8);
    dof::Image& out = channels == 4 ? packed : unpacked;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, packed.Data() + 4 * i, 4);
        const unsigned char samples[4] = {static_cast<unsigned char>(TIFFGetR(pixel)),
                                          static_cast<unsigned char>(TIFFGetG(pixel)),
                                          static_cast<unsigned char>(TIFFGetB(pixel)),
                                          static_cast<unsigned char>(TIFFGetA(pixel))};
        std::memcpy(out.Data() + channels * i, samples, static_cast<std::size_t>(channels));
    }
    image = std::move(out);
    return true;
}
