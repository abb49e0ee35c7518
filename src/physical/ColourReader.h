#pragma once
// A colour picture read a row at a time as linear light and as sRGB levels,
// whatever its sample type and channels (grey spreads to red, green and
// blue; alpha is not read).
#include <dof/Image.h>

class ColourReader {
public:
    explicit ColourReader(const dof::ImageView& view) : view_(view) {}

    // Float samples are linear light; integer ones are sRGB.
    bool IsLinear() const { return dof::IsFloat(view_.Type()); }
    int Width() const { return view_.Width(); }
    int Height() const { return view_.Height(); }

    // Row y as linear red, green and blue, three floats a pixel.
    void LinearRow(int y, float* rgb) const;
    // Row y as sRGB levels, three a pixel: integer samples over their
    // largest value, float ones clipped to 0..1 and encoded.
    void LevelRow(int y, float* rgb) const;

private:
    // Sample channel of pixel x of row as a double, and the offset of
    // channel k (0 to 2) of a pixel.
    double Sample(const unsigned char* row, int x, int k) const;

    dof::ImageView view_;
};
