#pragma once
#include <cstddef>
#include <functional>
#include <memory>

#include <dof/Image.h>

#include "platform/LargeArray.h"

// Encodes 8-bit R, G, B, A pixels (top row first) into a complete 32-bit
// uncompressed, bottom-up TGA file in memory, with a 26-byte footer.
class CTGAImage {
public:
    CTGAImage() = default;
    CTGAImage(const CTGAImage&) = delete;
    CTGAImage& operator=(const CTGAImage&) = delete;
    virtual ~CTGAImage() {
        LargeArray<unsigned char>().swap(fileBytes);
        fileSize = 0;
    }

    // Returns false when width or height cannot be described by the 16-bit
    // header fields (the filter never asks for such sizes).
    bool Encode(int width, int height, const unsigned char* pixels);
    // The same from any 8-bit picture: grey is spread to red, green and
    // blue, and a picture without alpha gets 255. False for other samples.
    bool Encode(const dof::ImageView& picture);
    // Whether Encode takes picture.
    static bool Encodes(const dof::ImageView& picture);
    // The same file handed to write in pieces, in order, without a buffer of
    // it whole; false where Encode would be or write was.
    static bool Write(const dof::ImageView& picture, const std::function<bool(const unsigned char*, std::size_t)>& write);

    // The size of the file that Encode makes for a width x height picture.
    static std::size_t EncodedSize(int width, int height);

    LargeArray<unsigned char> fileBytes;
    std::size_t fileSize = 0;
};
