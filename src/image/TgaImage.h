#pragma once
#include <dof/Image.h>

#include "image/ImageBase.h"

// TGA reader: 8-bit grey (types 3 and 11), 24- and 32-bit true colour,
// uncompressed or run-length (type 10).
class CImageTga : public CImageBase {
public:
    CImageTga() = default;
    ~CImageTga() override { Release(); }

    bool Load(std::unique_ptr<unsigned char[]>& data, std::size_t size) override;
    void Release() override;
    bool MatchesExtension(const char* fileName) const override;
    CImageBase* Create() const override { return new CImageTga(); }
    void CopyRGBA(unsigned char* destination) const override;
    void CopyGrey(unsigned char* destination) const override;

    // Decodes a TGA run-length stream of exactly pixelCount pixels of
    // bytesPerPixel bytes each. Packets may run on from one row into the
    // next. Returns false when the stream ends before every pixel is written.
    static bool DecodeRle(const unsigned char* stream, std::size_t streamSize, int bytesPerPixel,
                          std::size_t pixelCount, unsigned char* destination);

    // The size that Load would decode from a file of fileSize bytes, judged
    // from its first headSize bytes (the 18-byte header suffices): false when
    // Load would refuse the header or the file is too short for its pixels.
    static bool PeekSize(const unsigned char* head, std::size_t headSize, std::size_t fileSize, int& width,
                         int& height);

    // Decodes a whole file into an 8-bit picture with the file's own
    // channels: 1 for grey, 3 for 24-bit and 4 for 32-bit colour. False when
    // Load would refuse the file.
    static bool DecodeImage(const unsigned char* data, std::size_t size, dof::Image& image);

private:
    // Where and how the pixels of a file are stored, from its header.
    struct Layout {
        unsigned width = 0;
        unsigned height = 0;
        std::size_t offset = 0;  // of the pixel data
        std::size_t bytesPerPixel = 0;
        bool runLength = false;
        bool topLeft = false;
    };
    static bool ParseHeader(const unsigned char* data, std::size_t headSize, std::size_t fileSize, Layout& layout);
    // Decodes the pixels of a parsed file into rows of outChannels bytes a
    // pixel: the file's own channels, or 4 (R, G, B, A).
    static bool DecodePixels(const unsigned char* data, std::size_t size, const Layout& layout, int outChannels,
                             unsigned char* destination, std::ptrdiff_t rowStride);
    bool Decode(const unsigned char* data, std::size_t size);
};
