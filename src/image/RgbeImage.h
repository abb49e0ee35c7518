#pragma once
#include <cstddef>
#include <memory>
#include <vector>

// Reader of Radiance RGBE files with new-style run-length scanlines, used
// for the depth input. Decodes to three doubles per pixel.
struct RgbeImage {
    // Accepts the header of a "#?RADIANCE" file in "32-bit_rle_rgbe" format
    // with a "-Y h +X w" style resolution line. Reads nothing past size bytes.
    bool ParseHeader(const unsigned char* data, std::size_t size);

    // After ParseHeader: whether a file of fileSize bytes can hold the
    // scanlines the header promises (Load refuses it otherwise, before
    // allocating). ParseHeader may have been given only the file's first bytes.
    bool FitsFileSize(std::size_t fileSize) const;

    // Decodes every scanline; call after ParseHeader accepted the same bytes.
    // Takes the buffer (data is left empty) whatever the outcome.
    bool Load(std::unique_ptr<unsigned char[]>& data, std::size_t size);

    // Decodes the scanline at cursor into 4-byte pixels (R, G, B, E planes).
    bool ReadScanline(unsigned char* destination, int length);

    // Per pixel, ((G + R) + B) / 3.0.
    void ComputeMeans(double* destination) const;

    std::unique_ptr<unsigned char[]> fileData;
    std::vector<double> rgb;
    int width = 0;
    int height = 0;
    char programType[64] = {};
    char format[64] = {};
    int scanlineLength = 0;
    int scanlineCount = 0;
    std::size_t cursor = 0;  // offset of the next byte to decode

private:
    const unsigned char* data_ = nullptr;  // the bytes being decoded
    std::size_t size_ = 0;
};
