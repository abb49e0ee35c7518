#pragma once
// The background behind everything in front of the focus: the far field
// normalised by its own coverage where that is at least half (so that a
// disc partly hidden behind a sharp subject averages its visible part, with
// no dark ring and no subject colour), and filled where it is hidden.
//
// The fill takes, for every pixel, the nearest known pixel to the left,
// right, above and below, weighted by 1 / distance / (G + 0.01): G is the
// mean squared step of the square root of luminance along that scan's axis
// over the known pairs of a 5 x 5 box around the known pixel, so the fill
// runs along directions in which the background does not change (stripes
// and edges go on behind a thin stem). Deep in a hole it blends, over 8
// pixels, into a push-pull fill. Only the far field is read: a blurred
// foreground never uncovers its own colour.
#include <cstdint>
#include <functional>
#include <utility>
#include <memory>

#include "physical/LightField.h"
#include "physical/PushPull.h"
#include "platform/LargeArray.h"

class BackgroundFill {
public:
    static constexpr double kKnown = 0.5;           // coverage of a known pixel
    static constexpr double kFlatness = 0.01;       // added to G
    static constexpr double kBlendDistance = 8.0;   // pixels into a hole to the push-pull fill
    static constexpr int kGradientRadius = 2;       // the 5 x 5 box

    // far: the far field, light premultiplied; it is normalised in place.
    // scratch: room for four floats a pixel, used where there are holes.
    BackgroundFill(LightField& far, LargeArray<float> scratch, int threads)
        : far_(far), threads_(threads), scratch_(std::move(scratch)) {}

    // Everything Row needs. False when poll stopped it.
    bool Prepare(const std::function<bool(int)>& poll);
    // The background of row y, three floats a pixel.
    void Row(int y, float* rgb) const;

private:
    static constexpr float kNone = -1.0f;  // no known pixel that way

    bool Normalise(const std::function<bool(int)>& poll);
    bool MeasureSteps(const std::function<bool(int)>& poll);
    bool ScanColumns(const std::function<bool(int)>& poll);
    bool Known(const float* pixel) const { return pixel[3] >= kKnown; }

    LightField& far_;
    int threads_;
    bool holes_ = false;
    // Four floats a pixel: G along rows and along columns, then the rows up
    // to the nearest known pixel above and below.
    LargeArray<float> scratch_;
    float* Steps(std::size_t pixel) { return scratch_.data() + 4 * pixel; }
    const float* Steps(std::size_t pixel) const { return scratch_.data() + 4 * pixel; }
    float* Vertical(std::size_t pixel) { return scratch_.data() + 4 * pixel + 2; }
    const float* Vertical(std::size_t pixel) const { return scratch_.data() + 4 * pixel + 2; }
    std::unique_ptr<PushPull> pushPull_;
};
