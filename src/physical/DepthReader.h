#pragma once
// The depth picture's values as the exact mode reads them (integer samples
// over their largest value, float ones as they are; reversed where asked),
// a row or a pixel at a time.
#include <dof/Image.h>

class DepthReader {
public:
    DepthReader(const dof::ImageView& view, bool reverse) : view_(view), reverse_(reverse) {}
    double At(int x, int y) const;
    void Row(int y, double* out) const;

private:
    dof::ImageView view_;
    bool reverse_;
};
