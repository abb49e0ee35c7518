#pragma once
// The sRGB curve both ways, and its exact rounding to integer samples.
#include <array>
#include <vector>

// sRGB level (0 to 1) to linear light; linear light to sRGB level.
double SrgbLevelToLinear(double level);
double LinearToSrgbLevel(double linear);

// Linear light to an integer sRGB sample of 0 to top (255 or 65535),
// exactly floor(top * level + 0.5) of the level of the value clipped to 0..1
// (NaN gives 0), through the linear values at which the sample steps up.
class SrgbEncoder {
public:
    explicit SrgbEncoder(int top);
    int Encode(double linear) const;

private:
    static constexpr int kBins = 4096;  // of linear 0..1, each knowing its first and last step
    int top_;
    std::vector<double> steps_;    // steps_[k]: the least value that gives k (steps_[0] unused)
    std::vector<int> binFirst_;    // the sample at each bin's lower end
};

// The linear light of every 8-bit and every 16-bit sample.
const std::array<float, 256>& LinearOfBytes();
const std::vector<float>& LinearOfWords();
