#pragma once
// The sRGB curve both ways, and its exact rounding to bytes.
#include <array>

// sRGB level (0 to 1) to linear light; linear light to sRGB level.
double SrgbLevelToLinear(double level);
double LinearToSrgbLevel(double linear);

// Linear light to an 8-bit sRGB byte, exactly floor(255 * level + 0.5) of
// the level of the value clipped to 0..1 (NaN gives 0), through the 255
// linear values at which the byte steps up.
class SrgbByteEncoder {
public:
    SrgbByteEncoder();
    unsigned char Encode(double linear) const;

private:
    std::array<double, 256> steps_;  // steps_[k]: the least value that gives byte k (steps_[0] unused)
};

// The linear light of every byte.
const std::array<float, 256>& LinearOfBytes();
