#include "physical/DepthReader.h"

#include <cstdint>
#include <cstring>

double DepthReader::At(int x, int y) const {
    const unsigned char* row = view_.Row(y);
    const int index = x * view_.Channels();
    switch (view_.Type()) {
        case dof::SampleType::kUInt8: {
            const int v = reverse_ ? 255 - row[index] : row[index];
            return v / 255.0;
        }
        case dof::SampleType::kUInt16: {
            std::uint16_t v;
            std::memcpy(&v, row + 2 * index, sizeof v);
            return (reverse_ ? 65535 - v : v) / 65535.0;
        }
        case dof::SampleType::kFloat32: {
            float v;
            std::memcpy(&v, row + 4 * index, sizeof v);
            return reverse_ ? 1.0 - v : v;
        }
        case dof::SampleType::kFloat64: {
            double v;
            std::memcpy(&v, row + 8 * index, sizeof v);
            return reverse_ ? 1.0 - v : v;
        }
    }
    return 0.0;
}

void DepthReader::Row(int y, double* out) const {
    for (int x = 0; x < view_.Width(); ++x) out[x] = At(x, y);
}
