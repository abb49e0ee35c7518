#include "image/Conversions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image/SrgbBytes.h"
#include "platform/ParallelFor.h"

double SampleAt(const unsigned char* row, int index, dof::SampleType type) {
    switch (type) {
        case dof::SampleType::kUInt8: return row[index];
        case dof::SampleType::kUInt16: {
            std::uint16_t v;
            std::memcpy(&v, row + 2 * index, sizeof v);
            return v;
        }
        case dof::SampleType::kFloat32: {
            float v;
            std::memcpy(&v, row + 4 * index, sizeof v);
            return v;
        }
        case dof::SampleType::kFloat64: break;
    }
    double v;
    std::memcpy(&v, row + 8 * index, sizeof v);
    return v;
}

namespace {

// The largest value of an integer sample, 1 for a float one.
double SampleScale(dof::SampleType type) {
    return type == dof::SampleType::kUInt8 ? 255.0 : type == dof::SampleType::kUInt16 ? 65535.0 : 1.0;
}

// Whether channel k of a pixel of channels channels is alpha.
bool IsAlpha(int k, int channels) { return (channels == 2 && k == 1) || (channels == 4 && k == 3); }

// A float sample as an integer of largest value top: colour encoded to sRGB,
// clipped, rounded; NaN gives 0.
unsigned FloatToInteger(double v, bool colour, unsigned top) {
    if (colour && top == 255 && static_cast<double>(static_cast<float>(v)) == v)
        return SrgbBytes::Get().Byte(static_cast<float>(v));
    if (!(v > 0.0)) return 0;
    if (colour) v = EncodeSrgb(v);
    if (v >= 1.0) return top;
    return static_cast<unsigned>(v * top + 0.5);
}

// A sample of one type in another (see ConvertSamples).
double Converted(double v, dof::SampleType from, dof::SampleType to, bool alpha) {
    const bool floatIn = dof::IsFloat(from);
    const bool floatOut = dof::IsFloat(to);
    if (floatIn && floatOut) return v;
    if (floatOut) return alpha ? v / SampleScale(from) : DecodeSrgb(v / SampleScale(from));
    const unsigned top = static_cast<unsigned>(SampleScale(to));
    if (floatIn) return FloatToInteger(v, !alpha, top);
    if (from == to) return v;
    // Between 8 and 16 bits: 255 * 257 = 65535.
    if (to == dof::SampleType::kUInt16) return v * 257.0;
    return std::floor((v * 255.0 + 32767.0) / 65535.0);
}

void StoreSample(unsigned char* row, int index, dof::SampleType type, double v) {
    switch (type) {
        case dof::SampleType::kUInt8: row[index] = static_cast<unsigned char>(v); return;
        case dof::SampleType::kUInt16: {
            const std::uint16_t s = static_cast<std::uint16_t>(v);
            std::memcpy(row + 2 * index, &s, sizeof s);
            return;
        }
        case dof::SampleType::kFloat32: {
            const float s = static_cast<float>(v);
            std::memcpy(row + 4 * index, &s, sizeof s);
            return;
        }
        case dof::SampleType::kFloat64: std::memcpy(row + 8 * index, &v, sizeof v); return;
    }
}

}  // namespace

dof::Error CheckImage(const dof::ImageView& view, const char* what) {
    const std::string name(what);
    if (view.Channels() < 1 || view.Channels() > 4)
        return {dof::ErrorCode::kInvalidImage, name + " has " + std::to_string(view.Channels()) +
                                                   " channels; 1 to 4 are taken"};
    if (view.Width() < 0 || view.Height() < 0)
        return {dof::ErrorCode::kInvalidImage, name + " has a size below zero"};
    if (view.Empty()) return {};
    if (view.Data() == nullptr) return {dof::ErrorCode::kInvalidImage, name + " has no pixels"};
    const std::size_t row = static_cast<std::size_t>(view.Width()) * view.PixelBytes();
    if (static_cast<std::size_t>(std::llabs(static_cast<long long>(view.RowStride()))) < row && view.Height() > 1)
        return {dof::ErrorCode::kInvalidImage, name + "'s rows overlap (row stride " +
                                                   std::to_string(view.RowStride()) + " bytes)"};
    return {};
}

