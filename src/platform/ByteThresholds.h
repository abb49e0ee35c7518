#pragma once
// Where a formula that maps positive floating-point values to bytes steps up,
// found exactly: for tables that give the formula's byte without evaluating
// it, checked against the thresholds.
#include <cstdint>
#include <cstring>
#include <type_traits>

// The bits of a float or double as an unsigned integer of its size, and
// back. Positive values keep their order as these integers.
template <class F>
using BitsOf = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;

template <class F>
BitsOf<F> Bits(F v) {
    BitsOf<F> b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

template <class F>
F FromBits(BitsOf<F> b) {
    F v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// threshold[k], k = 1 .. 255: the least value in from .. to whose byte(value)
// is k or more (to itself when none below it is), by bisection over the bits.
// byte must not fall as values grow, and byte(from) must be below 1.
template <class F, class Byte>
void FindByteThresholds(F from, F to, Byte byte, F* threshold) {
    BitsOf<F> low = Bits(from);
    for (int k = 1; k < 256; ++k) {
        BitsOf<F> lo = low, hi = Bits(to);
        while (hi - lo > 1) {
            const BitsOf<F> mid = lo + (hi - lo) / 2;
            if (byte(FromBits<F>(mid)) >= k)
                hi = mid;
            else
                lo = mid;
        }
        threshold[k] = FromBits<F>(hi);
        low = lo;
    }
}
