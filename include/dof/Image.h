#pragma once
// Pictures in memory: an owned Image and a non-owning ImageView. Pixels are
// interleaved channels (1: grey, 2: grey and alpha, 3: RGB, 4: RGBA), rows
// top first; a row stride in bytes leads from one row to the next. Integer
// samples hold display values (sRGB), float samples linear light, as
// compositing programs take them; alpha is linear in either.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <dof/Export.h>

namespace dof {

enum class SampleType : std::uint8_t {
    kUInt8,    // 0 to 255
    kUInt16,   // 0 to 65535, in the machine's byte order
    kFloat32,
    kFloat64,  // depth values that need the precision (a Radiance file's)
};

// Bytes of one sample.
constexpr std::size_t SampleBytes(SampleType type) {
    return type == SampleType::kUInt8 ? 1 : type == SampleType::kUInt16 ? 2 : type == SampleType::kFloat32 ? 4 : 8;
}

// Whether samples of this type are floating point (linear light).
constexpr bool IsFloat(SampleType type) { return type == SampleType::kFloat32 || type == SampleType::kFloat64; }

// Pixels that someone else owns; they must outlive the view.
class ImageView {
public:
    ImageView() = default;
    // rowStride 0 means rows without gaps; it may be negative (a picture
    // stored bottom row first, seen through its last row).
    ImageView(const void* pixels, int width, int height, int channels, SampleType type,
              std::ptrdiff_t rowStride = 0)
        : pixels_(static_cast<const unsigned char*>(pixels)),
          width_(width),
          height_(height),
          channels_(channels),
          type_(type),
          rowStride_(rowStride != 0 ? rowStride
                                    : static_cast<std::ptrdiff_t>(width) * channels *
                                          static_cast<std::ptrdiff_t>(SampleBytes(type))) {}

    const void* Data() const { return pixels_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    SampleType Type() const { return type_; }
    std::ptrdiff_t RowStride() const { return rowStride_; }
    std::size_t PixelBytes() const { return static_cast<std::size_t>(channels_) * SampleBytes(type_); }
    bool Empty() const { return width_ <= 0 || height_ <= 0; }
    // The first sample of row y.
    const unsigned char* Row(int y) const { return pixels_ + static_cast<std::ptrdiff_t>(y) * rowStride_; }

private:
    const unsigned char* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    SampleType type_ = SampleType::kUInt8;
    std::ptrdiff_t rowStride_ = 0;
};

// A picture that owns its pixels, rows without gaps. Copies are deep; moves
// are cheap.
class DOF_API Image {
public:
    Image() = default;
    // Zero-filled. Sizes below zero or channels outside 1 to 4 give an empty
    // image; a picture too large for memory throws std::bad_alloc.
    Image(int width, int height, int channels, SampleType type);
    Image(const Image& other);
    Image& operator=(const Image& other);
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    ~Image();

    // A copy of what view shows, rows without gaps.
    static Image CopyOf(const ImageView& view);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    SampleType Type() const { return type_; }
    std::ptrdiff_t RowStride() const { return static_cast<std::ptrdiff_t>(width_) * static_cast<std::ptrdiff_t>(PixelBytes()); }
    std::size_t PixelBytes() const { return static_cast<std::size_t>(channels_) * SampleBytes(type_); }
    std::size_t ByteCount() const { return static_cast<std::size_t>(RowStride()) * static_cast<std::size_t>(height_); }
    bool Empty() const { return width_ <= 0 || height_ <= 0; }

    unsigned char* Data() { return pixels_; }
    const unsigned char* Data() const { return pixels_; }
    unsigned char* Row(int y) { return pixels_ + static_cast<std::ptrdiff_t>(y) * RowStride(); }
    const unsigned char* Row(int y) const { return pixels_ + static_cast<std::ptrdiff_t>(y) * RowStride(); }

    ImageView View() const { return ImageView(pixels_, width_, height_, channels_, type_, RowStride()); }
    operator ImageView() const { return View(); }

private:
    void Release() noexcept;

    unsigned char* pixels_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int channels_ = 0;
    SampleType type_ = SampleType::kUInt8;
};

}  // namespace dof
