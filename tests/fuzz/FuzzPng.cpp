// The PNG reader on arbitrary bytes, and its seeds.
#include <functional>

#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "fuzz/SeedCorpus.h"
#include "image/Codecs.h"

bool FuzzPng(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<unsigned char[]> file = Copy(data, size);
    const PeekedSize peeked = PeekPng(file.get(), size);
    DecodeLimits limits;
    limits.accept = [](int width, int height) {
        return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kFuzzPixels;
    };
    dof::Image image;
    const DecodeResult result = DecodePng(file.get(), size, limits, image);
    if (peeked.sized && result.width > 0) Require(peeked.width == result.width && peeked.height == result.height);
    if (result.status != DecodeStatus::kDecoded) {
        Require(image.Empty() && !result.reason.empty() == (result.status == DecodeStatus::kFailed));
        return false;
    }
    Require(image.Width() == result.width && image.Height() == result.height && !image.Empty());
    Require(image.Channels() >= 1 && image.Channels() <= 4);
    Require(image.Type() == dof::SampleType::kUInt8 || image.Type() == dof::SampleType::kUInt16);
    // Refused by its size, the same file allocates nothing.
    DecodeLimits none;
    none.accept = [](int, int) { return false; };
    dof::Image refused;
    Require(DecodePng(file.get(), size, none, refused).status == DecodeStatus::kTooLarge && refused.Empty());
    return true;
}

std::vector<Seed> PngSeeds() {
    std::vector<Seed> seeds;
    for (const dof::SampleType type : {dof::SampleType::kUInt8, dof::SampleType::kUInt16}) {
        const bool sixteen = type == dof::SampleType::kUInt16;
        for (int channels = 1; channels <= 4; ++channels) {
            dof::Image picture(7, 5, channels, type);
            for (std::size_t i = 0; i < picture.ByteCount(); ++i)
                picture.Data()[i] = static_cast<unsigned char>((i / 5) % 3 == 0 ? 40 : 13 * i + channels);
            std::vector<unsigned char> file;
            std::string reason;
            if (!EncodePng(picture, file, reason)) continue;
            const std::string name = std::string(sixteen ? "png16_" : "png8_") + std::to_string(channels) + "ch";
            seeds.push_back({name, file, 1, -1});
            // Cut inside the pixels, and with a broken checksum: refused.
            seeds.push_back({name + "_cut", std::vector<std::uint8_t>(file.begin(), file.begin() + file.size() / 2), 0, -1});
            std::vector<std::uint8_t> broken = file;
            broken[29] ^= 0x40;  // inside IHDR's checksum
            seeds.push_back({name + "_crc", broken, 0, -1});
        }
    }
    return seeds;
}
