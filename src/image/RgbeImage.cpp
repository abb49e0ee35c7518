#include "image/RgbeImage.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "image/FroatImage.h"

namespace {

constexpr std::size_t kMaxText = 63;

bool StartsWith(const unsigned char* line, std::size_t length, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return length >= n && std::memcmp(line, prefix, n) == 0;
}

// Appends the rest of a header line to a text field, trims trailing CR/LF
// and refuses a text longer than the field holds.
bool AppendText(char* field, const unsigned char* text, std::size_t length) {
    std::string value(field);
    value.append(reinterpret_cast<const char*>(text), length);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    if (value.size() > kMaxText) return false;
    std::memcpy(field, value.c_str(), value.size() + 1);
    return true;
}

// The text-to-integer rule: leading white space, an optional sign, decimal
// digits up to the first other character; no digits gives 0. Saturates
// instead of overflowing.
long long ParseInteger(const unsigned char* p, const unsigned char* end) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long value = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        if (value < LLONG_MAX / 16) value = value * 10 + (*p - '0');
        ++p;
    }
    return negative ? -value : value;
}

}  // namespace

bool RgbeImage::ParseHeader(const unsigned char* data, std::size_t size) {
    programType[0] = '\0';
    format[0] = '\0';
    width = height = scanlineLength = scanlineCount = 0;
    cursor = 0;
    data_ = nullptr;
    size_ = 0;
    if (!data || size < 2 || data[0] != '#' || data[1] != '?') return false;

    std::size_t position = 0;
    for (;;) {
        const void* lf = std::memchr(data + position, '\n', size - position);
        if (!lf) return false;  // the header ends early
        const std::size_t lineEnd = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - data);
        const unsigned char* line = data + position;
        const std::size_t length = lineEnd - position;  // without the line feed
        position = lineEnd + 1;
        if (length == 0 || (length == 1 && line[0] == '\r')) break;
        if (StartsWith(line, length, "#?")) {
            if (!AppendText(programType, line + 2, length - 2)) return false;
        } else if (StartsWith(line, length, "FORMAT=")) {
            if (!AppendText(format, line + 7, length - 7)) return false;
        }
    }
    if (std::strcmp(programType, "RADIANCE") != 0) return false;
    if (std::strcmp(format, "32-bit_rle_rgbe") != 0) return false;

    const void* lf = std::memchr(data + position, '\n', size - position);
    if (!lf) return false;
    const unsigned char* line = data + position;
    const unsigned char* lineEnd = static_cast<const unsigned char*>(lf);
    const unsigned char* lastX = nullptr;
    const unsigned char* lastY = nullptr;
    for (const unsigned char* p = line; p < lineEnd; ++p) {
        if (*p == 'X') lastX = p;
        if (*p == 'Y') lastY = p;
    }
    if (!lastX || !lastY) return false;
    const long long w = ParseInteger(lastX + 1, lineEnd);
    const long long h = ParseInteger(lastY + 1, lineEnd);
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX) return false;
    // Only the standard layout (Y before X: one scanline per row) is accepted.
    if (lastX < lastY) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    scanlineLength = width;
    scanlineCount = height;
    cursor = static_cast<std::size_t>(lineEnd - data) + 1;
    data_ = data;
    size_ = size;
    return true;
}

bool RgbeImage::ReadScanline(unsigned char* destination, int length) {
    if (size_ - cursor < 4) return false;
    const unsigned char* p = data_ + cursor;
    const int embedded = (p[2] << 8) | p[3];
    if (embedded != length) return false;
    cursor += 4;
    for (int plane = 0; plane < 4; ++plane) {
        int x = 0;
        while (x < length) {
            if (cursor >= size_) return false;
            const int code = data_[cursor++];
            if (code > 128) {
                const int count = code - 128;
                if (count > length - x || cursor >= size_) return false;
                const unsigned char value = data_[cursor++];
                for (int k = 0; k < count; ++k) destination[4 * (x + k) + plane] = value;
                x += count;
            } else {
                if (code > length - x || size_ - cursor < static_cast<std::size_t>(code)) return false;
                for (int k = 0; k < code; ++k) destination[4 * (x + k) + plane] = data_[cursor + k];
                cursor += static_cast<std::size_t>(code);
                x += code;
            }
        }
    }
    return true;
}

bool RgbeImage::FitsFileSize(std::size_t fileSize) const {
    if (scanlineLength <= 0 || scanlineCount <= 0 || cursor > fileSize) return false;
    // The 16-bit length in every scanline's marker cannot name a longer one.
    if (scanlineLength > 0xFFFF) return false;
    // Every scanline needs its 4 marker bytes and at least one 2-byte run per
    // 127 pixels of each plane.
    const std::size_t length = static_cast<std::size_t>(scanlineLength);
    const std::size_t perScanline = 4 + 8 * ((length + 126) / 127);
    return static_cast<std::size_t>(scanlineCount) <= (fileSize - cursor) / perScanline;
}

bool RgbeImage::Load(std::unique_ptr<unsigned char[]>& data, std::size_t size) {
    fileData = std::move(data);
    if (!fileData || data_ != fileData.get() || size != size_) return false;
    // Refuse a file too short for its scanlines before allocating.
    if (!FitsFileSize(size_)) return false;
    const std::size_t length = static_cast<std::size_t>(scanlineLength);

    rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0.0);
    std::vector<unsigned char> scanline(length * 4);
    // ldexp(m / 255, e - 128) is m / 255 times a power of two, exactly: the
    // product stays far above the smallest normal double.
    double scale[256];
    for (int e = 0; e < 256; ++e) scale[e] = std::ldexp(1.0, e - 128);
    const double* fraction = ByteFractions();
    for (int k = 0; k < scanlineCount; ++k) {
        if (!ReadScanline(scanline.data(), scanlineLength)) return false;
        double* out = rgb.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(width) * 3;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char* e = &scanline[4 * i];
            for (int c = 0; c < 3; ++c) out[3 * i + c] = fraction[e[c]] * scale[e[3]];
        }
    }
    return true;
}

void RgbeImage::ComputeMeans(double* destination) const {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < count; ++i) {
        const double* p = &rgb[3 * i];
        destination[i] = ((p[1] + p[0]) + p[2]) / 3.0;
    }
}
