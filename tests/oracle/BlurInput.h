#pragma once
#include <vector>

// The settings of one blur, as the command line gives them.
struct BlurOptions {
    double blurSize = 16.0;
    double strong = 1.035;
    double focus = 0.5;
    double zNear = 0.0;
    double zFar = 1.0;
    bool zReverse = false;

    double MaxBlur() const { return 5.0 * blurSize; }
};

// Everything one run of the blur reads: decoded pixels as the file readers
// deliver them (R, G, B, A bytes, top row first) and the options.
struct BlurInput {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> colour;      // width x height x 4
    // The depth comes either as TGA bytes or as one value per pixel (RGBE path).
    bool depthIsValues = false;
    std::vector<unsigned char> depthBytes;  // width x height x 4, when !depthIsValues
    std::vector<double> depthValues;        // width x height, when depthIsValues
    std::vector<unsigned char> lens;        // 256 x 256 x 4
    BlurOptions options;
};
