#include "physical/ColourReader.h"

#include "image/Conversions.h"
#include "physical/SrgbCurve.h"

double ColourReader::Sample(const unsigned char* row, int x, int k) const {
    const int channel = view_.Channels() >= 3 ? k : 0;
    return SampleAt(row, x * view_.Channels() + channel, view_.Type());
}

void ColourReader::LinearRow(int y, float* rgb) const {
    const unsigned char* row = view_.Row(y);
    const int w = view_.Width();
    if (view_.Type() == dof::SampleType::kUInt8) {
        const std::array<float, 256>& linear = LinearOfBytes();
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) rgb[3 * x + k] = linear[static_cast<std::size_t>(Sample(row, x, k))];
        return;
    }
    if (view_.Type() == dof::SampleType::kUInt16) {
        const std::vector<float>& linear = LinearOfWords();
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) rgb[3 * x + k] = linear[static_cast<std::size_t>(Sample(row, x, k))];
        return;
    }
    for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) rgb[3 * x + k] = static_cast<float>(Sample(row, x, k));
}

void ColourReader::LevelRow(int y, float* rgb) const {
    const unsigned char* row = view_.Row(y);
    const int w = view_.Width();
    for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) {
            const double v = Sample(row, x, k);
            if (view_.Type() == dof::SampleType::kUInt8) {
                rgb[3 * x + k] = static_cast<float>(v / 255.0);
            } else if (view_.Type() == dof::SampleType::kUInt16) {
                rgb[3 * x + k] = static_cast<float>(v / 65535.0);
            } else {
                const double clipped = v > 1.0 ? 1.0 : v > 0.0 ? v : 0.0;  // NaN to 0
                rgb[3 * x + k] = static_cast<float>(LinearToSrgbLevel(clipped));
            }
        }
}
