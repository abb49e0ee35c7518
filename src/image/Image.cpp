#include <cstring>
#include <limits>
#include <new>

#include <dof/Image.h>

#include "platform/LargeArray.h"

namespace dof {

namespace {

// Bytes of a width x height picture; throws when no size_t holds them.
std::size_t PictureBytes(int width, int height, int channels, SampleType type) {
    const std::size_t row = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels) * SampleBytes(type);
    if (height > 0 && row > std::numeric_limits<std::size_t>::max() / static_cast<std::size_t>(height))
        throw std::bad_array_new_length();
    return row * static_cast<std::size_t>(height);
}

}  // namespace

Image::Image(int width, int height, int channels, SampleType type) {
    if (width < 0 || height < 0 || channels < 1 || channels > 4) return;
    const std::size_t bytes = PictureBytes(width, height, channels, type);
    if (bytes > 0) {
        pixels_ = static_cast<unsigned char*>(AllocateLargeZeroed(bytes));
    }
    width_ = width;
    height_ = height;
    channels_ = channels;
    type_ = type;
}

Image::Image(const Image& other) : Image(other.width_, other.height_, other.channels_, other.type_) {
    if (pixels_) std::memcpy(pixels_, other.pixels_, ByteCount());
}

Image& Image::operator=(const Image& other) {
    if (this != &other) *this = Image(other);
    return *this;
}

Image::Image(Image&& other) noexcept
    : pixels_(other.pixels_),
      width_(other.width_),
      height_(other.height_),
      channels_(other.channels_),
      type_(other.type_) {
    other.pixels_ = nullptr;
    other.width_ = other.height_ = other.channels_ = 0;
}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        Release();
        pixels_ = other.pixels_;
        width_ = other.width_;
        height_ = other.height_;
        channels_ = other.channels_;
        type_ = other.type_;
        other.pixels_ = nullptr;
        other.width_ = other.height_ = other.channels_ = 0;
    }
    return *this;
}

Image::~Image() { Release(); }

void Image::Release() noexcept {
    if (pixels_) FreeLarge(pixels_, ByteCount());
    pixels_ = nullptr;
    width_ = height_ = channels_ = 0;
}

Image Image::CopyOf(const ImageView& view) {
    Image copy(view.Width(), view.Height(), view.Channels(), view.Type());
    const std::size_t row = static_cast<std::size_t>(copy.RowStride());
    if (copy.Data() && view.Data())
        for (int y = 0; y < copy.Height(); ++y) std::memcpy(copy.Row(y), view.Row(y), row);
    return copy;
}

}  // namespace dof