double EncodeSrgb(double linear) {
    if (linear <= 0.0031308) return 12.92 * linear;
    return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

double DecodeSrgb(double encoded) {
    if (encoded <= 0.04045) return encoded / 12.92;
    return std::pow((encoded + 0.055) / 1.055, 2.4);
}

void PixelToRgba8(const dof::ImageView& view, int x, int y, unsigned char rgba[4]) {
    const int channels = view.Channels();
    const unsigned char* row = view.Row(y);
    const int first = x * channels;
    unsigned char c[4] = {0, 0, 0, 255};
    for (int k = 0; k < channels; ++k) {
        if (view.Type() == dof::SampleType::kUInt8)
            c[k] = row[first + k];
        else
            c[k] = static_cast<unsigned char>(
                Converted(SampleAt(row, first + k, view.Type()), view.Type(), dof::SampleType::kUInt8, IsAlpha(k, channels)));
    }
    if (channels <= 2) {
        rgba[0] = rgba[1] = rgba[2] = c[0];
        rgba[3] = channels == 2 ? c[1] : 255;
    } else {
        rgba[0] = c[0];
        rgba[1] = c[1];
        rgba[2] = c[2];
        rgba[3] = channels == 4 ? c[3] : 255;
    }
}

ColourBytes ColourFromView(const dof::ImageView& view) {
    ColourBytes colour;
    const int w = view.Width() > 0 && view.Height() > 0 ? view.Width() : 0;
    const int h = w > 0 ? view.Height() : 0;
    if (view.Type() == dof::SampleType::kUInt8 && (view.Channels() == 3 || view.Channels() == 4)) {
        colour.pixels = w > 0 ? view.Row(0) : nullptr;
        colour.rowStride = view.RowStride();
        colour.pixelBytes = view.Channels();
        return colour;
    }
    colour.owned.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    const bool floatColour = view.Type() == dof::SampleType::kFloat32 && view.Channels() >= 3;
    const SrgbBytes& srgb = SrgbBytes::Get();
    for (int y = 0; y < h; ++y) {
        unsigned char* out = colour.owned.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
        if (!floatColour) {
            for (int x = 0; x < w; ++x) PixelToRgba8(view, x, y, out + 4 * x);
            continue;
        }
        // Linear RGB(A) floats, as renders come: the colour through the table.
        const unsigned char* row = view.Row(y);
        const int channels = view.Channels();
        for (int x = 0; x < w; ++x, out += 4) {
            float p[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            std::memcpy(p, row + static_cast<std::size_t>(x) * channels * sizeof(float), channels * sizeof(float));
            out[0] = srgb.Byte(p[0]);
            out[1] = srgb.Byte(p[1]);
            out[2] = srgb.Byte(p[2]);
            out[3] = channels == 4 ? static_cast<unsigned char>(FloatToInteger(p[3], false, 255)) : 255;
        }
    }
    colour.pixels = colour.owned.data();
    colour.rowStride = static_cast<std::ptrdiff_t>(w) * 4;
    colour.pixelBytes = 4;
    return colour;
}

UnfilledArray<double> DepthFromView(const dof::ImageView& view, bool reverse, int threads,
                                    const std::function<void(int y, const double* row)>& rowDone) {
    const int w = view.Width() > 0 && view.Height() > 0 ? view.Width() : 0;
    const int h = w > 0 ? view.Height() : 0;
    UnfilledArray<double> depths(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const int step = view.Channels();
    const double* fraction = ByteFractions();
    const double top = SampleScale(view.Type());
    constexpr int kRowsAPiece = 32;
    ParallelFor((h + kRowsAPiece - 1) / kRowsAPiece, threads, [&](int piece) {
        for (int y = piece * kRowsAPiece; y < std::min(h, (piece + 1) * kRowsAPiece); ++y) {
            const unsigned char* row = view.Row(y);
            double* out = depths.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
            if (view.Type() == dof::SampleType::kUInt8) {
                for (int x = 0; x < w; ++x) out[x] = fraction[reverse ? 255 - row[x * step] : row[x * step]];
            } else if (view.Type() == dof::SampleType::kUInt16) {
                for (int x = 0; x < w; ++x) {
                    const double v = SampleAt(row, x * step, view.Type());
                    out[x] = (reverse ? top - v : v) / top;
                }
            } else {
                for (int x = 0; x < w; ++x) {
                    const double v = SampleAt(row, x * step, view.Type());
                    out[x] = reverse ? 1.0 - v : v;
                }
            }
            if (rowDone) rowDone(y, out);
        }
    });
    return depths;
}

BadDepth FindBadDepth(const dof::ImageView& view) {
    BadDepth bad;
    if (!dof::IsFloat(view.Type()) || view.Empty()) return bad;
    for (int y = 0; y < view.Height(); ++y) {
        const unsigned char* row = view.Row(y);
        for (int x = 0; x < view.Width(); ++x) {
            const double v = SampleAt(row, x * view.Channels(), view.Type());
            if (v >= 0.0) continue;  // NaN fails this too
            if (bad.count++ == 0) {
                bad.x = x;
                bad.y = y;
            }
        }
    }
    return bad;
}

dof::Image ConvertSamples(const dof::ImageView& view, dof::SampleType type) {
    dof::Image out(view.Width(), view.Height(), view.Channels(), type);
    const int channels = view.Channels();
    for (int y = 0; y < out.Height(); ++y) {
        const unsigned char* in = view.Row(y);
        unsigned char* row = out.Row(y);
        for (int i = 0; i < out.Width() * channels; ++i)
            StoreSample(row, i, type, Converted(SampleAt(in, i, view.Type()), view.Type(), type, IsAlpha(i % channels, channels)));
    }
    return out;
}

CImageFroat LensFromView(const dof::ImageView& view) {
    const int w = view.Width();
    const int h = view.Height();
    LargeArray<unsigned char> bytes(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &bytes[(static_cast<std::size_t>(y) * w + x) * 4];
            PixelToRgba8(view, x, y, p);
            p[3] = static_cast<unsigned char>((static_cast<unsigned>(p[0]) + p[1] + p[2]) / 3);
        }
    CImageFroat lens;
    lens.SetFromRGBA8(w, h, bytes.data());
    return lens;
}

