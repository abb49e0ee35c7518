#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "platform/LargeArray.h"

// Abstract image codec: decodes a whole file held in memory into 8-bit
// R, G, B, A pixels, top row first.
class CImageBase {
public:
    CImageBase() = default;
    CImageBase(const CImageBase&) = delete;
    CImageBase& operator=(const CImageBase&) = delete;
    virtual ~CImageBase() {
        fileData.reset();
        rgba.clear();
        width = 0;
        height = 0;
    }

    // Decodes the file in data (size bytes). Once the buffer is accepted the
    // object owns it (data is left empty); a buffer refused before it was
    // accepted (null or empty) stays with the caller.
    virtual bool Load(std::unique_ptr<unsigned char[]>& data, std::size_t size) = 0;
    virtual void Release() = 0;
    virtual bool MatchesExtension(const char* fileName) const = 0;
    virtual CImageBase* Create() const = 0;
    virtual void CopyRGBA(unsigned char* destination) const = 0;
    virtual void CopyGrey(unsigned char* destination) const = 0;

    std::unique_ptr<unsigned char[]> fileData;
    int width = 0;
    int height = 0;
    LargeArray<unsigned char> rgba;
};
