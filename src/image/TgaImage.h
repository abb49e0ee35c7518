#pragma once
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

private:
    bool Decode(const unsigned char* data, std::size_t size);
};
