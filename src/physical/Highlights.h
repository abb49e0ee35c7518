#pragma once
// Highlight recovery for clipped colour (see HighlightOptions in
// dof/Physical.h): blobs of clipped pixels, the depth fix of their rims, and
// a gain per blob from its size in its own discs.
#include <cstdint>
#include <vector>

#include <dof/Physical.h>

#include "physical/ColourReader.h"
#include "physical/DepthReader.h"
#include "physical/ThinLens.h"
#include "platform/LargeArray.h"

// The gain of a blob of this many pixels whose mean disc diameter is meanDiameter.
double BlobGain(double area, double meanDiameter, const dof::HighlightOptions& options);

// Finds the blobs of pixels whose smallest level reaches the clip level,
// moves their rims' distances (and discs) to their lights' where asked, and
// returns the gain of every clipped pixel (its blob's), in scan order; the
// others keep their light. discs: per pixel, row by row.
struct ClippedGain {
    std::uint32_t pixel;  // y * width + x
    float gain;
};
std::vector<ClippedGain> RecoverHighlights(const ColourReader& colour, const dof::HighlightOptions& options,
                                           const ThinLens& lens, const DepthReader& depth, float* discs,
                                           int threads);

// Channels of a pixel (its levels) at the clip level, when not all three
// are: the factor of each channel.
inline void PartialGains(const float* levels, const dof::HighlightOptions& options, float gains[3]) {
    const float clip = static_cast<float>(options.clipLevel);
    const bool all = levels[0] >= clip && levels[1] >= clip && levels[2] >= clip;
    for (int k = 0; k < 3; ++k)
        gains[k] = !all && levels[k] >= clip ? static_cast<float>(options.channelGain) : 1.0f;
}
