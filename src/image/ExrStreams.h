#pragma once
// The OpenEXR library's streams over memory: a file being read, seen in
// place and never past its end, and a file being written into a buffer that
// grows.
#include <ImfIO.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class ExrMemoryInput : public Imf::IStream {
public:
    ExrMemoryInput(const unsigned char* data, std::size_t size);

    // Chunks are handed out in place rather than copied.
    bool isMemoryMapped() const override { return true; }
    char* readMemoryMapped(int n) override;
    bool read(char c[], int n) override;
    std::uint64_t tellg() override { return at_; }
    void seekg(std::uint64_t position) override;

private:
    // The start of the next n bytes, which must lie within the file.
    const unsigned char* Take(int n);

    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class ExrMemoryOutput : public Imf::OStream {
public:
    explicit ExrMemoryOutput(std::vector<unsigned char>& file);

    void write(const char c[], int n) override;
    std::uint64_t tellp() override { return at_; }
    void seekp(std::uint64_t position) override;

private:
    std::vector<unsigned char>& file_;
    std::size_t at_ = 0;
};
