#pragma once
// A target row's spreads from the sums of their J known within a bound, in
// lanes: each lane takes the operations of SpreadWithinBound in its order
// (the tests hold the two to the same results), so the spreads do not depend
// on the lanes.
#include "engine/RowLayout.h"

// The targets x = 0 .. n - 1 in whole blocks of lanes (n the largest multiple
// of L::kCount not above width): spreads[x] from sums[x], errors[x] and
// counts[x] (a spread of 1 where nothing was counted), and each x whose
// spread the bound leaves open appended to open (openCount of them), in
// order; returns n.
template <class L>
int RowSpreadsInLanes(const double* sums, const double* errors, const double* counts, int width, double* spreads,
                      int* open, int& openCount) {
    typedef typename L::V V;
    typedef typename L::M M;
    constexpr double kUnit = 0x1p-53;
    const V zero = L::Splat(0.0), one = L::Splat(1.0), three = L::Splat(3.0), four = L::Splat(4.0);
    const V unit = L::Splat(kUnit), slack = L::Splat(1.001), exactBelow = L::Splat(kExactBelow);
    int x = 0;
    for (; x + L::kCount <= width; x += L::kCount) {
        const V sum = L::Load(sums + x), error = L::Load(errors + x);
        // The count as a whole number, as the row takes it.
        const V count = L::Truncate(L::Load(counts + x));
        const M counted = L::Less(zero, count);
        const M exact = L::Both(L::Equal(error, zero), L::Less(sum, exactBelow));
        const V exactSpread = L::Div(L::Ceil(L::Mul(three, L::Div(sum, count))), three);
        const V bound = L::Add(L::Mul(slack, error),
                               L::Mul(L::Mul(L::Add(L::Mul(three, count), four), unit), L::Add(sum, error)));
        const V low = L::Ceil(L::Mul(three, L::Div(L::Sub(sum, bound), count)));
        const V high = L::Ceil(L::Mul(three, L::Div(L::Add(sum, bound), count)));
        L::Store(spreads + x, L::Where(counted, L::Where(exact, exactSpread, L::Div(low, three)), one));
        unsigned left = L::Bits(L::AndNot(L::AndNot(counted, exact), L::Equal(low, high)));
        for (; left != 0; left &= left - 1) open[openCount++] = x + __builtin_ctz(left);
    }
    return x;
}
